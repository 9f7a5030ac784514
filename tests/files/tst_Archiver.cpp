// The archive engine as a files-and-folders job drives it: the job's level, encryption and
// no-compression settings reach the archive; the store-file event names entries after
// stFileNameToAddToZip; the failure event sets Tag and writes (or, for a locked file with
// SkipLockedFiles, does not write) the error line; progress and cancel; per-file archives;
// and the restore side's errors.

#include "../archive/ZipTestSupport.h"

#include "archive/TZipReader.h"
#include "jobs/files/TArchiver.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace ZipTest;

class TestArchiver : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString Path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void levelAndMasks_data();
    void levelAndMasks();
    void encryption_data();
    void encryption();
    void failureFlag_data();
    void failureFlag();
    void perFileArchiveIsNamedAfterTheFile();
    void folderEntryHasDirectoryAttribute();
    void progressAndCancel();
    void restoreReportsErrors();
};

void TestArchiver::levelAndMasks_data() {
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("extensions");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("method");
    QTest::newRow("Fastest deflates") << int(clFastest) << QString() << QStringLiteral("notes.txt") << 8;
    QTest::newRow("Normal deflates") << int(clNormal) << QString() << QStringLiteral("notes.txt") << 8;
    QTest::newRow("Max deflates") << int(clMax) << QString() << QStringLiteral("notes.txt") << 8;
    QTest::newRow("None stores") << int(clNone) << QString() << QStringLiteral("notes.txt") << 0;
    QTest::newRow("mask stores even at Max") << int(clMax) << QStringLiteral("zip;jpg") << QStringLiteral("a.jpg") << 0;
    QTest::newRow("mask ignores case") << int(clMax) << QStringLiteral("zip;jpg") << QStringLiteral("A.JPG") << 0;
    QTest::newRow("other extension deflates")
        << int(clMax) << QStringLiteral("zip;jpg") << QStringLiteral("a.txt") << 8;
    QTest::newRow("empty items and blanks")
        << int(clFastest) << QStringLiteral(";; txt ;") << QStringLiteral("a.txt") << 0;
}

void TestArchiver::levelAndMasks() {
    QFETCH(int, level);
    QFETCH(QString, extensions);
    QFETCH(QString, fileName);
    QFETCH(int, method);
    TJob_FilesAndFolders job(QStringLiteral("Docs"));
    job.Settings.Compression.Enabled = true;
    job.Settings.Compression.CompressionLevel = uint8_t(level);
    job.Settings.Compression.NoCompressionExtensions = extensions;
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    const QString source = Path(QStringLiteral("lvl-%1/%2").arg(tag, fileName));
    WriteFile(source, TextBytes(50000));
    TArchiver archiver(job);
    const QString archive = Path(QStringLiteral("lvl-%1.zip").arg(tag));
    QVERIFY(archiver.CreateArchive(archive));
    job.stFileNameToAddToZip = QStringLiteral("Work/sub/") + fileName;
    QVERIFY(archiver.AddFile(source));
    QCOMPARE(archiver.Tag, 0);
    QVERIFY(archiver.CloseArchive());

    TZipReader reader;
    QVERIFY(reader.Open(archive));
    QCOMPARE(int(reader.Entries().size()), 1);
    QCOMPARE(reader.Entries().at(0).Name, QStringLiteral("Work/sub/") + fileName);
    QCOMPARE(int(reader.Entries().at(0).Method), method);
    QVERIFY(reader.TestEntry(0));
}

void TestArchiver::encryption_data() {
    QTest::addColumn<bool>("protect");
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("strength"); // 0 none, -1 traditional
    QTest::newRow("not protected") << false << int(emAES256) << 0;
    QTest::newRow("AES 128") << true << int(emAES128) << 1;
    QTest::newRow("AES 192") << true << int(emAES192) << 2;
    QTest::newRow("AES 256") << true << int(emAES256) << 3;
    QTest::newRow("Pkzip Classic") << true << int(emPkzipClassic) << -1;
    QTest::newRow("unknown position stays encrypted") << true << 9 << 3;
}

void TestArchiver::encryption() {
    QFETCH(bool, protect);
    QFETCH(int, method);
    QFETCH(int, strength);
    const QString password = QStringLiteral("pässwörd"); // beyond ASCII: its UTF-8 bytes are the key
    TJob_FilesAndFolders job(QStringLiteral("Docs"));
    job.Settings.Compression.Enabled = true;
    job.Settings.Compression.ProtectWithPassword = protect;
    job.Settings.Compression.Password = password;
    job.Settings.Compression.EncryptionMethod = uint8_t(method);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    const QString source = Path(QStringLiteral("enc-%1/report.txt").arg(tag));
    const QByteArray content = TextBytes(20000, 9);
    WriteFile(source, content, 1600000000);
    const QString archive = Path(QStringLiteral("enc-%1.zip").arg(tag));
    {
        TArchiver archiver(job);
        QVERIFY(archiver.CreateArchive(archive));
        job.stFileNameToAddToZip = QStringLiteral("Docs/report.txt");
        QVERIFY(archiver.AddFile(source));
        QVERIFY(archiver.CloseArchive());
    }
    TZipReader reader;
    QVERIFY(reader.Open(archive));
    const TZipEntryInfo& entry = reader.Entries().at(0);
    QCOMPARE(entry.IsEncrypted(), strength != 0);
    QCOMPARE(entry.AesStrength, std::max(strength, 0));

    TArchiver restorer(job);
    QVERIFY(restorer.OpenForReading(archive, protect ? password : QString()));
    const QString output = Path(QStringLiteral("enc-out-%1").arg(tag));
    QVERIFY2(restorer.ExtractEntry(QStringLiteral("Docs/report.txt"), output), qPrintable(restorer.ErrorText()));
    const auto tree = ReadTree(output);
    QCOMPARE(tree.value(QStringLiteral("Docs/report.txt")).Content, content);
    QCOMPARE(tree.value(QStringLiteral("Docs/report.txt")).MTimeSeconds, 1600000000);
}

void TestArchiver::failureFlag_data() {
    QTest::addColumn<bool>("skipLocked");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("errorLine");
    QTest::newRow("missing file") << false << QStringLiteral("missing") << true;
    QTest::newRow("missing file, SkipLockedFiles") << true << QStringLiteral("missing") << false;
    QTest::newRow("locked file") << false << QStringLiteral("locked") << true;
    QTest::newRow("locked file, SkipLockedFiles") << true << QStringLiteral("locked") << false;
    QTest::newRow("invalid entry name, SkipLockedFiles") << true << QStringLiteral("badname") << true;
}

void TestArchiver::failureFlag() {
    QFETCH(bool, skipLocked);
    QFETCH(QString, kind);
    QFETCH(bool, errorLine);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-').remove(u',');
    TJob_FilesAndFolders job(QStringLiteral("Docs"));
    job.Settings.Compression.Enabled = true;
    job.JobOptions.Processing.SkipLockedFiles = skipLocked;
    job.JobOptions.Processing.PreventOtherAppsFromWritingDuringZipping = true;
    const QString good = Path(QStringLiteral("flag-%1/good.txt").arg(tag));
    WriteFile(good, TextBytes(1000));
    QString bad = Path(QStringLiteral("flag-%1/bad.txt").arg(tag));
    int holder = -1;
    if (kind != QStringLiteral("missing"))
        WriteFile(bad, TextBytes(1000, 2));
    if (kind == QStringLiteral("locked")) {
        // Another program writing the file holds a write lock on it.
        holder = ::open(QFile::encodeName(bad).constData(), O_RDWR | O_CLOEXEC);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        QCOMPARE(fcntl(holder, F_OFD_SETLK, &lock), 0);
    }
    TArchiver archiver(job);
    const QString archive = Path(QStringLiteral("flag-%1.zip").arg(tag));
    QVERIFY(archiver.CreateArchive(archive));
    job.stFileNameToAddToZip = QStringLiteral("good.txt");
    QVERIFY(archiver.AddFile(good));
    job.stFileNameToAddToZip =
        kind == QStringLiteral("badname") ? QStringLiteral("../bad.txt") : QStringLiteral("bad.txt");
    QVERIFY(!archiver.AddFile(bad));
    QCOMPARE(archiver.Tag, 1);
    QVERIFY(archiver.CloseArchive());

    QCOMPARE(int(job.LastJobResult.ErrorsCount), errorLine ? 1 : 0);
    QCOMPARE(job.LastJobResult.Log.size(), errorLine ? 1 : 0);
    if (errorLine && kind != QStringLiteral("badname"))
        QVERIFY2(job.LastJobResult.Log.at(0).endsWith(QStringLiteral(": ERROR: Cannot open file \"%1\"").arg(bad)),
                 qPrintable(job.LastJobResult.Log.at(0)));
    TZipReader reader;
    QVERIFY(reader.Open(archive));
    QCOMPARE(int(reader.Entries().size()), 1);
    QCOMPARE(reader.Entries().at(0).Name, QStringLiteral("good.txt"));
    QVERIFY(reader.TestEntry(0));

    // One archive per file: a failed add leaves no archive behind.
    archiver.Tag = 0;
    const QString single = Path(QStringLiteral("flag-%1-bad.txt.zip").arg(tag));
    if (kind != QStringLiteral("badname")) {
        QVERIFY(!archiver.MakeSingleFileArchive(bad, single));
        QCOMPARE(archiver.Tag, 1);
        QVERIFY(!QFile::exists(single));
    }
    if (holder >= 0)
        ::close(holder);
}

void TestArchiver::perFileArchiveIsNamedAfterTheFile() {
    TJob_FilesAndFolders job(QStringLiteral("Docs"));
    job.Settings.Compression.Enabled = true;
    job.Settings.Compression.CreateIndividualZipForEachItem = true;
    const QString source = Path(QStringLiteral("single/report.docx"));
    WriteFile(source, RandomBytes(3000));
    TArchiver archiver(job);
    job.stFileNameToAddToZip = QStringLiteral("left/over/name"); // not used for per-file archives
    const QString archive = Path(QStringLiteral("single-out/report.docx.zip"));
    QVERIFY(QDir().mkpath(Path(QStringLiteral("single-out"))));
    QVERIFY(archiver.MakeSingleFileArchive(source, archive));
    QCOMPARE(archiver.Tag, 0);
    TZipReader reader;
    QVERIFY(reader.Open(archive));
    QCOMPARE(int(reader.Entries().size()), 1);
    QCOMPARE(reader.Entries().at(0).Name, QStringLiteral("report.docx"));

    TArchiver restorer(job);
    QVERIFY(restorer.OpenForReading(archive, QString()));
    QVERIFY(restorer.ExtractAll(Path(QStringLiteral("single-restore/sub"))));
    QCOMPARE(ReadTree(Path(QStringLiteral("single-restore/sub"))).value(QStringLiteral("report.docx")).Content,
             RandomBytes(3000));
}

void TestArchiver::folderEntryHasDirectoryAttribute() {
    TJob_FilesAndFolders job(QStringLiteral("Docs"));
    TArchiver archiver(job);
    const QString archive = Path(QStringLiteral("folder.zip"));
    QVERIFY(archiver.CreateArchive(archive));
    job.stFileNameToAddToZip.clear();
    QVERIFY(archiver.AddFolderEntry(QStringLiteral("Work/Empty")));
    QCOMPARE(archiver.Tag, 0);
    QVERIFY(archiver.CloseArchive());
    TZipReader reader;
    QVERIFY(reader.Open(archive));
    const TZipEntryInfo& entry = reader.Entries().at(0);
    QCOMPARE(entry.Name, QStringLiteral("Work/Empty/"));
    QCOMPARE(entry.ExternalAttributes & 0xff, 16u);
    QVERIFY(entry.IsDirectory);
    QCOMPARE(entry.Size, 0u);
}

void TestArchiver::progressAndCancel() {
    TJob_FilesAndFolders job(QStringLiteral("Docs"));
    const QString source = Path(QStringLiteral("progress/a.txt"));
    WriteFile(source, TextBytes(10000));
    TArchiver archiver(job);
    const QString archive = Path(QStringLiteral("progress.zip"));
    QVERIFY(archiver.CreateArchive(archive));
    job.stFileNameToAddToZip = QStringLiteral("a.txt");
    QVERIFY(archiver.AddFile(source));
    QCOMPARE(int(job.CurrentFileOperationProgress), 100);
    job.CurrentFileOperationProgress = 0;
    job.CancelCurrentFileOperation = 1;
    job.stFileNameToAddToZip = QStringLiteral("b.txt");
    QVERIFY(!archiver.AddFile(source));
    QCOMPARE(archiver.Tag, 1); // not in the archive, so not to be listed as copied
    QCOMPARE(int(job.LastJobResult.ErrorsCount), 0);
    QVERIFY(job.LastJobResult.Log.isEmpty());
    QVERIFY(archiver.CloseArchive());
    TZipReader reader;
    QVERIFY(reader.Open(archive));
    QCOMPARE(int(reader.Entries().size()), 1);
}

void TestArchiver::restoreReportsErrors() {
    TJob_FilesAndFolders job(QStringLiteral("Docs"));
    job.Settings.Compression.ProtectWithPassword = true;
    job.Settings.Compression.Password = QStringLiteral("right");
    const QString source = Path(QStringLiteral("restore/a.txt"));
    WriteFile(source, TextBytes(10000));
    const QString archive = Path(QStringLiteral("restore.zip"));
    {
        TArchiver archiver(job);
        QVERIFY(archiver.CreateArchive(archive));
        job.stFileNameToAddToZip = QStringLiteral("a.txt");
        QVERIFY(archiver.AddFile(source));
        QVERIFY(archiver.CloseArchive());
    }
    TArchiver restorer(job);
    QVERIFY(restorer.OpenForReading(archive, QStringLiteral("wrong")));
    QVERIFY(!restorer.ExtractEntry(QStringLiteral("a.txt"), Path(QStringLiteral("restore-out"))));
    QCOMPARE(restorer.ErrorText(), QStringLiteral("Wrong password for \"a.txt\""));
    QVERIFY(!QFile::exists(Path(QStringLiteral("restore-out/a.txt"))));
    QVERIFY(!restorer.ExtractEntry(QStringLiteral("missing.txt"), Path(QStringLiteral("restore-out"))));
    QVERIFY(restorer.ErrorText().contains(QStringLiteral("missing.txt")));

    QFile::copy(archive, Path(QStringLiteral("damaged.zip")));
    QFile damaged(Path(QStringLiteral("damaged.zip")));
    QVERIFY(damaged.resize(damaged.size() - 30));
    QVERIFY(!restorer.OpenForReading(Path(QStringLiteral("damaged.zip")), QStringLiteral("right")));
    QVERIFY(!restorer.ErrorText().isEmpty());
}

QTEST_GUILESS_MAIN(TestArchiver)
#include "tst_Archiver.moc"
