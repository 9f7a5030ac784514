#include "jobs/files/TDirectoryReader.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TDirectoryReader::~TDirectoryReader() {
    Close();
}

bool TDirectoryReader::Open(const QString& path, const TDirectoryReader* parent) {
    Close();
    const QByteArray native = QFile::encodeName(path);
    const int base = parent && parent->IsOpen() ? parent->Descriptor() : AT_FDCWD;
    const int fd = ::openat(base, native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    m_dir = ::fdopendir(fd);
    if (!m_dir) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
    }
    return true;
}

void TDirectoryReader::Close() {
    if (m_dir) {
        ::closedir(m_dir);
        m_dir = nullptr;
    }
}

int TDirectoryReader::Descriptor() const {
    return m_dir ? ::dirfd(m_dir) : -1;
}

bool TDirectoryReader::Next(TEntry& entry) {
    if (!m_dir)
        return false;
    for (;;) {
        errno = 0;
        const dirent* raw = ::readdir(m_dir);
        if (!raw)
            return false;
        const char* name = raw->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        entry.Name = QFile::decodeName(name);
        entry.Hidden = name[0] == '.';
        struct stat st;
        if (::fstatat(dirfd(m_dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Gone between the listing and now: the walk reports it.
            entry.Vanished = true;
            entry.Modified = {};
            entry.Type = EntryTypeOfListed(raw->d_type);
            return true;
        }
        entry.Vanished = false;
        entry.Modified = st.st_mtim;
        entry.Type = EntryTypeOfMode(st.st_mode);
        return true;
    }
}

bool TDirectoryReader::Exists(const QString& name) const {
    if (!m_dir)
        return false;
    struct stat st;
    return ::fstatat(dirfd(m_dir), QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}
