#include "cloud/TCloudStorageBranch.h"

#include "cloud/TDropbox.h"
#include "core/model/JobTexts.h"
#include "core/model/TJob.h"
#include "core/settings/TAppGlobals.h"
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

bool IsNotFound(const QString& errorText) {
    return errorText.contains(u"not_found");
}

} // namespace

TCloudStorageBranch::TCloudStorageBranch(TJob& job)
    : TStorageBranch(job) {}

TCloudStorageBranch::~TCloudStorageBranch() = default;

TBranchResult TCloudStorageBranch::Failure() const {
    return TBranchResult::Failure(m_dropbox ? m_dropbox->ErrorText() : Tr(QStringLiteral("Unknown error.")));
}

TConnectResult TCloudStorageBranch::Connect() {
    m_dropbox.reset();
    const TCloudDestination& cloud = m_job.DestinationSettings.Cloud;
    if (!CloudServiceFromName(cloud.ServiceName, m_service) || m_service != TCloudService::Dropbox) {
        return {false,
                {},
                m_job.TrFormat(QStringLiteral("Destinations of the type \"%s\" are not available in this build."),
                               {StorageText(dtCloud) + QStringLiteral(" (") + cloud.ServiceName + u')'})};
    }
    const TAppGlobals& app = App();
    auto client = std::make_unique<TDropbox>(LoadCloudEndpoints());
    client->ClientID = app.DropboxClientId;
    client->ClientSecret = app.DropboxClientSecret;
    client->Scopes = TDropbox::JobScopes();
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
    QList<TDFileInfo> entries;
    if (!client->ListFolder(QStringLiteral("/"), entries))
        return {false, {}, client->ErrorText()};
    m_dropbox = std::move(client);
    QString base = cloud.Subfolder;
    while (base.startsWith(u'/'))
        base.remove(0, 1);
    while (base.endsWith(u'/'))
        base.chop(1);
    return {true, u'/' + base, {}};
}

QString TCloudStorageBranch::Disconnect() {
    if (!m_dropbox)
        return {};
    const QString token = m_dropbox->RefreshToken();
    m_dropbox.reset();
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
    if (!m_dropbox)
        return Failure();
    const int64_t size = source.size();
    if (!m_dropbox->UploadInSession(source, DrivePath(remote), ChunkSize))
        return Failure();
    return TBranchResult::Success(size);
}

TBranchResult TCloudStorageBranch::Download(const QString& remote, const QString& local) {
    LogTransferLine(QStringLiteral("Downloading the file:"), DrivePath(remote));
    if (!m_dropbox)
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
    if (!m_dropbox->DownloadByPathName(DrivePath(remote), target)) {
        target.cancelWriting();
        if (IsNotFound(m_dropbox->ErrorText()))
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
    if (!m_dropbox)
        return Failure();
    if (path == u"/")
        return TBranchResult::Failure(QStringLiteral("The drive's root cannot be removed."));
    if (!m_dropbox->DeleteByPathName(path))
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
    if (!m_dropbox)
        return Failure();
    if (path == u"/" || m_dropbox->CreateFolder(path))
        return TBranchResult::Success();
    // An existing folder is what was asked for; a file of that name is not.
    const QString error = m_dropbox->ErrorText();
    TDFileInfo info;
    if (error.startsWith(u"path/conflict/folder") && m_dropbox->GetByPathName(path, info) && info.IsDir)
        return TBranchResult::Success();
    return TBranchResult::Failure(error);
}

TBranchResult TCloudStorageBranch::Rename(const QString& message, const QString& remote, const QString& newPath) {
    const QString from = DrivePath(remote);
    LogPathLine(message, from);
    if (!m_dropbox)
        return Failure();
    // The drive renames within the folder; a new path elsewhere would be a move the caller did not ask for.
    if (ParentOf(from).compare(ParentOf(DrivePath(newPath)), Qt::CaseInsensitive) != 0)
        return TBranchResult::Failure(QStringLiteral("A rename cannot move the item to another folder: ") + newPath);
    if (!m_dropbox->RenameByPathName(from, LastComponent(DrivePath(newPath))))
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
    QList<TDFileInfo> entries;
    if (!m_dropbox || !m_dropbox->ListFolder(DrivePath(remote), entries))
        return false;
    for (const TDFileInfo& entry : entries) {
        if (entry.IsDeleted)
            continue;
        (entry.IsDir ? folders : files).append(entry.Name);
    }
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
