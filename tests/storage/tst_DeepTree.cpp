#include "StorageTestSupport.h"

#include "core/base/AtomicFile.h"
#include "core/base/DirectoryTree.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "storage/TStorageOperations.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace StorageTest;

namespace {

constexpr int Depth = 5000;

QString DeepPath(const QString& root, int depth) {
    QString path = root;
    for (int level = 0; level < depth; ++level)
        path += QStringLiteral("/d");
    return path;
}

// The test's own descriptor walk (independent of the code under test): opens root/d/.../d.
int OpenDeep(const QString& root, int depth, bool create) {
    int fd = ::open(QFile::encodeName(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < depth && fd >= 0; ++level) {
        if (create)
            ::mkdirat(fd, "d", 0755);
        const int next = ::openat(fd, "d", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

bool WriteDeepFile(const QString& root, int depth, const char* name, const QByteArray& data) {
    const int folder = OpenDeep(root, depth, true);
    const int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::close(folder);
    const bool ok = fd >= 0 && ::write(fd, data.constData(), size_t(data.size())) == data.size();
    ::close(fd);
    return ok;
}

QByteArray ReadDeepFile(const QString& root, int depth, const char* name) {
    const int folder = OpenDeep(root, depth, false);
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
    ::close(folder);
    if (fd < 0)
        return "<missing>";
    QByteArray data(1 << 16, Qt::Uninitialized);
    const ssize_t n = ::read(fd, data.data(), size_t(data.size()));
    ::close(fd);
    return data.left(qsizetype(std::max<ssize_t>(n, 0)));
}

bool DeepFolderExists(const QString& root, int depth) {
    const int fd = OpenDeep(root, depth, false);
    ::close(fd);
    return fd >= 0;
}

} // namespace

// Trees far deeper than PATH_MAX: created, filled, renamed in and removed through the storage
// operations, and deleted without one descriptor per level.
class tst_DeepTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void storageOperationsWorkBeyondPathMax();
    void deleteNeedsFewDescriptors();
    void createReportsAFileInTheWay();
    void deleteRefusesPathsWithoutAFolderOfTheirOwn_data();
    void deleteRefusesPathsWithoutAFolderOfTheirOwn();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_DeepTree::init() {
    ResetGlobals(QString());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_DeepTree::cleanup() {
    // QTemporaryDir cannot remove what lies beyond PATH_MAX.
    for (const QString& name : QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        DeleteDirectoryTree(m_dir->filePath(name));
    m_dir.reset();
}

void tst_DeepTree::storageOperationsWorkBeyondPathMax() {
    const QString source = m_dir->filePath(QStringLiteral("source"));
    const QString destination = m_dir->filePath(QStringLiteral("destination"));
    QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
    QVERIFY(WriteDeepFile(source, Depth, "bottom.txt", "deep content"));
    TJob_FilesAndFolders job(QStringLiteral("Deep"));
    job.DestinationSettings.LocalOrExternalDrive.Disk = destination;
    TStorageOperations operations(job);
    const QString jobFolder = operations.ConnectToStorage();
    const QString deepRemote = DeepPath(jobFolder, Depth);
    const QString deepLocal = DeepPath(source, Depth);
    QVERIFY(deepRemote.size() > 2 * PATH_MAX);

    QCOMPARE(operations.FileOperation(atCreateRemoteFolder, {}, deepRemote, 0, true), orSuccess);
    QCOMPARE(operations.FileOperation(atCopyFromLocalToRemoteFile, deepLocal + QStringLiteral("/bottom.txt"),
                                      deepRemote + QStringLiteral("/bottom.txt"), 0, true),
             orSuccess);
    QCOMPARE(ReadDeepFile(jobFolder, Depth, "bottom.txt"), QByteArray("deep content"));
    QCOMPARE(operations.FileOperation(atCopyFromRemoteToLocalFile, deepLocal + QStringLiteral("/back.txt"),
                                      deepRemote + QStringLiteral("/bottom.txt"), 0, true),
             orSuccess);
    QCOMPARE(ReadDeepFile(source, Depth, "back.txt"), QByteArray("deep content"));
    QCOMPARE(operations.FileOperation(atRenameRemoteFile, deepRemote + QStringLiteral("/renamed.txt"),
                                      deepRemote + QStringLiteral("/bottom.txt"), 0, true),
             orSuccess);
    QCOMPARE(ReadDeepFile(jobFolder, Depth, "renamed.txt"), QByteArray("deep content"));
    QCOMPARE(operations.FileOperation(atRemoveRemoteFile, {}, deepRemote + QStringLiteral("/renamed.txt"), 0, true),
             orSuccess);
    QCOMPARE(ReadDeepFile(jobFolder, Depth, "renamed.txt"), QByteArray("<missing>"));

    // Half-way down is still far beyond PATH_MAX.
    QCOMPARE(operations.FileOperation(atRemoveRemoteNotEmptyFolder, {}, DeepPath(jobFolder, Depth / 2), 0, true),
             orSuccess);
    QVERIFY(DeepFolderExists(jobFolder, Depth / 2 - 1));
    QVERIFY(!DeepFolderExists(jobFolder, Depth / 2));

    QCOMPARE(operations.FileOperation(atRemoveRemoteNotEmptyFolder, {}, jobFolder, 0, true), orSuccess);
    QVERIFY(!QFileInfo::exists(jobFolder));
    QCOMPARE(job.LastJobResult.ErrorsCount.Load(), 0);
    operations.DisconnectFromStorage();
}

void tst_DeepTree::deleteNeedsFewDescriptors() {
    const QString root = m_dir->filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(root));
    QVERIFY(WriteDeepFile(root, Depth, "leaf", "x"));
    QVERIFY(WriteDeepFile(root, Depth / 3, "middle", "y"));
    struct rlimit saved;
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit tight = saved;
    tight.rlim_cur = 64; // far fewer than the tree's levels
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    QString error;
    const bool deleted = DeleteDirectoryTree(root, &error);

    ::setrlimit(RLIMIT_NOFILE, &saved);
    QVERIFY2(deleted, qPrintable(error));
    QVERIFY(!QFileInfo::exists(root));
}

void tst_DeepTree::createReportsAFileInTheWay() {
    QVERIFY(WriteFile(m_dir->filePath(QStringLiteral("file")), "not a folder"));
    QString error;
    QVERIFY(!CreateFolderPath(m_dir->filePath(QStringLiteral("file/below")), 0755, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(CreateFolderPath(m_dir->filePath(QStringLiteral("a/b/c/")), 0755, &error));
    QVERIFY(QFileInfo(m_dir->filePath(QStringLiteral("a/b/c"))).isDir());
    QVERIFY(!CreateFolderPath(QString(), 0755)); // an empty path names no folder
}

void tst_DeepTree::deleteRefusesPathsWithoutAFolderOfTheirOwn_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("the root") << QStringLiteral("/");
    QTest::newRow("empty") << QString();
    QTest::newRow("ends in ..") << QStringLiteral("<dir>/keep/sub/..");
    QTest::newRow("ends in .") << QStringLiteral("<dir>/keep/.");
}

void tst_DeepTree::deleteRefusesPathsWithoutAFolderOfTheirOwn() {
    QFETCH(QString, path);
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("keep/sub"))));
    QVERIFY(WriteFile(m_dir->filePath(QStringLiteral("keep/file")), "stays"));

    QVERIFY(!DeleteDirectoryTree(path.replace(QStringLiteral("<dir>"), m_dir->path())));

    QCOMPARE(ReadFile(m_dir->filePath(QStringLiteral("keep/file"))), QByteArray("stays"));
}

QTEST_GUILESS_MAIN(tst_DeepTree)
#include "tst_DeepTree.moc"
