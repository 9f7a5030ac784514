#include "ui/JobFilter.h"

#include "ui/UiTr.h"

#include "core/schedule/Scheduling.h"

namespace {

TJobFilter ParentOf(TJobFilter filter) {
    switch (filter) {
    case jfToday:
    case jfThisWeek:
    case jfNext10Days:
        return jfScheduled;
    default:
        return jfJobs;
    }
}

} // namespace

bool JobMatchesFilter(const TJob& job, TJobFilter filter, const QDateTime& now) {
    const TSchedulingSettings& schedule = job.SchedulingSettings;
    switch (filter) {
    case jfJobs:
        return true;
    case jfRunning:
        return job.IsActive();
    case jfCancelled:
        return job.LastJobResult.Cancelled;
    case jfWarnings:
        return job.LastJobResult.WarningsCount > 0;
    case jfErrors:
        return job.LastJobResult.ErrorsCount > 0;
    case jfScheduled:
        return schedule.SchedulingType != stDisabled;
    case jfToday:
        return IsScheduledXDaysFromNow(schedule, 0, now);
    case jfThisWeek:
        return IsScheduledXDaysFromNow(schedule, 7 - now.date().dayOfWeek(), now);
    case jfNext10Days:
        return IsScheduledXDaysFromNow(schedule, 10, now);
    }
    return true;
}

bool JobMatchesSearch(const TJob& job, const QString& searchedString) {
    return job.stJobName.toLower().contains(searchedString.toLower());
}

QString JobFilterCaption(TJobFilter filter) {
    switch (filter) {
    case jfJobs:
        return Tr(u"Jobs");
    case jfRunning:
        return Tr(u"Running");
    case jfCancelled:
        return Tr(u"Cancelled");
    case jfWarnings:
        return Tr(u"Warnings");
    case jfErrors:
        return Tr(u"Errors");
    case jfScheduled:
        return Tr(u"Scheduled");
    case jfToday:
        return Tr(u"Today");
    case jfThisWeek:
        return Tr(u"This week");
    case jfNext10Days:
        return Tr(u"Next 10 days");
    }
    return {};
}

QString JobFilterPath(TJobFilter filter) {
    QString path = JobFilterCaption(filter);
    while (filter != jfJobs) {
        filter = ParentOf(filter);
        path = JobFilterCaption(filter) + QStringLiteral(" > ") + path;
    }
    return path;
}
