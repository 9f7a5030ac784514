// Job log lines, stored log files and their limit, the history, the log lookups of the window,
// and the events log.

#include "core/base/OleDate.h"
#include "core/model/JobLogLookup.h"
#include "core/settings/TAppGlobals.h"
#include "core/settings/TEventsLog.h"
#include "core/settings/TEventsLogModel.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <thread>
#include <vector>

namespace {

const QRegularExpression TimePrefix(QStringLiteral(R"(^\d\d:\d\d:\d\d: )"));
const QRegularExpression DateTimePrefix(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: )"));

QDateTime Moment(int day, int hour, int minute, int second) {
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second));
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TTranslationTable GermanTable() {
    TTranslationTable table;
    table.Rows = {{QStringLiteral("English"), QStringLiteral("Deutsch")},
                  {QStringLiteral("en"), QStringLiteral("de")},
                  {QStringLiteral("ERROR:"), QStringLiteral("FEHLER:")},
                  {QStringLiteral("WARNING:"), QStringLiteral("WARNUNG:")},
                  {QStringLiteral("Unable to remove the old log files."),
                   QStringLiteral("Die alten Protokolldateien können nicht entfernt werden.")}};
    return table;
}

} // namespace

class TestJobLogs : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_logs;

    std::unique_ptr<TJob> NewJob(int maxLogs = 20, int maxHistory = 500) {
        auto job = std::make_unique<TJob_FilesAndFolders>(QStringLiteral("Daily"));
        job->JobOptions.Logging.PathForLogFiles = m_logs;
        job->JobOptions.Logging.MaxNumberOfLogsForEachJob = maxLogs;
        job->JobOptions.Logging.MaxNumberOfLinesInHistory = maxHistory;
        return job;
    }

    // One run's tail: begin at a moment, log a line, store the log.
    static void Run(TJob& job, const QDateTime& moment, const QString& line) {
        job.LastJobResult.Log.clear();
        job.BeginRunLog(moment);
        job.AddLogLine(line);
        job.SaveRunLog();
    }

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        m_logs = m_dir.filePath(QStringLiteral("logs-%1").arg(QString::fromLatin1(QTest::currentTestFunction())) +
                                QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_'));
        App().EventsLog.Clear();
        App().IsQuitting = false;
    }

    void logLines_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("errors");
        QTest::addColumn<int>("warnings");
        QTest::addRow("plain") << "log" << 0 << "Copying"
                               << "Copying" << 0 << 0;
        QTest::addRow("error") << "error" << 0 << "Disk full"
                               << "ERROR: Disk full" << 1 << 0;
        QTest::addRow("warning") << "warning" << 0 << "Skipped"
                                 << "WARNING: Skipped" << 0 << 1;
        QTest::addRow("multi-line warning counts once") << "warning" << 0 << "first\nsecond\nthird"
                                                        << "WARNING: first\nsecond\nthird" << 0 << 1;
        QTest::addRow("error in German") << "error" << 1 << "x"
                                         << "FEHLER: x" << 1 << 0;
        QTest::addRow("warning in German") << "warning" << 1 << "x"
                                           << "WARNUNG: x" << 0 << 1;
    }
    void logLines() {
        QFETCH(QString, kind);
        QFETCH(int, language);
        QFETCH(QString, text);
        QFETCH(QString, line);
        QFETCH(int, errors);
        QFETCH(int, warnings);
        auto job = NewJob();
        job->JobOptions.Language.Translations = GermanTable();
        job->JobOptions.Language.iLanguage = language;
        if (kind == QStringLiteral("error"))
            job->AddErrorLine(text);
        else if (kind == QStringLiteral("warning"))
            job->AddWarningLine(text);
        else
            job->AddLogLine(text);
        QCOMPARE(job->LastJobResult.Log.size(), 1);
        const QString written = job->LastJobResult.Log.first();
        QVERIFY2(written.contains(TimePrefix), qPrintable(written));
        QCOMPARE(written.mid(10), line);
        QCOMPARE(int(job->LastJobResult.ErrorsCount), errors);
        QCOMPARE(int(job->LastJobResult.WarningsCount), warnings);
    }

    void separatorHasNoTime() {
        auto job = NewJob();
        job->AddSeparatorLine();
        QVERIFY(!job->LastJobResult.Log.first().contains(TimePrefix));
        QVERIFY(QRegularExpression(QStringLiteral("^-+$")).match(job->LastJobResult.Log.first()).hasMatch());
    }

    // A run begun on 5 March 2024 at 07:08:09 is stored as "2024-03-05 07;08;09.txt" and shown in
    // the log menu with colons.
    void storedLogFileName() {
        auto job = NewJob();
        job->LastJobResult.Log.clear();
        job->BeginRunLog(Moment(5, 7, 8, 9));
        QVERIFY(QFileInfo(m_logs + QStringLiteral("/Daily")).isDir());
        job->AddLogLine(QStringLiteral("Backup started."));
        job->AddErrorLine(QStringLiteral("A\nB"));
        job->SaveRunLog();
        const QString path = m_logs + QStringLiteral("/Daily/2024-03-05 07;08;09.txt");
        const QByteArray content = ReadAll(path);
        QVERIFY(content.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(content.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3); // two entries, each ended by CR LF
        QCOMPARE(lines.at(0), job->LastJobResult.Log.at(0));
        QCOMPARE(lines.at(1), job->LastJobResult.Log.at(1));
        QCOMPARE(lines.at(2), QString());
        QCOMPARE(job->LogList, QStringList{QStringLiteral("2024-03-05 07;08;09")});

        const QList<TLogMenuEntry> menu = LogMenuEntries(*job);
        QCOMPARE(menu.size(), 1);
        QCOMPARE(menu.first().Caption, QStringLiteral("2024-03-05 07:08:09"));
        const TLogFileLookup chosen = LogFileForMenuCaption(*job, m_logs, menu.first().Caption);
        QCOMPARE(chosen.Result, TLogFileLookup::Open);
        QCOMPARE(chosen.Path, path);
        const TLogFileLookup last = LastLogFile(*job, m_logs);
        QCOMPARE(last.Result, TLogFileLookup::Open);
        QCOMPARE(last.Path, path);
    }

    // With a limit of two logs, the third run deletes the first run's file.
    void keepsTwoLogsOfThree() {
        auto job = NewJob(2);
        Run(*job, Moment(1, 10, 0, 0), QStringLiteral("first"));
        Run(*job, Moment(2, 10, 0, 0), QStringLiteral("second"));
        Run(*job, Moment(3, 10, 0, 0), QStringLiteral("third"));
        QCOMPARE(job->LogList,
                 (QStringList{QStringLiteral("2024-03-02 10;00;00"), QStringLiteral("2024-03-03 10;00;00")}));
        const QString folder = m_logs + QStringLiteral("/Daily/");
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("2024-03-01 10;00;00.txt")));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("2024-03-02 10;00;00.txt")));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("2024-03-03 10;00;00.txt")));
        QCOMPARE(int(job->LastJobResult.ErrorsCount), 0);
    }

    void dropsLogsDeletedByHand() {
        auto job = NewJob(20);
        Run(*job, Moment(1, 10, 0, 0), QStringLiteral("a"));
        Run(*job, Moment(2, 10, 0, 0), QStringLiteral("b"));
        Run(*job, Moment(3, 10, 0, 0), QStringLiteral("c"));
        QVERIFY(QFile::remove(m_logs + QStringLiteral("/Daily/2024-03-02 10;00;00.txt")));
        job->LogList.append(QStringLiteral("never written"));
        job->RemoveOldLogs();
        QCOMPARE(job->LogList,
                 (QStringList{QStringLiteral("2024-03-01 10;00;00"), QStringLiteral("2024-03-03 10;00;00")}));
        const TLogFileLookup viewed = LastLogFile(*job, m_logs);
        QCOMPARE(viewed.Result, TLogFileLookup::Open);
    }

    // An old log that cannot be deleted is reported once in the job log and kept in the list, so
    // the next run tries again; the run's own log is not lost.
    void undeletableOldLogIsAnError() {
        auto job = NewJob(1);
        job->JobOptions.Language.Translations = GermanTable();
        job->JobOptions.Language.iLanguage = 1;
        const QString blocked = m_logs + QStringLiteral("/Daily/2024-03-01 10;00;00.txt");
        QVERIFY(QDir().mkpath(blocked + QStringLiteral("/inside")));
        job->LogList = QStringList{QStringLiteral("2024-03-01 10;00;00")};
        Run(*job, Moment(2, 10, 0, 0), QStringLiteral("run"));
        QCOMPARE(int(job->LastJobResult.ErrorsCount), 1);
        const QString line = job->LastJobResult.Log.last();
        QVERIFY2(line.mid(10).startsWith(
                     QStringLiteral("FEHLER: Die alten Protokolldateien können nicht entfernt werden. ")),
                 qPrintable(line));
        QCOMPARE(job->LogList,
                 (QStringList{QStringLiteral("2024-03-01 10;00;00"), QStringLiteral("2024-03-02 10;00;00")}));
        QVERIFY(QFileInfo::exists(m_logs + QStringLiteral("/Daily/2024-03-02 10;00;00.txt")));
    }

    // Two runs begun in the same second share one file; the list must not name it twice, or
    // removing the "older" entry would delete the newer run's log.
    void sameSecondTwiceKeepsOneEntry() {
        auto job = NewJob(1);
        Run(*job, Moment(4, 12, 0, 0), QStringLiteral("first"));
        Run(*job, Moment(4, 12, 0, 0), QStringLiteral("second"));
        QCOMPARE(job->LogList, QStringList{QStringLiteral("2024-03-04 12;00;00")});
        const QByteArray content = ReadAll(m_logs + QStringLiteral("/Daily/2024-03-04 12;00;00.txt"));
        QVERIFY(content.contains("second"));
    }

    // A run that does not begin its log anew is named by its start time, never by the moment of
    // an earlier run (whose file it would overwrite).
    void runWithoutBeginIsNamedByItsStart() {
        auto job = NewJob();
        Run(*job, Moment(8, 9, 0, 0), QStringLiteral("earlier"));
        job->LastJobResult.Log.clear();
        job->LastJobResult.StartTime = OleDate::FromDateTime(Moment(9, 9, 30, 0));
        job->AddLogLine(QStringLiteral("later"));
        job->SaveRunLog();
        QCOMPARE(job->LogList,
                 (QStringList{QStringLiteral("2024-03-08 09;00;00"), QStringLiteral("2024-03-09 09;30;00")}));
        QVERIFY(ReadAll(m_logs + QStringLiteral("/Daily/2024-03-08 09;00;00.txt")).contains("earlier"));
    }

    // Without a log folder the run keeps no stored log and says so once.
    void logFolderCannotBeCreated() {
        QFile blocker(m_logs);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto job = NewJob();
        Run(*job, Moment(5, 1, 2, 3), QStringLiteral("run"));
        QVERIFY(job->LogList.isEmpty());
        const QStringList lines = App().EventsLog.PendingLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().endsWith(QStringLiteral(": Unable to create a folder for the log files: ") + m_logs +
                                       QStringLiteral("/Daily")));
    }

    void history_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<bool>("append");
        QTest::addColumn<QStringList>("after"); // "*" stands for the new timestamped line
        const QStringList two{QStringLiteral("d1: Starting the backup."),
                              QStringLiteral("d2: Backup job is finished.")};
        const QString added = QStringLiteral("*");
        QTest::addRow("limit 0 keeps nothing") << 0 << two << false << QStringList();
        QTest::addRow("limit 0 when appending") << 0 << two << true << QStringList();
        QTest::addRow("negative limit") << -3 << two << false << QStringList();
        QTest::addRow("append to empty history starts a line") << 500 << QStringList() << true << QStringList{added};
        QTest::addRow("new line") << 500 << two << false << QStringList{two.at(0), two.at(1), added};
        QTest::addRow("append to the last line")
            << 500 << two << true << QStringList{two.at(0), two.at(1) + QStringLiteral(" Target: full copy.")};
        QTest::addRow("oldest line goes first") << 2 << two << false << QStringList{two.at(1), added};
        QTest::addRow("trimmed after appending")
            << 1 << two << true << QStringList{two.at(1) + QStringLiteral(" Target: full copy.")};
    }
    void history() {
        QFETCH(int, limit);
        QFETCH(QStringList, before);
        QFETCH(bool, append);
        QFETCH(QStringList, after);
        auto job = NewJob(20, limit);
        job->BackupHistory = before;
        job->AddEventtoBackupHistory(QStringLiteral("Target: full copy."), append);
        QCOMPARE(job->BackupHistory.size(), after.size());
        for (qsizetype i = 0; i < after.size(); ++i) {
            if (after.at(i) == QStringLiteral("*")) {
                const QString line = job->BackupHistory.at(i);
                QVERIFY2(line.contains(DateTimePrefix), qPrintable(line));
                QVERIFY(line.endsWith(QStringLiteral(": Target: full copy.")));
            } else {
                QCOMPARE(job->BackupHistory.at(i), after.at(i));
            }
        }
    }

    void historyExport() {
        auto job = NewJob();
        QVERIFY(QDir().mkpath(m_logs));
        job->BackupHistory = {QStringLiteral("one"), QStringLiteral("zwei ü")};
        const TLogFileLookup exported = HistoryFile(*job, m_logs);
        QCOMPARE(exported.Result, TLogFileLookup::Open);
        QCOMPARE(exported.Path, m_logs + QStringLiteral("/history - Daily.txt"));
        QCOMPARE(ReadAll(exported.Path), QByteArray("\xEF\xBB\xBFone\r\nzwei \xC3\xBC\r\n"));
        job->BackupHistory = {QStringLiteral("only")};
        HistoryFile(*job, m_logs);
        QCOMPARE(ReadAll(exported.Path), QByteArray("\xEF\xBB\xBFonly\r\n"));
    }

    void lookupsRefusedWhileNotIdle_data() {
        QTest::addColumn<int>("status");
        QTest::addRow("waiting") << int(jsWaiting);
        QTest::addRow("running") << int(jsRunning);
        QTest::addRow("cancelling") << int(jsCancelling);
        QTest::addRow("paused") << int(jsPaused);
    }
    void lookupsRefusedWhileNotIdle() {
        QFETCH(int, status);
        auto job = NewJob();
        Run(*job, Moment(6, 1, 1, 1), QStringLiteral("run"));
        job->JobStatus = TJobStatus(status);
        const QString busy =
            QStringLiteral("Unable to complete the action at the moment. Please try again in several seconds.");
        for (const TLogFileLookup& lookup :
             {LastLogFile(*job, m_logs), LogFileForMenuCaption(*job, m_logs, QStringLiteral("2024-03-06 01:01:01")),
              HistoryFile(*job, m_logs)}) {
            QCOMPARE(lookup.Result, TLogFileLookup::Refused);
            QCOMPARE(lookup.MessageText, busy);
        }
        QVERIFY(!QFileInfo::exists(m_logs + QStringLiteral("/history - Daily.txt")));
    }

    void missingLogFileMessage() {
        auto job = NewJob();
        job->LogList = {QStringLiteral("2024-03-07 08;09;10")};
        const QString path = m_logs + QStringLiteral("/Daily/2024-03-07 08;09;10.txt");
        const TLogFileLookup viewed = LastLogFile(*job, m_logs);
        QCOMPARE(viewed.Result, TLogFileLookup::Missing);
        QCOMPARE(viewed.MessageText, QStringLiteral("Log file does not exist: ") + path);
        const TLogFileLookup chosen = LogFileForMenuCaption(*job, m_logs, QStringLiteral("2024-03-07 08:09:10"));
        QCOMPARE(chosen.Result, TLogFileLookup::Missing);
        QCOMPARE(chosen.MessageText, viewed.MessageText);
        job->LogList.clear();
        QCOMPARE(LastLogFile(*job, m_logs).Result, TLogFileLookup::Missing);
    }

    void logMenuShowsThirtyMostRecent() {
        auto job = NewJob();
        for (int i = 0; i < 35; ++i)
            job->LogList.append(QStringLiteral("2024-03-01 10;00;%1").arg(i, 2, 10, QLatin1Char('0')));
        const QList<TLogMenuEntry> menu = LogMenuEntries(*job);
        QCOMPARE(menu.size(), MaxLogMenuEntries);
        QCOMPARE(menu.first().Caption, QStringLiteral("2024-03-01 10:00:05"));
        QCOMPARE(menu.first().Stamp, QStringLiteral("2024-03-01 10;00;05"));
        QCOMPARE(menu.last().Caption, QStringLiteral("2024-03-01 10:00:34"));
    }

    // With 51 lines pending and a limit of 50, the first pending line is dropped at the next tick.
    void eventsLogLimit() {
        TEventsLog log;
        TEventsLogModel model(log);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 1; i <= 51; ++i)
            log.AddToEventsLog(QStringLiteral("event %1").arg(i));
        QVERIFY(model.FlushEventsLog(50));
        QCOMPARE(model.rowCount(), 50);
        QVERIFY(model.Lines().first().endsWith(QStringLiteral(": event 2")));
        QVERIFY(model.Lines().last().endsWith(QStringLiteral(": event 51")));
        QVERIFY2(model.Lines().first().contains(DateTimePrefix), qPrintable(model.Lines().first()));
        QVERIFY(log.PendingLines().isEmpty());
        // A lower limit trims at the next tick even with nothing new.
        QVERIFY(!model.FlushEventsLog(10));
        QCOMPARE(model.rowCount(), 10);
        QVERIFY(model.Lines().first().endsWith(QStringLiteral(": event 42")));
        QVERIFY(!model.FlushEventsLog(0));
        QCOMPARE(model.rowCount(), 0);

        // The plain buffer (used where no window shows the log) follows the same rule.
        for (int i = 1; i <= 51; ++i)
            log.AddToEventsLog(QStringLiteral("line %1").arg(i));
        log.FlushEventsLog(50);
        QCOMPARE(log.VisibleLines().size(), 50);
        QVERIFY(log.VisibleLines().first().endsWith(QStringLiteral(": line 2")));
    }

    void savesEventsLog() {
        TEventsLog log;
        TEventsLogModel model(log);
        log.AddToEventsLog(QStringLiteral("Backup jobs are loaded."));
        log.AddToEventsLog(QStringLiteral("Job is removed."));
        model.FlushEventsLog(50);
        QVERIFY(QDir().mkpath(m_logs));
        const QString path = m_logs + QStringLiteral("/events.txt");
        QVERIFY(model.SaveToFile(path));
        const QByteArray content = ReadAll(path);
        QVERIFY(content.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QString::fromUtf8(content.mid(3)),
                 model.Lines().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    }

    // Lines from several workers all arrive, whole and in each worker's order.
    void eventsFromManyThreads() {
        TEventsLog log;
        constexpr int Threads = 4;
        constexpr int Lines = 250;
        std::vector<std::thread> workers;
        workers.reserve(Threads);
        for (int t = 0; t < Threads; ++t)
            workers.emplace_back([&log, t] {
                for (int i = 0; i < Lines; ++i)
                    log.AddToEventsLog(QStringLiteral("worker %1 line %2").arg(t).arg(i));
            });
        for (std::thread& worker : workers)
            worker.join();
        const QStringList pending = log.PendingLines();
        QCOMPARE(pending.size(), Threads * Lines);
        std::vector<int> next(Threads, 0);
        static const QRegularExpression shape(QStringLiteral(R"(: worker (\d) line (\d+)$)"));
        for (const QString& line : pending) {
            const QRegularExpressionMatch match = shape.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const int worker = match.captured(1).toInt();
            QCOMPARE(match.captured(2).toInt(), next[size_t(worker)]++);
        }
    }
};

QTEST_GUILESS_MAIN(TestJobLogs)
#include "tst_joblogs.moc"
