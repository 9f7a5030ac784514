#include "app/cli/TCliContext.h"

#include "core/TAppGlobals.h"
#include "jobs/JobKinds.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

TCliContext::TCliContext()
    : Out(stdout)
    , Err(stderr) {}

void TCliContext::UseDataDirectory() {
    TAppGlobals& app = App();
    app.ApplicationDirectory = QDir::cleanPath(QDir(DataDirectory).absolutePath());
    app.ProgramDataDirectory = DefaultProgramDataDirectory();
    app.JobsListFileName = JobsListFileNameFor(app.ApplicationDirectory);
    app.RemoteJobFileExtension = RemoteJobFileExtensionFor(app.ApplicationDirectory);
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
