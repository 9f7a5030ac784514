#pragma once

// Room app/: the vaultora and vaultora-cli executables. May use every room; vaultora-cli links no
// Widgets.

#include "core/base/AppFolders.h"
#include "core/model/TJobList.h"
#include "core/model/TJobLock.h"
#include "core/startup/TApplicationContext.h"
#include "platform/TLinuxProcessPriority.h"
#include "platform/TXdgAutostart.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

// Exit codes of vaultora-cli.
enum TCliExit : int {
    ceOk = 0,
    ceWarnings = 1,
    ceErrors = 2,
    ceCancelled = 3,
    ceUsage = 64, // usage errors and refusals
};

// What every command gets: its arguments, the data folder and the program started on it.
class TCliContext {
public:
    TCliContext();

    QStringList Args; // the command's own arguments (global options removed)
    QString DataDirectory;
    QTextStream Out;
    QTextStream Err;

    // Starts the program on the data folder as the windowed program does (creating the folder
    // when it is missing), without registering it at logon. Error boxes of the start-up go to
    // stderr; false when the program cannot work on that folder.
    bool UseDataDirectory();
    TApplicationContext& Application() { return m_application; }
    // The jobs list and every job file, loaded by the start-up.
    TJobList& Jobs() { return m_application.Jobs(); }
    // The job named exactly name, or nullptr after printing "unknown job" to stderr.
    TJob* RequireJob(const QString& name);

    // Removes "--flag VALUE" / "--flag=VALUE" from Args; returns whether it was present.
    bool TakeOption(const QString& flag, QString* value);
    bool TakeSwitch(const QString& flag);

    int Usage(const QString& message);
    // Takes the job's run lock; false (after saying why) when the job runs here or in another
    // process.
    bool LockJob(const TJob& job, TJobLock& lock);
    // RequireJob and LockJob together: the job, locked, or nullptr after saying why.
    TJob* RequireLockedJob(const QString& name, TJobLock& lock);

private:
    TXdgAutostart m_autostart;
    TLinuxProcessPriority m_priority;
    TApplicationContext m_application;
};
