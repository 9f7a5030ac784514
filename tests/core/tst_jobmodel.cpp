// The job model: the status table, the display path buffer, log lines and counts, the job's own
// options copy and translation, temporary files and the local part of a rename.

#include "core/base/DirectoryTree.h"
#include "core/base/OleDate.h"
#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/appdata/TJob_AppsData.h"
#include "jobs/driveimage/TJob_DriveImage.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestJobModel : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init() {
        App().ApplicationDirectory = m_dir.path();
        App().Options = TOptions();
        App().EventsLog.Clear();
        App().IsQuitting = false;
    }

    void statusTable_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("canPause");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("cancelFlag");
        QTest::newRow("cancel idle does nothing") << int(jsNone) << "cancel" << true << int(jsNone) << false;
        QTest::newRow("cancel waiting") << int(jsWaiting) << "cancel" << true << int(jsNone) << false;
        QTest::newRow("cancel running") << int(jsRunning) << "cancel" << true << int(jsCancelling) << true;
        QTest::newRow("cancel paused") << int(jsPaused) << "cancel" << true << int(jsCancelling) << true;
        QTest::newRow("cancel cancelling") << int(jsCancelling) << "cancel" << true << int(jsCancelling) << false;
        QTest::newRow("pause running") << int(jsRunning) << "pause" << true << int(jsPaused) << false;
        QTest::newRow("pause without CanPause") << int(jsRunning) << "pause" << false << int(jsRunning) << false;
        QTest::newRow("pause waiting") << int(jsWaiting) << "pause" << true << int(jsWaiting) << false;
        QTest::newRow("resume paused") << int(jsPaused) << "resume" << true << int(jsRunning) << false;
    }

    void statusTable() {
        QFETCH(int, from);
        QFETCH(QString, event);
        QFETCH(bool, canPause);
        QFETCH(int, to);
        QFETCH(bool, cancelFlag);
        TJob_FilesAndFolders job(QStringLiteral("Job"));
        job.CanPause = canPause;
        job.JobStatus = TJobStatus(from);
        if (event == QLatin1String("cancel"))
            job.Cancel();
        else if (event == QLatin1String("pause"))
            job.Pause();
        else
            job.Resume();
        QCOMPARE(int(job.JobStatus.Load()), to);
        QCOMPARE(job.CancelCurrentFileOperation.Load() != 0, cancelFlag);
        const QStringList events = App().EventsLog.PendingLines();
        if (cancelFlag)
            QVERIFY(events.size() == 1 && events.first().endsWith(QStringLiteral(": Cancelling (Job)")));
        else
            QVERIFY(events.isEmpty());
    }

    void cancellingAWaitingJobStampsBothTimesAndClearsTheLog() {
        TJob_FilesAndFolders job(QStringLiteral("Job"));
        job.JobStatus = jsWaiting;
        job.LastJobResult.Log = {QStringLiteral("old line")};
        const double before = OleDate::Now();
        job.Cancel();
        QVERIFY(job.LastJobResult.StartTime >= before);
        QCOMPARE(job.LastJobResult.StartTime.Load(), job.LastJobResult.EndTime.Load());
        QVERIFY(job.LastJobResult.Log.isEmpty());
    }

    void kindDefaults() {
        TJob_FilesAndFolders files(QStringLiteral("F"));
        QVERIFY(files.CanPause);
        QVERIFY(files.NewSubfolderIsCreatedForEachBackup);
        QCOMPARE(files.Settings.Backup.PerformFullBackup_EveryCopies, 5);
        QCOMPARE(files.Settings.Backup.NumberFullCopiesToKeep, 10);
        QCOMPARE(files.DestinationSettings.FTP.AccountID, -1);
        QCOMPARE(files.DestinationSettings.Network.UNCPath, QStringLiteral("\\\\"));
        QCOMPARE(files.SchedulingSettings.SchedulingType, stDisabled);
        files.SetBackupType(btSynchronization);
        QVERIFY(!files.NewSubfolderIsCreatedForEachBackup);
        QCOMPARE(files.IconName(), QStringLiteral("job-mirror"));
        TJob_DriveImage drive(QStringLiteral("D"));
        QVERIFY(!drive.CanPause);
        QCOMPARE(drive.Settings.NumberOfBackupVersionsToKeep, QStringLiteral("3"));
    }

    // Duplicate and the wizards hand settings over with CopySettingsFrom: every setting moves, the
    // target keeps its name, results, logs and history.
    void copySettingsFrom_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("files and folders") << int(TJobKind::FilesAndFolders);
        QTest::newRow("drive image") << int(TJobKind::DriveImage);
        QTest::newRow("application data") << int(TJobKind::AppsData);
    }

    void copySettingsFrom() {
        QFETCH(int, kind);
        auto make = [kind](const QString& name) -> std::unique_ptr<TJob> {
            switch (TJobKind(kind)) {
            case TJobKind::FilesAndFolders:
                return std::make_unique<TJob_FilesAndFolders>(name);
            case TJobKind::DriveImage:
                return std::make_unique<TJob_DriveImage>(name);
            case TJobKind::AppsData:
                return std::make_unique<TJob_AppsData>(name);
            }
            return nullptr;
        };
        std::unique_ptr<TJob> source = make(QStringLiteral("Source"));
        std::unique_ptr<TJob> target = make(QStringLiteral("Target"));

        source->SchedulingSettings.SchedulingType = stDaysOfWeek;
        source->SchedulingSettings.DaysOfWeek[3] = true;
        source->SchedulingSettings.TimeTable = {QStringLiteral("08:30:00")};
        source->SchedulingSettings.ShutdownPCInTheEnd = true;
        source->DestinationSettings.DestinationType = dtFTP;
        source->DestinationSettings.LocalOrExternalDrive.Disk = QStringLiteral("/mnt/backup");
        source->DestinationSettings.Network.Password = QStringLiteral("secret");
        source->DestinationSettings.FTP.AccountID = 4;
        source->LastJobResult.ErrorsCount = 3;
        source->BackupHistory = {QStringLiteral("source history")};
        source->LogList = {QStringLiteral("source log")};
        if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(source.get())) {
            files->Settings.Sources.List = {QStringLiteral("/home/a/*")};
            files->Settings.Sources.Extensions = QStringLiteral("tmp;bak");
            files->SetBackupType(btSynchronization);
            files->Settings.Backup.NumberFullCopiesToKeep = 2;
            files->Settings.Compression.Enabled = true;
            files->Settings.Compression.Password = QStringLiteral("zip secret");
            files->Settings.Compression.CreateIndividualZipForEachItem = true;
        } else if (auto* image = dynamic_cast<TJob_DriveImage*>(source.get())) {
            image->Settings.SourceDrivesList = {QStringLiteral("/dev/sda")};
            image->Settings.AutocleanOldBackups = true;
            image->Settings.NumberOfBackupVersionsToKeep = QStringLiteral("7");
        } else if (auto* apps = dynamic_cast<TJob_AppsData*>(source.get())) {
            apps->Settings.AppNames = {QStringLiteral("Mail"), QStringLiteral("Browser")};
        }
        target->LastJobResult.WarningsCount = 1;
        target->BackupHistory = {QStringLiteral("target history")};
        target->LogList = {QStringLiteral("target log")};

        target->CopySettingsFrom(*source);

        QVERIFY(target->SchedulingSettings == source->SchedulingSettings);
        QVERIFY(target->DestinationSettings == source->DestinationSettings);
        if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(target.get())) {
            QVERIFY(files->Settings == static_cast<TJob_FilesAndFolders&>(*source).Settings);
            // The backup type decides whether runs make a subfolder each.
            QVERIFY(!files->NewSubfolderIsCreatedForEachBackup);
        } else if (auto* image = dynamic_cast<TJob_DriveImage*>(target.get())) {
            QVERIFY(image->Settings == static_cast<TJob_DriveImage&>(*source).Settings);
        } else if (auto* apps = dynamic_cast<TJob_AppsData*>(target.get())) {
            QVERIFY(apps->Settings == static_cast<TJob_AppsData&>(*source).Settings);
        }
        QCOMPARE(target->stJobName, QStringLiteral("Target"));
        QCOMPARE(int32_t(target->LastJobResult.ErrorsCount), 0);
        QCOMPARE(int32_t(target->LastJobResult.WarningsCount), 1);
        QCOMPARE(target->BackupHistory, QStringList{QStringLiteral("target history")});
        QCOMPARE(target->LogList, QStringList{QStringLiteral("target log")});
    }

    // A job of another kind hands over only what every kind has.
    void copySettingsFromAnotherKindTakesTheSharedPart() {
        TJob_DriveImage image(QStringLiteral("Image"));
        image.DestinationSettings.LocalOrExternalDrive.Disk = QStringLiteral("/mnt/other");
        TJob_FilesAndFolders files(QStringLiteral("Files"));
        const TSpecificSettings before = files.Settings;
        files.CopySettingsFrom(image);
        QCOMPARE(files.DestinationSettings.LocalOrExternalDrive.Disk, QStringLiteral("/mnt/other"));
        QVERIFY(files.Settings == before);
    }

    void pathBufferCutsAndZeroes() {
        TPathBuffer buffer;
        buffer.Set(QString(300, u'x'));
        QCOMPARE(buffer.Get(), QString(256, u'x'));
        buffer.Set(QStringLiteral("/short"));
        QCOMPARE(buffer.Get(), QStringLiteral("/short")); // the tail of the longer path is gone
        buffer.Clear();
        QCOMPARE(buffer.Get(), QString());
    }

    void pathBufferReadableWhileRewritten() {
        TPathBuffer buffer;
        std::atomic<bool> stop{false};
        std::atomic<int> reads{0};
        const QString a(200, u'a');
        const QString b(120, u'b');
        // The writer starts once the reader reads and goes on until the reader has read many
        // times while it wrote, so the two really overlap however the threads are scheduled.
        constexpr int ReadsWhileWriting = 1000;
        std::thread writer([&] {
            while (reads == 0)
                std::this_thread::yield();
            const int readsBefore = reads;
            for (int i = 0; i < 20000 || reads - readsBefore < ReadsWhileWriting; ++i)
                buffer.Set(i % 2 ? a : b);
            stop = true;
        });
        QStringList torn; // what the reader saw that no writer wrote; checked after the join
        while (!stop) {
            const QString seen = buffer.Get();
            bool whole = seen.size() <= 256;
            for (QChar c : seen)
                whole = whole && (c == u'a' || c == u'b');
            if (!whole && torn.size() < 5)
                torn.append(seen);
            ++reads;
        }
        writer.join();
        QVERIFY2(torn.isEmpty(), qPrintable(torn.join(u'\n')));
        QVERIFY(reads > ReadsWhileWriting);
    }

    void logLinesCountErrorsAndWarningsOncePerLine() {
        TJob_FilesAndFolders job(QStringLiteral("Job"));
        QStringList streamed;
        job.OnLogLine = [&](const QString& line) { streamed.append(line); };
        job.AddLogLine(QStringLiteral("plain"));
        job.AddErrorLine(QStringLiteral("broken\nacross lines"));
        job.AddWarningLine(QStringLiteral("careful"));
        job.AddSeparatorLine();
        QCOMPARE(job.LastJobResult.ErrorsCount.Load(), 1);
        QCOMPARE(job.LastJobResult.WarningsCount.Load(), 1);
        QCOMPARE(job.LastJobResult.Log.size(), 4);
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: plain$"))
                    .match(job.LastJobResult.Log[0])
                    .hasMatch());
        QVERIFY(job.LastJobResult.Log[1].endsWith(QStringLiteral(": ERROR: broken\nacross lines")));
        QVERIFY(job.LastJobResult.Log[2].endsWith(QStringLiteral(": WARNING: careful")));
        QCOMPARE(job.LastJobResult.Log[3], QStringLiteral("-----------------------------"));
        QCOMPARE(streamed, job.LastJobResult.Log);
    }

    void jobUsesItsOwnOptionsCopyAndTable() {
        TTranslationTable table;
        table.Rows = {{QStringLiteral("English"), QStringLiteral("Deutsch")},
                      {QStringLiteral("en"), QStringLiteral("de")},
                      {QStringLiteral("ERROR:"), QStringLiteral("FEHLER:")},
                      {QStringLiteral("Copying %s"), QStringLiteral("Kopiere %s")},
                      {QStringLiteral("Untranslated"), QString()}};
        App().Options.Language.Translations = table;
        App().Options.Language.iLanguage = 1;
        App().Options.FTPAccounts = {
            TFTPAccount{1, QStringLiteral("acc"), QStringLiteral("h"), 21, {}, {}, true, false}};
        TJob_FilesAndFolders job(QStringLiteral("Job"));
        job.OptionsToJobOptions();
        // Later edits of the program options do not reach the job's copy.
        App().Options.Language.iLanguage = 0;
        App().Options.FTPAccounts[0].AccName = QStringLiteral("changed");
        QCOMPARE(job.JobOptions.FTPAccounts[0].AccName, QStringLiteral("acc"));
        QCOMPARE(job.Tr(QStringLiteral("ERROR:")), QStringLiteral("FEHLER:"));
        QCOMPARE(job.TrFormat(QStringLiteral("Copying %s"), {QStringLiteral("x")}), QStringLiteral("Kopiere x"));
        QCOMPARE(job.Tr(QStringLiteral("Untranslated")), QStringLiteral("Untranslated"));
        QCOMPARE(job.Tr(QStringLiteral("not in the table")), QStringLiteral("not in the table"));
        job.AddErrorLine(QStringLiteral("x"));
        QVERIFY(job.LastJobResult.Log.last().endsWith(QStringLiteral("FEHLER: x")));
        App().IsQuitting = true; // untranslated while quitting
        QCOMPARE(job.Tr(QStringLiteral("ERROR:")), QStringLiteral("ERROR:"));
    }

    void formatTextFillsInOrder() {
        QCOMPARE(FormatText(QStringLiteral("%s of %d: 100%% \"%s\""), {QStringLiteral("a"), QStringLiteral("2")}),
                 QStringLiteral("a of 2: 100% \"\""));
    }

    void controlCharactersAreShownEscaped_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QStringLiteral("2026-12-10 10;00;00 (ZIP)")
                               << QStringLiteral("2026-12-10 10;00;00 (ZIP)");
        QTest::newRow("terminal escape") << QStringLiteral("a\x1b[2Jb") << QStringLiteral("a\\x1b[2Jb");
        QTest::newRow("fake line") << QStringLiteral("p\n2\tother") << QStringLiteral("p\\x0a2\\x09other");
        QTest::newRow("DEL and C1") << QString::fromUtf16(u"x\u007fy\u009bz") << QStringLiteral("x\\x7fy\\x9bz");
        QTest::newRow("line separator") << QString::fromUtf16(u"a\u2028b") << QStringLiteral("a\\x2028b");
        QTest::newRow("backslash is escaped too") << QStringLiteral("a\\x41") << QStringLiteral("a\\\\x41");
        QTest::newRow("other Unicode stays")
            << QString::fromUtf16(u"Fotos \u00e9t\u00e9") << QString::fromUtf16(u"Fotos \u00e9t\u00e9");
    }

    void controlCharactersAreShownEscaped() {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QCOMPARE(EscapeControlCharacters(name), shown);
    }

    void oleDatesRoundTrip() {
        const QDateTime moment(QDate(2024, 3, 5), QTime(7, 8, 9));
        const double ole = OleDate::FromDateTime(moment);
        QCOMPARE(OleDate::ToDateTime(ole), moment);
        QCOMPARE(OleDate::FromDateTime(QDateTime(QDate(1899, 12, 30), QTime(12, 0))), 0.5);
        QCOMPARE(LogFileStamp(moment), QStringLiteral("2024-03-05 07;08;09"));
    }

    void deleteTempFilesRemovesFolderAndStoredFile() {
        TJob_FilesAndFolders job(QStringLiteral("Job"));
        job.JobOptions.General.PathForTempFiles = m_dir.filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("tmp/Job/deep/er"))));
        QFile(m_dir.filePath(QStringLiteral("tmp/Job/deep/er/f"))).open(QIODevice::WriteOnly);
        QFile(m_dir.filePath(QStringLiteral("tmp/Job.vlj"))).open(QIODevice::WriteOnly);
        QFile(m_dir.filePath(QStringLiteral("tmp/Other.vlj"))).open(QIODevice::WriteOnly);
        job.DeleteTempFiles();
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("tmp/Job"))));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("tmp/Job.vlj"))));
        QVERIFY(QFileInfo::exists(m_dir.filePath(QStringLiteral("tmp/Other.vlj"))));
    }

    void changeNameLocallyReplacesTheFile() {
        TJob_FilesAndFolders job(QStringLiteral("Old"));
        QVERIFY(job.SaveLocalJobFile(job.LocalJobFilePath()));
        TJob_FilesAndFolders stale(QStringLiteral("New"));
        QVERIFY(stale.SaveLocalJobFile(stale.LocalJobFilePath()));
        QVERIFY(job.ChangeNameLocally(QStringLiteral("New")));
        QCOMPARE(job.stJobName, QStringLiteral("New"));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("Old.vld"))));
        QVERIFY(QFileInfo::exists(m_dir.filePath(QStringLiteral("New.vld"))));
    }

    void deleteDirectoryTreeBeyondPathMax() {
        // 3000 levels of 9-character names: far beyond PATH_MAX (4096 bytes).
        const QByteArray root = QFile::encodeName(m_dir.filePath(QStringLiteral("deep")));
        QVERIFY(::mkdir(root.constData(), 0700) == 0);
        int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        for (int level = 0; level < 3000; ++level) {
            QVERIFY(::mkdirat(fd, "level-xyz", 0700) == 0);
            const int file = ::openat(fd, "file", O_CREAT | O_WRONLY, 0400); // read-only files go too
            QVERIFY(file >= 0);
            ::close(file);
            const int next = ::openat(fd, "level-xyz", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            QVERIFY(fd >= 0);
        }
        QVERIFY(::symlinkat("/", fd, "link-to-root") == 0); // removed, never followed
        ::close(fd);
        QString error;
        QVERIFY2(DeleteDirectoryTree(m_dir.filePath(QStringLiteral("deep")), &error), qPrintable(error));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("deep"))));
        QVERIFY(!DeleteDirectoryTree(m_dir.filePath(QStringLiteral("deep")), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJobModel)
#include "tst_jobmodel.moc"
