// The schedule of a job from the command line and the scheduler without windows, in real
// processes: the flags of new and schedule, and run-scheduler starting a job at its time.

#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QStringList EveryDay{u"--days-of-week"_s, u"mon,tue,wed,thu,fri,sat,sun"_s};

// Now as job files count time (days since 30 December 1899, local wall clock).
double OleNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return double(QDate(1899, 12, 30).daysTo(now.date())) + double(now.time().msecsSinceStartOfDay()) / 86'400'000.0;
}

} // namespace

class TestCliScheduler : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString Path(const QString& name) const { return m_root.filePath(name); }

    QProcessEnvironment Environment() const {
        // Folders the program finds through XDG variables stay inside the test's folder; the
        // runtime folder holds the single-instance lock.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, Path(u"home"_s));
        environment.insert(u"XDG_CACHE_HOME"_s, Path(u"cache"_s));
        environment.insert(u"XDG_CONFIG_HOME"_s, Path(u"config"_s));
        environment.insert(u"XDG_DATA_HOME"_s, Path(u"share"_s));
        environment.insert(u"XDG_RUNTIME_DIR"_s, Path(u"runtime"_s));
        return environment;
    }

    QStringList Command(const QStringList& args) const { return QStringList{u"--data-dir"_s, Path(u"data"_s)} + args; }

    TRun Run(const QStringList& args) { return RunCli(Environment(), Path(u"data"_s), args); }

    QStringList NewJob(const QString& name, const QString& destination) const {
        return {u"new"_s, name, u"--source"_s, Path(u"src"_s), u"--to"_s, Path(destination)};
    }

    QJsonObject Show(const QString& name) {
        const TRun shown = Run({u"show"_s, name, u"--json"_s});
        return QJsonDocument::fromJson(shown.Out.toUtf8()).object();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDir().mkpath(Path(u"src"_s)));
        QFile file(Path(u"src/a.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("a");
        file.close();
        QVERIFY(QDir().mkpath(Path(u"dest"_s)));
        QVERIFY(QDir().mkpath(Path(u"runtime"_s)));
        QFile::setPermissions(Path(u"runtime"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(Run(NewJob(u"Existing"_s, u"dest"_s)).ExitCode, 0);
    }

    void badScheduleFlagsAreRefused_data() {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QString>("message");
        const QStringList monday{u"--days-of-week"_s, u"mon"_s};
        const QStringList ten{u"--at"_s, u"10:00:00"_s};
        QTest::newRow("unknown day name")
            << QStringList{u"--days-of-week"_s, u"mon,funday"_s} + ten << u"unknown day of the week \"funday\""_s;
        QTest::newRow("day of the month 0") << QStringList{u"--days-of-month"_s, u"0"_s} + ten << u"from 1 to 31"_s;
        QTest::newRow("day of the month 32") << QStringList{u"--days-of-month"_s, u"1,32"_s} + ten << u"from 1 to 31"_s;
        QTest::newRow("day of the month not a number")
            << QStringList{u"--days-of-month"_s, u"1,x"_s} + ten << u"from 1 to 31"_s;
        QTest::newRow("hour 24") << monday + QStringList{u"--at"_s, u"24:00:00"_s} << u"HH:MM:SS"_s;
        QTest::newRow("no seconds") << monday + QStringList{u"--at"_s, u"10:00"_s} << u"HH:MM:SS"_s;
        QTest::newRow("both day selectors")
            << monday + QStringList{u"--days-of-month"_s, u"1"_s} + ten << u"exclude each other"_s;
        QTest::newRow("times without days") << ten << u"need --days-of-week or --days-of-month"_s;
        QTest::newRow("catch-up without days")
            << QStringList{u"--catch-up"_s} << u"need --days-of-week or --days-of-month"_s;
        QTest::newRow("days without times") << monday << u"Please add at least one record to the timetable."_s;
        QTest::newRow("no day in the list")
            << QStringList{u"--days-of-week"_s, u","_s} + ten << u"Please specify at least one day."_s;
    }

    void badScheduleFlagsAreRefused() {
        QFETCH(QStringList, flags);
        QFETCH(QString, message);
        const TRun created = Run(NewJob(u"Refused"_s, u"dest"_s) + flags);
        QCOMPARE(created.ExitCode, 64);
        QVERIFY2(created.Err.contains(message), qPrintable(created.Err));
        QCOMPARE(Show(u"Refused"_s), QJsonObject());
        const QJsonObject unchanged = Show(u"Existing"_s);
        const TRun changed = Run(QStringList{u"schedule"_s, u"Existing"_s} + flags);
        QCOMPARE(changed.ExitCode, 64);
        QVERIFY2(changed.Err.contains(message), qPrintable(changed.Err));
        QCOMPARE(Show(u"Existing"_s), unchanged);
    }

    void newStoresTheSchedule_data() {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<int>>("weekDays");  // Monday = 1
        QTest::addColumn<QList<int>>("monthDays"); // 1 to 31
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<bool>("catchUp");
        QTest::addColumn<bool>("shutdown");
        QTest::newRow("weekly, times sorted and unique")
            << QStringList{u"--days-of-week"_s, u"Fri,monday"_s, u"--at"_s,     u"18:30:00"_s,   u"--at"_s,
                           u"08:00:00"_s,       u"--at"_s,       u"18:30:00"_s, u"--catch-up"_s, u"--shutdown-after"_s}
            << 1 << QList<int>{1, 5} << QList<int>{} << QStringList{u"08:00:00"_s, u"18:30:00"_s} << true << true;
        QTest::newRow("monthly, disabled")
            << QStringList{u"--days-of-month"_s, u"31,1,15"_s, u"--at"_s, u"06:00:00"_s, u"--disable"_s} << 0
            << QList<int>{} << QList<int>{1, 15, 31} << QStringList{u"06:00:00"_s} << false << false;
        QTest::newRow("no schedule") << QStringList{} << 0 << QList<int>{} << QList<int>{} << QStringList{} << false
                                     << false;
    }

    void newStoresTheSchedule() {
        QFETCH(QStringList, flags);
        QFETCH(int, type);
        QFETCH(QList<int>, weekDays);
        QFETCH(QList<int>, monthDays);
        QFETCH(QStringList, times);
        QFETCH(bool, catchUp);
        QFETCH(bool, shutdown);
        const QString name = u"New "_s + QString::fromLatin1(QTest::currentDataTag()).left(7);
        const double before = OleNow();
        QCOMPARE(Run(NewJob(name, u"dest"_s) + flags).ExitCode, 0);
        const double after = OleNow();
        const QJsonObject s = Show(name).value(u"SchedulingSettings"_s).toObject();
        QCOMPARE(s.value(u"SchedulingType"_s).toInt(), type);
        const QJsonArray week = s.value(u"DaysOfWeek"_s).toArray();
        for (int day = 1; day <= 7; ++day)
            QCOMPARE(week.at(day - 1).toBool(), weekDays.contains(day));
        const QJsonArray month = s.value(u"DaysOfMonth"_s).toArray();
        for (int day = 1; day <= 31; ++day)
            QCOMPARE(month.at(day - 1).toBool(), monthDays.contains(day));
        QCOMPARE(s.value(u"TimeTable"_s).toVariant().toStringList(), times);
        QCOMPARE(s.value(u"RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed"_s).toBool(), catchUp);
        QCOMPARE(s.value(u"ShutdownPCInTheEnd"_s).toBool(), shutdown);
        // Changed "now", as the wizard does, so that a start time just past is not taken.
        const double changed = s.value(u"LastModificationDateTime"_s).toDouble();
        QVERIFY(changed >= before && changed <= after);
    }

    void scheduleChangesOnlyTheSchedule() {
        QCOMPARE(Run(NewJob(u"Sched"_s, u"dest"_s) + QStringList{u"--type"_s, u"full"_s, u"--zip"_s}).ExitCode, 0);
        QJsonObject before = Show(u"Sched"_s);
        const TRun changed =
            Run({u"schedule"_s, u"Sched"_s, u"--days-of-month"_s, u"29,30,31"_s, u"--at"_s, u"23:59:59"_s});
        QCOMPARE(changed.ExitCode, 0);
        QJsonObject after = Show(u"Sched"_s);
        const QJsonObject schedule = after.value(u"SchedulingSettings"_s).toObject();
        QCOMPARE(schedule.value(u"SchedulingType"_s).toInt(), 2);
        QCOMPARE(schedule.value(u"TimeTable"_s).toVariant().toStringList(), QStringList{u"23:59:59"_s});
        before.remove(u"SchedulingSettings"_s);
        after.remove(u"SchedulingSettings"_s);
        QCOMPARE(after, before);

        // --disable alone keeps the days and times for later.
        QCOMPARE(Run({u"schedule"_s, u"Sched"_s, u"--disable"_s}).ExitCode, 0);
        const QJsonObject disabled = Show(u"Sched"_s).value(u"SchedulingSettings"_s).toObject();
        QCOMPARE(disabled.value(u"SchedulingType"_s).toInt(), 0);
        QCOMPARE(disabled.value(u"TimeTable"_s), schedule.value(u"TimeTable"_s));
        QCOMPARE(disabled.value(u"DaysOfMonth"_s), schedule.value(u"DaysOfMonth"_s));
        QVERIFY(disabled.value(u"LastModificationDateTime"_s).toDouble() >=
                schedule.value(u"LastModificationDateTime"_s).toDouble());

        QCOMPARE(Run({u"schedule"_s, u"Sched"_s}).ExitCode, 64);
        QCOMPARE(Run({u"schedule"_s, u"Nobody"_s, u"--disable"_s}).ExitCode, 64);
    }

    void scheduleWaitsForARunningJob() {
        // The job's lock, as a run in another process holds it.
        QVERIFY(QDir().mkpath(Path(u"data/locks"_s)));
        const int fd = ::open(QFile::encodeName(Path(u"data/locks/existing.lock"_s)).constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        const QJsonObject before = Show(u"Existing"_s);
        const TRun refused = Run({u"schedule"_s, u"Existing"_s, u"--disable"_s});
        ::close(fd);
        QCOMPARE(refused.ExitCode, 64);
        QVERIFY2(refused.Err.contains(u"running"_s), qPrintable(refused.Err));
        QCOMPARE(Show(u"Existing"_s), before);
    }

    void runSchedulerStartsAJobAtItsTimeOnce() {
        QVERIFY(QDir().mkpath(Path(u"dest-rt"_s)));
        QCOMPARE(Run(NewJob(u"Timed"_s, u"dest-rt"_s)).ExitCode, 0);

        QProcess scheduler;
        scheduler.setProcessEnvironment(Environment());
        scheduler.start(Cli, Command({u"run-scheduler"_s}));
        QVERIFY(scheduler.waitForStarted());
        QString out;
        auto waitFor = [&](const QString& text) {
            QDeadlineTimer deadline(60000);
            while (!out.contains(text) && scheduler.state() == QProcess::Running && !deadline.hasExpired()) {
                scheduler.waitForReadyRead(200);
                out += QString::fromUtf8(scheduler.readAllStandardOutput());
            }
            return out.contains(text);
        };
        // The first tick flushes the events of the start.
        QVERIFY2(waitFor(u"Backup jobs are loaded."_s), qPrintable(out));

        // One scheduler per data folder.
        const TRun second = Run({u"run-scheduler"_s});
        QCOMPARE(second.ExitCode, 64);
        QVERIFY2(second.Err.contains(u"already runs the jobs"_s), qPrintable(second.Err));

        // Scheduled while the scheduler runs: it reads the changed job file and takes the start.
        const QDateTime at = QDateTime::currentDateTime().addSecs(3);
        QCOMPARE(
            Run(QStringList{u"schedule"_s, u"Timed"_s} + EveryDay + QStringList{u"--at"_s, at.toString(u"HH:mm:ss"_s)})
                .ExitCode,
            0);
        QVERIFY2(waitFor(u"Backup job \"Timed\" is finished. Files copied: 1."_s), qPrintable(out));
        // Past the start's five seconds, nothing more may start.
        while (QDateTime::currentDateTime() < at.addSecs(7) && scheduler.state() == QProcess::Running) {
            scheduler.waitForReadyRead(200);
            out += QString::fromUtf8(scheduler.readAllStandardOutput());
        }
        ::kill(pid_t(scheduler.processId()), SIGTERM);
        QVERIFY(scheduler.waitForFinished(30000));
        out += QString::fromUtf8(scheduler.readAllStandardOutput());
        QCOMPARE(scheduler.exitStatus(), QProcess::NormalExit);
        QCOMPARE(scheduler.exitCode(), 0);
        QCOMPARE(out.count(u"Starting the \"Timed\" backup."_s), 1);
        const QStringList points = QDir(Path(u"dest-rt/Timed"_s)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(points.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCliScheduler)
#include "tst_cli_scheduler.moc"
