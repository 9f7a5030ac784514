#include "core/format/TEncipheredFileWriter.h"

#include "core/format/FileCipher.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Large enough that each piece is enciphered on two threads.
constexpr qsizetype PieceSize = qsizetype(2) << 20;
} // namespace

TEncipheredFileWriter::TEncipheredFileWriter(const QString& path, mode_t mode)
    : m_target(QFile::encodeName(path))
    , m_mode(mode)
    , m_key(SealStartKey()) {
    m_temporary = m_target + ".tmp-XXXXXX";
    m_fd = ::mkstemp(m_temporary.data());
    if (m_fd < 0) {
        m_temporary.clear();
        Fail(errno);
        return;
    }
    if (::fchmod(m_fd, m_mode) != 0)
        Fail(errno);
    m_buffer.reserve(PieceSize);
}

TEncipheredFileWriter::~TEncipheredFileWriter() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
}

void TEncipheredFileWriter::Fail(int error) {
    if (m_error == 0)
        m_error = error;
}

void TEncipheredFileWriter::Append(const char* data, qsizetype size) {
    while (size > 0 && m_error == 0) {
        const qsizetype take = std::min(size, PieceSize - m_buffer.size());
        m_buffer.append(data, take);
        data += take;
        size -= take;
        if (m_buffer.size() >= PieceSize)
            Flush();
    }
}

void TEncipheredFileWriter::Flush() {
    if (m_error != 0 || m_buffer.isEmpty())
        return;
    m_key = SealStreamBytes({reinterpret_cast<uint8_t*>(m_buffer.data()), size_t(m_buffer.size())}, m_key);
    const char* data = m_buffer.constData();
    qsizetype left = m_buffer.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
            return;
        }
        data += written;
        left -= written;
    }
    // Start writing the piece out now: the flush at the end then has little left to wait for.
    ::sync_file_range(m_fd, m_written, m_buffer.size(), SYNC_FILE_RANGE_WRITE);
    m_written += m_buffer.size();
    m_buffer.resize(0);
}

bool TEncipheredFileWriter::Commit(QString* error) {
    Flush();
    if (m_error == 0 && ::fsync(m_fd) != 0)
        Fail(errno);
    if (m_fd >= 0 && ::close(m_fd) != 0)
        Fail(errno);
    m_fd = -1;
    if (m_error == 0 && ::rename(m_temporary.constData(), m_target.constData()) != 0)
        Fail(errno);
    if (m_error != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(m_error));
        return false;
    }
    m_temporary.clear();
    // Make the rename itself durable.
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(m_target)).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
