#include "storage/TLocalFileCopy.h"

#include "core/base/DirectoryTree.h"
#include "core/base/TFileDescriptor.h"
#include "storage/TParentFolderCache.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// O_DIRECT wants buffers, offsets and lengths aligned to the device's logical block; 4096
// covers the common 512-byte and 4 KiB devices.
constexpr int64_t DirectIoAlignment = 4096;

struct TFreeDeleter {
    void operator()(char* data) const { std::free(data); }
};
using TAlignedBuffer = std::unique_ptr<char, TFreeDeleter>;

QByteArray TemporaryName() {
    return ".vaultora-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".part";
}

// Files opened with O_TMPFILE get their name through /proc/self/fd.
bool CanLinkUnnamedFiles() {
    static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
    return usable;
}

bool SetDirectIo(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

bool HasDirectIo(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_DIRECT) != 0;
}

// One copy in progress: the open files and the hidden file that becomes the target.
class TCopyRun {
public:
    TCopyRun(const TLocalFileCopy& settings, TFileCopyResult& result)
        : m_settings(settings)
        , m_result(result) {}
    ~TCopyRun() {
        if (!m_temporary.isEmpty())
            ::unlinkat(m_targetDir, m_temporary.constData(), 0);
        if (!m_created.isEmpty())
            ::unlinkat(m_targetDir, m_created.constData(), 0);
    }

    bool Run(const QString& source, const QString& target);
    bool Receive(const QString& target, const TLocalFileCopy::TFill& fill, mode_t mode, const struct timespec* times);

private:
    bool Fail(TCopySide side, int error) {
        m_result.Side = side;
        m_result.Error = error;
        return false;
    }
    bool Cancelled() const { return m_settings.CancelFlag && m_settings.CancelFlag->Load() != 0; }
    bool CopyLink(const struct stat& st);
    bool CopyData(int in, int out, int64_t total);
    bool ReadWriteChunk(int in, int out, int64_t& copied);
    bool OpenParents(const QString& source, const QString& target);
    // Writes the target through write (which fails through Fail), then gives it mode and times
    // and its name.
    bool WriteTarget(const std::function<bool(int out)>& write, mode_t mode, const struct timespec* times);
    bool LinkUnnamed(TFileDescriptor& out);
    bool Finish();

    const TLocalFileCopy& m_settings;
    TFileCopyResult& m_result;
    int m_sourceDir = AT_FDCWD;
    int m_targetDir = AT_FDCWD;
    TFileDescriptor m_sourceParent; // owned when no cache holds them
    TFileDescriptor m_targetParent;
    QByteArray m_sourceLeaf;
    QByteArray m_targetLeaf;
    QByteArray m_temporary; // the hidden file's name while it exists
    QByteArray m_created;   // the new target's name while its copy is incomplete
    TAlignedBuffer m_buffer;
    int64_t m_chunk = 0;
};

bool TCopyRun::OpenParents(const QString& source, const QString& target) {
    if (TParentFolderCache* cache = m_settings.Folders) {
        if (!cache->Open(source, m_sourceDir, m_sourceLeaf))
            return Fail(TCopySide::Source, errno);
        if (!cache->Open(target, m_targetDir, m_targetLeaf))
            return Fail(TCopySide::Target, errno);
        return true;
    }
    if (!OpenParentFolder(source, m_sourceParent, m_sourceLeaf))
        return Fail(TCopySide::Source, errno);
    if (!OpenParentFolder(target, m_targetParent, m_targetLeaf))
        return Fail(TCopySide::Target, errno);
    m_sourceDir = m_sourceParent.Get();
    m_targetDir = m_targetParent.Get();
    return true;
}

bool TCopyRun::Run(const QString& source, const QString& target) {
    if (!OpenParents(source, target))
        return false;
    m_chunk = std::max(m_settings.ChunkSize, DirectIoAlignment);
    m_chunk -= m_chunk % DirectIoAlignment;

    // The source opens without following a link: a link answers ELOOP and is copied as a link.
    // O_NONBLOCK: a FIFO put in the file's place must not block the open.
    struct stat st;
    TFileDescriptor in(::openat(m_sourceDir, m_sourceLeaf.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.IsOpen()) {
        const int error = errno;
        if (error == ELOOP && ::fstatat(m_sourceDir, m_sourceLeaf.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            return CopyLink(st);
        return Fail(TCopySide::Source, error);
    }
    if (::fstat(in.Get(), &st) != 0)
        return Fail(TCopySide::Source, errno);
    if (!S_ISREG(st.st_mode))
        return Fail(TCopySide::Source, S_ISDIR(st.st_mode) ? EISDIR : TFileCopyResult::NotRegularFile);
    ::fcntl(in.Get(), F_SETFL, 0); // the open's O_NONBLOCK is the only status flag set

    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    return WriteTarget([&](int out) { return CopyData(in.Get(), out, st.st_size); }, st.st_mode & 07777, times);
}

bool TCopyRun::Receive(const QString& target, const TLocalFileCopy::TFill& fill, mode_t mode,
                       const struct timespec* times) {
    if (!OpenParentFolder(target, m_targetParent, m_targetLeaf))
        return Fail(TCopySide::Target, errno);
    m_targetDir = m_targetParent.Get();
    return WriteTarget(
        [&](int out) {
            TCopySide side = TCopySide::None;
            if (const int error = fill(out, side))
                return Fail(side, error);
            return true;
        },
        mode, times);
}

bool TCopyRun::WriteTarget(const std::function<bool(int out)>& write, mode_t mode, const struct timespec* times) {
    // A new file is written under its own name, private (0600) until complete, and removed again
    // if the copy fails. An existing target is replaced only by a complete copy: the data goes to
    // a file without a name (or, where the file system has none of those, a hidden file beside
    // the target) that takes the target's place at the end.
    TFileDescriptor out(
        ::openat(m_targetDir, m_targetLeaf.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    bool unnamed = false;
    if (out.IsOpen()) {
        m_created = m_targetLeaf;
    } else {
        if (errno != EEXIST)
            return Fail(TCopySide::Target, errno);
        if (m_settings.BeforeReplacing) {
            if (const int error = m_settings.BeforeReplacing())
                return Fail(TCopySide::Target, error);
        }
        if (CanLinkUnnamedFiles()) {
            out.Reset(::openat(m_targetDir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
            unnamed = out.IsOpen();
        }
        for (int tries = 0; tries < 8 && !out.IsOpen(); ++tries) {
            m_temporary = TemporaryName();
            out.Reset(::openat(m_targetDir, m_temporary.constData(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!out.IsOpen() && errno != EEXIST)
                break;
        }
        if (!out.IsOpen()) {
            m_temporary.clear();
            return Fail(TCopySide::Target, errno);
        }
    }
    if (!write(out.Get()))
        return false;
    if (::fchmod(out.Get(), mode) != 0)
        return Fail(TCopySide::Target, errno);
    if (times && ::futimens(out.Get(), times) != 0)
        return Fail(TCopySide::Target, errno);
    if (unnamed)
        return LinkUnnamed(out);
    // Network file systems report some write errors only when the file is closed.
    if (::close(out.Release()) != 0)
        return Fail(TCopySide::Target, errno);
    if (!m_created.isEmpty()) {
        m_created.clear();
        return true;
    }
    return Finish();
}

bool TCopyRun::LinkUnnamed(TFileDescriptor& out) {
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(out.Get());
    if (::linkat(AT_FDCWD, self.constData(), m_targetDir, m_targetLeaf.constData(), AT_SYMLINK_FOLLOW) == 0) {
        if (::close(out.Release()) != 0) {
            const int error = errno;
            ::unlinkat(m_targetDir, m_targetLeaf.constData(), 0);
            return Fail(TCopySide::Target, error);
        }
        return true;
    }
    if (errno != EEXIST)
        return Fail(TCopySide::Target, errno);
    // Something is there already: the copy replaces it at once, with a rename as above.
    for (int tries = 0; tries < 8; ++tries) {
        m_temporary = TemporaryName();
        if (::linkat(AT_FDCWD, self.constData(), m_targetDir, m_temporary.constData(), AT_SYMLINK_FOLLOW) == 0)
            break;
        const int error = errno;
        m_temporary.clear();
        if (error != EEXIST || tries == 7)
            return Fail(TCopySide::Target, error);
    }
    if (::close(out.Release()) != 0)
        return Fail(TCopySide::Target, errno);
    return Finish();
}

bool TCopyRun::CopyLink(const struct stat& st) {
    QByteArray text(qsizetype(std::max<off_t>(st.st_size, 64)) + 1, Qt::Uninitialized);
    for (;;) {
        const ssize_t length = ::readlinkat(m_sourceDir, m_sourceLeaf.constData(), text.data(), size_t(text.size()));
        if (length < 0)
            return Fail(TCopySide::Source, errno);
        if (length < text.size()) {
            text.truncate(length);
            break;
        }
        text.resize(text.size() * 2); // the link grew meanwhile
    }
    for (int tries = 0; tries < 8; ++tries) {
        m_temporary = TemporaryName();
        if (::symlinkat(text.constData(), m_targetDir, m_temporary.constData()) == 0)
            break;
        const int error = errno;
        m_temporary.clear();
        if (error != EEXIST || tries == 7)
            return Fail(TCopySide::Target, error);
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(m_targetDir, m_temporary.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return Fail(TCopySide::Target, errno);
    m_result.Bytes = text.size();
    return Finish();
}

bool TCopyRun::CopyData(int in, int out, int64_t total) {
    bool inKernel = !m_settings.Unbuffered;
    if (m_settings.Unbuffered) {
        // Where the file system refuses O_DIRECT the copy goes on buffered.
        const bool directIn = SetDirectIo(in, true);
        const bool directOut = SetDirectIo(out, true);
        m_result.DirectIo = directIn || directOut;
    }
    int64_t done = 0;
    for (;;) {
        if (Cancelled())
            return Fail(TCopySide::None, ECANCELED);
        int64_t copied = 0;
        if (inKernel) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(m_chunk), 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // Not possible between these files (or failed): read/write goes on from the same
                // offsets and tells which side fails, if one does.
                inKernel = false;
                continue;
            }
            if (n == 0 && done < total) {
                inKernel = false; // some file systems answer 0 instead of refusing; read to be sure
                continue;
            }
            copied = n;
        } else if (!ReadWriteChunk(in, out, copied)) {
            return false;
        }
        if (copied == 0)
            break;
        done += copied;
        m_result.Bytes = done;
        if (m_settings.OnProgress)
            m_settings.OnProgress(done, std::max(total, done));
    }
    return true;
}

bool TCopyRun::ReadWriteChunk(int in, int out, int64_t& copied) {
    if (!m_buffer) {
        m_buffer.reset(static_cast<char*>(std::aligned_alloc(size_t(DirectIoAlignment), size_t(m_chunk))));
        if (!m_buffer)
            return Fail(TCopySide::Source, ENOMEM);
    }
    char* data = m_buffer.get();
    ssize_t got;
    for (;;) {
        got = ::read(in, data, size_t(m_chunk));
        if (got >= 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno == EINVAL && HasDirectIo(in) && SetDirectIo(in, false))
            continue;
        return Fail(TCopySide::Source, errno);
    }
    ssize_t written = 0;
    // O_DIRECT takes whole blocks only: the aligned part goes direct, the tail of the file after
    // it goes buffered.
    const ssize_t tail = got % DirectIoAlignment;
    ssize_t directPart = tail != 0 && HasDirectIo(out) ? got - tail : got;
    while (written < got) {
        if (written == directPart && directPart < got) {
            if (!SetDirectIo(out, false))
                return Fail(TCopySide::Target, errno);
            directPart = got;
        }
        const ssize_t n = ::write(out, data + written, size_t(directPart - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // The file system refuses this O_DIRECT write (alignment it wants more of): buffered.
            if (errno == EINVAL && HasDirectIo(out) && SetDirectIo(out, false))
                continue;
            return Fail(TCopySide::Target, errno);
        }
        written += n;
    }
    copied = got;
    return true;
}

bool TCopyRun::Finish() {
    if (::renameat(m_targetDir, m_temporary.constData(), m_targetDir, m_targetLeaf.constData()) != 0)
        return Fail(TCopySide::Target, errno);
    m_temporary.clear();
    return true;
}

} // namespace

bool TFileCopyResult::Cancelled() const {
    return Error == ECANCELED;
}

QString TFileCopyResult::ErrorText() const {
    if (Error == NotRegularFile)
        return QStringLiteral("Not a regular file");
    return QString::fromLocal8Bit(std::strerror(Error));
}

TFileCopyResult TLocalFileCopy::Copy(const QString& source, const QString& target) const {
    TFileCopyResult result;
    TCopyRun run(*this, result);
    run.Run(source, target);
    return result;
}

TFileCopyResult TLocalFileCopy::Receive(const QString& target, const TFill& fill, mode_t mode,
                                        const struct timespec* times) const {
    TFileCopyResult result;
    TCopyRun run(*this, result);
    run.Receive(target, fill, mode, times);
    return result;
}
