#pragma once

#include "core/TJob.h"

#include <QDateTime>
#include <QString>

// The nodes of the filter tree, root first.
enum TJobFilter : int {
    jfJobs = 0,
    jfRunning,
    jfCancelled,
    jfWarnings,
    jfErrors,
    jfScheduled,
    jfToday,
    jfThisWeek,
    jfNext10Days,
};
constexpr int JobFilterCount = 9;

// Whether a start of the schedule is still due today (daysCount 0), or today or on one of the
// next daysCount days: today counts when it is a selected day with a start time later than now;
// each following day counts when it is selected, whatever its times.
bool IsScheduledXDaysFromNow(const TSchedulingSettings& schedule, int daysCount, const QDateTime& now);

// Whether a job is shown under a filter node.
bool JobMatchesFilter(const TJob& job, TJobFilter filter, const QDateTime& now);
// Whether a job is found by a search text: the lower-cased text in the lower-cased name.
bool JobMatchesSearch(const TJob& job, const QString& searchedString);

// The node's caption, translated.
QString JobFilterCaption(TJobFilter filter);
// The node's path from the root, captions joined with " > ".
QString JobFilterPath(TJobFilter filter);
