#pragma once

#include <QString>
#include <QStringList>

class TCliContext;
class TJob;
struct TDestinationSettings;

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
int CommandFtpAccount(TCliContext& context);
int CommandOpen(TCliContext& context);

// Reads a secret from the first line of a file (secrets never travel in argv); false after saying
// why.
bool ReadPasswordFile(TCliContext& context, const QString& path, QString& password);
// --to ftp://ACCOUNT/sub/folder: the account by name and the folder under it; false after saying
// why.
bool ParseFtpDestination(TCliContext& context, const QString& text, TDestinationSettings& destination);
int CommandCloudAuth(TCliContext& context);
int CommandCloudReset(TCliContext& context);
// Fills the destination from a "cloud:SERVICE/sub/folder" text of --to; false after saying why.
bool ParseCloudDestination(TCliContext& context, const QString& text, TDestinationSettings& destination);

// Fills the destination from --to (a local folder, a share, ftp://ACCOUNT/PATH or cloud:SERVICE/PATH);
// false after saying why.
bool ParseDestination(TCliContext& context, const QString& text, TDestinationSettings& destination);
// The exit code a finished run gives.
int ExitCodeOf(const TJob& job);

// Application data jobs: "new NAME --apps A,B", "restore NAME [--apps A,B]" and "apps".
int CommandNewApps(TCliContext& context, const QString& apps);
bool IsAppsDataJob(TCliContext& context, const QString& name);
int CommandRestoreApps(TCliContext& context);
int CommandApps(TCliContext& context);

// Drive image jobs: "new NAME --image VOLUME... --to FOLDER", and points and restore of such a job.
int CommandNewImage(TCliContext& context, const QStringList& images);
bool IsDriveImageJob(TCliContext& context, const QString& name);
int CommandPointsImage(TCliContext& context);
int CommandRestoreImage(TCliContext& context);
