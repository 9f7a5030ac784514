#include "storage/TLocalDriveBranch.h"

#include "core/base/AtomicFile.h"
#include "core/base/DirectoryTree.h"
#include "core/model/TJob.h"
#include "storage/StoragePaths.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

QString SystemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// A source that is not there, or whose folder is not.
bool IsMissingError(int error) {
    return error == ENOENT || error == ENOTDIR;
}

bool IsFolder(const QString& path) {
    TFileDescriptor folder;
    return OpenFolderPath(QFile::encodeName(path), O_PATH, folder);
}

} // namespace

TLocalDriveBranch::TLocalDriveBranch(TJob& job)
    : TStorageBranch(job) {}

TConnectResult TLocalDriveBranch::Connect() {
    m_folders.Clear(); // folders may be renamed or replaced from here on
    const TLocalOrExternalDriveDestination& drive = m_job.DestinationSettings.LocalOrExternalDrive;
    QString subfolder = drive.Subfolder;
    if (subfolder.startsWith(u'/'))
        subfolder.remove(0, 1);
    const QString path = JoinPath(drive.Disk, subfolder);
    LogPathLine(QStringLiteral("Connecting to the external drive. Directory:"), path);
    // A destination is an absolute folder; a relative one would depend on the working folder.
    if (!drive.Disk.isEmpty() && path.startsWith(u'/') && IsFolder(path))
        return {true, path, {}};
    return {false, {}, Tr(QStringLiteral("The directory does not exist:")) + u' ' + path};
}

QString TLocalDriveBranch::Disconnect() {
    m_folders.Clear(); // folders may be renamed or replaced from here on
    return {};
}

TBranchResult TLocalDriveBranch::Upload(const QString& local, const QString& remote) {
    LogTransferLine(QStringLiteral("Copying the file:"), local);
    const TFileCopyResult copy = CopyFile(local, remote);
    if (copy.Ok())
        return TBranchResult::Success(copy.Bytes);
    if (copy.Side == TCopySide::Source && IsMissingError(copy.Error))
        return TBranchResult::LocalAccess(Tr(QStringLiteral("The file does not exist.")) + u' ' + local);
    if (copy.Side == TCopySide::Source)
        return TBranchResult::LocalAccess(Tr(copy.ErrorText()) + QStringLiteral(": ") + local);
    return TBranchResult::Failure(Tr(copy.ErrorText()));
}

TBranchResult TLocalDriveBranch::Download(const QString& remote, const QString& local) {
    LogTransferLine(QStringLiteral("Copying the file:"), remote);
    const TFileCopyResult copy = CopyFile(remote, local);
    if (copy.Ok())
        return TBranchResult::Success();
    if (copy.Side == TCopySide::Source && IsMissingError(copy.Error))
        return TBranchResult::Failure(Tr(QStringLiteral("The file does not exist.")));
    if (copy.Side == TCopySide::Target)
        return TBranchResult::LocalAccess(Tr(copy.ErrorText()) + QStringLiteral(": ") + local);
    return TBranchResult::Failure(Tr(copy.ErrorText()));
}

TBranchResult TLocalDriveBranch::RemoveFile(const QString& remote) {
    MakeWritable(remote); // the removal itself says whether it was possible
    LogTransferLine(QStringLiteral("Removing the file:"), remote);
    TFileDescriptor parent;
    QByteArray leaf;
    if (!OpenParentFolder(remote, parent, leaf) || ::unlinkat(parent.Get(), leaf.constData(), 0) != 0)
        return TBranchResult::Failure(SystemError(errno));
    return TBranchResult::Success();
}

TBranchResult TLocalDriveBranch::RemoveEmptyFolder(const QString& remote) {
    m_folders.Clear(); // folders may be renamed or replaced from here on
    LogPathLine(QStringLiteral("Removing the empty directory:"), remote);
    if (!DeleteDirectoryTree(remote))
        return TBranchResult::Failure(Tr(QStringLiteral("Unable to remove the directory.")));
    return TBranchResult::Success();
}

TBranchResult TLocalDriveBranch::RemoveFolderTree(const QString& remote) {
    m_folders.Clear(); // folders may be renamed or replaced from here on
    LogPathLine(QStringLiteral("Removing the full directory:"), remote);
    if (!DeleteDirectoryTree(remote))
        return TBranchResult::Failure(Tr(QStringLiteral("Unable to remove the directory.")));
    return TBranchResult::Success();
}

bool TLocalDriveBranch::ListFolder(const QString& remote, QStringList& folders, QStringList& files) {
    folders.clear();
    files.clear();
    DIR* dir = ::opendir(QFile::encodeName(remote).constData());
    if (!dir)
        return false;
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            ok = errno == 0;
            break;
        }
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            folder = ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        (folder ? folders : files).append(QFile::decodeName(name));
    }
    ::closedir(dir);
    return ok;
}

TBranchResult TLocalDriveBranch::CreateFolder(const QString& remote) {
    LogPathLine(QStringLiteral("Creating the directory:"), remote);
    QString error;
    if (!CreateFolderPath(remote, 0777, &error))
        return TBranchResult::Failure(error);
    return TBranchResult::Success();
}

TBranchResult TLocalDriveBranch::RenameFolder(const QString& remote, const QString& newPath) {
    LogPathLine(QStringLiteral("Renaming the directory:"), remote);
    return Rename(remote, newPath);
}

TBranchResult TLocalDriveBranch::RenameFile(const QString& remote, const QString& newPath) {
    LogPathLine(QStringLiteral("Renaming the file:"), remote);
    return Rename(remote, newPath);
}

TBranchResult TLocalDriveBranch::Rename(const QString& remote, const QString& newPath) {
    m_folders.Clear(); // folders may be renamed or replaced from here on
    TFileDescriptor fromParent, toParent;
    QByteArray fromLeaf, toLeaf;
    if (!OpenParentFolder(remote, fromParent, fromLeaf) || !OpenParentFolder(newPath, toParent, toLeaf))
        return TBranchResult::Failure(SystemError(errno));
    // A rename never replaces what is already there (rename(2) would, silently).
    if (::renameat2(fromParent.Get(), fromLeaf.constData(), toParent.Get(), toLeaf.constData(), RENAME_NOREPLACE) == 0)
        return TBranchResult::Success();
    if (errno != EINVAL && errno != ENOSYS)
        return TBranchResult::Failure(SystemError(errno));
    // The file system has no RENAME_NOREPLACE: check first, then rename.
    struct stat st;
    if (::fstatat(toParent.Get(), toLeaf.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return TBranchResult::Failure(SystemError(EEXIST));
    if (::renameat(fromParent.Get(), fromLeaf.constData(), toParent.Get(), toLeaf.constData()) != 0)
        return TBranchResult::Failure(SystemError(errno));
    return TBranchResult::Success();
}

TFileCopyResult TLocalDriveBranch::CopyFile(const QString& source, const QString& target) {
    TLocalFileCopy copy;
    copy.ChunkSize = CopyChunkSize;
    copy.Unbuffered = m_job.JobOptions.Processing.DontUseBufferingForCopyOperations;
    copy.CancelFlag = &m_job.CancelCurrentFileOperation;
    copy.Folders = &m_folders;
    copy.OnProgress = [this](int64_t done, int64_t total) { ReportProgress(done, total); };
    copy.BeforeReplacing = [this, &target] { return MakeWritable(target); };
    return copy.Copy(source, target);
}

int TLocalDriveBranch::MakeWritable(const QString& path) {
    int parent = AT_FDCWD;
    QByteArray leaf;
    struct stat st;
    if (!m_folders.Open(path, parent, leaf) || ::fstatat(parent, leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0; // nothing there to change
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) != 0)
        return 0;
    LogPathLine(QStringLiteral("Removing the read-only attribute:"), path);
    if (::fchmodat(parent, leaf.constData(), (st.st_mode & 07777) | S_IWUSR, 0) != 0)
        return errno;
    return 0;
}
