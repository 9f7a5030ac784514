#include "storage/TNetworkShareBranch.h"

#include "core/base/TFileDescriptor.h"
#include "core/model/TJob.h"
#include "storage/TLocalFileCopy.h"

#include <libsmbclient.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

QString SystemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// 0666 less the umask, as open(2) would give a new file. The umask is read from the process
// status: setting it to read it would race with other threads creating files.
mode_t NewFileMode() {
    static const mode_t mode = [] {
        mode_t mask = 022;
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        mask = mode_t(value);
                }
            }
        }
        return mode_t(0666 & ~mask);
    }();
    return mode;
}

} // namespace

TNetworkShareBranch::TNetworkShareBranch(TJob& job, TSleeper* sleeper)
    : TStorageBranch(job)
    , m_connection(sleeper) {}

std::vector<char>& TNetworkShareBranch::Block() {
    const size_t size = size_t(std::max<int64_t>(CopyBlockSize, 4096));
    if (m_block.size() != size)
        m_block.resize(size);
    return m_block;
}

TBranchResult TNetworkShareBranch::Failure(int error) const {
    return TBranchResult::Failure(SystemError(error ? error : EIO));
}

QByteArray TNetworkShareBranch::Url(const QString& remote) const {
    if (m_root.isEmpty() || !remote.startsWith(m_root))
        return {};
    const QString below = remote.mid(m_root.size());
    if (!below.isEmpty() && !below.startsWith(u'/'))
        return {};
    for (const QString& name : below.split(u'/', Qt::SkipEmptyParts))
        if (name == u'.' || name == QStringLiteral(".."))
            return {};
    return ShareItemUrl(m_connection.Share(), below);
}

int TNetworkShareBranch::Stat(const QByteArray& url, struct stat& st) const {
    SMBCCTX* context = m_connection.Context();
    const auto lock = TNetworkPathConnection::LockLibrary();
    return smbc_getFunctionStat(context)(context, url.constData(), &st) == 0 ? 0 : (errno ? errno : EIO);
}

TConnectResult TNetworkShareBranch::Connect() {
    const TNetworkDestination& network = m_job.DestinationSettings.Network;
    LogPathLine(QStringLiteral("Connecting to the network. Directory:"), network.UNCPath);
    if (!m_connection.Connect(network.UNCPath, network.Username, network.Password))
        return {false, {}, m_connection.FLastError};
    TSharePath share = m_connection.Share();
    const QString folder = share.Folder;
    share.Folder.clear();
    m_root = share.ToUrlText();
    const QString base = folder.isEmpty() ? m_root : m_root + u'/' + folder;
    struct stat st;
    if (Stat(Url(base), st) != 0 || !S_ISDIR(st.st_mode)) {
        m_connection.Disconnect(true);
        m_root.clear();
        return {false, {}, Tr(QStringLiteral("The directory does not exist:")) + u' ' + network.UNCPath};
    }
    return {true, base, {}};
}

QString TNetworkShareBranch::Disconnect() {
    m_connection.Disconnect(false);
    m_root.clear();
    return {};
}

int TNetworkShareBranch::MakeWritable(const QString& remote, const QByteArray& url) {
    struct stat st;
    if (Stat(url, st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) != 0)
        return 0; // nothing there to change
    LogPathLine(QStringLiteral("Removing the read-only attribute:"), remote);
    SMBCCTX* context = m_connection.Context();
    const auto lock = TNetworkPathConnection::LockLibrary();
    return smbc_getFunctionChmod(context)(context, url.constData(), 0666) == 0 ? 0 : errno;
}

TBranchResult TNetworkShareBranch::Upload(const QString& local, const QString& remote) {
    LogTransferLine(QStringLiteral("Copying the file:"), local);
    const TFileDescriptor source(::open(QFile::encodeName(local).constData(), O_RDONLY | O_CLOEXEC));
    struct stat localStat;
    if (!source.IsOpen() || ::fstat(source.Get(), &localStat) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return TBranchResult::LocalAccess(Tr(QStringLiteral("The file does not exist.")) + u' ' + local);
        return TBranchResult::LocalAccess(SystemError(error) + QStringLiteral(": ") + local);
    }
    if (!S_ISREG(localStat.st_mode))
        return TBranchResult::LocalAccess(QStringLiteral("Not a regular file: ") + local);
    const QByteArray url = Url(remote);
    if (url.isEmpty())
        return Failure(EINVAL);

    // The copy goes to a new name beside the target and takes the target's name only when
    // complete, so a failed or cancelled copy never leaves a partial file under the real name,
    // not even when the connection drops before the partial file can be removed.
    const QByteArray temporary =
        Url(remote.left(remote.lastIndexOf(u'/') + 1) + QStringLiteral(".vaultora-") +
            QString::number(QRandomGenerator::global()->generate64(), 16) + QStringLiteral(".part"));
    SMBCCTX* context = m_connection.Context();
    SMBCFILE* target = nullptr;
    {
        const auto lock = TNetworkPathConnection::LockLibrary();
        target = smbc_getFunctionOpen(context)(context, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (!target)
            return Failure(errno);
    }
    auto discard = [&](int error) {
        const auto lock = TNetworkPathConnection::LockLibrary();
        if (target)
            smbc_getFunctionClose(context)(context, target);
        smbc_getFunctionUnlink(context)(context, temporary.constData());
        return error;
    };
    const int64_t total = localStat.st_size;
    int64_t done = 0;
    std::vector<char>& block = Block();
    for (;;) {
        if (CancelRequested())
            return TBranchResult::Failure(SystemError(discard(ECANCELED)));
        const ssize_t got = ::read(source.Get(), block.data(), block.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            discard(error);
            return TBranchResult::LocalAccess(SystemError(error) + QStringLiteral(": ") + local);
        }
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;) {
            ssize_t n = 0;
            {
                const auto lock = TNetworkPathConnection::LockLibrary();
                n = smbc_getFunctionWrite(context)(context, target, block.data() + written, size_t(got - written));
            }
            if (n <= 0)
                return Failure(discard(n < 0 ? errno : EIO));
            written += n;
        }
        done += got;
        ReportProgress(done, total);
        if (OnProgress)
            OnProgress(done, total);
    }
    {
        const auto lock = TNetworkPathConnection::LockLibrary();
        const int closed = smbc_getFunctionClose(context)(context, target);
        target = nullptr;
        if (closed != 0) {
            const int error = errno;
            smbc_getFunctionUnlink(context)(context, temporary.constData());
            return Failure(error);
        }
        // The last-write time travels with the file where the share keeps it.
        struct timeval times[2];
        times[0].tv_sec = localStat.st_atim.tv_sec;
        times[0].tv_usec = localStat.st_atim.tv_nsec / 1000;
        times[1].tv_sec = localStat.st_mtim.tv_sec;
        times[1].tv_usec = localStat.st_mtim.tv_nsec / 1000;
        smbc_getFunctionUtimes(context)(context, temporary.constData(), times);
    }
    // Most uploads make a new file: the rename is tried first and an old file handled only when
    // it is in the way (an SMB rename does not replace), which saves two requests per file.
    if (const int error = RenameOver(temporary, url, remote)) {
        const auto lock = TNetworkPathConnection::LockLibrary();
        smbc_getFunctionUnlink(context)(context, temporary.constData());
        return Failure(error);
    }
    return TBranchResult::Success(done);
}

int TNetworkShareBranch::RenameOver(const QByteArray& from, const QByteArray& to, const QString& remote) {
    SMBCCTX* context = m_connection.Context();
    {
        const auto lock = TNetworkPathConnection::LockLibrary();
        if (smbc_getFunctionRename(context)(context, from.constData(), context, to.constData()) == 0)
            return 0;
        if (errno != EEXIST)
            return errno;
    }
    // The old file goes just before the new one takes its name.
    MakeWritable(remote, to);
    const auto lock = TNetworkPathConnection::LockLibrary();
    if (smbc_getFunctionUnlink(context)(context, to.constData()) != 0 && errno != ENOENT)
        return errno;
    return smbc_getFunctionRename(context)(context, from.constData(), context, to.constData()) == 0 ? 0 : errno;
}

TBranchResult TNetworkShareBranch::Download(const QString& remote, const QString& local) {
    LogTransferLine(QStringLiteral("Copying the file:"), remote);
    const QByteArray url = Url(remote);
    if (url.isEmpty())
        return Failure(EINVAL);
    // One open and a status query on its handle: a separate look-up by name first would cost
    // another round of requests per file, which is most of the time a small file takes.
    SMBCCTX* context = m_connection.Context();
    SMBCFILE* source = nullptr;
    struct stat remoteStat;
    {
        const auto lock = TNetworkPathConnection::LockLibrary();
        source = smbc_getFunctionOpen(context)(context, url.constData(), O_RDONLY, 0);
        int error = source ? 0 : errno;
        if (source && smbc_getFunctionFstat(context)(context, source, &remoteStat) != 0)
            error = errno;
        else if (source && !S_ISREG(remoteStat.st_mode))
            error = ENOENT;
        if (error != 0) {
            if (source)
                smbc_getFunctionClose(context)(context, source);
            if (error == ENOENT || error == ENOTDIR || error == EISDIR)
                return TBranchResult::Failure(Tr(QStringLiteral("The file does not exist.")));
            return Failure(error);
        }
    }
    const QFileInfo existing(local);
    if (existing.exists() && !existing.isWritable()) {
        LogPathLine(QStringLiteral("Removing the read-only attribute:"), local);
        QFile::setPermissions(local, existing.permissions() | QFileDevice::WriteOwner);
    }
    // The old local file stays until the new one is complete; the new one gets its permission
    // bits (a new file those of any new file) and the share's times.
    struct stat localStat;
    const mode_t mode = ::stat(QFile::encodeName(local).constData(), &localStat) == 0 && S_ISREG(localStat.st_mode)
                            ? localStat.st_mode & 07777
                            : NewFileMode();
    const struct timespec times[2] = {remoteStat.st_atim, remoteStat.st_mtim};
    const int64_t total = remoteStat.st_size;
    int64_t done = 0;
    bool remoteFailed = false;
    std::vector<char>& block = Block();
    TLocalFileCopy writer;
    const TFileCopyResult written = writer.Receive(
        local,
        [&](int fd, TCopySide& side) {
            while (done < total) {
                if (CancelRequested())
                    return ECANCELED;
                // Never more than is left: the library would otherwise ask the server once more
                // only to hear that the file ends, a request more for every small file.
                const size_t wanted = size_t(std::min<int64_t>(int64_t(block.size()), total - done));
                ssize_t got = 0;
                {
                    const auto lock = TNetworkPathConnection::LockLibrary();
                    got = smbc_getFunctionRead(context)(context, source, block.data(), wanted);
                }
                if (got <= 0) {
                    side = TCopySide::Source;
                    remoteFailed = true;
                    return got < 0 ? errno : EIO; // shorter than its size: changed under us
                }
                for (ssize_t put = 0; put < got;) {
                    const ssize_t n = ::write(fd, block.data() + put, size_t(got - put));
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n < 0) {
                        side = TCopySide::Target;
                        return errno;
                    }
                    put += n;
                }
                done += got;
                ReportProgress(done, total);
                if (OnProgress)
                    OnProgress(done, total);
            }
            return 0;
        },
        mode, times);
    {
        const auto lock = TNetworkPathConnection::LockLibrary();
        smbc_getFunctionClose(context)(context, source);
    }
    if (written.Ok())
        return TBranchResult::Success();
    if (written.Cancelled() || remoteFailed)
        return Failure(written.Error);
    return TBranchResult::LocalAccess(written.ErrorText() + QStringLiteral(": ") + local);
}

TBranchResult TNetworkShareBranch::RemoveFile(const QString& remote) {
    const QByteArray url = Url(remote);
    if (url.isEmpty())
        return Failure(EINVAL);
    MakeWritable(remote, url);
    LogTransferLine(QStringLiteral("Removing the file:"), remote);
    SMBCCTX* context = m_connection.Context();
    const auto lock = TNetworkPathConnection::LockLibrary();
    if (smbc_getFunctionUnlink(context)(context, url.constData()) != 0)
        return Failure(errno);
    return TBranchResult::Success();
}

int TNetworkShareBranch::RemoveTree(const QByteArray& url) {
    SMBCCTX* context = m_connection.Context();
    QList<QByteArray> folders;
    QList<QByteArray> files;
    {
        const auto lock = TNetworkPathConnection::LockLibrary();
        SMBCFILE* dir = smbc_getFunctionOpendir(context)(context, url.constData());
        if (!dir)
            return errno;
        while (const smbc_dirent* entry = smbc_getFunctionReaddir(context)(context, dir)) {
            const QByteArray name(entry->name);
            if (name == "." || name == "..")
                continue;
            const QByteArray item = url + '/' + QUrl::toPercentEncoding(QString::fromUtf8(name));
            (entry->smbc_type == SMBC_DIR ? folders : files).append(item);
        }
        smbc_getFunctionClosedir(context)(context, dir);
    }
    for (const QByteArray& folder : std::as_const(folders))
        if (const int error = RemoveTree(folder))
            return error;
    const auto lock = TNetworkPathConnection::LockLibrary();
    for (const QByteArray& file : std::as_const(files)) {
        if (smbc_getFunctionUnlink(context)(context, file.constData()) == 0)
            continue;
        // A read-only file refuses removal until its attribute is cleared.
        if (smbc_getFunctionChmod(context)(context, file.constData(), 0666) != 0 ||
            smbc_getFunctionUnlink(context)(context, file.constData()) != 0)
            return errno;
    }
    return smbc_getFunctionRmdir(context)(context, url.constData()) == 0 ? 0 : errno;
}

TBranchResult TNetworkShareBranch::RemoveEmptyFolder(const QString& remote) {
    LogPathLine(QStringLiteral("Removing the empty directory:"), remote);
    const QByteArray url = Url(remote);
    if (url.isEmpty() || RemoveTree(url) != 0)
        return TBranchResult::Failure(Tr(QStringLiteral("Unable to remove the directory.")));
    return TBranchResult::Success();
}

TBranchResult TNetworkShareBranch::RemoveFolderTree(const QString& remote) {
    LogPathLine(QStringLiteral("Removing the full directory:"), remote);
    const QByteArray url = Url(remote);
    if (url.isEmpty() || RemoveTree(url) != 0)
        return TBranchResult::Failure(Tr(QStringLiteral("Unable to remove the directory.")));
    return TBranchResult::Success();
}

bool TNetworkShareBranch::ListFolder(const QString& remote, QStringList& folders, QStringList& files) {
    folders.clear();
    files.clear();
    const QByteArray url = Url(remote);
    if (url.isEmpty())
        return false;
    SMBCCTX* context = m_connection.Context();
    const auto lock = TNetworkPathConnection::LockLibrary();
    SMBCFILE* dir = smbc_getFunctionOpendir(context)(context, url.constData());
    if (!dir)
        return false;
    while (const smbc_dirent* entry = smbc_getFunctionReaddir(context)(context, dir)) {
        const QByteArray name(entry->name);
        if (name == "." || name == "..")
            continue;
        (entry->smbc_type == SMBC_DIR ? folders : files).append(FromShareName(QString::fromUtf8(name)));
    }
    smbc_getFunctionClosedir(context)(context, dir);
    return true;
}

TBranchResult TNetworkShareBranch::CreateFolder(const QString& remote) {
    LogPathLine(QStringLiteral("Creating the directory:"), remote);
    if (Url(remote).isEmpty())
        return Failure(EINVAL);
    // Each missing folder from the share's root down.
    SMBCCTX* context = m_connection.Context();
    QString path = m_root;
    for (const QString& name : remote.mid(m_root.size()).split(u'/', Qt::SkipEmptyParts)) {
        path += u'/' + name;
        const QByteArray url = Url(path);
        struct stat st;
        if (Stat(url, st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return Failure(ENOTDIR);
            continue;
        }
        const auto lock = TNetworkPathConnection::LockLibrary();
        if (smbc_getFunctionMkdir(context)(context, url.constData(), 0777) != 0 && errno != EEXIST)
            return Failure(errno);
    }
    return TBranchResult::Success();
}

TBranchResult TNetworkShareBranch::RenameFolder(const QString& remote, const QString& newPath) {
    LogPathLine(QStringLiteral("Renaming the directory:"), remote);
    return Rename(remote, newPath);
}

TBranchResult TNetworkShareBranch::RenameFile(const QString& remote, const QString& newPath) {
    LogPathLine(QStringLiteral("Renaming the file:"), remote);
    return Rename(remote, newPath);
}

TBranchResult TNetworkShareBranch::Rename(const QString& remote, const QString& newPath) {
    const QByteArray from = Url(remote);
    const QByteArray to = Url(newPath);
    if (from.isEmpty() || to.isEmpty())
        return Failure(EINVAL);
    // A rename never replaces what is already there.
    struct stat st;
    const int existing = Stat(to, st);
    if (existing == 0)
        return Failure(EEXIST);
    SMBCCTX* context = m_connection.Context();
    const auto lock = TNetworkPathConnection::LockLibrary();
    if (smbc_getFunctionRename(context)(context, from.constData(), context, to.constData()) != 0)
        return Failure(errno);
    return TBranchResult::Success();
}
