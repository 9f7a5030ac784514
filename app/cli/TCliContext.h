#pragma once

#include "core/AppFolders.h"
#include "core/TJobList.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

// Exit codes of vaultora-cli.
enum TCliExit : int {
    ceOk = 0,
    ceWarnings = 1,
    ceErrors = 2,
    ceCancelled = 3,
    ceUsage = 64, // usage errors and refusals
};

// What every command gets: its arguments, the data folder and the job list.
class TCliContext {
public:
    TCliContext();

    QStringList Args; // the command's own arguments (global options removed)
    QString DataDirectory;
    QTextStream Out;
    QTextStream Err;

    // Points the process-wide values at the data folder (does not create it).
    void UseDataDirectory();
    // Loads the jobs list and every job file.
    TJobList& Jobs();
    // The job named exactly name, or nullptr after printing "unknown job" to stderr.
    TJob* RequireJob(const QString& name);

    // Removes "--flag VALUE" / "--flag=VALUE" from Args; returns whether it was present.
    bool TakeOption(const QString& flag, QString* value);
    bool TakeSwitch(const QString& flag);

    int Usage(const QString& message);

private:
    std::unique_ptr<TJobList> m_jobs;
};

