// Desktop notices about the scheduler's runs, through the D-Bus notifier to a stand-in
// notification service on a private bus: which endings and failed starts are told, with which
// texts, and nothing while the switch is off.

#include "TFakeJob.h"
#include "tests/platform/TNotificationStandIn.h"

#include "core/base/OleDate.h"
#include "core/base/TFakeClock.h"
#include "core/base/TextFormat.h"
#include "core/model/TJobLock.h"
#include "core/schedule/TJobNotices.h"
#include "core/schedule/TScheduler.h"
#include "core/settings/TAppGlobals.h"
#include "core/startup/TApplicationContext.h"
#include "platform/TDBusDesktopNotifier.h"
#include "platform/TFakeAutostart.h"
#include "platform/TFakePowerOff.h"
#include "platform/TFakeProcessPriority.h"
#include "platform/TFakeSleepInhibitor.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int WaitMs = 20000;
// 2024-06-10 is a Monday.
const QDateTime Start(QDate(2024, 6, 10), QTime(10, 0, 1));
const QDateTime End(QDate(2024, 6, 10), QTime(10, 20, 0));

} // namespace

class TestJobNotices : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TNotificationStandIn m_service;
    TFakeAutostart m_autostart;
    TFakeProcessPriority m_priority;
    TFakeClock m_clock;
    TFakeSleepInhibitor m_sleep;
    TFakePowerOff m_powerOff;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TScheduler> m_scheduler;
    std::unique_ptr<TDBusDesktopNotifier> m_notifier;
    std::unique_ptr<TJobNotices> m_notices;

    // A job due on Mondays at 10:00:00.
    TFakeJob* AddJob(const QString& name) {
        auto* job = static_cast<TFakeJob*>(
            m_context->Jobs().Append(std::make_unique<TFakeJob>(name, TJobKind::FilesAndFolders, m_clock)));
        TSchedulingSettings& s = job->SchedulingSettings;
        s.SchedulingType = stDaysOfWeek;
        s.DaysOfWeek.at(1) = true;
        s.TimeTable = {u"10:00:00"_s};
        s.LastModificationDateTime = OleDate::FromDateTime(QDateTime(QDate(2024, 6, 1), QTime(12, 0)));
        return job;
    }

    void TickAt(const QDateTime& moment) {
        m_clock.Set(moment);
        m_scheduler->Tick();
    }

    // Every notice shown since the last call, as "summary|body". A marker sent after the events
    // comes back last: one connection's calls arrive in order, so nothing sent before it is
    // still on its way.
    QStringList Shown() {
        QSignalSpy received(&m_service, &TNotificationStandIn::Received);
        m_notifier->Notify(u"marker"_s, QString());
        const auto markerArrived = [this] {
            return !m_service.Calls.isEmpty() && m_service.Calls.last().Summary == u"marker"_s;
        };
        while (!markerArrived())
            if (!received.wait(WaitMs))
                return {u"the marker did not arrive"_s};
        QStringList shown;
        for (qsizetype i = 0; i + 1 < m_service.Calls.size(); ++i)
            shown.append(m_service.Calls[i].Summary + u'|' + m_service.Calls[i].Body);
        m_service.Calls.clear();
        return shown;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(u"config"_s));
        QString why;
        QVERIFY2(m_service.Start(&why), qPrintable(why));
    }

    void init() {
        TAppGlobals& app = App();
        app.ApplicationDirectory = m_dir.path();
        app.Options = TOptions();
        app.EventsLog.Clear();
        app.IsQuitting = false;
        TJobNotices::SetSwitchedOn(true);
        m_context = std::make_unique<TApplicationContext>(TJobList::TJobFactory(), m_autostart, m_priority);
        m_scheduler = std::make_unique<TScheduler>(*m_context, m_clock, m_sleep, m_powerOff);
        m_notifier = std::make_unique<TDBusDesktopNotifier>(m_service.Connect());
        m_notices = std::make_unique<TJobNotices>(*m_notifier);
        m_notices->Attach(*m_scheduler);
        m_service.Calls.clear();
    }

    void cleanup() {
        m_scheduler.reset();
        m_notices.reset();
        m_notifier.reset();
        m_context.reset();
    }

    void theSwitchIsOnByDefault() {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, u"Vaultora"_s, u"Vaultora"_s)
            .remove(u"desktop_notifications"_s);
        QVERIFY(TJobNotices::SwitchedOn());
        TJobNotices::SetSwitchedOn(false);
        QVERIFY(!TJobNotices::SwitchedOn());
    }

    void runEndings_data() {
        QTest::addColumn<int>("errors");
        QTest::addColumn<int>("warnings");
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<bool>("switchedOn");
        QTest::addColumn<QString>("body"); // empty: no notice
        const QString when = DateTimeText(End);
        QTest::newRow("errors") << 2 << 1 << false << true << u"Finished with errors on "_s + when + u"\nErrors: 2"_s;
        QTest::newRow("cancelled") << 0 << 0 << true << true << u"Cancelled on "_s + when;
        QTest::newRow("cancelled after errors")
            << 1 << 0 << true << true << u"Cancelled on "_s + when + u"\nErrors: 1"_s;
        QTest::newRow("finished") << 0 << 0 << false << true << QString();
        QTest::newRow("finished with warnings") << 0 << 3 << false << true << QString();
        QTest::newRow("errors, switched off") << 2 << 0 << false << false << QString();
        QTest::newRow("cancelled, switched off") << 0 << 0 << true << false << QString();
    }

    void runEndings() {
        QFETCH(int, errors);
        QFETCH(int, warnings);
        QFETCH(bool, cancelled);
        QFETCH(bool, switchedOn);
        QFETCH(QString, body);
        TJobNotices::SetSwitchedOn(switchedOn);
        TFakeJob* job = AddJob(u"Documents"_s);
        TickAt(Start);
        QCOMPARE(job->Starts, 1);
        TickAt(Start.addSecs(1));
        QCOMPARE(Shown(), QStringList());
        job->LastJobResult.ErrorsCount = errors;
        job->LastJobResult.WarningsCount = warnings;
        job->LastJobResult.Cancelled = cancelled;
        m_clock.Set(End);
        job->Finish();
        TickAt(End.addSecs(1));
        QCOMPARE(Shown(), body.isEmpty() ? QStringList() : QStringList{u"Documents|"_s + body});
        // Told once: later ticks see an idle job.
        TickAt(End.addSecs(2));
        QCOMPARE(Shown(), QStringList());
    }

    void aRunThatEndsBeforeTheNextTickIsTold() {
        TFakeJob* job = AddJob(u"Quick"_s);
        TickAt(Start);
        job->LastJobResult.Cancelled = true;
        m_clock.Set(End);
        job->Finish();
        TickAt(End.addSecs(1));
        QCOMPARE(Shown(), QStringList{u"Quick|Cancelled on "_s + DateTimeText(End)});
    }

    void aRestoreIsNotTold() {
        TFakeJob* job = AddJob(u"Documents"_s);
        job->JobOperation = joRestore;
        job->JobStatus = jsRunning;
        TickAt(Start.addSecs(-60));
        job->LastJobResult.Cancelled = true;
        job->Finish();
        TickAt(Start.addSecs(-59));
        QCOMPARE(Shown(), QStringList());
    }

    void aStartThatFailsIsTold() {
        TFakeJob* job = AddJob(u"Nightly"_s);
        job->StartThrows = true;
        TickAt(Start);
        QCOMPARE(job->JobStatus.Load(), jsNone);
        const QStringList shown = Shown();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().startsWith(u"Nightly|ERROR: Nightly: "_s), qPrintable(shown.first()));
        // The text of the events log.
        QVERIFY(m_context->EventsLog().Lines().last().endsWith(shown.first().mid(u"Nightly|"_s.size())));
        // The tick tries again while the start is due: the same failure is told once, and a
        // start that failed is no run that ended.
        TickAt(Start.addSecs(1));
        QCOMPARE(job->Starts, 2);
        QCOMPARE(Shown(), QStringList());
        // Once the job has run, a new failure is told again.
        job->StartThrows = false;
        job->SchedulingSettings.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed = true;
        TickAt(Start.addSecs(2));
        QCOMPARE(job->JobStatus.Load(), jsRunning);
        job->Finish();
        TickAt(Start.addSecs(3));
        job->StartThrows = true;
        TickAt(Start.addDays(7));
        QCOMPARE(Shown().size(), 1);
    }

    void aJobRunningElsewhereIsToldOncePerWait() {
        AddJob(u"Shared"_s);
        TJobLock elsewhere;
        QVERIFY(elsewhere.TryLock(App().ApplicationDirectory, u"Shared"_s));
        TickAt(Start);
        TickAt(Start.addSecs(1));
        QCOMPARE(
            Shown(),
            QStringList{u"Shared|The job \"Shared\" is running in another process. It starts when that run ends."_s});
    }

    void aFailedStartIsNotToldWhileSwitchedOff() {
        TJobNotices::SetSwitchedOn(false);
        AddJob(u"Nightly"_s)->StartThrows = true;
        AddJob(u"Shared"_s);
        TJobLock elsewhere;
        QVERIFY(elsewhere.TryLock(App().ApplicationDirectory, u"Shared"_s));
        TickAt(Start);
        QCOMPARE(Shown(), QStringList());
    }

    void anUnreachableServiceIsOneEventsLogLine() {
        QVERIFY(m_service.Withdraw());
        AddJob(u"A"_s)->StartThrows = true;
        AddJob(u"B"_s)->StartThrows = true;
        QSignalSpy answered(m_notifier.get(), &TDBusDesktopNotifier::Answered);
        TickAt(Start);
        QTRY_COMPARE_WITH_TIMEOUT(answered.count(), 2, WaitMs);
        QVERIFY(m_service.Register());
        m_context->FlushEventsLog();
        QCOMPARE(m_context->EventsLog().Lines().filter(u"Desktop notifications cannot be shown: "_s).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestJobNotices)
#include "tst_jobnotices.moc"
