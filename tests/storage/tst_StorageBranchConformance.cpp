#include "../cloud/TDropboxStandIn.h"
#include "../cloud/TGoogleDriveStandIn.h"
#include "../cloud/TOneDriveStandIn.h"
#include "../net/TFtpServer.h"
#include "StorageTestSupport.h"
#include "TSmbServer.h"

#include "cloud/TCloudStorageBranch.h"
#include "cloud/TDropbox.h"
#include "cloud/TGoogleDrive.h"
#include "cloud/TOneDrive.h"

#include "jobs/files/TJob_FilesAndFolders.h"
#include "storage/SharePath.h"
#include "storage/StoragePaths.h"
#include "storage/TFtpBranch.h"
#include "storage/TLocalDriveBranch.h"
#include "storage/TNetworkShareBranch.h"

#include <QBuffer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <functional>
#include <map>
#include <memory>
#include <pwd.h>
#include <unistd.h>

using namespace StorageTest;

namespace {

// One branch under test with a way to look at its destination from outside, so the suite can
// check what each operation really left there. Every branch answers the same suite; a branch
// joins by adding a row to initTestCase_data and a case to MakeFixture.
struct TBranchFixture {
    std::unique_ptr<TStorageBranch> Branch;
    QString Root;      // a folder at the destination, empty, for this test alone
    QString LocalView; // the same folder as this machine's file system sees it
    std::function<QByteArray(const QString& remote)> ReadRemote;
    std::function<bool(const QString& remote)> RemoteExists;
    std::function<bool(const QString& remote, const QByteArray& data, bool readOnly)> PutRemote;
    bool KeepsLinks = false;
};

} // namespace

class tst_StorageBranchConformance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase_data();
    void init();
    void cleanup();

    void connectGivesTheBaseFolder();
    void uploadAndDownloadRoundTrip_data();
    void uploadAndDownloadRoundTrip();
    void uploadReplacesAReadOnlyFile();
    void uploadOfAMissingLocalFileIsLocalAccess();
    void downloadOfAMissingFileFailsAndKeepsTheLocalFile();
    void createFolderMakesParentsAndAcceptsAnExistingOne();
    void removeFileAndMissingFile();
    void removeFolderTreeRemovesLinksNotTheirTargets();
    void renameMovesAndNeverReplaces_data();
    void renameMovesAndNeverReplaces();
    void cancelledUploadLeavesNothingUnderTheName();
    void awkwardNamesAreKept();

private:
    void MakeFixture(const QString& kind);
    QString Remote(const QString& relative) const { return JoinPath(m_fixture.Root, relative); }
    QString Local(const QString& name) const { return m_local->filePath(name); }

    std::unique_ptr<TJob_FilesAndFolders> m_job;
    std::unique_ptr<QTemporaryDir> m_local;
    std::unique_ptr<QTemporaryDir> m_destination;
    TBranchFixture m_fixture;
};

void tst_StorageBranchConformance::initTestCase_data() {
    QTest::addColumn<QString>("branch");
    QTest::newRow("local drive") << QStringLiteral("local");
    QTest::newRow("network share") << QStringLiteral("network");
    QTest::newRow("ftp") << QStringLiteral("ftp");
    QTest::newRow("ftp, LIST only, SIZE on folders") << QStringLiteral("ftp-list");
    QTest::newRow("ftp, vsftpd with TLS") << QStringLiteral("ftp-vsftpd");
    QTest::newRow("cloud drive") << QStringLiteral("cloud");
    QTest::newRow("cloud drive, One Drive") << QStringLiteral("onedrive");
    QTest::newRow("google drive") << QStringLiteral("googledrive");
}

namespace {

// One smbd for every network row, started when the first needs it.
TSmbServer& SmbServer(QString& problem) {
    static TSmbServer server;
    static const QString why = [] {
        // The client library reads ~/.smb; keep it away from the real home.
        static QTemporaryDir home;
        qputenv("HOME", home.path().toUtf8());
        return server.Start();
    }();
    problem = why;
    return server;
}

// Hands a file or folder made from outside to the share's user, as if the share had made it.
bool GiveToShareUser(const QString& path) {
    const passwd* user = ::getpwnam(TSmbServer::User.toUtf8().constData());
    return user && ::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0;
}

// One FTP server per kind, started when the first row needs it.
TFtpServer& FtpServer(const QString& kind, QString& problem) {
    static std::map<QString, std::pair<std::unique_ptr<TFtpServer>, QString>> servers;
    auto& entry = servers[kind];
    if (!entry.first) {
        entry.first = std::make_unique<TFtpServer>();
        TFtpServer::TOptions options;
        options.Kind = kind == QStringLiteral("ftp-vsftpd") ? TFtpServer::Vsftpd : TFtpServer::Pyftpdlib;
        options.Tls = kind == QStringLiteral("ftp-vsftpd");
        options.NoMlsd = options.SizeOnFolders = kind == QStringLiteral("ftp-list");
        entry.second = entry.first->Start(options);
    }
    problem = entry.second;
    return *entry.first;
}

} // namespace

namespace {

// The configuration file that points the programs at every cloud stand-in started so far (the
// rows take turns within each test, so one file serves them all).
bool AddCloudConfig(QByteArray lines) {
    static QTemporaryDir config;
    static QByteArray all;
    if (lines.startsWith("[cloud]\n"))
        lines.remove(0, int(qstrlen("[cloud]\n")));
    all += lines;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QDir().mkpath(config.filePath(QStringLiteral("Vaultora")));
    return WriteFile(config.filePath(QStringLiteral("Vaultora/Vaultora.conf")), "[cloud]\n" + all);
}

// One Dropbox stand-in for every cloud row, with the configuration that points the programs at it.
TDropboxStandIn& DropboxStandIn(QString& problem) {
    static TDropboxStandIn server;
    static const QString why = []() -> QString {
        if (!server.Start(2))
            return QStringLiteral("The Dropbox stand-in did not start: ") + server.Output();
        return AddCloudConfig(server.ConfigText()) ? QString() : QStringLiteral("Cannot write the configuration file.");
    }();
    problem = why;
    return server;
}

// The same for the OneDrive rows.
TOneDriveStandIn& OneDriveStandIn(QString& problem) {
    static TOneDriveStandIn server;
    static const QString why = []() -> QString {
        if (!server.Start(2))
            return QStringLiteral("The OneDrive stand-in did not start: ") + server.Output();
        return AddCloudConfig(server.ConfigLines()) ? QString()
                                                    : QStringLiteral("Cannot write the configuration file.");
    }();
    problem = why;
    return server;
}

// The same for the Google Drive rows.
TGoogleDriveStandIn& GoogleDriveStandIn(QString& problem) {
    static TGoogleDriveStandIn server;
    static const QString why = []() -> QString {
        if (!server.Start(3))
            return QStringLiteral("The Google Drive stand-in did not start: ") + server.Output();
        return AddCloudConfig(server.ConfigText()) ? QString() : QStringLiteral("Cannot write the configuration file.");
    }();
    problem = why;
    return server;
}

} // namespace

void tst_StorageBranchConformance::MakeFixture(const QString& kind) {
    if (kind == QStringLiteral("googledrive")) {
        QString problem;
        TGoogleDriveStandIn& server = GoogleDriveStandIn(problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        m_destination = std::make_unique<QTemporaryDir>(); // the data folder with the token file
        QVERIFY(m_destination->isValid());
        App().ApplicationDirectory = m_destination->path();
        App().GoogleClientId = QStringLiteral("conformance");
        App().GoogleClientSecret = QStringLiteral("conformance secret");
        QVERIFY(SaveRefreshToken(TCloudService::GoogleDrive, server.NewRefreshToken()));
        const QString folder = QStringLiteral("/Conformance ") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_job->DestinationSettings.DestinationType = dtCloud;
        m_job->DestinationSettings.Cloud.ServiceName = QStringLiteral("Google Drive");
        m_job->DestinationSettings.Cloud.Subfolder = folder;
        // The folder exists, as the other rows' do: uploads never make their parents here.
        QVERIFY(!server.Put(folder, {}, true).isEmpty());
        auto branch = std::make_unique<TCloudStorageBranch>(*m_job);
        branch->ChunkSize = 65536; // rounded up to the service's 256 KiB
        m_fixture.Branch = std::move(branch);
        m_fixture.Root = folder;
        m_fixture.LocalView = m_destination->path();
        TGoogleDriveStandIn* standIn = &server;
        m_fixture.ReadRemote = [standIn](const QString& remote) { return standIn->File(remote); };
        m_fixture.RemoteExists = [standIn](const QString& remote) { return standIn->Exists(remote); };
        // Made from outside, as another program of the same account would.
        m_fixture.PutRemote = [standIn](const QString& remote, const QByteArray& data, bool) {
            TGoogleDrive client(standIn->Endpoints());
            client.ClientID = QStringLiteral("other");
            client.ClientSecret = QStringLiteral("other");
            client.SetRefreshToken(standIn->NewRefreshToken());
            QBuffer buffer;
            buffer.setData(data);
            buffer.open(QIODevice::ReadOnly);
            const qsizetype slash = remote.lastIndexOf(u'/');
            TCloudItem parent;
            if (slash > 0 && !client.StatItem(remote.left(slash), parent) && !client.MakeFolder(remote.left(slash)))
                return false;
            return client.UploadFile(buffer, remote, TGoogleDrive::ChunkGranularity);
        };
        m_fixture.KeepsLinks = false;
        return;
    }
    if (kind == QStringLiteral("cloud")) {
        QString problem;
        TDropboxStandIn& server = DropboxStandIn(problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        m_destination = std::make_unique<QTemporaryDir>(); // the data folder with the token file
        QVERIFY(m_destination->isValid());
        App().ApplicationDirectory = m_destination->path();
        QVERIFY(SaveRefreshToken(TCloudService::Dropbox, server.NewRefreshToken()));
        const QString folder = QStringLiteral("/Conformance ") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_job->DestinationSettings.DestinationType = dtCloud;
        m_job->DestinationSettings.Cloud.ServiceName = QStringLiteral("DropBox");
        m_job->DestinationSettings.Cloud.Subfolder = folder;
        auto branch = std::make_unique<TCloudStorageBranch>(*m_job);
        branch->ChunkSize = 65536;
        m_fixture.Branch = std::move(branch);
        m_fixture.Root = folder;
        m_fixture.LocalView = m_destination->path();
        TDropboxStandIn* standIn = &server;
        m_fixture.ReadRemote = [standIn](const QString& remote) { return standIn->File(remote); };
        m_fixture.RemoteExists = [standIn](const QString& remote) { return standIn->Exists(remote); };
        m_fixture.PutRemote = [standIn](const QString& remote, const QByteArray& data, bool) {
            TDropbox client(standIn->Endpoints());
            client.SetRefreshToken(standIn->NewRefreshToken());
            QBuffer buffer;
            buffer.setData(data);
            buffer.open(QIODevice::ReadOnly);
            return client.Upload(buffer, remote);
        };
        m_fixture.KeepsLinks = false;
        return;
    }
    if (kind == QStringLiteral("onedrive")) {
        QString problem;
        TOneDriveStandIn& server = OneDriveStandIn(problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        m_destination = std::make_unique<QTemporaryDir>(); // the data folder with the token file
        QVERIFY(m_destination->isValid());
        App().ApplicationDirectory = m_destination->path();
        QVERIFY(SaveRefreshToken(TCloudService::OneDrive, server.NewRefreshToken()));
        const QString folder = QStringLiteral("/Conformance ") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_job->DestinationSettings.DestinationType = dtCloud;
        m_job->DestinationSettings.Cloud.ServiceName = QStringLiteral("One Drive");
        m_job->DestinationSettings.Cloud.Subfolder = folder;
        auto branch = std::make_unique<TCloudStorageBranch>(*m_job);
        branch->ChunkSize = TOneDrive::FragmentUnit;
        m_fixture.Branch = std::move(branch);
        m_fixture.Root = folder;
        m_fixture.LocalView = m_destination->path();
        // The stand-in holds the names as OneDrive stores them.
        TOneDriveStandIn* standIn = &server;
        m_fixture.ReadRemote = [standIn](const QString& remote) {
            return standIn->File(TOneDrive::StoredPath(remote));
        };
        m_fixture.RemoteExists = [standIn](const QString& remote) {
            return standIn->Exists(TOneDrive::StoredPath(remote));
        };
        m_fixture.PutRemote = [standIn](const QString& remote, const QByteArray& data, bool) {
            TOneDrive client(standIn->Endpoints());
            client.SetRefreshToken(standIn->NewRefreshToken());
            QBuffer buffer;
            buffer.setData(data);
            buffer.open(QIODevice::ReadOnly);
            return client.UploadFile(buffer, remote, 0);
        };
        m_fixture.KeepsLinks = false;
        return;
    }
    if (kind.startsWith(QStringLiteral("ftp"))) {
        QString problem;
        TFtpServer& server = FtpServer(kind, problem);
        if (!problem.isEmpty())
            QSKIP(qPrintable(problem));
        const QString folder = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString disk = server.Root() + u'/' + folder;
        QVERIFY(QDir().mkpath(disk) && server.GiveToUser(disk));
        const TFtpConnectSettings settings = server.Settings();
        TFTPAccount account;
        account.ID = 7;
        account.AccName = QStringLiteral("conformance");
        account.Host = settings.Host;
        account.Port = settings.Port;
        account.Username = settings.Username;
        account.Password = settings.Password;
        account.FTPS = settings.FTPS;
        m_job->JobOptions.FTPAccounts = {account};
        m_job->DestinationSettings.DestinationType = dtFTP;
        m_job->DestinationSettings.FTP.AccountID = 7;
        m_job->DestinationSettings.FTP.Subfolder = JoinPath(server.ServerRoot(), folder);
        m_fixture.Branch = std::make_unique<TFtpBranch>(*m_job);
        m_fixture.Root = m_job->DestinationSettings.FTP.Subfolder;
        m_fixture.LocalView = disk;
        const QString root = m_fixture.Root;
        const auto onDisk = [root, disk](const QString& remote) { return QString(disk + remote.mid(root.size())); };
        m_fixture.ReadRemote = [onDisk](const QString& remote) { return ReadFile(onDisk(remote)); };
        m_fixture.RemoteExists = [onDisk](const QString& remote) { return QFileInfo::exists(onDisk(remote)); };
        TFtpServer* ftp = &server;
        m_fixture.PutRemote = [onDisk, ftp](const QString& remote, const QByteArray& data, bool readOnly) {
            const QString path = onDisk(remote);
            return WriteFile(path, data) && ftp->GiveToUser(path) &&
                   (!readOnly || QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        };
        m_fixture.KeepsLinks = false;
        return;
    }
    if (kind == QStringLiteral("network")) {
        QString problem;
        TSmbServer& server = SmbServer(problem);
        if (!problem.isEmpty())
            QSKIP(qPrintable(problem));
        const QString folder = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString disk = server.SharePath(QStringLiteral("share")) + u'/' + folder;
        QVERIFY(QDir().mkpath(disk) && GiveToShareUser(disk));
        m_job->DestinationSettings.DestinationType = dtNetwork;
        m_job->DestinationSettings.Network.UNCPath = server.Url(QStringLiteral("share")) + u'/' + folder;
        m_job->DestinationSettings.Network.Username = TSmbServer::User;
        m_job->DestinationSettings.Network.Password = TSmbServer::Password;
        auto branch = std::make_unique<TNetworkShareBranch>(*m_job);
        branch->CopyBlockSize = 65536;
        m_fixture.Branch = std::move(branch);
        m_fixture.Root = m_job->DestinationSettings.Network.UNCPath;
        m_fixture.LocalView = disk;
        const QString root = m_fixture.Root;
        // What the share stores under a destination path.
        const auto onDisk = [root, disk](const QString& remote) {
            QString path = disk;
            for (const QString& name : remote.mid(root.size()).split(u'/', Qt::SkipEmptyParts))
                path += u'/' + ToShareName(name);
            return path;
        };
        m_fixture.ReadRemote = [onDisk](const QString& remote) { return ReadFile(onDisk(remote)); };
        m_fixture.RemoteExists = [onDisk](const QString& remote) { return QFileInfo::exists(onDisk(remote)); };
        m_fixture.PutRemote = [onDisk](const QString& remote, const QByteArray& data, bool readOnly) {
            const QString path = onDisk(remote);
            return WriteFile(path, data) && GiveToShareUser(path) &&
                   (!readOnly || QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        };
        m_fixture.KeepsLinks = false;
        return;
    }
    QCOMPARE(kind, QStringLiteral("local"));
    m_destination = std::make_unique<QTemporaryDir>();
    QVERIFY(m_destination->isValid());
    m_job->DestinationSettings.DestinationType = dtLocalOrExternalDrive;
    m_job->DestinationSettings.LocalOrExternalDrive.Disk = m_destination->path();
    m_job->DestinationSettings.LocalOrExternalDrive.Subfolder = QStringLiteral("/");
    m_fixture.Branch = std::make_unique<TLocalDriveBranch>(*m_job);
    m_fixture.Root = m_destination->path();
    m_fixture.LocalView = m_fixture.Root;
    m_fixture.ReadRemote = [](const QString& remote) { return ReadFile(remote); };
    m_fixture.RemoteExists = [](const QString& remote) { return QFileInfo::exists(remote); };
    m_fixture.PutRemote = [](const QString& remote, const QByteArray& data, bool readOnly) {
        return WriteFile(remote, data) &&
               (!readOnly || QFile::setPermissions(remote, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    };
    m_fixture.KeepsLinks = true;
}

void tst_StorageBranchConformance::init() {
    QFETCH_GLOBAL(QString, branch);
    ResetGlobals(QString());
    m_job = std::make_unique<TJob_FilesAndFolders>(QStringLiteral("Conformance"));
    m_local = std::make_unique<QTemporaryDir>();
    QVERIFY(m_local->isValid());
    MakeFixture(branch);
    if (!m_fixture.Branch)
        return; // skipped
    const TConnectResult connection = m_fixture.Branch->Connect();
    QVERIFY2(connection.Connected, qPrintable(connection.Error));
}

void tst_StorageBranchConformance::cleanup() {
    if (m_fixture.Branch)
        m_fixture.Branch->Disconnect();
    m_fixture = TBranchFixture();
}

void tst_StorageBranchConformance::connectGivesTheBaseFolder() {
    const TConnectResult connection = m_fixture.Branch->Connect();
    QVERIFY(connection.Connected);
    QCOMPARE(connection.BasePath, m_fixture.Root);
    QVERIFY(connection.Error.isEmpty());
}

void tst_StorageBranchConformance::uploadAndDownloadRoundTrip_data() {
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("empty") << qsizetype(0);
    QTest::newRow("small") << qsizetype(1000);
    QTest::newRow("several chunks") << qsizetype(5 * 65536 + 7);
}

void tst_StorageBranchConformance::uploadAndDownloadRoundTrip() {
    QFETCH(qsizetype, size);
    if (auto* local = dynamic_cast<TLocalDriveBranch*>(m_fixture.Branch.get()))
        local->CopyChunkSize = 65536;
    const QByteArray data = Pattern(size, 7);
    QVERIFY(WriteFile(Local(QStringLiteral("up.bin")), data));

    const TBranchResult up =
        m_fixture.Branch->Upload(Local(QStringLiteral("up.bin")), Remote(QStringLiteral("up.bin")));
    QCOMPARE(up.Result, orSuccess);
    QCOMPARE(up.BytesSent, int64_t(size));
    QCOMPARE(m_fixture.ReadRemote(Remote(QStringLiteral("up.bin"))), data);

    const TBranchResult down =
        m_fixture.Branch->Download(Remote(QStringLiteral("up.bin")), Local(QStringLiteral("down.bin")));
    QCOMPARE(down.Result, orSuccess);
    QCOMPARE(ReadFile(Local(QStringLiteral("down.bin"))), data);
}

void tst_StorageBranchConformance::uploadReplacesAReadOnlyFile() {
    QVERIFY(m_fixture.PutRemote(Remote(QStringLiteral("job.vlj")), "old settings", true));
    QVERIFY(WriteFile(Local(QStringLiteral("job.vlj")), "new settings"));

    const TBranchResult result =
        m_fixture.Branch->Upload(Local(QStringLiteral("job.vlj")), Remote(QStringLiteral("job.vlj")));

    QCOMPARE(result.Result, orSuccess);
    QCOMPARE(m_fixture.ReadRemote(Remote(QStringLiteral("job.vlj"))), QByteArray("new settings"));
}

void tst_StorageBranchConformance::uploadOfAMissingLocalFileIsLocalAccess() {
    const TBranchResult result =
        m_fixture.Branch->Upload(Local(QStringLiteral("vanished.txt")), Remote(QStringLiteral("vanished.txt")));

    QCOMPARE(result.Result, orERROR_LocalAccess);
    QVERIFY(result.Message.startsWith(QStringLiteral("The file does not exist.")));
    QVERIFY(!m_fixture.RemoteExists(Remote(QStringLiteral("vanished.txt"))));
}

void tst_StorageBranchConformance::downloadOfAMissingFileFailsAndKeepsTheLocalFile() {
    QVERIFY(WriteFile(Local(QStringLiteral("keep.txt")), "local data"));

    const TBranchResult result =
        m_fixture.Branch->Download(Remote(QStringLiteral("absent.txt")), Local(QStringLiteral("keep.txt")));

    QCOMPARE(result.Result, orERROR_RemoteAccess);
    QCOMPARE(result.Message, QStringLiteral("The file does not exist."));
    QCOMPARE(ReadFile(Local(QStringLiteral("keep.txt"))), QByteArray("local data"));
}

void tst_StorageBranchConformance::createFolderMakesParentsAndAcceptsAnExistingOne() {
    const QString folder = Remote(QStringLiteral("job/2024-01-01 Full/sub"));
    QCOMPARE(m_fixture.Branch->CreateFolder(folder).Result, orSuccess);
    QCOMPARE(m_fixture.Branch->CreateFolder(folder).Result, orSuccess);
    QVERIFY(m_fixture.PutRemote(JoinPath(folder, QStringLiteral("file")), "x", false));

    QVERIFY(m_fixture.PutRemote(Remote(QStringLiteral("plain")), "a file, not a folder", false));
    QCOMPARE(m_fixture.Branch->CreateFolder(Remote(QStringLiteral("plain/below"))).Result, orERROR_RemoteAccess);
}

void tst_StorageBranchConformance::removeFileAndMissingFile() {
    QVERIFY(m_fixture.PutRemote(Remote(QStringLiteral("_startflag.vll")), "flag", true));

    QCOMPARE(m_fixture.Branch->RemoveFile(Remote(QStringLiteral("_startflag.vll"))).Result, orSuccess);
    QVERIFY(!m_fixture.RemoteExists(Remote(QStringLiteral("_startflag.vll"))));

    const TBranchResult again = m_fixture.Branch->RemoveFile(Remote(QStringLiteral("_startflag.vll")));
    QCOMPARE(again.Result, orERROR_RemoteAccess);
    QVERIFY(!again.Message.isEmpty());
}

void tst_StorageBranchConformance::removeFolderTreeRemovesLinksNotTheirTargets() {
    if (!m_fixture.KeepsLinks)
        QSKIP("this destination holds no symbolic links");
    const QString outside = Local(QStringLiteral("precious"));
    QVERIFY(QDir().mkpath(outside));
    QVERIFY(WriteFile(outside + QStringLiteral("/keep.txt"), "do not delete"));
    const QString tree = Remote(QStringLiteral("tree"));
    QCOMPARE(m_fixture.Branch->CreateFolder(tree + QStringLiteral("/a/b")).Result, orSuccess);
    QVERIFY(m_fixture.PutRemote(tree + QStringLiteral("/a/b/file"), "x", true));
    QVERIFY(QFile::link(outside, tree + QStringLiteral("/a/link-to-folder")));

    QCOMPARE(m_fixture.Branch->RemoveFolderTree(tree).Result, orSuccess);

    QVERIFY(!m_fixture.RemoteExists(tree));
    QCOMPARE(ReadFile(outside + QStringLiteral("/keep.txt")), QByteArray("do not delete"));
    QCOMPARE(m_fixture.Branch->RemoveFolderTree(tree).Result, orERROR_RemoteAccess);
}

void tst_StorageBranchConformance::renameMovesAndNeverReplaces_data() {
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("folder") << true << false;
    QTest::newRow("file") << false << false;
    QTest::newRow("folder onto an existing one") << true << true;
    QTest::newRow("file onto an existing one") << false << true;
}

void tst_StorageBranchConformance::renameMovesAndNeverReplaces() {
    QFETCH(bool, folder);
    QFETCH(bool, targetExists);
    const QString from = Remote(QStringLiteral("Old"));
    const QString to = Remote(QStringLiteral("New"));
    const QString content = folder ? QStringLiteral("/data.txt") : QString();
    if (folder)
        QCOMPARE(m_fixture.Branch->CreateFolder(from).Result, orSuccess);
    QVERIFY(m_fixture.PutRemote(from + content, "moved", false));
    if (targetExists) {
        if (folder)
            QCOMPARE(m_fixture.Branch->CreateFolder(to).Result, orSuccess);
        QVERIFY(m_fixture.PutRemote(to + content, "already there", false));
    }

    const TBranchResult result =
        folder ? m_fixture.Branch->RenameFolder(from, to) : m_fixture.Branch->RenameFile(from, to);

    QCOMPARE(result.Result, targetExists ? orERROR_RemoteAccess : orSuccess);
    QCOMPARE(m_fixture.ReadRemote(to + content), targetExists ? QByteArray("already there") : QByteArray("moved"));
    QCOMPARE(m_fixture.RemoteExists(from), targetExists);
}

void tst_StorageBranchConformance::cancelledUploadLeavesNothingUnderTheName() {
    if (auto* local = dynamic_cast<TLocalDriveBranch*>(m_fixture.Branch.get()))
        local->CopyChunkSize = 65536;
    QVERIFY(WriteFile(Local(QStringLiteral("big.bin")), Pattern(8 * 65536)));
    m_fixture.Branch->OnProgress = [this](int64_t done, int64_t) {
        if (done >= 65536)
            m_job->CancelCurrentFileOperation = 1;
    };

    const TBranchResult result =
        m_fixture.Branch->Upload(Local(QStringLiteral("big.bin")), Remote(QStringLiteral("big.bin")));

    QCOMPARE(result.Result, orERROR_RemoteAccess);
    QVERIFY(!m_fixture.RemoteExists(Remote(QStringLiteral("big.bin"))));
    QVERIFY(LeftoverPartFiles(m_fixture.LocalView).isEmpty());
}

void tst_StorageBranchConformance::awkwardNamesAreKept() {
    // Characters some destinations refuse in names, a "%" that must not read as an escape, and
    // a name beyond ASCII.
    const QString folder = Remote(QStringLiteral("a<b>c|d"));
    const QString name = QStringLiteral("x:y*z?\"q\" 100% \u00e9.txt");
    QCOMPARE(m_fixture.Branch->CreateFolder(folder).Result, orSuccess);
    QVERIFY(WriteFile(Local(QStringLiteral("awkward")), "awkward"));
    QCOMPARE(m_fixture.Branch->Upload(Local(QStringLiteral("awkward")), JoinPath(folder, name)).Result, orSuccess);

    QStringList folders, files;
    QVERIFY(m_fixture.Branch->ListFolder(m_fixture.Root, folders, files));
    QCOMPARE(folders, QStringList{QStringLiteral("a<b>c|d")});
    QVERIFY(m_fixture.Branch->ListFolder(folder, folders, files));
    QCOMPARE(files, QStringList{name});
    QCOMPARE(m_fixture.Branch->Download(JoinPath(folder, name), Local(QStringLiteral("back"))).Result, orSuccess);
    QCOMPARE(ReadFile(Local(QStringLiteral("back"))), QByteArray("awkward"));
    QCOMPARE(m_fixture.Branch->RemoveFolderTree(folder).Result, orSuccess);
    QVERIFY(!m_fixture.RemoteExists(folder));
}

QTEST_GUILESS_MAIN(tst_StorageBranchConformance)
#include "tst_StorageBranchConformance.moc"
