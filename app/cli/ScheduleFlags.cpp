#include "app/cli/ScheduleFlags.h"

#include "app/cli/TCliContext.h"

#include "core/base/OleDate.h"
#include "core/schedule/Scheduling.h"
#include "core/settings/TAppGlobals.h"

#include <algorithm>

namespace {

const char* const DayNames[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
const char* const LongDayNames[] = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};

// 1 (Monday) to 7, or 0.
int DayOfWeekNumber(const QString& text) {
    const QString name = text.toLower();
    for (int day = 0; day < 7; ++day)
        if (name == QLatin1String(DayNames[day]) || name == QLatin1String(LongDayNames[day]))
            return day + 1;
    return 0;
}

QStringList ListItems(const QString& list) {
    QStringList items;
    for (const QString& item : list.split(u','))
        if (!item.trimmed().isEmpty())
            items.append(item.trimmed());
    return items;
}

} // namespace

QString ScheduleFlagsUsage() {
    return QStringLiteral("[--days-of-week mon,tue,... | --days-of-month 1,15,...] [--at HH:MM:SS]... [--catch-up] "
                          "[--shutdown-after] [--disable]");
}

TScheduleFlags TakeScheduleFlags(TCliContext& context, TSchedulingSettings& schedule, QString& message) {
    QString weekDays, monthDays, value;
    const bool hasWeek = context.TakeOption(QStringLiteral("--days-of-week"), &weekDays);
    const bool hasMonth = context.TakeOption(QStringLiteral("--days-of-month"), &monthDays);
    QStringList times;
    while (context.TakeOption(QStringLiteral("--at"), &value))
        times.append(value);
    const bool catchUp = context.TakeSwitch(QStringLiteral("--catch-up"));
    const bool shutdown = context.TakeSwitch(QStringLiteral("--shutdown-after"));
    const bool disable = context.TakeSwitch(QStringLiteral("--disable"));

    if (!hasWeek && !hasMonth) {
        if (!times.isEmpty() || catchUp || shutdown) {
            message = QStringLiteral("--at, --catch-up and --shutdown-after need --days-of-week or --days-of-month");
            return TScheduleFlags::Invalid;
        }
        if (!disable)
            return TScheduleFlags::None;
        schedule.SchedulingType = stDisabled;
        schedule.LastModificationDateTime = OleDate::Now();
        return TScheduleFlags::DisabledOnly;
    }
    if (hasWeek && hasMonth) {
        message = QStringLiteral("--days-of-week and --days-of-month exclude each other");
        return TScheduleFlags::Invalid;
    }

    TSchedulingSettings next;
    if (hasWeek) {
        next.SchedulingType = stDaysOfWeek;
        for (const QString& item : ListItems(weekDays)) {
            const int day = DayOfWeekNumber(item);
            if (day == 0) {
                message = QStringLiteral("unknown day of the week \"") + item +
                          QStringLiteral("\": use mon, tue, wed, thu, fri, sat and sun");
                return TScheduleFlags::Invalid;
            }
            next.DaysOfWeek.at(size_t(day)) = true;
        }
    } else {
        next.SchedulingType = stDaysOfMonth;
        for (const QString& item : ListItems(monthDays)) {
            bool ok = false;
            const int day = item.toInt(&ok);
            if (!ok || day < 1 || day > 31) {
                message = QStringLiteral("a day of the month is a number from 1 to 31, not \"") + item + u'"';
                return TScheduleFlags::Invalid;
            }
            next.DaysOfMonth.at(size_t(day)) = true;
        }
    }
    const bool anyDay =
        hasWeek ? std::find(next.DaysOfWeek.begin(), next.DaysOfWeek.end(), true) != next.DaysOfWeek.end()
                : std::find(next.DaysOfMonth.begin(), next.DaysOfMonth.end(), true) != next.DaysOfMonth.end();
    if (!anyDay) {
        message = TranslateText(QStringLiteral("Please specify at least one day."));
        return TScheduleFlags::Invalid;
    }
    for (const QString& time : std::as_const(times)) {
        if (!TimeTableEntrySeconds(time)) {
            message = QStringLiteral("--at takes a time of day as HH:MM:SS on the 24-hour clock, not \"") + time + u'"';
            return TScheduleFlags::Invalid;
        }
    }
    for (int seconds : TimeTableSeconds(times))
        next.TimeTable.append(TimeTableEntryText(seconds));
    if (next.TimeTable.isEmpty()) {
        message = TranslateText(QStringLiteral("Please add at least one record to the timetable."));
        return TScheduleFlags::Invalid;
    }
    next.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed = catchUp;
    next.ShutdownPCInTheEnd = shutdown;
    if (disable)
        next.SchedulingType = stDisabled;
    next.LastModificationDateTime = OleDate::Now();
    schedule = next;
    return TScheduleFlags::Replaced;
}
