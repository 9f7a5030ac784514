#include "cloud/TCloudStorageBranch.h"

#include "cloud/TCloudDrive.h"
#include "core/model/JobTexts.h"
#include "core/model/TJob.h"
#include "storage/StorageBranchFactory.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <mutex>

namespace {

// "/" + the path below the drive's root; the root itself is "/".
QString DrivePath(const QString& remote) {
    QString path = remote;
    while (path.endsWith(u'/') && path.size() > 1)
        path.chop(1);
    return path.startsWith(u'/') ? path : u'/' + path;
}

QString LastComponent(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString ParentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

TCloudStorageBranch::TCloudStorageBranch(TJob& job)
    : TStorageBranch(job) {}

TCloudStorageBranch::~TCloudStorageBranch() = default;

TBranchResult TCloudStorageBranch::Failure() const {
    return TBranchResult::Failure(m_drive ? m_drive->ErrorText() : Tr(QStringLiteral("Unknown error.")));
}

TConnectResult TCloudStorageBranch::Connect() {
    m_drive.reset();
    const TCloudDestination& cloud = m_job.DestinationSettings.Cloud;
    std::unique_ptr<TCloudDrive> client;
    if (CloudServiceFromName(cloud.ServiceName, m_service))
        client = MakeCloudDrive(m_service, LoadCloudEndpoints());
    if (!client) {
        return {false,
                {},
                m_job.TrFormat(QStringLiteral("Destinations of the type \"%s\" are not available in this build."),
                               {StorageText(dtCloud) + QStringLiteral(" (") + cloud.ServiceName + u')'})};
    }
    client->RedirectURI.clear();
    client->SetRefreshToken(LoadRefreshToken(m_service));
    client->Http().Proxy = m_job.JobOptions.Proxy;
    // A job never opens a browser: it says where the user signs in again.
    const QString expired = m_job.TrFormat(CloudSessionExpiredTemplate(), {CloudServiceName(m_service)});
    client->OnAuthorizationCodeRequest = [expired](const QString&) { return TCodeAnswer{{}, expired}; };
    const auto progress = [this](int64_t done, int64_t total) {
        ReportProgress(done, total);
        return !CancelRequested();
    };
    client->OnUploadProgress = progress;
    client->OnDownloadProgress = progress;
    QList<TCloudItem> entries;
    if (!client->ListItems(QStringLiteral("/"), entries))
        return {false, {}, client->ErrorText()};
    m_drive = std::move(client);
    QString base = cloud.Subfolder;
    while (base.startsWith(u'/'))
        base.remove(0, 1);
    while (base.endsWith(u'/'))
        base.chop(1);
    return {true, u'/' + base, {}};
}

QString TCloudStorageBranch::Disconnect() {
    if (!m_drive)
        return {};
    const QString token = m_drive->RefreshToken();
    m_drive.reset();
    if (!SaveRefreshToken(m_service, token))
        return QStringLiteral("Unable to save the file: ") + TokenFilePath(m_service);
    return {};
}

TBranchResult TCloudStorageBranch::Upload(const QString& local, const QString& remote) {
    LogTransferLine(QStringLiteral("Uploading:"), local);
    QFile source(local);
    if (!source.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(local))
            return TBranchResult::LocalAccess(Tr(QStringLiteral("The file does not exist.")) + u' ' + local);
        return TBranchResult::LocalAccess(source.errorString() + QStringLiteral(": ") + local);
    }
    if (!m_drive)
        return Failure();
    const int64_t size = source.size();
    if (!m_drive->UploadFile(source, DrivePath(remote), ChunkSize))
        return Failure();
    return TBranchResult::Success(size);
}

TBranchResult TCloudStorageBranch::Download(const QString& remote, const QString& local) {
    LogTransferLine(QStringLiteral("Downloading the file:"), DrivePath(remote));
    if (!m_drive)
        return Failure();
    const QFileInfo existing(local);
    if (existing.exists() && !existing.isWritable()) {
        LogPathLine(QStringLiteral("Removing the read-only attribute:"), local);
        QFile::setPermissions(local, existing.permissions() | QFileDevice::WriteOwner);
    }
    // The old local file stays until the new one is complete.
    QSaveFile target(local);
    if (!target.open(QIODevice::WriteOnly))
        return TBranchResult::LocalAccess(target.errorString() + QStringLiteral(": ") + local);
    if (!m_drive->DownloadFile(DrivePath(remote), target)) {
        target.cancelWriting();
        if (m_drive->LastFailure() == TCloudFailure::NotFound)
            return TBranchResult::Failure(Tr(QStringLiteral("The file does not exist.")));
        return Failure();
    }
    if (!target.commit())
        return TBranchResult::LocalAccess(target.errorString() + QStringLiteral(": ") + local);
    return TBranchResult::Success();
}

TBranchResult TCloudStorageBranch::Remove(const QString& message, const QString& remote) {
    const QString path = DrivePath(remote);
    LogTransferLine(message, path);
    if (!m_drive)
        return Failure();
    if (path == u"/")
        return TBranchResult::Failure(QStringLiteral("The drive's root cannot be removed."));
    if (!m_drive->DeleteItem(path))
        return Failure();
    return TBranchResult::Success();
}

TBranchResult TCloudStorageBranch::RemoveFile(const QString& remote) {
    return Remove(QStringLiteral("Removing the file:"), remote);
}

TBranchResult TCloudStorageBranch::RemoveEmptyFolder(const QString& remote) {
    return Remove(QStringLiteral("Removing the empty directory:"), remote);
}

TBranchResult TCloudStorageBranch::RemoveFolderTree(const QString& remote) {
    return Remove(QStringLiteral("Removing the full directory:"), remote);
}

TBranchResult TCloudStorageBranch::CreateFolder(const QString& remote) {
    const QString path = DrivePath(remote);
    LogPathLine(QStringLiteral("Creating the directory:"), path);
    if (!m_drive)
        return Failure();
    if (path == u"/" || m_drive->MakeFolder(path))
        return TBranchResult::Success();
    // An existing folder is what was asked for; a file of that name is not.
    const QString error = m_drive->ErrorText();
    TCloudItem info;
    if (m_drive->LastFailure() == TCloudFailure::FolderExists && m_drive->StatItem(path, info) && info.IsDir)
        return TBranchResult::Success();
    return TBranchResult::Failure(error);
}

TBranchResult TCloudStorageBranch::Rename(const QString& message, const QString& remote, const QString& newPath) {
    const QString from = DrivePath(remote);
    LogPathLine(message, from);
    if (!m_drive)
        return Failure();
    // The drive renames within the folder; a new path elsewhere would be a move the caller did not ask for.
    if (ParentOf(from).compare(ParentOf(DrivePath(newPath)), Qt::CaseInsensitive) != 0)
        return TBranchResult::Failure(QStringLiteral("A rename cannot move the item to another folder: ") + newPath);
    if (!m_drive->RenameItem(from, LastComponent(DrivePath(newPath))))
        return Failure();
    return TBranchResult::Success();
}

TBranchResult TCloudStorageBranch::RenameFolder(const QString& remote, const QString& newPath) {
    return Rename(QStringLiteral("Renaming the directory:"), remote, newPath);
}

TBranchResult TCloudStorageBranch::RenameFile(const QString& remote, const QString& newPath) {
    return Rename(QStringLiteral("Renaming the file:"), remote, newPath);
}

bool TCloudStorageBranch::ListFolder(const QString& remote, QStringList& folders, QStringList& files) {
    folders.clear();
    files.clear();
    QList<TCloudItem> entries;
    if (!m_drive || !m_drive->ListItems(DrivePath(remote), entries))
        return false;
    for (const TCloudItem& entry : entries)
        (entry.IsDir ? folders : files).append(entry.Name);
    return true;
}

void RegisterCloudStorageBranch() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterStorageBranchMaker(dtCloud, [](TJob& job) -> std::unique_ptr<TStorageBranch> {
            return std::make_unique<TCloudStorageBranch>(job);
        });
    });
}
