// The scheduler tick on a fake clock: due and missed starts, the concurrency rules, sleep
// blocking, the shutdown after the day's last run and its countdown.

#include "TFakeJob.h"

#include "core/base/OleDate.h"
#include "core/base/TFakeClock.h"
#include "core/model/TJobLock.h"
#include "core/schedule/TScheduler.h"
#include "core/settings/TAppGlobals.h"
#include "core/startup/TApplicationContext.h"
#include "platform/TFakeAutostart.h"
#include "platform/TFakePowerOff.h"
#include "platform/TFakeProcessPriority.h"
#include "platform/TFakeSleepInhibitor.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

QDateTime At(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), u"yyyy-MM-dd HH:mm:ss.zzz"_s);
}

// 2024-06-10 is a Monday; the schedules below were last changed well before it.
const char* const ScheduleChanged = "2024-06-01 12:00:00.000";

void ScheduleWeekly(TJob& job, const QList<int>& days, const QStringList& times, bool catchUp = false) {
    TSchedulingSettings& s = job.SchedulingSettings;
    s.SchedulingType = stDaysOfWeek;
    for (int day : days)
        s.DaysOfWeek.at(size_t(day)) = true;
    s.TimeTable = times;
    s.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed = catchUp;
    s.LastModificationDateTime = OleDate::FromDateTime(At(ScheduleChanged));
}

void ToCloud(TJob& job, const QString& service) {
    job.DestinationSettings.DestinationType = dtCloud;
    job.DestinationSettings.Cloud.ServiceName = service;
}

} // namespace

class TestScheduler : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TFakeAutostart m_autostart;
    TFakeProcessPriority m_priority;
    TFakeClock m_clock;
    std::unique_ptr<TFakeSleepInhibitor> m_sleep;
    std::unique_ptr<TFakePowerOff> m_powerOff;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TScheduler> m_scheduler;
    QStringList m_startOrder;

    TFakeJob* AddJob(const QString& name, TJobKind kind = TJobKind::FilesAndFolders) {
        return static_cast<TFakeJob*>(
            m_context->Jobs().Append(std::make_unique<TFakeJob>(name, kind, m_clock, &m_startOrder)));
    }
    // A files job due on Mondays at 10:00:00.
    TFakeJob* AddMondayJob(const QString& name, TJobKind kind = TJobKind::FilesAndFolders) {
        TFakeJob* job = AddJob(name, kind);
        ScheduleWeekly(*job, {1}, {u"10:00:00"_s});
        return job;
    }
    void TickAt(const char* moment) {
        m_clock.Set(At(moment));
        m_scheduler->Tick();
    }
    QStringList EventTexts() const {
        QStringList texts;
        for (const QString& line : m_context->EventsLog().Lines())
            texts.append(line.mid(line.indexOf(u": "_s) + 2));
        return texts;
    }

private Q_SLOTS:
    void init() {
        TAppGlobals& app = App();
        app.ApplicationDirectory = m_dir.path();
        app.Options = TOptions();
        app.EventsLog.Clear();
        app.IsQuitting = false;
        app.IsElevatedInstance = false;
        m_startOrder.clear();
        m_sleep = std::make_unique<TFakeSleepInhibitor>();
        m_powerOff = std::make_unique<TFakePowerOff>();
        m_context = std::make_unique<TApplicationContext>(TJobList::TJobFactory(), m_autostart, m_priority);
        m_scheduler = std::make_unique<TScheduler>(*m_context, m_clock, *m_sleep, *m_powerOff);
    }

    void cleanup() {
        m_scheduler.reset();
        m_context.reset();
        App().IsQuitting = false;
    }

    void weeklyStart_data() {
        QTest::addColumn<bool>("catchUp");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("started");
        QTest::newRow("just before") << false << At("2024-06-10 09:59:59.999") << false;
        QTest::newRow("at the start itself") << false << At("2024-06-10 10:00:00.000") << false;
        QTest::newRow("first tick after it") << false << At("2024-06-10 10:00:00.400") << true;
        QTest::newRow("last tick in time") << false << At("2024-06-10 10:00:04.999") << true;
        QTest::newRow("five seconds late: missed") << false << At("2024-06-10 10:00:05.000") << false;
        QTest::newRow("an hour late: missed") << false << At("2024-06-10 11:00:00.000") << false;
        QTest::newRow("catch-up, five seconds late") << true << At("2024-06-10 10:00:05.000") << true;
        QTest::newRow("catch-up, three days late") << true << At("2024-06-13 08:00:00.000") << true;
    }

    void weeklyStart() {
        QFETCH(bool, catchUp);
        QFETCH(QDateTime, now);
        QFETCH(bool, started);
        TFakeJob* job = AddJob(u"Weekly"_s);
        ScheduleWeekly(*job, {1}, {u"10:00:00"_s}, catchUp);
        m_clock.Set(now);
        m_scheduler->Tick();
        QCOMPARE(job->Starts, started ? 1 : 0);
        QCOMPARE(job->JobStatus.Load(), started ? jsRunning : jsNone);
        // Taken at most once: ticks after the five seconds, and the next day, leave it alone.
        job->Finish();
        m_clock.Set(now.addSecs(6));
        m_scheduler->Tick();
        m_clock.Set(now.addDays(1));
        m_scheduler->Tick();
        QCOMPARE(job->Starts, started ? 1 : 0);
    }

    void editJustAfterAStartPreventsIt_data() {
        QTest::addColumn<bool>("catchUp");
        QTest::newRow("without catch-up") << false;
        QTest::newRow("with catch-up") << true;
    }

    void editJustAfterAStartPreventsIt() {
        QFETCH(bool, catchUp);
        TFakeJob* job = AddJob(u"Edited"_s);
        ScheduleWeekly(*job, {1}, {u"10:00:00"_s}, catchUp);
        job->SchedulingSettings.LastModificationDateTime = OleDate::FromDateTime(At("2024-06-10 10:00:02.000"));
        TickAt("2024-06-10 10:00:03.000");
        TickAt("2024-06-10 10:00:04.000");
        QCOMPARE(job->Starts, 0);
        // The next start of the schedule is taken as usual.
        TickAt("2024-06-17 10:00:01.000");
        QCOMPARE(job->Starts, 1);
    }

    void waitingJobsStartWithoutASchedule() {
        // "/backup" and the Backup action only set a job waiting; the tick starts it.
        TFakeJob* job = AddJob(u"OnDemand"_s);
        job->JobStatus = jsWaiting;
        TickAt("2024-06-10 12:00:00.000");
        QCOMPARE(job->Starts, 1);
    }

    void jobsOnOneCloudServiceRunOneAfterTheOther() {
        TFakeJob* first = AddMondayJob(u"Photos"_s);
        TFakeJob* second = AddMondayJob(u"Music"_s);
        TFakeJob* dropbox = AddMondayJob(u"Mail"_s);
        AddMondayJob(u"Local"_s);
        ToCloud(*first, u"Google Drive"_s);
        ToCloud(*second, u"Google Drive"_s);
        ToCloud(*dropbox, u"DropBox"_s);
        TickAt("2024-06-10 10:00:01.000");
        QCOMPARE(m_startOrder, (QStringList{u"Photos"_s, u"Mail"_s, u"Local"_s}));
        QCOMPARE(second->JobStatus.Load(), jsWaiting);
        TickAt("2024-06-10 10:00:02.000");
        QCOMPARE(second->JobStatus.Load(), jsWaiting);
        // Long after its start time: a waiting job is not a missed one.
        first->Finish();
        TickAt("2024-06-10 10:30:00.000");
        QCOMPARE(second->Starts, 1);
        QCOMPARE(second->JobStatus.Load(), jsRunning);
        QCOMPARE(first->Starts, 1);
    }

    void cloudServiceNamesMatchInEverySpelling() {
        // The connection reads "onedrive" as "One Drive": the two jobs share the service.
        TFakeJob* first = AddMondayJob(u"Photos"_s);
        TFakeJob* second = AddMondayJob(u"Music"_s);
        ToCloud(*first, u"One Drive"_s);
        ToCloud(*second, u"onedrive"_s);
        TickAt("2024-06-10 10:00:01.000");
        QCOMPARE(m_startOrder, QStringList{u"Photos"_s});
        QCOMPARE(second->JobStatus.Load(), jsWaiting);
        first->Finish();
        TickAt("2024-06-10 10:05:00.000");
        QCOMPARE(m_startOrder, (QStringList{u"Photos"_s, u"Music"_s}));
    }

    void runOnlyOneJobAtATimeKeepsListOrder() {
        App().Options.Processing.RunOnlyOneJobAtATime = true;
        QList<TFakeJob*> jobs{AddMondayJob(u"A"_s), AddMondayJob(u"B"_s), AddMondayJob(u"C"_s)};
        TickAt("2024-06-10 10:00:01.000");
        QCOMPARE(m_startOrder, QStringList{u"A"_s});
        QCOMPARE(jobs[1]->JobStatus.Load(), jsWaiting);
        QCOMPARE(jobs[2]->JobStatus.Load(), jsWaiting);
        TickAt("2024-06-10 10:00:02.000");
        QCOMPARE(m_startOrder, QStringList{u"A"_s});
        jobs[0]->Finish();
        TickAt("2024-06-10 10:05:00.000");
        QCOMPARE(m_startOrder, (QStringList{u"A"_s, u"B"_s}));
        jobs[1]->Finish();
        TickAt("2024-06-10 10:10:00.000");
        QCOMPARE(m_startOrder, (QStringList{u"A"_s, u"B"_s, u"C"_s}));
    }

    void driveImageRunsOnlyWhenNoJobIsActive_data() {
        QTest::addColumn<bool>("imageFirst");
        QTest::addColumn<QStringList>("firstTick");
        QTest::newRow("a files job started earlier in the tick") << false << QStringList{u"Files"_s};
        QTest::newRow("the image comes first in the list") << true << QStringList{u"Image"_s, u"Files"_s};
    }

    void driveImageRunsOnlyWhenNoJobIsActive() {
        QFETCH(bool, imageFirst);
        QFETCH(QStringList, firstTick);
        TFakeJob* image = nullptr;
        TFakeJob* files = nullptr;
        if (imageFirst) {
            image = AddMondayJob(u"Image"_s, TJobKind::DriveImage);
            files = AddMondayJob(u"Files"_s);
        } else {
            files = AddMondayJob(u"Files"_s);
            image = AddMondayJob(u"Image"_s, TJobKind::DriveImage);
        }
        TickAt("2024-06-10 10:00:01.000");
        QCOMPARE(m_startOrder, firstTick);
        if (imageFirst)
            return;
        QCOMPARE(image->JobStatus.Load(), jsWaiting);
        TickAt("2024-06-10 10:20:00.000");
        QCOMPARE(image->Starts, 0);
        files->Finish();
        TickAt("2024-06-10 10:40:00.000");
        QCOMPARE(image->Starts, 1);
    }

    void shutdownIsArmedByTheDaysLastStartOnly_data() {
        QTest::addColumn<bool>("shutdownFlag");
        QTest::addColumn<bool>("catchUp");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("armed");
        QTest::newRow("morning start") << true << false << At("2024-06-10 10:00:01.000") << false;
        QTest::newRow("evening start, the day's last") << true << false << At("2024-06-10 22:00:01.000") << true;
        QTest::newRow("morning start caught up at noon") << true << true << At("2024-06-10 12:00:00.000") << false;
        QTest::newRow("evening start without the flag") << false << false << At("2024-06-10 22:00:01.000") << false;
    }

    void shutdownIsArmedByTheDaysLastStartOnly() {
        QFETCH(bool, shutdownFlag);
        QFETCH(bool, catchUp);
        QFETCH(QDateTime, now);
        QFETCH(bool, armed);
        TFakeJob* job = AddJob(u"Evening"_s);
        ScheduleWeekly(*job, {1}, {u"10:00:00"_s, u"22:00:00"_s}, catchUp);
        job->SchedulingSettings.ShutdownPCInTheEnd = shutdownFlag;
        m_clock.Set(now);
        m_scheduler->Tick();
        QCOMPARE(job->Starts, 1);
        QCOMPARE(m_scheduler->ShutdownPending(), armed);
    }

    void shutdownDialogWaitsUntilEveryJobIsIdle() {
        int shown = 0;
        m_scheduler->Hooks.ShowShutdownDialog = [&shown] { ++shown; };
        m_scheduler->Start();
        TFakeJob* last = AddJob(u"Last"_s);
        ScheduleWeekly(*last, {1}, {u"22:00:00"_s});
        last->SchedulingSettings.ShutdownPCInTheEnd = true;
        TFakeJob* other = AddJob(u"Other"_s);
        ScheduleWeekly(*other, {1}, {u"22:00:00"_s});
        TickAt("2024-06-10 22:00:01.000");
        QVERIFY(m_scheduler->ShutdownPending());
        last->Finish();
        TickAt("2024-06-10 22:10:00.000");
        QCOMPARE(shown, 0);
        other->Finish();
        other->JobStatus = jsWaiting; // started by hand meanwhile: still not idle
        TickAt("2024-06-10 22:20:00.000");
        QCOMPARE(shown, 0);
        other->Finish();
        TickAt("2024-06-10 22:30:00.000");
        QCOMPARE(shown, 1);
        QVERIFY(m_scheduler->ShutdownCountdown().IsActive());
        QCOMPARE(m_scheduler->ShutdownCountdown().Remaining(), TShutdownCountdown::CountdownSeconds);
        QVERIFY(!m_scheduler->IsRunning());
        QCOMPARE(m_powerOff->Requests, 0);
    }

    void shutdownCountdown_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("systemAccepts");
        QTest::addColumn<bool>("poweredOff");
        QTest::newRow("sixty seconds pass") << u"wait"_s << true << true;
        QTest::newRow("Shutdown acts at the next second") << u"shutdown"_s << true << true;
        QTest::newRow("Cancel") << u"cancel"_s << true << false;
        QTest::newRow("the system refuses") << u"shutdown"_s << false << false;
    }

    void shutdownCountdown() {
        QFETCH(QString, action);
        QFETCH(bool, systemAccepts);
        QFETCH(bool, poweredOff);
        m_powerOff->Accept = systemAccepts;
        TFakeJob* job = AddJob(u"Last"_s);
        ScheduleWeekly(*job, {1}, {u"22:00:00"_s});
        job->SchedulingSettings.ShutdownPCInTheEnd = true;
        m_scheduler->Start();
        TickAt("2024-06-10 22:00:01.000");
        job->Finish();
        TickAt("2024-06-10 22:05:00.000");
        TShutdownCountdown& countdown = m_scheduler->ShutdownCountdown();
        QVERIFY(countdown.IsActive());
        QVERIFY(countdown.Text().contains(u"after 60 seconds"_s));
        QSignalSpy poweringOff(&countdown, &TShutdownCountdown::PoweringOff);

        if (action == u"wait"_s) {
            for (int second = 0; second < TShutdownCountdown::CountdownSeconds; ++second)
                countdown.Second();
            QCOMPARE(countdown.Remaining(), 0);
            QVERIFY(countdown.Text().contains(u"after 0 seconds"_s));
            QCOMPARE(m_powerOff->Requests, 0);
            countdown.Second();
        } else if (action == u"shutdown"_s) {
            countdown.Second();
            QVERIFY(countdown.Text().contains(u"after 59 seconds"_s));
            countdown.ShutdownNow();
            QCOMPARE(m_powerOff->Requests, 0);
            countdown.Second();
        } else {
            countdown.Second();
            countdown.Cancel();
            for (int second = 0; second <= TShutdownCountdown::CountdownSeconds; ++second)
                countdown.Second();
        }

        QCOMPARE(m_powerOff->Requests, action == u"cancel"_s ? 0 : 1);
        QCOMPARE(poweringOff.count(), poweredOff ? 1 : 0);
        QVERIFY(!countdown.IsActive());
        QCOMPARE(App().IsQuitting.load(), poweredOff);
        // Back to normal operation unless the computer is going down.
        QCOMPARE(m_scheduler->ShutdownPending(), poweredOff);
        QCOMPARE(m_scheduler->IsRunning(), !poweredOff);
    }

    void sleepBlocking_data() {
        QTest::addColumn<bool>("option");
        QTest::addColumn<int>("scheduledDay"); // 0: no schedule
        QTest::addColumn<QString>("time");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("requests"); // after the first tick and after the run ended
        // Monday 12:00.
        QTest::newRow("a job runs") << false << 0 << QString() << true << QStringList{u"block"_s, u"release"_s};
        QTest::newRow("a start later today") << true << 1 << u"18:00:00"_s << false << QStringList{u"block"_s};
        QTest::newRow("a start tomorrow") << true << 2 << u"08:00:00"_s << false << QStringList{u"block"_s};
        QTest::newRow("a start tomorrow, option off") << false << 2 << u"08:00:00"_s << false << QStringList{};
        QTest::newRow("today's start has passed") << true << 1 << u"08:00:00"_s << false << QStringList{};
        QTest::newRow("a start in three days") << true << 4 << u"08:00:00"_s << false << QStringList{};
        QTest::newRow("a start tomorrow keeps it blocked after a run")
            << true << 2 << u"08:00:00"_s << true << QStringList{u"block"_s};
    }

    void sleepBlocking() {
        QFETCH(bool, option);
        QFETCH(int, scheduledDay);
        QFETCH(QString, time);
        QFETCH(bool, running);
        QFETCH(QStringList, requests);
        App().Options.General.BlockSleepModeifJobIsScheduled = option;
        TFakeJob* job = AddJob(u"Job"_s);
        if (scheduledDay > 0)
            ScheduleWeekly(*job, {scheduledDay}, {time});
        if (running)
            job->JobStatus = jsRunning;
        TickAt("2024-06-10 12:00:00.000");
        QCOMPARE(m_scheduler->SleepBlocked(), running || !requests.isEmpty());
        if (running)
            job->Finish();
        TickAt("2024-06-10 12:00:01.000");
        TickAt("2024-06-10 12:00:02.000");
        QCOMPARE(m_sleep->Requests, requests);
        QCOMPARE(m_sleep->Blocked, m_scheduler->SleepBlocked());
    }

    void aTickInProgressIsNotEnteredAgain() {
        TFakeJob* job = AddMondayJob(u"Job"_s);
        bool busyInside = false;
        // A hook that lets the event loop run (a message box, say) may meet the next timer tick.
        m_scheduler->Hooks.UpdatePanels = [this, &busyInside](const TSchedulerTickCounts&) {
            busyInside = m_scheduler->TickBusy();
            m_scheduler->Tick();
        };
        TickAt("2024-06-10 10:00:01.000");
        QVERIFY(busyInside);
        QVERIFY(!m_scheduler->TickBusy());
        QCOMPARE(job->Starts, 1);
    }

    void aStartThatFailsLeavesTheJobIdle() {
        TFakeJob* failing = AddMondayJob(u"Failing"_s);
        failing->StartThrows = true;
        TFakeJob* next = AddMondayJob(u"Next"_s);
        TickAt("2024-06-10 10:00:01.000");
        QCOMPARE(failing->JobStatus.Load(), jsNone);
        QCOMPARE(next->JobStatus.Load(), jsRunning);
        QVERIFY(EventTexts().last().startsWith(u"ERROR: Failing: "_s));
        QVERIFY(!m_scheduler->TickBusy());
    }

    void nothingStartsWhileQuitting() {
        TFakeJob* job = AddMondayJob(u"Job"_s);
        App().IsQuitting = true;
        TickAt("2024-06-10 10:00:01.000");
        QCOMPARE(job->JobStatus.Load(), jsNone);
        QCOMPARE(job->Starts, 0);
    }

    void aJobHeldByAnotherProcessWaits() {
        TFakeJob* job = AddMondayJob(u"Shared"_s);
        auto elsewhere = std::make_unique<TJobLock>();
        QVERIFY(elsewhere->TryLock(App().ApplicationDirectory, u"Shared"_s));
        TickAt("2024-06-10 10:00:01.000");
        TickAt("2024-06-10 10:00:02.000");
        QCOMPARE(job->Starts, 0);
        QCOMPARE(job->JobStatus.Load(), jsWaiting);
        const QString notice = u"The job \"Shared\" is running in another process. It starts when that run ends."_s;
        QCOMPARE(EventTexts().count(notice), 1);
        elsewhere.reset();
        TickAt("2024-06-10 10:00:03.000");
        QCOMPARE(job->Starts, 1);
        // While it runs here, the other process cannot have it.
        TJobLock other;
        QVERIFY(!other.TryLock(App().ApplicationDirectory, u"Shared"_s));
        job->Finish();
        TickAt("2024-06-10 10:00:04.000");
        QVERIFY(other.TryLock(App().ApplicationDirectory, u"Shared"_s));
    }

    void elevationIsNotedOnce_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("scheduled");
        QTest::addColumn<bool>("otherJobRuns");
        QTest::addColumn<bool>("marked");
        QTest::newRow("scheduled drive image") << int(TJobKind::DriveImage) << true << false << true;
        QTest::newRow("scheduled application data") << int(TJobKind::AppsData) << true << false << true;
        QTest::newRow("drive image on demand only") << int(TJobKind::DriveImage) << false << false << false;
        QTest::newRow("files and folders only") << int(TJobKind::FilesAndFolders) << true << false << false;
        QTest::newRow("not while a job runs") << int(TJobKind::DriveImage) << true << true << false;
    }

    void elevationIsNotedOnce() {
        QFETCH(int, kind);
        QFETCH(bool, scheduled);
        QFETCH(bool, otherJobRuns);
        QFETCH(bool, marked);
        TFakeJob* job = AddJob(u"Job"_s, TJobKind(kind));
        if (scheduled)
            ScheduleWeekly(*job, {4}, {u"08:00:00"_s});
        if (otherJobRuns)
            AddJob(u"Running"_s)->JobStatus = jsRunning;
        TickAt("2024-06-10 12:00:00.000");
        QCOMPARE(App().IsElevatedInstance, marked);
        QCOMPARE(job->Starts, 0);
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
