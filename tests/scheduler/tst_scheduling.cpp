// The schedule arithmetic: which days count, whether a start is ahead, and the nearest past start
// across weeks and months of every length.

#include "core/base/OleDate.h"
#include "core/schedule/Scheduling.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(TSchedulingSettings)

namespace {

TSchedulingSettings Schedule(TSchedulingType type, const QList<int>& days, const QStringList& times) {
    TSchedulingSettings settings;
    settings.SchedulingType = type;
    for (int day : days) {
        if (type == stDaysOfWeek)
            settings.DaysOfWeek.at(size_t(day)) = true;
        else
            settings.DaysOfMonth.at(size_t(day)) = true;
    }
    settings.TimeTable = times;
    return settings;
}

QDateTime At(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), u"yyyy-MM-dd HH:mm:ss.zzz"_s);
}

} // namespace

class TestScheduling : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void timeTableEntries_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("seconds"); // -1: not a time
        QTest::newRow("midnight") << u"00:00:00"_s << 0;
        QTest::newRow("last second") << u"23:59:59"_s << 86399;
        QTest::newRow("hour 24") << u"24:00:00"_s << -1;
        QTest::newRow("minute 60") << u"10:60:00"_s << -1;
        QTest::newRow("one-digit hour") << u"9:00:00"_s << -1;
        QTest::newRow("no seconds") << u"10:00"_s << -1;
        QTest::newRow("other separator") << u"10.00.00"_s << -1;
        QTest::newRow("letters") << u"1a:00:00"_s << -1;
        QTest::newRow("trailing blank") << u"10:00:00 "_s << -1;
    }

    void timeTableEntries() {
        QFETCH(QString, entry);
        QFETCH(int, seconds);
        const std::optional<int> parsed = TimeTableEntrySeconds(entry);
        QCOMPARE(parsed.value_or(-1), seconds);
        if (parsed)
            QCOMPARE(TimeTableEntryText(*parsed), entry);
    }

    void scheduledXDaysFromNow_data() {
        QTest::addColumn<TSchedulingSettings>("settings");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("daysCount");
        QTest::addColumn<bool>("expected");
        // 2024-06-10 is a Monday.
        const TSchedulingSettings mondayTuesday = Schedule(stDaysOfWeek, {1, 2}, {u"22:00:00"_s});
        const TSchedulingSettings mondayOnly = Schedule(stDaysOfWeek, {1}, {u"22:00:00"_s});
        QTest::newRow("23:00, only 22:00 today: not today")
            << mondayTuesday << At("2024-06-10 23:00:00.000") << 0 << false;
        QTest::newRow("23:00, only 22:00 today: tomorrow is selected")
            << mondayTuesday << At("2024-06-10 23:00:00.000") << 1 << true;
        QTest::newRow("23:00, only 22:00 today: tomorrow is not selected")
            << mondayOnly << At("2024-06-10 23:00:00.000") << 1 << false;
        QTest::newRow("start still ahead today") << mondayOnly << At("2024-06-10 21:59:59.000") << 0 << true;
        QTest::newRow("at the start itself") << mondayOnly << At("2024-06-10 22:00:00.000") << 0 << false;
        QTest::newRow("a week ahead") << mondayOnly << At("2024-06-11 12:00:00.000") << 6 << true;
        QTest::newRow("six days are not enough") << mondayOnly << At("2024-06-11 12:00:00.000") << 5 << false;
        QTest::newRow("day 29 after 28 February of a leap year")
            << Schedule(stDaysOfMonth, {29}, {u"08:00:00"_s}) << At("2024-02-28 12:00:00.000") << 1 << true;
        QTest::newRow("no 29 February in 2023")
            << Schedule(stDaysOfMonth, {29}, {u"08:00:00"_s}) << At("2023-02-28 12:00:00.000") << 1 << false;
        QTest::newRow("no 31 April") << Schedule(stDaysOfMonth, {31}, {u"08:00:00"_s}) << At("2024-04-30 12:00:00.000")
                                     << 1 << false;
        QTest::newRow("disabled") << Schedule(stDisabled, {}, {u"22:00:00"_s}) << At("2024-06-10 12:00:00.000") << 10
                                  << false;
        QTest::newRow("no valid start time can never start")
            << Schedule(stDaysOfWeek, {1, 2, 3, 4, 5, 6, 7}, {u"25:00:00"_s}) << At("2024-06-10 12:00:00.000") << 10
            << false;
    }

    void scheduledXDaysFromNow() {
        QFETCH(TSchedulingSettings, settings);
        QFETCH(QDateTime, now);
        QFETCH(int, daysCount);
        QFETCH(bool, expected);
        QCOMPARE(IsScheduledXDaysFromNow(settings, daysCount, now), expected);
    }

    void nearestPastTask_data() {
        QTest::addColumn<TSchedulingSettings>("settings");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("expected"); // invalid: none (0)
        const TSchedulingSettings monday10 = Schedule(stDaysOfWeek, {1}, {u"10:00:00"_s});
        QTest::newRow("the start itself is not past yet")
            << monday10 << At("2024-06-10 10:00:00.000") << At("2024-06-03 10:00:00.000");
        QTest::newRow("a millisecond later")
            << monday10 << At("2024-06-10 10:00:00.001") << At("2024-06-10 10:00:00.000");
        QTest::newRow("days later") << monday10 << At("2024-06-13 09:00:00.000") << At("2024-06-10 10:00:00.000");
        const QStringList threeTimes{u"08:00:00"_s, u"12:00:00"_s, u"18:00:00"_s};
        QTest::newRow("latest past entry of today") << Schedule(stDaysOfWeek, {1}, threeTimes)
                                                    << At("2024-06-10 13:00:00.000") << At("2024-06-10 12:00:00.000");
        QTest::newRow("before today's first entry: yesterday's last")
            << Schedule(stDaysOfWeek, {1, 7}, threeTimes) << At("2024-06-10 07:00:00.000")
            << At("2024-06-09 18:00:00.000");
        // A job file written by hand or damaged: the order and stray entries must not hide the
        // latest start.
        QTest::newRow("unsorted table") << Schedule(stDaysOfWeek, {1}, {u"18:00:00"_s, u"08:00:00"_s, u"12:00:00"_s})
                                        << At("2024-06-10 13:00:00.000") << At("2024-06-10 12:00:00.000");
        QTest::newRow("entries that are no times are skipped")
            << Schedule(stDaysOfWeek, {1}, {u"09:00:00"_s, u"12:0:00"_s, u"25:00:00"_s})
            << At("2024-06-10 13:00:00.000") << At("2024-06-10 09:00:00.000");
        const QStringList eight{u"08:00:00"_s};
        QTest::newRow("day 31: April has none")
            << Schedule(stDaysOfMonth, {31}, eight) << At("2024-05-01 09:00:00.000") << At("2024-03-31 08:00:00.000");
        QTest::newRow("day 31: sixty days back over June")
            << Schedule(stDaysOfMonth, {31}, eight) << At("2024-07-30 09:00:00.000") << At("2024-05-31 08:00:00.000");
        QTest::newRow("day 30: February 2023 has none")
            << Schedule(stDaysOfMonth, {30}, eight) << At("2023-03-29 09:00:00.000") << At("2023-01-30 08:00:00.000");
        QTest::newRow("day 29 in a leap year")
            << Schedule(stDaysOfMonth, {29}, eight) << At("2024-03-28 09:00:00.000") << At("2024-02-29 08:00:00.000");
        QTest::newRow("day 29 in a common year")
            << Schedule(stDaysOfMonth, {29}, eight) << At("2023-03-28 09:00:00.000") << At("2023-01-29 08:00:00.000");
        QTest::newRow("days 29 to 31 end with the month")
            << Schedule(stDaysOfMonth, {29, 30, 31}, eight) << At("2023-03-01 09:00:00.000")
            << At("2023-01-31 08:00:00.000");
        // The search looks back a bounded number of days and ends with 0 when nothing is there.
        QTest::newRow("no day selected") << Schedule(stDaysOfMonth, {}, eight) << At("2024-06-10 09:00:00.000")
                                         << QDateTime();
        QTest::newRow("no time") << Schedule(stDaysOfWeek, {1}, {}) << At("2024-06-10 09:00:00.000") << QDateTime();
        QTest::newRow("disabled") << Schedule(stDisabled, {}, eight) << At("2024-06-10 09:00:00.000") << QDateTime();
    }

    void nearestPastTask() {
        QFETCH(TSchedulingSettings, settings);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, expected);
        const double found = GetDateTimeOfNearestPastTask(settings, now);
        if (!expected.isValid())
            QCOMPARE(found, 0.0);
        else
            QCOMPARE(OleDate::ToDateTime(found), expected);
    }

    // The search looks at today and the given number of earlier days, no more: no schedule with a
    // selected day leaves a gap of NearestPastTaskSearchDays, so the bound shows with a short
    // window.
    void nearestPastTaskWindow_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("found");
        QTest::newRow("the last day of the window") << At("2024-06-12 09:00:00.000") << true;
        QTest::newRow("one day beyond it") << At("2024-06-13 09:00:00.000") << false;
    }

    void nearestPastTaskWindow() {
        QFETCH(QDateTime, now);
        QFETCH(bool, found);
        const TSchedulingSettings monday = Schedule(stDaysOfWeek, {1}, {u"10:00:00"_s});
        const double past = GetDateTimeOfNearestPastTask(monday, now, 2);
        QCOMPARE(past != 0, found);
        if (found)
            QCOMPARE(OleDate::ToDateTime(past), At("2024-06-10 10:00:00.000"));
    }
};

QTEST_APPLESS_MAIN(TestScheduling)
#include "tst_scheduling.moc"
