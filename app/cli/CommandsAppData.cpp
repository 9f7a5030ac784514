// Commands of application data jobs: new --apps, restore of such a job, and the list of known
// applications.

#include "app/cli/Commands.h"
#include "app/cli/ScheduleFlags.h"
#include "app/cli/TCliContext.h"
#include "app/cli/TCliRunner.h"

#include "core/base/OleDate.h"
#include "core/model/JobNameCheck.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/TAppPathResolver.h"
#include "jobs/appdata/TAppRegistry.h"
#include "jobs/appdata/TJob_AppsData.h"

namespace {

// "A,B, C" as names; empty items are dropped.
QStringList SplitNames(const QString& text) {
    QStringList names;
    for (const QString& item : text.split(u','))
        if (!item.trimmed().isEmpty())
            names.append(item.trimmed());
    return names;
}

bool LoadDefinitions(TCliContext& context) {
    if (AppDefinitions::Loaded() || AppDefinitions::Load())
        return true;
    context.Err << "vaultora-cli: " << TranslateText(QStringLiteral("Loading supported application data.")) << ' '
                << AppDefinitions::Folder() << Qt::endl;
    return false;
}

} // namespace

int CommandNewApps(TCliContext& context, const QString& apps) {
    QString to, user, sharePasswordFile;
    const bool hasTo = context.TakeOption(QStringLiteral("--to"), &to);
    const bool hasUser = context.TakeOption(QStringLiteral("--user"), &user);
    const bool hasSharePassword = context.TakeOption(QStringLiteral("--share-password-file"), &sharePasswordFile);
    TSchedulingSettings schedule;
    QString scheduleMessage;
    if (TakeScheduleFlags(context, schedule, scheduleMessage) == TScheduleFlags::Invalid)
        return context.Usage(scheduleMessage);
    const QStringList names = SplitNames(apps);
    if (context.Args.size() != 1 || names.isEmpty() || !hasTo)
        return context.Usage(QStringLiteral("usage: new NAME --apps \"A,B,...\" --to FOLDER|SHARE|ftp://ACCOUNT/PATH "
                                            "[--user USER [--share-password-file FILE]] ") +
                             ScheduleFlagsUsage());
    if (!LoadDefinitions(context))
        return ceErrors;
    QStringList unknown;
    for (const QString& name : names) {
        TAppData definition;
        if (!AppDefinitions::Find(name, definition))
            unknown.append(name);
    }
    if (!unknown.isEmpty())
        return context.Usage(QStringLiteral("unknown application: ") + unknown.join(QStringLiteral(", ")) +
                             QStringLiteral(" (\"vaultora-cli apps\" lists them)"));

    TJobList& jobs = context.Jobs();
    const TJobNameCheck check = CheckJobName(context.Args.first(), jobs);
    if (check.Verdict != TJobNameVerdict::Accepted)
        return context.Usage(check.Message.isEmpty() ? QStringLiteral("that name cannot be used") : check.Message);
    auto job = std::make_unique<TJob_AppsData>(check.Name);
    for (const QString& name : names)
        if (!job->Settings.AppNames.contains(name))
            job->Settings.AppNames.append(name);
    if (!ParseDestination(context, to, job->DestinationSettings))
        return ceUsage;
    if ((hasUser || hasSharePassword) && job->DestinationSettings.DestinationType != dtNetwork)
        return context.Usage(QStringLiteral("--user and --share-password-file are for a network share"));
    if (hasSharePassword && !hasUser)
        return context.Usage(QStringLiteral("--share-password-file needs --user"));
    job->DestinationSettings.Network.Username = user;
    if (hasSharePassword && !ReadPasswordFile(context, sharePasswordFile, job->DestinationSettings.Network.Password))
        return ceUsage;
    job->SchedulingSettings = schedule;
    job->SchedulingSettings.LastModificationDateTime = OleDate::Now();

    if (!job->SaveLocalJobFile(job->LocalJobFilePath()))
        return context.Usage(QStringLiteral("cannot save the job file ") + job->LocalJobFilePath());
    const QString name = job->stJobName;
    jobs.Append(std::move(job));
    if (!jobs.SaveJobsList()) {
        context.Err << TranslateText(QStringLiteral("Error: unable to save the jobs list:")) << jobs.JobsListPath()
                    << Qt::endl;
        return ceErrors;
    }
    AddToEventsLog(QStringLiteral("Created new job: \"%s\"."), name);
    context.Out << "Created job \"" << name << "\"." << Qt::endl;
    return ceOk;
}

bool IsAppsDataJob(TCliContext& context, const QString& name) {
    for (int i = 0; i < context.Jobs().Count(); ++i)
        if (context.Jobs().At(i)->stJobName == name)
            return context.Jobs().At(i)->Kind() == TJobKind::AppsData;
    return false;
}

int CommandRestoreApps(TCliContext& context) {
    QString apps, ignored;
    const bool hasApps = context.TakeOption(QStringLiteral("--apps"), &apps);
    if (context.TakeOption(QStringLiteral("--to"), &ignored))
        return context.Usage(QStringLiteral("application data goes back to its own places: --to is not taken"));
    const QStringList chosen = SplitNames(apps);
    if (context.Args.size() != 1 || (hasApps && chosen.isEmpty()))
        return context.Usage(QStringLiteral("usage: restore NAME [--apps \"A,B,...\"]"));
    TJobLock lock;
    auto* job = dynamic_cast<TJob_AppsData*>(context.RequireLockedJob(context.Args.first(), lock));
    if (!job)
        return ceUsage;
    TCliRunner runner(context, *job);
    const TAppsRestoreListing listing = job->ReadBackup();
    if (!listing.Ok) {
        context.Err << listing.Error << Qt::endl;
        return job->LastJobResult.Cancelled ? ceCancelled : ceErrors;
    }
    QStringList missing;
    for (const QString& name : chosen)
        if (!listing.AppNames.contains(name))
            missing.append(name);
    if (!missing.isEmpty()) {
        job->CancelRestore();
        return context.Usage(QStringLiteral("the backup holds no application named ") +
                             missing.join(QStringLiteral(", ")));
    }
    job->StartRestore(hasApps ? chosen : listing.AppNames);
    runner.WaitUntilIdle();
    return ExitCodeOf(*job);
}

int CommandApps(TCliContext& context) {
    if (!context.Args.isEmpty())
        return context.Usage(QStringLiteral("usage: apps"));
    if (!LoadDefinitions(context))
        return ceErrors;
    const TAppPathResolver resolver(QProcessEnvironment::systemEnvironment(), &SystemAppRegistry());
    for (const TAppData& definition : AppDefinitions::List())
        context.Out << definition.Category << '\t' << definition.Name << '\t'
                    << (resolver.HasData(definition.Folders, definition.RegistryPaths) ? "present" : "absent") << '\n';
    context.Out.flush();
    return ceOk;
}
