#include "core/model/TJobLock.h"

#include "core/base/AtomicFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TJobLock::~TJobLock() {
    Unlock();
}

bool TJobLock::TryLock(const QString& applicationDirectory, const QString& jobName) {
    Unlock();
    m_heldElsewhere = false;
    const QString folder = applicationDirectory + QStringLiteral("/locks");
    if (!CreateFolderPath(folder, 0700))
        return false;
    // Names are unique ignoring letter case, so the lock is too.
    const QByteArray path = QFile::encodeName(folder + u'/' + jobName.toLower() + QStringLiteral(".lock"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_heldElsewhere = errno == EWOULDBLOCK;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void TJobLock::Unlock() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}
