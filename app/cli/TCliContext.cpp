#include "app/cli/TCliContext.h"

#include "core/TAppGlobals.h"
#include "jobs/JobKinds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

TCliContext::TCliContext()
    : Out(stdout)
    , Err(stderr) {}

QString DefaultApplicationDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Vaultora");
}

QString DefaultProgramDataDirectory() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (QFileInfo::exists(exeDir + QStringLiteral("/transl.dt")))
        return exeDir;
    const QString installed = QDir::cleanPath(exeDir + QStringLiteral("/../share/vaultora"));
    if (QFileInfo(installed).isDir())
        return installed;
    return exeDir;
}

void TCliContext::UseDataDirectory() {
    TAppGlobals& app = App();
    app.ApplicationDirectory = QDir::cleanPath(QDir(DataDirectory).absolutePath());
    app.ProgramDataDirectory = DefaultProgramDataDirectory();
    // A legacy jobs list switches both names to the legacy pair.
    if (QFileInfo::exists(app.ApplicationDirectory + QStringLiteral("/jobs.vll"))) {
        app.JobsListFileName = QStringLiteral("jobs.vll");
        app.RemoteJobFileExtension = QStringLiteral(".vlk");
    }
}

TJobList& TCliContext::Jobs() {
    if (!m_jobs) {
        m_jobs = std::make_unique<TJobList>(&CreateJobOfKind);
        m_jobs->LoadJobsListAndJobs();
    }
    return *m_jobs;
}

TJob* TCliContext::RequireJob(const QString& name) {
    TJob* job = Jobs().Find(name);
    if (!job)
        Err << "vaultora-cli: no job named \"" << name << "\" in " << App().ApplicationDirectory << Qt::endl;
    return job;
}

bool TCliContext::TakeOption(const QString& flag, QString* value) {
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString& arg = Args.at(i);
        if (arg == flag && i + 1 < Args.size()) {
            if (value)
                *value = Args.at(i + 1);
            Args.remove(i, 2);
            return true;
        }
        if (arg.startsWith(flag + u'=')) {
            if (value)
                *value = arg.mid(flag.size() + 1);
            Args.remove(i);
            return true;
        }
    }
    return false;
}

bool TCliContext::TakeSwitch(const QString& flag) {
    return Args.removeAll(flag) > 0;
}

int TCliContext::Usage(const QString& message) {
    Err << "vaultora-cli: " << message << Qt::endl;
    return ceUsage;
}
