#pragma once

#include "core/model/TJobTypes.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The schedule arithmetic of the scheduler tick and of the main window's "Scheduled" filters. All
// of it works on the local wall clock, as job files record their times; "now" is always passed
// in, so that tests can ask at any moment.

// How far back GetDateTimeOfNearestPastTask looks, in days before today.
constexpr int NearestPastTaskSearchDays = 100;
// Without the catch-up flag a scheduled start is taken only while fewer whole seconds than this
// have passed since it.
constexpr int MissedStartGraceSeconds = 5;

// A time-table entry: exactly "hh:mm:ss" on the 24-hour clock. Seconds after midnight, or nothing
// for any other text.
std::optional<int> TimeTableEntrySeconds(const QString& entry);
// The entry text for seconds after midnight (0 to 86399).
QString TimeTableEntryText(int seconds);
// The valid entries of a time table as seconds after midnight, ascending and without repeats.
// A job file may hold a damaged or unsorted table; the decisions below rely on this order.
QList<int> TimeTableSeconds(const QStringList& timeTable);

// Whether the day selector picks day: its weekday (Monday = 1) for stDaysOfWeek, its day of the
// month for stDaysOfMonth (a day 31 never comes in a 30-day month); stDisabled picks none.
bool DayCounts(const TSchedulingSettings& settings, const QDate& day);

// True when a start is still ahead today, or when one of the next DaysCount days is a scheduled
// day (whatever its times). 0 asks about today, 1 about today and tomorrow. A schedule without a
// valid start time never counts: it can never start.
bool IsScheduledXDaysFromNow(const TSchedulingSettings& settings, int DaysCount, const QDateTime& now);

// The latest scheduled moment strictly before now, searched from today back over
// NearestPastTaskSearchDays days; 0 when there is none (or the schedule is disabled).
double GetDateTimeOfNearestPastTask(const TSchedulingSettings& settings, const QDateTime& now);
// The same over searchDays days before today (today and searchDays earlier days are looked at).
double GetDateTimeOfNearestPastTask(const TSchedulingSettings& settings, const QDateTime& now, int searchDays);

// The tick's decision for a job that is not active and has scheduling enabled: the nearest past
// start lies after the last schedule change and after the job's last start (lastStartTime), and,
// without the catch-up flag, fewer than MissedStartGraceSeconds whole seconds ago.
bool IsScheduledStartDue(const TSchedulingSettings& settings, double lastStartTime, const QDateTime& now);

// Whether a start taken now is the day's last: the latest time-table entry is not later than the
// current time of day.
bool IsDaysLastStart(const TSchedulingSettings& settings, const QDateTime& now);
