#pragma once

class TCliContext;

// One function per command; each returns the process exit code.
int CommandList(TCliContext& context);
int CommandShow(TCliContext& context);
int CommandRename(TCliContext& context);
int CommandOptions(TCliContext& context);
int CommandEvents(TCliContext& context);
int CommandNew(TCliContext& context);
int CommandBackup(TCliContext& context);
int CommandPoints(TCliContext& context);
int CommandRestore(TCliContext& context);
int CommandLog(TCliContext& context);
int CommandRemove(TCliContext& context);
int CommandSchedule(TCliContext& context);
int CommandRunScheduler(TCliContext& context);
