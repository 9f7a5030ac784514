#pragma once

// The image tool's commands (the vaultora-imagetool executable is a thin shell around them):
//
//   start backup -backupTarget:T -include:A,B [-allCritical] [-quiet]
//   delete backup -backupTarget:T -keepversions:N [-quiet]
//   get versions -backupTarget:T
//   start recovery -version:ID -backupTarget:T -itemSource:VOLUME -recoveryTarget:DEVICE_OR_FILE [-quiet]
//   stop job [-quiet]
//
// Parameter names are not case-sensitive; a value may be quoted. One backup, deletion or recovery
// runs at a time per user (a lock file in the tool's runtime folder, which "stop job" reads to
// find it); the store of a target has its own lock as well.

#include <QString>
#include <QStringList>

#include <functional>

enum TImageToolExit : int {
    itOk = 0,
    itFailed = 1,
    itStopped = 2,
    itUsage = 64,
};

// Runs one command (args without the program name); every output line goes through say.
int RunImageTool(const QStringList& args, const std::function<void(const QString&)>& say);

// The folder of the running operation's lock: VAULTORA_IMAGETOOL_RUNTIME_DIR when set, else
// /run/vaultora-imagetool for root and the user's runtime folder for others.
QString ImageToolRuntimeFolder();
