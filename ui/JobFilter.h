#pragma once

#include "core/model/TJob.h"

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

// Whether a job is shown under a filter node; the schedule nodes ask the scheduler's arithmetic
// at the moment now.
bool JobMatchesFilter(const TJob& job, TJobFilter filter, const QDateTime& now);
// Whether a job is found by a search text: the lower-cased text in the lower-cased name.
bool JobMatchesSearch(const TJob& job, const QString& searchedString);

// The node's caption, translated.
QString JobFilterCaption(TJobFilter filter);
// The node's path from the root, captions joined with " > ".
QString JobFilterPath(TJobFilter filter);
