#include "core/base/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

bool WriteAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

std::function<bool(const QString& path)> AtomicWriteFaultForTesting;

bool WriteFileAtomically(const QString& path, const QByteArray& data, mode_t mode, QString* error) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray pattern = target + ".tmp-XXXXXX";
    QByteArray temp = pattern;
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        if (error)
            *error = SystemError(errno);
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data.constData(), data.size()) && ::fsync(fd) == 0;
    int savedErrno = errno;
    if (ok && AtomicWriteFaultForTesting && AtomicWriteFaultForTesting(path)) {
        ok = false;
        savedErrno = ENOSPC;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        if (error)
            *error = SystemError(savedErrno);
        return false;
    }
    // Make the rename itself durable.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
