// The FTP branch of the storage operations against pyftpdlib on loopback: what the shared
// conformance suite cannot express (the connect rules, links on the server, servers answering
// SIZE for folders, a server killed in the middle of an upload, a cancel).
#include "../net/TFtpServer.h"
#include "StorageTestSupport.h"
#include "TFakeSleeper.h"

#include "jobs/files/TJob_FilesAndFolders.h"
#include "storage/TFtpBranch.h"
#include "storage/TStorageOperations.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace StorageTest;

class tst_FtpBranch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void connectLogsAndFormsTheBaseFolder_data();
    void connectLogsAndFormsTheBaseFolder();
    void connectFailures_data();
    void connectFailures();
    void treeRemovalRemovesLinksNotTheirTargets_data();
    void treeRemovalRemovesLinksNotTheirTargets();
    void serverKilledDuringAnUploadThenRetried();
    void cancelDuringALargeTransfer();

private:
    void StartServer(const TFtpServer::TOptions& options = {});
    TFTPAccount Account(int id) const;
    QString Local(const QString& name) const { return m_local->filePath(name); }

    std::unique_ptr<TFtpServer> m_server;
    std::unique_ptr<TJob_FilesAndFolders> m_job;
    std::unique_ptr<QTemporaryDir> m_local;
    TFakeSleeper m_sleeper;
};

void tst_FtpBranch::init() {
    ResetGlobals(QString());
    m_job = std::make_unique<TJob_FilesAndFolders>(QStringLiteral("Daily"));
    m_local = std::make_unique<QTemporaryDir>();
    QVERIFY(m_local->isValid());
    m_sleeper = TFakeSleeper();
}

void tst_FtpBranch::cleanup() {
    m_server.reset();
}

void tst_FtpBranch::StartServer(const TFtpServer::TOptions& options) {
    m_server = std::make_unique<TFtpServer>();
    const QString problem = m_server->Start(options);
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
}

TFTPAccount tst_FtpBranch::Account(int id) const {
    TFTPAccount account;
    account.ID = id;
    account.AccName = QStringLiteral("Office");
    account.Host = QStringLiteral("127.0.0.1");
    account.Port = m_server->Port();
    account.Username = TFtpServer::User;
    account.Password = TFtpServer::Password;
    return account;
}

void tst_FtpBranch::connectLogsAndFormsTheBaseFolder_data() {
    QTest::addColumn<QString>("subfolder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("absolute") << "/backups"
                              << "/backups/Daily";
    QTest::newRow("root") << "/"
                          << "/Daily";
    QTest::newRow("trailing separator") << "/backups/"
                                        << "/backups/Daily";
    QTest::newRow("backslashes of older settings") << "\\backups\\"
                                                   << "/backups/Daily";
    QTest::newRow("relative to the login folder") << "backups"
                                                  << "backups/Daily";
    QTest::newRow("empty: the login folder") << ""
                                             << "./Daily";
}

void tst_FtpBranch::connectLogsAndFormsTheBaseFolder() {
    QFETCH(QString, subfolder);
    QFETCH(QString, expected);
    StartServer();
    TFTPAccount other = Account(3);
    other.Host = QStringLiteral("192.0.2.1"); // never reached: the later account with the ID wins
    m_job->JobOptions.FTPAccounts = {other, Account(4), Account(3)};
    m_job->DestinationSettings.DestinationType = dtFTP;
    m_job->DestinationSettings.FTP.AccountID = 3;
    m_job->DestinationSettings.FTP.Subfolder = subfolder;

    TStorageOperations operations(*m_job, {}, &m_sleeper);
    QCOMPARE(operations.ConnectToStorage(), expected);
    QCOMPARE(Messages(*m_job),
             QStringList{QStringLiteral("Connecting to the FTP: Office(127.0.0.1); Subfolder: ") + subfolder});
    // The folder is made where the engines expect it.
    QCOMPARE(operations.FileOperation(atCreateRemoteFolder, {}, expected, 0, true), orSuccess);
    QVERIFY(QFileInfo(m_server->Root() + QStringLiteral("/") + QString(expected).remove(QStringLiteral("./"))).isDir());
    operations.DisconnectFromStorage();
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 0);
}

void tst_FtpBranch::connectFailures_data() {
    QTest::addColumn<int>("accountId");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("error");
    QTest::newRow("account removed") << 9 << TFtpServer::Password << "ERROR: Related FTP record no longer exists.";
    QTest::newRow("wrong password") << 3 << "Not-the-password"
                                    << "ERROR: 530 ";
}

void tst_FtpBranch::connectFailures() {
    QFETCH(int, accountId);
    QFETCH(QString, password);
    QFETCH(QString, error);
    StartServer();
    TFTPAccount account = Account(3);
    account.Password = password;
    m_job->JobOptions.FTPAccounts = {account};
    m_job->DestinationSettings.DestinationType = dtFTP;
    m_job->DestinationSettings.FTP.AccountID = accountId;

    TStorageOperations operations(*m_job, {}, &m_sleeper);
    const QString result = operations.ConnectToStorage();
    QVERIFY2(result.startsWith(error), qPrintable(result));
    QVERIFY(!operations.IsConnected());
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 1);
    QCOMPARE(Messages(*m_job).last(), result);
    for (const QString& line : Messages(*m_job))
        QVERIFY(!line.contains(password));
}

void tst_FtpBranch::treeRemovalRemovesLinksNotTheirTargets_data() {
    QTest::addColumn<bool>("mlsd");
    QTest::newRow("MLSD (follows links)") << true;
    QTest::newRow("LIST, SIZE answered for folders") << false;
}

void tst_FtpBranch::treeRemovalRemovesLinksNotTheirTargets() {
    QFETCH(bool, mlsd);
    TFtpServer::TOptions options;
    options.NoMlsd = !mlsd;
    options.SizeOnFolders = !mlsd;
    StartServer(options);
    const QString root = m_server->Root();
    // A folder the tree links to, inside what the server serves, and a dangling link.
    QVERIFY(QDir().mkpath(root + QStringLiteral("/precious")));
    QVERIFY(WriteFile(root + QStringLiteral("/precious/keep.txt"), "do not delete"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/tree/a b/c")));
    QVERIFY(WriteFile(root + QStringLiteral("/tree/a b/c/file \"1\".txt"), "x"));
    QVERIFY(WriteFile(root + QStringLiteral("/tree/top.txt"), "y"));
    QVERIFY(QFile::link(root + QStringLiteral("/precious"), root + QStringLiteral("/tree/a b/link to folder")));
    QVERIFY(QFile::link(root + QStringLiteral("/gone"), root + QStringLiteral("/tree/dangling")));
    m_job->JobOptions.FTPAccounts = {Account(1)};
    m_job->DestinationSettings.DestinationType = dtFTP;
    m_job->DestinationSettings.FTP.AccountID = 1;

    TFtpBranch branch(*m_job);
    QVERIFY(branch.Connect().Connected);
    const TBranchResult result = branch.RemoveFolderTree(QStringLiteral("/tree"));
    QVERIFY2(result.Result == orSuccess, qPrintable(result.Message));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/tree")));
    QCOMPARE(ReadFile(root + QStringLiteral("/precious/keep.txt")), QByteArray("do not delete"));
    QCOMPARE(branch.RemoveFolderTree(QStringLiteral("/tree")).Result, orERROR_RemoteAccess);
    branch.Disconnect();
}

void tst_FtpBranch::serverKilledDuringAnUploadThenRetried() {
    StartServer();
    m_job->JobOptions.FTPAccounts = {Account(1)};
    m_job->JobOptions.Processing.IfDestinationNotAvailable_Wait_Sec = 5;
    m_job->DestinationSettings.DestinationType = dtFTP;
    m_job->DestinationSettings.FTP.AccountID = 1;
    m_job->DestinationSettings.FTP.Subfolder = QStringLiteral("/");
    const QByteArray data = Pattern(24 * 1024 * 1024, 5);
    QVERIFY(WriteFile(Local(QStringLiteral("big.bin")), data));
    int kills = 0;
    TStorageOperations operations(
        *m_job,
        [&](TJob& job) {
            auto branch = std::make_unique<TFtpBranch>(job);
            branch->OnProgress = [&](int64_t done, int64_t) {
                // The server dies once, in the middle of the first attempt.
                if (kills == 0 && done >= 4 * 1024 * 1024) {
                    ++kills;
                    m_server->Stop();
                }
            };
            return branch;
        },
        &m_sleeper);
    // Back on the same port while the retry waits.
    m_sleeper.OnSleep = [&](int) {
        if (!m_server->Running())
            QCOMPARE(m_server->Start({}), QString());
    };
    QCOMPARE(operations.ConnectToStorage(), QStringLiteral("/Daily"));
    QCOMPARE(operations.FileOperation(atCreateRemoteFolder, {}, QStringLiteral("/Daily"), 2, true), orSuccess);

    const TOperationResult result = operations.FileOperation(
        atCopyFromLocalToRemoteFile, Local(QStringLiteral("big.bin")), QStringLiteral("/Daily/big.bin"), 2, true);

    QCOMPARE(result, orSuccess);
    QCOMPARE(kills, 1);
    QVERIFY(m_server->Running());
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 1);
    QCOMPARE(CountStartingWith(Messages(*m_job), QStringLiteral("Retry after 5 seconds.")), 1);
    QCOMPARE(ReadFile(m_server->Root() + QStringLiteral("/Daily/big.bin")), data);
    // The part file of the broken attempt went once the server answered again.
    QCOMPARE(QDir(m_server->Root() + QStringLiteral("/Daily")).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("big.bin")});
    operations.DisconnectFromStorage();
}

void tst_FtpBranch::cancelDuringALargeTransfer() {
    StartServer();
    m_job->JobOptions.FTPAccounts = {Account(1)};
    m_job->DestinationSettings.DestinationType = dtFTP;
    m_job->DestinationSettings.FTP.AccountID = 1;
    QVERIFY(WriteFile(Local(QStringLiteral("big.bin")), Pattern(24 * 1024 * 1024, 6)));
    TStorageOperations operations(
        *m_job,
        [&](TJob& job) {
            auto branch = std::make_unique<TFtpBranch>(job);
            branch->OnProgress = [&](int64_t done, int64_t) {
                if (done >= 2 * 1024 * 1024)
                    m_job->CancelCurrentFileOperation = 1;
            };
            return branch;
        },
        &m_sleeper);
    QCOMPARE(operations.ConnectToStorage(), QStringLiteral("/Daily"));
    QCOMPARE(operations.FileOperation(atCreateRemoteFolder, {}, QStringLiteral("/Daily"), 0, true), orSuccess);

    QCOMPARE(operations.FileOperation(atCopyFromLocalToRemoteFile, Local(QStringLiteral("big.bin")),
                                      QStringLiteral("/Daily/big.bin"), 3, true),
             orERROR_RemoteAccess);

    QCOMPARE(m_sleeper.Calls, 0); // no retry after a cancel
    QVERIFY(QDir(m_server->Root() + QStringLiteral("/Daily")).entryList(QDir::Files | QDir::Hidden).isEmpty());
    // The next operation connects afresh.
    QVERIFY(WriteFile(Local(QStringLiteral("small.txt")), "small"));
    QCOMPARE(operations.FileOperation(atCopyFromLocalToRemoteFile, Local(QStringLiteral("small.txt")),
                                      QStringLiteral("/Daily/small.txt"), 0, true),
             orSuccess);
    QCOMPARE(ReadFile(m_server->Root() + QStringLiteral("/Daily/small.txt")), QByteArray("small"));
    operations.DisconnectFromStorage();
}

QTEST_GUILESS_MAIN(tst_FtpBranch)
#include "tst_FtpBranch.moc"
