#include "app/cli/Commands.h"
#include "app/cli/TCliContext.h"

#include "core/model/JobNameCheck.h"
#include "core/model/TJobLock.h"
#include "core/settings/TAppGlobals.h"
#include "storage/ChangeName.h"

int CommandRename(TCliContext& context) {
    if (context.Args.size() != 2)
        return context.Usage(QStringLiteral("usage: rename OLD NEW"));
    TJob* job = context.RequireJob(context.Args.at(0));
    if (!job)
        return ceUsage;
    if (job->JobStatus != jsNone) {
        context.Err << TranslateText(QStringLiteral(
                           "Unable to complete the action at the moment. Please try again in several seconds."))
                    << Qt::endl;
        return ceUsage;
    }
    // A scheduler in another process ("run-scheduler") may be running the job.
    TJobLock lock;
    if (!context.LockJob(*job, lock))
        return ceUsage;
    const TJobNameCheck check = CheckJobName(context.Args.at(1), context.Jobs(), job);
    switch (check.Verdict) {
    case TJobNameVerdict::Unchanged:
        return ceOk;
    case TJobNameVerdict::Accepted:
        break;
    case TJobNameVerdict::NotUsable:
    case TJobNameVerdict::ForbiddenCharacters:
    case TJobNameVerdict::AlreadyExists:
        context.Err << check.Message << Qt::endl;
        return ceUsage;
    }

    // The rename talks to the destination: show its log lines and the events as they come.
    job->OnLogLine = [&context](const QString& line) { context.Out << line << Qt::endl; };
    App().EventsLog.SetListener([&context](const QString& line) { context.Err << line << Qt::endl; });
    const QString oldName = job->stJobName;
    // The rename saves the jobs list itself: that save is the step that commits it.
    const bool renamed = ChangeName(context.Jobs(), *job, check.Name);
    job->OnLogLine = nullptr;
    if (renamed)
        AddToEventsLog(QStringLiteral("Job \"%s\" is renamed to \"%s\"."), {oldName, check.Name});
    App().EventsLog.SetListener(nullptr);
    if (!renamed) {
        context.Err << TranslateText(QStringLiteral(
                           "Unable to rename the job. Please learn last error messages in the Events log."))
                    << Qt::endl;
        return ceErrors;
    }
    return ceOk;
}
