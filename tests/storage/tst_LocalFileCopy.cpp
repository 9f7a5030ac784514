#include "StorageTestSupport.h"

#include "storage/TLocalFileCopy.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace StorageTest;

namespace {

constexpr int64_t SmallChunk = 64 * 1024;

void SetTimes(const QString& path, time_t seconds, long nanoseconds) {
    const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

struct timespec ModificationTime(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim;
}

} // namespace

// The copy routine of the local branch: content, attributes, chunked progress and cancel, and
// what a failure or a cancel leaves behind.
class tst_LocalFileCopy : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void copiesContentTimeAndPermissions_data();
    void copiesContentTimeAndPermissions();
    void replacesReadOnlyTargetWhole();
    void cancelKeepsTheOldTarget_data();
    void cancelKeepsTheOldTarget();
    void linkIsCopiedAsLink_data();
    void linkIsCopiedAsLink();
    void failuresNameTheirSide_data();
    void failuresNameTheirSide();
    void targetThatIsAFolderStaysIntact();
    void receivedFileReplacesOnlyWhenComplete_data();
    void receivedFileReplacesOnlyWhenComplete();

private:
    QString Path(const QString& name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_LocalFileCopy::copiesContentTimeAndPermissions_data() {
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("unbuffered");
    QTest::addColumn<int>("mode");
    const qsizetype sizes[] = {0, 1, 4095, 4096, 4097, SmallChunk, 3 * SmallChunk + 1};
    for (const bool unbuffered : {false, true}) {
        for (const qsizetype size : sizes) {
            const QByteArray name = (unbuffered ? "unbuffered " : "buffered ") + QByteArray::number(size);
            QTest::newRow(name.constData()) << size << unbuffered << (size % 2 ? 0640 : 0444);
        }
    }
}

void tst_LocalFileCopy::copiesContentTimeAndPermissions() {
    QFETCH(qsizetype, size);
    QFETCH(bool, unbuffered);
    QFETCH(int, mode);
    const QString source = Path(QStringLiteral("source.bin"));
    const QString target = Path(QStringLiteral("target.bin"));
    const QByteArray data = Pattern(size);
    QVERIFY(WriteFile(source, data));
    QCOMPARE(::chmod(QFile::encodeName(source).constData(), mode_t(mode)), 0);
    SetTimes(source, 1500000000, 123456789);

    TLocalFileCopy copy;
    copy.ChunkSize = SmallChunk;
    copy.Unbuffered = unbuffered;
    int64_t lastDone = -1;
    int64_t lastTotal = -1;
    bool monotonic = true;
    copy.OnProgress = [&](int64_t done, int64_t total) {
        monotonic = monotonic && done > lastDone && done - std::max<int64_t>(lastDone, 0) <= SmallChunk;
        lastDone = done;
        lastTotal = total;
    };
    const TFileCopyResult result = copy.Copy(source, target);

    QVERIFY2(result.Ok(), qPrintable(result.ErrorText()));
    QCOMPARE(result.Bytes, int64_t(size));
    QCOMPARE(ReadFile(target), data);
    QCOMPARE(ModeOf(target), mode_t(mode));
    QCOMPARE(ModificationTime(target).tv_sec, time_t(1500000000));
    QCOMPARE(ModificationTime(target).tv_nsec, 123456789L);
    QVERIFY(monotonic);
    if (size > 0) {
        QCOMPARE(lastDone, int64_t(size));
        QCOMPARE(lastTotal, int64_t(size));
    }
    QVERIFY(LeftoverPartFiles(m_dir->path()).isEmpty());
}

void tst_LocalFileCopy::replacesReadOnlyTargetWhole() {
    const QString source = Path(QStringLiteral("new.txt"));
    const QString target = Path(QStringLiteral("old.txt"));
    QVERIFY(WriteFile(source, "short"));
    QVERIFY(WriteFile(target, "a much longer previous content"));
    QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0444), 0);

    const TFileCopyResult result = TLocalFileCopy().Copy(source, target);

    QVERIFY(result.Ok());
    QCOMPARE(ReadFile(target), QByteArray("short"));
}

void tst_LocalFileCopy::cancelKeepsTheOldTarget_data() {
    QTest::addColumn<bool>("targetExisted");
    QTest::addColumn<bool>("unbuffered");
    QTest::newRow("new target") << false << false;
    QTest::newRow("existing target") << true << false;
    QTest::newRow("existing target, unbuffered") << true << true;
}

void tst_LocalFileCopy::cancelKeepsTheOldTarget() {
    QFETCH(bool, targetExisted);
    QFETCH(bool, unbuffered);
    const QString source = Path(QStringLiteral("large.bin"));
    const QString target = Path(QStringLiteral("copy.bin"));
    QVERIFY(WriteFile(source, Pattern(10 * SmallChunk)));
    if (targetExisted)
        QVERIFY(WriteFile(target, "previous backup"));

    TShared<int32_t> cancel = 0;
    TLocalFileCopy copy;
    copy.ChunkSize = SmallChunk;
    copy.Unbuffered = unbuffered;
    copy.CancelFlag = &cancel;
    int64_t copiedWhenCancelled = 0;
    QFile::Permissions visibleMidway;
    copy.OnProgress = [&](int64_t done, int64_t) {
        visibleMidway = QFileInfo(target).permissions();
        if (done >= 2 * SmallChunk && cancel == 0) {
            cancel = 1; // the user presses Cancel in the middle of the file
            copiedWhenCancelled = done;
        }
    };
    const TFileCopyResult result = copy.Copy(source, target);

    QVERIFY(result.Cancelled());
    QCOMPARE(result.Side, TCopySide::None);
    QCOMPARE(result.Bytes, copiedWhenCancelled); // stopped at the next chunk
    if (targetExisted) {
        QCOMPARE(ReadFile(target), QByteArray("previous backup"));
    } else {
        // Written under its name, readable by its owner only until complete, and gone again.
        QCOMPARE(visibleMidway, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(!QFileInfo::exists(target));
    }
    QVERIFY(LeftoverPartFiles(m_dir->path()).isEmpty());
}

void tst_LocalFileCopy::linkIsCopiedAsLink_data() {
    QTest::addColumn<bool>("toFolder");
    QTest::newRow("link to a file") << false;
    QTest::newRow("link to a folder") << true;
}

void tst_LocalFileCopy::linkIsCopiedAsLink() {
    QFETCH(bool, toFolder);
    const QString pointed = Path(toFolder ? QStringLiteral("folder") : QStringLiteral("file.txt"));
    if (toFolder)
        QVERIFY(QDir().mkpath(pointed));
    else
        QVERIFY(WriteFile(pointed, "content"));
    const QString link = Path(QStringLiteral("link"));
    QVERIFY(QFile::link(pointed, link));
    const QString target = Path(QStringLiteral("copied-link"));
    QVERIFY(WriteFile(target, "old regular file in the way"));

    const TFileCopyResult result = TLocalFileCopy().Copy(link, target);

    QVERIFY2(result.Ok(), qPrintable(result.ErrorText()));
    QVERIFY(QFileInfo(target).isSymLink());
    QCOMPARE(QFile::symLinkTarget(target), pointed);
    QCOMPARE(result.Bytes, int64_t(QFile::encodeName(pointed).size()));
}

void tst_LocalFileCopy::failuresNameTheirSide_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("error");
    QTest::newRow("missing source") << QStringLiteral("missing") << int(TCopySide::Source) << ENOENT;
    QTest::newRow("source is a folder") << QStringLiteral("folder") << int(TCopySide::Source) << EISDIR;
    QTest::newRow("source is a FIFO") << QStringLiteral("fifo") << int(TCopySide::Source)
                                      << TFileCopyResult::NotRegularFile;
    QTest::newRow("target folder missing") << QStringLiteral("no target folder") << int(TCopySide::Target) << ENOENT;
}

void tst_LocalFileCopy::failuresNameTheirSide() {
    QFETCH(QString, kind);
    QFETCH(int, side);
    QFETCH(int, error);
    QString source = Path(QStringLiteral("source"));
    QString target = Path(QStringLiteral("target"));
    if (kind == QStringLiteral("folder"))
        QVERIFY(QDir().mkpath(source));
    else if (kind == QStringLiteral("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(source).constData(), 0600), 0); // must not block the copy
    else if (kind == QStringLiteral("no target folder")) {
        QVERIFY(WriteFile(source, "data"));
        target = Path(QStringLiteral("absent/target"));
    }

    const TFileCopyResult result = TLocalFileCopy().Copy(source, target);

    QCOMPARE(int(result.Side), side);
    QCOMPARE(result.Error, error);
    QVERIFY(!result.ErrorText().isEmpty());
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(LeftoverPartFiles(m_dir->path()).isEmpty());
}

void tst_LocalFileCopy::targetThatIsAFolderStaysIntact() {
    const QString source = Path(QStringLiteral("file"));
    const QString target = Path(QStringLiteral("folder"));
    QVERIFY(WriteFile(source, "data"));
    QVERIFY(QDir().mkpath(target + QStringLiteral("/inside")));

    const TFileCopyResult result = TLocalFileCopy().Copy(source, target);

    QCOMPARE(result.Side, TCopySide::Target);
    QVERIFY(QFileInfo(target + QStringLiteral("/inside")).isDir());
    QVERIFY(LeftoverPartFiles(m_dir->path()).isEmpty());
}

// A file written from a stream (a download) follows the copy's rules: the old target, or none,
// until the data is complete; the given mode and times at the end.
void tst_LocalFileCopy::receivedFileReplacesOnlyWhenComplete_data() {
    QTest::addColumn<bool>("targetExisted");
    QTest::addColumn<int>("failure"); // 0, or the errno the stream fails with midway
    QTest::newRow("new target") << false << 0;
    QTest::newRow("replacing") << true << 0;
    QTest::newRow("source fails, new target") << false << EIO;
    QTest::newRow("source fails, replacing") << true << EIO;
    QTest::newRow("cancelled, replacing") << true << ECANCELED;
}

void tst_LocalFileCopy::receivedFileReplacesOnlyWhenComplete() {
    QFETCH(bool, targetExisted);
    QFETCH(int, failure);
    const QString target = Path(QStringLiteral("received.bin"));
    if (targetExisted) {
        QVERIFY(WriteFile(target, "previous"));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0444), 0);
    }
    const QByteArray data = Pattern(3 * SmallChunk);
    const struct timespec times[2] = {{1700000000, 5}, {1600000000, 123456789}};

    const TFileCopyResult result = TLocalFileCopy().Receive(
        target,
        [&](int fd, TCopySide& side) {
            for (int part = 0; part < 3; ++part) {
                if (failure != 0 && part == 1) {
                    side = failure == ECANCELED ? TCopySide::None : TCopySide::Source;
                    return failure;
                }
                if (::write(fd, data.constData() + part * SmallChunk, size_t(SmallChunk)) != SmallChunk)
                    return errno;
            }
            return 0;
        },
        0640, times);

    QCOMPARE(result.Error, failure);
    if (failure == 0) {
        QCOMPARE(ReadFile(target), data);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(ModificationTime(target).tv_sec, times[1].tv_sec);
        QCOMPARE(ModificationTime(target).tv_nsec, times[1].tv_nsec);
    } else {
        QCOMPARE(result.Side, failure == ECANCELED ? TCopySide::None : TCopySide::Source);
        if (targetExisted)
            QCOMPARE(ReadFile(target), QByteArray("previous"));
        else
            QVERIFY(!QFileInfo::exists(target));
    }
    QVERIFY(LeftoverPartFiles(m_dir->path()).isEmpty());
}

QTEST_GUILESS_MAIN(tst_LocalFileCopy)
#include "tst_LocalFileCopy.moc"
