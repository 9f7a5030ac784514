#include "archive/TOutputFolder.h"

#include <QDir>
#include <QFile>

#include <openssl/rand.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray TemporaryName() {
    unsigned char random[8] = {};
    RAND_bytes(random, sizeof random);
    return QByteArrayLiteral(".vaultora-") + QByteArray(reinterpret_cast<const char*>(random), 8).toHex();
}
} // namespace

TOutputFolder::~TOutputFolder() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TOutputFolder::Open(const QString& path, TZipError* error) {
    m_path = path;
    if (!QDir().mkpath(path)) {
        *error = TZipError::System(zeCannotWriteOutput, QStringLiteral("Cannot create \"%s\": %s"), path, EACCES);
        return false;
    }
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        *error = TZipError::System(zeCannotWriteOutput, QStringLiteral("Cannot create \"%s\": %s"), path, errno);
        return false;
    }
    return true;
}

int TOutputFolder::OpenFolder(const QStringList& components, const QString& entryName, TZipError* error) const {
    int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = TZipError::System(zeCannotWriteOutput, QStringLiteral("Cannot create \"%s\": %s"), m_path, errno);
        return -1;
    }
    for (const QString& component : components) {
        const QByteArray name = QFile::encodeName(component);
        int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(fd, name.constData(), 0755) == 0 || errno == EEXIST)
                next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            const int failure = errno;
            struct stat status {};
            if (::fstatat(fd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
                *error = TZipError::Make(
                    zeUnsafeEntry, QStringLiteral("The entry \"%s\" would pass through a symbolic link"), {entryName});
            else
                *error = TZipError::System(zeCannotWriteOutput, QStringLiteral("Cannot create \"%s\": %s"), entryName,
                                           failure);
            ::close(fd);
            return -1;
        }
        ::close(fd);
        fd = next;
    }
    return fd;
}

int TOutputFolder::CreateTemporary(int folder, QByteArray* name, const QString& entryName, TZipError* error) const {
    for (int attempt = 0; attempt < 8; ++attempt) {
        *name = TemporaryName();
        const int fd = ::openat(folder, name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            break;
    }
    *error = TZipError::System(zeCannotWriteOutput, QStringLiteral("Cannot create \"%s\": %s"), entryName, errno);
    return -1;
}

bool TOutputFolder::CreateTemporaryLink(int folder, const QByteArray& target, QByteArray* name,
                                        const QString& entryName, TZipError* error) const {
    for (int attempt = 0; attempt < 8; ++attempt) {
        *name = TemporaryName();
        if (::symlinkat(target.constData(), folder, name->constData()) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    *error = TZipError::System(zeCannotWriteOutput, QStringLiteral("Cannot create \"%s\": %s"), entryName, errno);
    return false;
}

bool TOutputFolder::Commit(int folder, const QByteArray& temporary, const QString& leaf, const QString& entryName,
                           TZipError* error) const {
    if (::renameat(folder, temporary.constData(), folder, QFile::encodeName(leaf).constData()) == 0)
        return true;
    *error = TZipError::System(zeCannotWriteOutput, QStringLiteral("Cannot create \"%s\": %s"), entryName, errno);
    Discard(folder, temporary);
    return false;
}

void TOutputFolder::Discard(int folder, const QByteArray& temporary) const {
    ::unlinkat(folder, temporary.constData(), 0);
}
