#include "app/cli/TCliContext.h"

#include "core/settings/TAppGlobals.h"
#include "jobs/JobKinds.h"
#include "storage/ChangeName.h"

#include <QCoreApplication>

#include <cstdio>

TCliContext::TCliContext()
    : Out(stdout)
    , Err(stderr)
    // The entry, should a command ever change it, starts the windowed program beside this one.
    , m_autostart(QCoreApplication::applicationDirPath() + QStringLiteral("/vaultora"))
    , m_application(&CreateJobOfKind, m_autostart, m_priority) {}

bool TCliContext::UseDataDirectory() {
    TStartupSettings settings;
    settings.ApplicationDirectory = DataDirectory;
    settings.ProgramDataDirectory = DefaultProgramDataDirectory();
    settings.RegisterAutorunWithDefaults = false;
    const TStartupReport report = m_application.Start(settings);
    for (const QString& text : report.ErrorBoxes)
        Err << "vaultora-cli: " << text << Qt::endl;
    if (report.Fatal)
        return false;
    CompleteInterruptedRenames(Jobs()); // a rename that a stopped process left half done
    return true;
}

TJob* TCliContext::RequireJob(const QString& name) {
    TJob* job = Jobs().Find(name);
    if (!job)
        Err << "vaultora-cli: no job named \"" << name << "\" in " << App().ApplicationDirectory << Qt::endl;
    return job;
}

TJob* TCliContext::RequireLockedJob(const QString& name, TJobLock& lock) {
    TJob* job = RequireJob(name);
    return job && LockJob(*job, lock) ? job : nullptr;
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

bool TCliContext::LockJob(const TJob& job, TJobLock& lock) {
    if (!job.IsActive() && lock.TryLock(App().ApplicationDirectory, job.stJobName))
        return true;
    Usage(QStringLiteral("the job \"") + job.stJobName + QStringLiteral("\" is running already"));
    return false;
}
