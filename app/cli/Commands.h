#pragma once

class TCliContext;

// One function per command; each returns the process exit code.
int CommandList(TCliContext& context);
int CommandShow(TCliContext& context);
int CommandRename(TCliContext& context);
int CommandOptions(TCliContext& context);
int CommandEvents(TCliContext& context);
