// The image tool as a child process on ext4 volumes in image files (and on loop devices when the
// test runs as root): versions, deduplication, recovery, keep-versions, interrupted runs, damaged
// chunks and "stop job".

#include "TImageFixture.h"

#include "jobs/driveimage/ImageStore.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class tst_ImageTool : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_missing;
    QProcessEnvironment m_environment;

    QByteArray m_crashFirst, m_crashSecond; // the volume's states in the crash tests' stores

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    TToolRun Tool(const QStringList& args, const QProcessEnvironment* environment = nullptr) const {
        return RunProgram(ImageToolPath(), args, environment ? *environment : m_environment);
    }
    TToolRun Backup(const QString& target, const QString& volume) const {
        return Tool({QStringLiteral("start"), QStringLiteral("backup"), QStringLiteral("-backupTarget:") + target,
                     QStringLiteral("-include:") + volume, QStringLiteral("-allCritical"), QStringLiteral("-quiet")});
    }
    TToolRun Recover(const QString& target, const QString& id, const QString& volume, const QString& output) const {
        return Tool({QStringLiteral("start"), QStringLiteral("recovery"), QStringLiteral("-version:") + id,
                     QStringLiteral("-backupTarget:") + target, QStringLiteral("-itemSource:") + volume,
                     QStringLiteral("-recoveryTarget:") + output, QStringLiteral("-quiet")});
    }
    TToolRun KeepVersions(const QString& target, int keep) const {
        // The parameter names as the job writes them for pruning: not case-sensitive.
        return Tool({QStringLiteral("delete"), QStringLiteral("backup"), QStringLiteral("-backuptarget:") + target,
                     QStringLiteral("-keepversions:%1").arg(keep), QStringLiteral("-quiet")});
    }
    // The identifiers "get versions" lists, each with its "Can recover" line.
    QStringList Versions(const QString& target, QStringList* recoverable = nullptr) const {
        const TToolRun run =
            Tool({QStringLiteral("get"), QStringLiteral("versions"), QStringLiteral("-backupTarget:") + target});
        QStringList ids;
        const QStringList lines = run.Output.split(u'\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (!lines.at(i).startsWith(QStringLiteral("Version identifier: ")))
                continue;
            ids.append(lines.at(i).mid(20));
            if (recoverable)
                recoverable->append(lines.value(i + 1));
        }
        return ids;
    }
    static QString IdOf(const TToolRun& run) {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("Version identifier: (\\S+)")).match(run.Output);
        return match.captured(1);
    }
    static qint64 NewBytesOf(const TToolRun& run) {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("New chunks stored: \\d+ \\((\\d+) bytes\\)")).match(run.Output);
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }
    static int ChunkFiles(const QString& target) {
        int count = 0;
        QDirIterator it(target + QStringLiteral("/VaultoraImages/chunks"), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++count;
        }
        return count;
    }
    // Recovers id into a new file and compares it with the expected volume bytes (and, with fsck,
    // has fsck.ext4 check the file system).
    void CheckRecovers(const QString& target, const QString& id, const QString& volume, const QByteArray& expected,
                       bool fsck = false) {
        const QString output = Path(QStringLiteral("recovered-%1.img").arg(id));
        QFile::remove(output);
        const TToolRun run = Recover(target, id, volume, output);
        QVERIFY2(run.Exit == 0, qPrintable(run.Output));
        QCOMPARE(Sha256OfFile(output), expected);
        if (fsck)
            QVERIFY(FsckClean(output));
        QFile::remove(output);
    }
    // A fresh target folder and a 16 MiB volume of three files.
    void Prepare(const QString& name, QString& target, QString& volume, quint32 seed) {
        target = Path(name + QStringLiteral("-target"));
        volume = Path(name + QStringLiteral(".img"));
        QDir(target).removeRecursively();
        QVERIFY(QDir().mkpath(target));
        QVERIFY(MakeVolume(volume, m_dir.path(), 16, seed));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_missing = MissingFilesystemTools();
        QVERIFY(QFileInfo(ImageToolPath()).isExecutable());
        m_environment = QProcessEnvironment::systemEnvironment();
        // Our own runtime folder: the lock of "the one running operation" is per test process.
        QDir().mkpath(Path(QStringLiteral("runtime")));
        m_environment.insert(QStringLiteral("VAULTORA_IMAGETOOL_RUNTIME_DIR"), Path(QStringLiteral("runtime")));
        m_environment.remove(QStringLiteral("VAULTORA_TEST_CRASH_AT"));
        m_environment.remove(QStringLiteral("VAULTORA_TEST_PAUSE_AT"));
        // Killed processes lose nothing the kernel has: flushing to disk is left out but in the
        // first test, which keeps it.
        m_environment.insert(QStringLiteral("VAULTORA_TEST_NO_SYNC"), QStringLiteral("1"));
    }

    void init() {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("needs e2fsprogs (missing: %1)").arg(m_missing)));
    }

    void versionsDeduplicateAndRecoverByteIdentical() {
        QString target, volume;
        m_environment.remove(QStringLiteral("VAULTORA_TEST_NO_SYNC"));
        const auto restore =
            qScopeGuard([this] { m_environment.insert(QStringLiteral("VAULTORA_TEST_NO_SYNC"), QStringLiteral("1")); });
        Prepare(QStringLiteral("versions"), target, volume, 1);
        const QByteArray first = Sha256OfFile(volume);
        const TToolRun one = Backup(target, volume);
        QVERIFY2(one.Exit == 0, qPrintable(one.Output));
        QVERIFY(one.Output.contains(QStringLiteral(", copied (100%).")));
        QVERIFY(PutFileIntoVolume(volume, QStringLiteral("new.bin"), RandomBytes(100 * 1024, 7), m_dir.path()));
        const QByteArray second = Sha256OfFile(volume);
        QVERIFY(first != second);
        const TToolRun two = Backup(target, volume);
        QVERIFY2(two.Exit == 0, qPrintable(two.Output));
        const qint64 firstBytes = NewBytesOf(one), secondBytes = NewBytesOf(two);
        qInfo("first version stored %lld bytes, the second after adding 100 KiB %lld bytes", firstBytes, secondBytes);
        QVERIFY(firstBytes > 2500 * 1024); // the random files do not compress
        QVERIFY(secondBytes >= 0 && secondBytes < firstBytes / 4);
        // An unchanged volume stores nothing new.
        const TToolRun three = Backup(target, volume);
        QVERIFY2(three.Exit == 0, qPrintable(three.Output));
        QCOMPARE(NewBytesOf(three), 0);

        QStringList recoverable;
        const QStringList ids = Versions(target, &recoverable);
        QCOMPARE(ids.size(), 3);
        QCOMPARE(ids, (QStringList{IdOf(one), IdOf(two), IdOf(three)}));
        QCOMPARE(recoverable.first(), QStringLiteral("Can recover: ") + volume);
        CheckRecovers(target, ids.at(0), volume, first, true);
        CheckRecovers(target, ids.at(1), volume, second, true);
    }

    void keepVersionsRemovesOnlyUnusedChunks() {
        QString target, volume;
        Prepare(QStringLiteral("keep"), target, volume, 11);
        QVERIFY(Backup(target, volume).Exit == 0);
        QVERIFY(PutFileIntoVolume(volume, QStringLiteral("a.bin"), RandomBytes(600 * 1024, 12), m_dir.path()));
        QVERIFY(Backup(target, volume).Exit == 0);
        QVERIFY(PutFileIntoVolume(volume, QStringLiteral("x.bin"), RandomBytes(200 * 1024, 13), m_dir.path()));
        QVERIFY(Backup(target, volume).Exit == 0);
        const QByteArray last = Sha256OfFile(volume);
        const QStringList before = Versions(target);
        QCOMPARE(before.size(), 3);
        const int chunksBefore = ChunkFiles(target);

        const TToolRun keep = KeepVersions(target, 1);
        QVERIFY2(keep.Exit == 0, qPrintable(keep.Output));
        QCOMPARE(Versions(target), QStringList{before.last()});
        // The replaced a.bin lived only in the older versions.
        QVERIFY(ChunkFiles(target) < chunksBefore);
        CheckRecovers(target, before.last(), volume, last);
        // Keeping as many as there are removes nothing.
        const int chunksKept = ChunkFiles(target);
        QVERIFY(KeepVersions(target, 5).Exit == 0);
        QCOMPARE(ChunkFiles(target), chunksKept);
        // Keeping none removes the store.
        QVERIFY(KeepVersions(target, 0).Exit == 0);
        QVERIFY(!QFileInfo::exists(target + QStringLiteral("/VaultoraImages")));
        QVERIFY(Versions(target).isEmpty());
    }

    void interruptedRunsKeepEarlierVersions_data() {
        QTest::addColumn<QString>("point");
        QTest::addColumn<bool>("deleting");
        QTest::addColumn<int>("versionsAfter");
        QTest::newRow("backup after two new chunks") << QStringLiteral("backup-chunk:2") << false << 1;
        QTest::newRow("backup before its version appears") << QStringLiteral("backup-manifest") << false << 1;
        QTest::newRow("keep-versions after moving a version away") << QStringLiteral("delete-version") << true << 1;
        QTest::newRow("keep-versions inside the chunk removal") << QStringLiteral("delete-chunk:1") << true << 1;
    }

    void interruptedRunsKeepEarlierVersions() {
        QFETCH(QString, point);
        QFETCH(bool, deleting);
        QFETCH(int, versionsAfter);
        // One volume with two versions for every row: a store with the first version (the
        // backup rows back up the second state) and one with both (the keep-versions rows).
        const QString volume = Path(QStringLiteral("crash.img"));
        const QString oneVersion = Path(QStringLiteral("crash-one")), twoVersions = Path(QStringLiteral("crash-two"));
        if (m_crashFirst.isEmpty()) {
            QString target, prepared;
            Prepare(QStringLiteral("crash"), target, prepared, 21);
            m_crashFirst = Sha256OfFile(volume);
            QVERIFY(Backup(target, volume).Exit == 0);
            QVERIFY(RunProgram(QStringLiteral("cp"), {QStringLiteral("-a"), target, oneVersion}).Exit == 0);
            QVERIFY(PutFileIntoVolume(volume, QStringLiteral("a.bin"), RandomBytes(1536 * 1024, 22), m_dir.path()));
            m_crashSecond = Sha256OfFile(volume);
            QVERIFY(Backup(target, volume).Exit == 0);
            QVERIFY(QDir().rename(target, twoVersions));
        }
        const QByteArray first = m_crashFirst, second = m_crashSecond;
        const QString target = Path(QStringLiteral("crash-row"));
        QDir(target).removeRecursively();
        QVERIFY(RunProgram(QStringLiteral("cp"), {QStringLiteral("-a"), deleting ? twoVersions : oneVersion, target})
                    .Exit == 0);
        const QStringList before = Versions(target);
        QCOMPARE(before.size(), deleting ? 2 : 1);

        QProcessEnvironment crashing = m_environment;
        crashing.insert(QStringLiteral("VAULTORA_TEST_CRASH_AT"), point);
        const TToolRun crashed =
            deleting
                ? Tool({QStringLiteral("delete"), QStringLiteral("backup"), QStringLiteral("-backupTarget:") + target,
                        QStringLiteral("-keepversions:1"), QStringLiteral("-quiet")},
                       &crashing)
                : Tool({QStringLiteral("start"), QStringLiteral("backup"), QStringLiteral("-backupTarget:") + target,
                        QStringLiteral("-include:") + volume, QStringLiteral("-quiet")},
                       &crashing);
        QVERIFY2(crashed.Exit == 86, qPrintable(crashed.Output));

        const QStringList after = Versions(target);
        QCOMPARE(after.size(), versionsAfter);
        // Every version still listed recovers, whatever was interrupted.
        for (const QString& id : after)
            CheckRecovers(target, id, volume, id == before.first() ? first : second);
        // The next run clears what was left and works.
        const TToolRun again = Backup(target, volume);
        QVERIFY2(again.Exit == 0, qPrintable(again.Output));
        QVERIFY(QDir(target + QStringLiteral("/VaultoraImages/tmp")).isEmpty());
    }

    void damagedChunkIsDetectedAtRecovery() {
        QString target, volume;
        Prepare(QStringLiteral("damage"), target, volume, 31);
        const TToolRun run = Backup(target, volume);
        QVERIFY(run.Exit == 0);
        // The largest chunk holds file data; flip one byte in the middle of its frame.
        QString largest;
        QDirIterator it(target + QStringLiteral("/VaultoraImages/chunks"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (largest.isEmpty() || QFileInfo(path).size() > QFileInfo(largest).size())
                largest = path;
        }
        QByteArray frame = ReadBytes(largest);
        frame[frame.size() / 2] = char(frame.at(frame.size() / 2) ^ 0x5a);
        QVERIFY(WriteBytes(largest, frame));

        const QString output = Path(QStringLiteral("damaged-out.img"));
        QVERIFY(WriteBytes(output, "what was there before"));
        const TToolRun recovered = Recover(target, IdOf(run), volume, output);
        QCOMPARE(recovered.Exit, 1);
        QVERIFY2(recovered.Output.contains(QStringLiteral("ERROR - The chunk ")) &&
                     recovered.Output.contains(QStringLiteral("is damaged")),
                 qPrintable(recovered.Output));
        // The file target is replaced only by a complete, verified image.
        QCOMPARE(ReadBytes(output), QByteArray("what was there before"));
        QVERIFY(!QFileInfo::exists(output + QStringLiteral(".vaultora-partial")));
    }

    void stopJobEndsARunningBackup() {
        QString target, volume;
        Prepare(QStringLiteral("stop"), target, volume, 41);
        QVERIFY(Backup(target, volume).Exit == 0);
        QVERIFY(PutFileIntoVolume(volume, QStringLiteral("a.bin"), RandomBytes(1536 * 1024, 42), m_dir.path()));
        QProcessEnvironment pausing = m_environment;
        pausing.insert(QStringLiteral("VAULTORA_TEST_PAUSE_AT"), QStringLiteral("backup-batch:2"));
        QProcess backup;
        backup.setProcessEnvironment(pausing);
        backup.setProcessChannelMode(QProcess::MergedChannels);
        backup.start(ImageToolPath(),
                     {QStringLiteral("start"), QStringLiteral("backup"), QStringLiteral("-backupTarget:") + target,
                      QStringLiteral("-include:") + volume, QStringLiteral("-quiet")});
        QByteArray seen;
        while (!seen.contains("test pause: backup-batch") && backup.waitForReadyRead(60000))
            seen += backup.readAll();
        QVERIFY2(seen.contains("test pause: backup-batch"), seen.constData());
        // A second backup meanwhile is refused.
        const TToolRun other = Backup(target, volume);
        QCOMPARE(other.Exit, 1);
        QVERIFY(other.Output.contains(QStringLiteral("Another backup or recovery operation is in progress.")));

        const TToolRun stop = Tool({QStringLiteral("stop"), QStringLiteral("job"), QStringLiteral("-quiet")});
        QVERIFY2(stop.Exit == 0, qPrintable(stop.Output));
        QVERIFY(backup.waitForFinished(60000));
        seen += backup.readAll();
        QCOMPARE(backup.exitCode(), 2);
        QVERIFY(seen.contains("The backup operation was stopped before completing."));
        QCOMPARE(Versions(target).size(), 1);
        QVERIFY(QDir(target + QStringLiteral("/VaultoraImages/tmp")).isEmpty());
        // Nothing runs now.
        const TToolRun idle = Tool({QStringLiteral("stop"), QStringLiteral("job"), QStringLiteral("-quiet")});
        QVERIFY(idle.Output.contains(QStringLiteral("There is no backup or recovery operation in progress.")));
    }

    void refusesWhatItCannotUse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        const QString target = Path(QStringLiteral("refuse-target"));
        QTest::newRow("missing volume") << QStringList{QStringLiteral("start"), QStringLiteral("backup"),
                                                       QStringLiteral("-backupTarget:") + target,
                                                       QStringLiteral("-include:/nonexistent/volume.img")}
                                        << QStringLiteral("ERROR - The volume /nonexistent/volume.img was not found.");
        QTest::newRow("folder that is no mount point")
            << QStringList{QStringLiteral("start"), QStringLiteral("backup"), QStringLiteral("-backupTarget:") + target,
                           QStringLiteral("-include:") + target}
            << QStringLiteral("is not the mount point of a block device");
        QTest::newRow("missing target") << QStringList{QStringLiteral("start"), QStringLiteral("backup"),
                                                       QStringLiteral("-backupTarget:/nonexistent/target"),
                                                       QStringLiteral("-include:/dev/null")}
                                        << QStringLiteral(
                                               "ERROR - The backup target /nonexistent/target was not found.");
        QTest::newRow("keep-versions not a number")
            << QStringList{QStringLiteral("delete"), QStringLiteral("backup"),
                           QStringLiteral("-backupTarget:") + target, QStringLiteral("-keepversions:three")}
            << QStringLiteral("ERROR - The backup target and a number of versions to keep");
        QTest::newRow("unknown version") << QStringList{QStringLiteral("start"),
                                                        QStringLiteral("recovery"),
                                                        QStringLiteral("-version:../x"),
                                                        QStringLiteral("-backupTarget:") + target,
                                                        QStringLiteral("-itemSource:a"),
                                                        QStringLiteral("-recoveryTarget:") + Path(QStringLiteral("o"))}
                                         << QStringLiteral("ERROR - The version ../x was not found.");
    }

    void refusesWhatItCannotUse() {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        QDir().mkpath(Path(QStringLiteral("refuse-target/VaultoraImages/versions")));
        const TToolRun run = Tool(args);
        QVERIFY(run.Exit != 0);
        QVERIFY2(run.Output.contains(expected), qPrintable(run.Output));
        QVERIFY(!run.Output.contains(QStringLiteral("successfully completed")));
    }

    // Every count of a manifest is checked against the bytes left; a cut or altered manifest is
    // refused, never read past its end.
    void manifestParsingIsBounded() {
        TImageManifest manifest;
        manifest.ChunkSize = 4096;
        manifest.VolumeSize = 3 * 4096 + 100;
        manifest.Source = QStringLiteral("/dev/sdz1");
        manifest.Device = QStringLiteral("/dev/sdz1");
        manifest.Chunks.resize(4);
        manifest.Chunks[1].Zero = true;
        manifest.Chunks[2].Hash = HashOfBytes("x", 1);
        const QByteArray good = EncodeManifest(manifest);
        TImageManifest read;
        QString error;
        QVERIFY(DecodeManifest(good, read, error));
        QCOMPARE(read.Chunks.size(), size_t(4));
        QVERIFY(read.Chunks[1].Zero);
        QCOMPARE(read.Chunks[2].Hash, manifest.Chunks[2].Hash);
        QCOMPARE(read.SizeOfChunk(3), 100u);
        for (qsizetype cut = 0; cut < good.size(); ++cut)
            QVERIFY(!DecodeManifest(good.left(cut), read, error));
        // A huge chunk count with a matching checksum: refused by the count, not by allocation.
        QByteArray huge = good.left(good.size() - 32);
        const qsizetype countAt = huge.size() - 4 * 33 - 8;
        for (int i = 0; i < 8; ++i)
            huge[countAt + i] = char(0xff);
        const TChunkHash sum = HashOfBytes(huge.constData(), size_t(huge.size()));
        huge.append(reinterpret_cast<const char*>(sum.data()), 32);
        QVERIFY(!DecodeManifest(huge, read, error));
        QVERIFY(error.contains(QStringLiteral("count")));
    }

    // On loop devices (root only): backup from a block device and from a mount point, recovery
    // onto a block device, and refusal of a mounted target.
    void loopDevices() {
        if (::geteuid() != 0)
            QSKIP("loop devices need root: the tool's image-file paths above cover the same code");
        const QString losetup = SystemTool("losetup");
        QString target, volume;
        Prepare(QStringLiteral("loop"), target, volume, 51);
        const QByteArray original = Sha256OfFile(volume);
        const TToolRun attached = RunProgram(losetup, {QStringLiteral("-f"), QStringLiteral("--show"), volume});
        if (attached.Exit != 0)
            QSKIP(qPrintable(QStringLiteral("no loop device available: ") + attached.Output));
        const QString device = attached.Output.trimmed();
        const QString blank = Path(QStringLiteral("loop-blank.img"));
        QVERIFY(WriteBytes(blank, QByteArray(16 * 1024 * 1024, '\x55')));
        const TToolRun second = RunProgram(losetup, {QStringLiteral("-f"), QStringLiteral("--show"), blank});
        const QString other = second.Output.trimmed();
        const QString mountPoint = Path(QStringLiteral("mnt"));
        QDir().mkpath(mountPoint);
        const auto cleanup = qScopeGuard([&] {
            RunProgram(QStringLiteral("umount"), {mountPoint});
            RunProgram(losetup, {QStringLiteral("-d"), device});
            if (second.Exit == 0)
                RunProgram(losetup, {QStringLiteral("-d"), other});
        });
        QVERIFY(second.Exit == 0);

        const TToolRun fromDevice = Backup(target, device);
        QVERIFY2(fromDevice.Exit == 0, qPrintable(fromDevice.Output));
        const TToolRun recovered = Recover(target, IdOf(fromDevice), device, other);
        QVERIFY2(recovered.Exit == 0, qPrintable(recovered.Output));
        const QByteArray onDevice =
            RunProgram(QStringLiteral("sha256sum"), {other}).Output.section(u' ', 0, 0).toLatin1();
        QCOMPARE(onDevice, original.toHex());

        const TToolRun mounted = RunProgram(QStringLiteral("mount"), {device, mountPoint});
        if (mounted.Exit != 0)
            QSKIP(qPrintable(QStringLiteral("cannot mount here: ") + mounted.Output));
        const TToolRun fromMountPoint = Backup(target, mountPoint);
        QVERIFY2(fromMountPoint.Exit == 0, qPrintable(fromMountPoint.Output));
        QVERIFY(fromMountPoint.Output.contains(QStringLiteral("is mounted read-write")));
        QVERIFY(fromMountPoint.Output.contains(QStringLiteral("crash-consistent only")));
        const TToolRun refused = Recover(target, IdOf(fromDevice), device, device);
        QCOMPARE(refused.Exit, 1);
        QVERIFY2(refused.Output.contains(QStringLiteral("is mounted at")), qPrintable(refused.Output));
        // The image file under a mounted loop device is refused as well.
        const TToolRun refusedFile = Recover(target, IdOf(fromDevice), device, volume);
        QCOMPARE(refusedFile.Exit, 1);
        QVERIFY2(refusedFile.Output.contains(QStringLiteral("is mounted at")), qPrintable(refusedFile.Output));
    }
};

QTEST_GUILESS_MAIN(tst_ImageTool)
#include "tst_ImageTool.moc"
