// Drive image jobs: the tool's output read line by line (also when a read cuts a line), the tool's
// command lines, whole runs with the real image tool on an image file (pruning, the stored job
// file, removal, cancel through "stop job") and with a scripted stand-in for the tool, and the
// elevated path through the fake elevation.

#include "TImageFixture.h"

#include "core/settings/TAppGlobals.h"
#include "jobs/driveimage/TDriveImageOutput.h"
#include "jobs/driveimage/TJob_DriveImage.h"
#include "platform/TFakeElevation.h"
#include "platform/TPkexecElevation.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using TAction = TDriveImageOutputAction;
Q_DECLARE_METATYPE(QList<TDriveImageOutputAction>)

namespace {

TAction Error(const QString& text) {
    return {TAction::Error, text, 0};
}
TAction Plain(const QString& text) {
    return {TAction::Plain, text, 0};
}
TAction Progress(const QString& text, int percent) {
    return {TAction::Progress, text, percent};
}

bool WriteScript(const QString& path, const QByteArray& body) {
    return WriteBytes(path, "#!/bin/sh\n" + body) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class tst_DriveImageJob : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_missing;

    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString Dest() const { return Path(QStringLiteral("dest")); }
    QString Log(const TJob& job) const { return job.LastJobResult.Log.join(u'\n'); }

    std::unique_ptr<TJob_DriveImage> NewJob(const QStringList& volumes, const QString& tool = ImageToolPath()) {
        auto job = std::make_unique<TJob_DriveImage>(QStringLiteral("Daily"));
        job->Settings.SourceDrivesList = volumes;
        job->DestinationSettings.DestinationType = dtLocalOrExternalDrive;
        job->DestinationSettings.LocalOrExternalDrive.Disk = Dest();
        job->ToolProgram = tool;
        return job;
    }
    void Run(TJob_DriveImage& job) {
        job.Backup();
        job.WaitForWorker();
        QCOMPARE(job.JobStatus.Load(), jsNone);
    }
    QStringList Versions() const {
        const TToolRun run =
            RunProgram(ImageToolPath(), {QStringLiteral("get"), QStringLiteral("versions"),
                                         QStringLiteral("-backupTarget:") + Dest() + QStringLiteral("/Daily")});
        QStringList ids;
        for (const QString& line : run.Output.split(u'\n'))
            if (line.startsWith(QStringLiteral("Version identifier: ")))
                ids.append(line.mid(20));
        return ids;
    }
    // A stand-in for the tool that notes its arguments and answers "start backup" with output and
    // exitCode.
    QString ScriptedTool(const QByteArray& output, int exitCode) {
        const QString script = Path(QStringLiteral("fake-tool.sh"));
        WriteBytes(Path(QStringLiteral("fake-output")), output);
        WriteScript(script, "echo \"$*\" >> '" + QFile::encodeName(Path(QStringLiteral("calls"))) +
                                "'\n"
                                "if [ \"$1 $2\" = 'start backup' ]; then cat '" +
                                QFile::encodeName(Path(QStringLiteral("fake-output"))) + "'; exit " +
                                QByteArray::number(exitCode) + "; fi\n");
        QFile::remove(Path(QStringLiteral("calls")));
        return script;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_missing = MissingFilesystemTools();
        QDir().mkpath(Path(QStringLiteral("runtime")));
        qputenv("VAULTORA_IMAGETOOL_RUNTIME_DIR", QFile::encodeName(Path(QStringLiteral("runtime"))));
        qunsetenv("VAULTORA_TEST_CRASH_AT");
        qunsetenv("VAULTORA_TEST_PAUSE_AT");
        // The tool's own tests cover flushing to disk.
        qputenv("VAULTORA_TEST_NO_SYNC", "1");
    }

    void init() {
        QDir(Dest()).removeRecursively();
        QVERIFY(QDir().mkpath(Dest()));
        TAppGlobals& app = App();
        app.ApplicationDirectory = Path(QStringLiteral("data"));
        QDir().mkpath(app.ApplicationDirectory);
        app.Options = TOptions();
        app.Options.General.PathForTempFiles = Path(QStringLiteral("temp"));
        app.Options.Logging.PathForLogFiles = Path(QStringLiteral("logs"));
        app.Options.Processing.IfDestinationNotAvailable_Retry_Times = 0;
        app.Options.Processing.IfDestinationNotAvailable_Wait_Sec = 0;
        app.IsQuitting = false;
    }

    void outputLines_data() {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QList<TDriveImageOutputAction>>("expected");
        const QString stem = QStringLiteral("Creating a backup of volume /dev/sda1");
        QTest::newRow("error line") << QList<QByteArray>{"ERROR - The volume x was not found.\n"}
                                    << QList<TAction>{Error(QStringLiteral("ERROR: - The volume x was not found."))};
        QTest::newRow("error line cut between reads")
            << QList<QByteArray>{"Some text\nERR", "OR - disk failed\n"}
            << QList<TAction>{Plain(QStringLiteral("Some text")), Error(QStringLiteral("ERROR: - disk failed"))};
        QTest::newRow("progress") << QList<QByteArray>{"Creating a backup of volume /dev/sda1, copied (42%).\n"}
                                  << QList<TAction>{Progress(stem, 42)};
        QTest::newRow("progress cut between reads")
            << QList<QByteArray>{"Creating a backup of volume /dev/sda1, cop", "ied (7%).\r\n"}
            << QList<TAction>{Progress(stem, 7)};
        QTest::newRow("progress without a percent sign") << QList<QByteArray>{"x, copied (5).\n"} << QList<TAction>{};
        QTest::newRow("progress that is no number") << QList<QByteArray>{"x, copied (ab%).\n"} << QList<TAction>{};
        QTest::newRow("error before progress") << QList<QByteArray>{"ERROR, copied (5%)\n"}
                                               << QList<TAction>{Error(QStringLiteral("ERROR:, copied (5%)"))};
        QTest::newRow("no free space")
            << QList<QByteArray>{"There is not enough free space on the backup storage location.\n"}
            << QList<TAction>{
                   Error(QStringLiteral("ERROR:There is not enough free space on the backup storage location."))};
        QTest::newRow("another operation")
            << QList<QByteArray>{"Another backup or recovery operation is in progress.\n"}
            << QList<TAction>{Error(QStringLiteral("ERROR:Another backup or recovery operation is in progress."))};
        QTest::newRow("banner") << QList<QByteArray>{"Backup command-line tool [Version 1.0]\nCopyright (C) x\n\n"}
                                << QList<TAction>{};
        QTest::newRow("plain lines, empty ones dropped")
            << QList<QByteArray>{"Hello\n\nWor", "ld\n"}
            << QList<TAction>{Plain(QStringLiteral("Hello")), Plain(QStringLiteral("World"))};
        QTest::newRow("access denied replaces the read's lines")
            << QList<QByteArray>{"Access denied. You must be a member of the disk group to read /dev/sda1.\n"
                                 "ERROR - second line\n"}
            << QList<TAction>{Error(QStringLiteral("ERROR: For system backup you must run the application as admin."))};
        QTest::newRow("last line without a line break")
            << QList<QByteArray>{"The end"} << QList<TAction>{Plain(QStringLiteral("The end"))};
    }

    void outputLines() {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QList<TDriveImageOutputAction>, expected);
        TDriveImageOutput output([](const QString& text) { return text; });
        QList<TAction> actions;
        for (const QByteArray& read : reads)
            actions += output.Feed(read);
        actions += output.Finish();
        QCOMPARE(actions, expected);
    }

    void commandLines() {
        auto job = NewJob({QStringLiteral("/dev/sda1"), QStringLiteral("/home")});
        QCOMPARE(job->BackupParameters(QStringLiteral("/mnt/usb/Daily")).join(u' '),
                 QStringLiteral("-backupTarget:/mnt/usb/Daily -include:/dev/sda1,/home -allCritical -quiet"));
        job->Settings.NumberOfBackupVersionsToKeep = QStringLiteral("three");
        QCOMPARE(job->KeepVersionsParameters(QStringLiteral("/mnt/usb/Daily")).join(u' '),
                 QStringLiteral("-backuptarget:/mnt/usb/Daily -keepversions:three -quiet"));
        QCOMPARE(job->RemoveParameters(QStringLiteral("/mnt/usb/Daily")).join(u' '),
                 QStringLiteral("-backuptarget:/mnt/usb/Daily -keepversions:0 -quiet"));
        // pkexec runs the tool by its absolute path.
        QString program = QStringLiteral("/usr/bin/vaultora-imagetool");
        QStringList args{QStringLiteral("stop"), QStringLiteral("job")};
        TPkexecElevation().Elevate(program, args);
        QVERIFY(program.endsWith(QStringLiteral("/pkexec")));
        QCOMPARE(args, (QStringList{QStringLiteral("/usr/bin/vaultora-imagetool"), QStringLiteral("stop"),
                                    QStringLiteral("job")}));
    }

    void runsPrunesAndRemoves() {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs e2fsprogs (missing: %1)").arg(m_missing)));
        const QString volume = Path(QStringLiteral("run.img"));
        QVERIFY(MakeVolume(volume, m_dir.path(), 16, 101));
        auto job = NewJob({volume});
        job->Settings.AutocleanOldBackups = true;
        job->Settings.NumberOfBackupVersionsToKeep = QStringLiteral("1");
        Run(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(Log(*job)));
        QVERIFY(!job->LastJobResult.Cancelled);
        QVERIFY(QFileInfo::exists(Dest() + QStringLiteral("/Daily.vlj")));
        QVERIFY(Log(*job).contains(QStringLiteral("The backup operation successfully completed.")));
        QVERIFY(!Log(*job).contains(QStringLiteral(", copied (")));
        const QStringList first = Versions();
        QCOMPARE(first.size(), 1);
        QVERIFY(PutFileIntoVolume(volume, QStringLiteral("n.bin"), RandomBytes(50000, 102), m_dir.path()));
        Run(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(Log(*job)));
        const QStringList second = Versions();
        QCOMPARE(second.size(), 1);
        QVERIFY(second != first);

        QVERIFY(job->Remove());
        QVERIFY(!QFileInfo::exists(Dest() + QStringLiteral("/Daily.vlj")));
        QVERIFY(!QFileInfo::exists(Dest() + QStringLiteral("/Daily")));
    }

    void removeWithoutPruningKeepsTheImages() {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs e2fsprogs (missing: %1)").arg(m_missing)));
        const QString volume = Path(QStringLiteral("keep.img"));
        QVERIFY(MakeVolume(volume, m_dir.path(), 16, 111));
        auto job = NewJob({volume});
        Run(*job);
        QCOMPARE(Versions().size(), 1);
        QVERIFY(!job->Remove());
        QVERIFY(!QFileInfo::exists(Dest() + QStringLiteral("/Daily.vlj")));
        QCOMPARE(Versions().size(), 1);
    }

    void toolEndings_data() {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("errors");
        QTest::addColumn<bool>("pruned");
        QTest::addColumn<QString>("keep");
        const QByteArray success("Creating a backup of volume /x, copied (100%).\nDone.\n");
        QTest::newRow("success") << success << 0 << 0 << true << QStringLiteral("3");
        QTest::newRow("error line") << QByteArray("ERROR - Unable to read /x\n") << 1 << 1 << false
                                    << QStringLiteral("3");
        // Errors counted from the output stop the pruning even when the tool says it succeeded.
        QTest::newRow("error line, exit 0") << QByteArray("ERROR - odd\n") << 0 << 1 << false << QStringLiteral("3");
        QTest::newRow("silent failure") << QByteArray() << 3 << 1 << false << QStringLiteral("3");
        // Keeping no version would delete the one just made.
        QTest::newRow("keep none") << success << 0 << 0 << false << QStringLiteral("0");
        QTest::newRow("keep text as typed") << success << 0 << 0 << true << QStringLiteral("three");
    }

    void toolEndings() {
        QFETCH(QByteArray, output);
        QFETCH(int, exitCode);
        QFETCH(int, errors);
        QFETCH(bool, pruned);
        QFETCH(QString, keep);
        auto job = NewJob({QStringLiteral("/x")}, ScriptedTool(output, exitCode));
        job->Settings.AutocleanOldBackups = true;
        job->Settings.NumberOfBackupVersionsToKeep = keep;
        Run(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == errors, qPrintable(Log(*job)));
        const QByteArray calls = ReadBytes(Path(QStringLiteral("calls")));
        QVERIFY(calls.startsWith(QByteArray("start backup -backupTarget:" + QFile::encodeName(Dest()) +
                                            "/Daily -include:/x -allCritical -quiet\n")));
        QCOMPARE(calls.contains("delete backup -backuptarget:"), pruned);
        if (pruned)
            QVERIFY(calls.contains(QByteArray(" -keepversions:" + keep.toUtf8() + " -quiet\n")));
        QCOMPARE(job->LastJobResult.WarningsCount, keep == QStringLiteral("0") ? 1 : 0);
        QCOMPARE(Log(*job).contains(QStringLiteral("exit code 3")), exitCode == 3);
        // The stored job file is written after any ending of the tool that was not a cancel.
        QVERIFY(QFileInfo::exists(Dest() + QStringLiteral("/Daily.vlj")));
    }

    void missingToolCancelsTheRun() {
        auto job = NewJob({QStringLiteral("/x")}, Path(QStringLiteral("no-such-tool")));
        Run(*job);
        QVERIFY(job->LastJobResult.Cancelled);
        QVERIFY(Log(*job).contains(QStringLiteral("ERROR:")));
        QVERIFY(!QFileInfo::exists(Dest() + QStringLiteral("/Daily.vlj")));
    }

    void cancelStopsTheTool() {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs e2fsprogs (missing: %1)").arg(m_missing)));
        const QString volume = Path(QStringLiteral("cancel.img"));
        QVERIFY(MakeVolume(volume, m_dir.path(), 16, 121));
        auto job = NewJob({volume});
        // A run that needed root asks the tool to stop as root too.
        const QString marker = Path(QStringLiteral("cancel-elevated-calls"));
        TFakeElevation elevation;
        elevation.Wrapper = Path(QStringLiteral("elevate-cancel.sh"));
        QVERIFY(WriteScript(elevation.Wrapper, "echo \"$*\" >> '" + QFile::encodeName(marker) + "'\nexec \"$@\"\n"));
        elevation.Denied.insert(volume);
        job->Elevation = &elevation;
        std::atomic<bool> paused{false};
        job->OnLogLine = [&paused](const QString& line) {
            if (line.contains(QStringLiteral("test pause: backup-batch")))
                paused = true;
        };
        qputenv("VAULTORA_TEST_PAUSE_AT", "backup-batch");
        job->Backup();
        QTRY_VERIFY_WITH_TIMEOUT(paused.load(), 60000);
        qunsetenv("VAULTORA_TEST_PAUSE_AT");
        job->Cancel();
        job->WaitForWorker();
        QVERIFY(job->LastJobResult.Cancelled);
        QVERIFY2(Log(*job).contains(QStringLiteral("The backup operation was stopped before completing.")),
                 qPrintable(Log(*job)));
        QVERIFY(Log(*job).contains(QStringLiteral("Backup is cancelled.")));
        QVERIFY(Versions().isEmpty());
        QVERIFY(!QFileInfo::exists(Dest() + QStringLiteral("/Daily.vlj")));
        const QList<QByteArray> calls = ReadBytes(marker).split('\n');
        QCOMPARE(elevation.Elevations, 2);
        QVERIFY(calls.value(0).contains(" start backup "));
        QCOMPARE(calls.value(1), QByteArray(QFile::encodeName(ImageToolPath()) + " stop job -quiet"));
    }

    void unreadableVolumeRunsElevated() {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs e2fsprogs (missing: %1)").arg(m_missing)));
        const QString volume = Path(QStringLiteral("elevated.img"));
        QVERIFY(MakeVolume(volume, m_dir.path(), 16, 131));
        const QString marker = Path(QStringLiteral("elevated-calls"));
        TFakeElevation elevation;
        elevation.Wrapper = Path(QStringLiteral("elevate.sh"));
        QVERIFY(WriteScript(elevation.Wrapper, "echo \"$*\" >> '" + QFile::encodeName(marker) + "'\nexec \"$@\"\n"));
        auto job = NewJob({volume});
        job->Elevation = &elevation;
        Run(*job);
        QCOMPARE(elevation.Elevations, 0); // readable: no elevation
        elevation.Denied.insert(volume);
        Run(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(Log(*job)));
        QCOMPARE(elevation.Elevations, 1);
        QVERIFY(ReadBytes(marker).startsWith(
            QByteArray(QFile::encodeName(ImageToolPath()) + " start backup -backupTarget:")));
        QCOMPARE(Versions().size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_DriveImageJob)
#include "tst_DriveImageJob.moc"
