#include "core/schedule/Scheduling.h"

#include "core/base/OleDate.h"

#include <algorithm>

namespace {

constexpr qint64 MSecsPerDay = 86'400'000;

struct TPastTask {
    QDate Day;
    int Seconds = 0;
};

// The nearest scheduled moment before now, as a date and a time of day.
std::optional<TPastTask> NearestPastTask(const TSchedulingSettings& settings, const QDateTime& now,
                                         int searchDays = NearestPastTaskSearchDays) {
    if (settings.SchedulingType == stDisabled)
        return std::nullopt;
    const QList<int> times = TimeTableSeconds(settings.TimeTable);
    if (times.isEmpty())
        return std::nullopt;
    const QDate today = now.date();
    const qint64 nowMs = now.time().msecsSinceStartOfDay();
    for (int j = 0; j <= searchDays; ++j) {
        const QDate day = today.addDays(-j);
        if (!DayCounts(settings, day))
            continue;
        for (qsizetype i = times.size() - 1; i >= 0; --i) {
            if (j > 0 || qint64(times.at(i)) * 1000 < nowMs)
                return TPastTask{day, times.at(i)};
        }
    }
    return std::nullopt;
}

// Milliseconds on the wall clock since the OLE epoch; differences of these are what the calendar
// shows, which is how job files count time.
qint64 WallClockMs(const QDate& day, qint64 msOfDay) {
    static const QDate Epoch(1899, 12, 30);
    return Epoch.daysTo(day) * MSecsPerDay + msOfDay;
}

} // namespace

std::optional<int> TimeTableEntrySeconds(const QString& entry) {
    if (entry.size() != 8 || entry.at(2) != u':' || entry.at(5) != u':')
        return std::nullopt;
    int parts[3];
    for (int part = 0; part < 3; ++part) {
        const QChar high = entry.at(part * 3);
        const QChar low = entry.at(part * 3 + 1);
        if (high < u'0' || high > u'9' || low < u'0' || low > u'9')
            return std::nullopt;
        parts[part] = (high.unicode() - u'0') * 10 + (low.unicode() - u'0');
    }
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59)
        return std::nullopt;
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

QString TimeTableEntryText(int seconds) {
    return QTime::fromMSecsSinceStartOfDay(seconds * 1000).toString(QStringLiteral("HH:mm:ss"));
}

QList<int> TimeTableSeconds(const QStringList& timeTable) {
    QList<int> times;
    for (const QString& entry : timeTable)
        if (const std::optional<int> seconds = TimeTableEntrySeconds(entry))
            times.append(*seconds);
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

bool DayCounts(const TSchedulingSettings& settings, const QDate& day) {
    switch (settings.SchedulingType) {
    case stDaysOfWeek:
        return settings.DaysOfWeek.at(size_t(day.dayOfWeek()));
    case stDaysOfMonth:
        return settings.DaysOfMonth.at(size_t(day.day()));
    default:
        return false;
    }
}

bool IsScheduledXDaysFromNow(const TSchedulingSettings& settings, int DaysCount, const QDateTime& now) {
    if (settings.SchedulingType == stDisabled)
        return false;
    const QList<int> times = TimeTableSeconds(settings.TimeTable);
    if (times.isEmpty())
        return false;
    const QDate today = now.date();
    if (DayCounts(settings, today) && qint64(times.last()) * 1000 > now.time().msecsSinceStartOfDay())
        return true;
    for (int i = 1; i <= DaysCount; ++i)
        if (DayCounts(settings, today.addDays(i)))
            return true;
    return false;
}

double GetDateTimeOfNearestPastTask(const TSchedulingSettings& settings, const QDateTime& now) {
    return GetDateTimeOfNearestPastTask(settings, now, NearestPastTaskSearchDays);
}

double GetDateTimeOfNearestPastTask(const TSchedulingSettings& settings, const QDateTime& now, int searchDays) {
    const std::optional<TPastTask> task = NearestPastTask(settings, now, searchDays);
    if (!task)
        return 0;
    return OleDate::FromDateAndTime(task->Day, task->Seconds * 1000);
}

bool IsScheduledStartDue(const TSchedulingSettings& settings, double lastStartTime, const QDateTime& now) {
    const std::optional<TPastTask> task = NearestPastTask(settings, now);
    if (!task)
        return false;
    const double past = OleDate::FromDateAndTime(task->Day, task->Seconds * 1000);
    if (!(past > settings.LastModificationDateTime) || !(past > lastStartTime))
        return false;
    if (settings.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed)
        return true;
    const qint64 elapsedMs = WallClockMs(now.date(), now.time().msecsSinceStartOfDay()) -
                             WallClockMs(task->Day, qint64(task->Seconds) * 1000);
    return elapsedMs < qint64(MissedStartGraceSeconds) * 1000;
}

bool IsDaysLastStart(const TSchedulingSettings& settings, const QDateTime& now) {
    const QList<int> times = TimeTableSeconds(settings.TimeTable);
    return !times.isEmpty() && qint64(times.last()) * 1000 <= now.time().msecsSinceStartOfDay();
}
