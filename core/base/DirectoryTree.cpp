#include "core/base/DirectoryTree.h"

#include "core/base/AtomicFile.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace {

bool Fail(int code, QString* errorText) {
    if (errorText)
        *errorText = QString::fromLocal8Bit(std::strerror(code));
    return false;
}

QByteArray WithoutTrailingSlashes(QByteArray path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

bool IsDotOrDotDot(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// A level of the delete walk: the name in its parent and the identity it had when opened, so
// that going back up through ".." can be checked against a tree that changed meanwhile.
struct TLevel {
    QByteArray name;
    dev_t device;
    ino_t inode;
};

DIR* OpenListing(int parentFd, const char* name, TLevel& level) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    DIR* dir = ::fstat(fd, &st) == 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return nullptr;
    }
    level.name = name;
    level.device = st.st_dev;
    level.inode = st.st_ino;
    return dir;
}

} // namespace

bool OpenFolderPath(const QByteArray& path, int flags, TFileDescriptor& folder) {
    if (path.isEmpty()) {
        errno = ENOENT;
        return false;
    }
    // open() refuses paths of PATH_MAX bytes or more: walk such paths in pieces that end at a
    // slash, each opened relative to the previous one.
    TFileDescriptor current;
    qsizetype position = 0;
    while (path.size() - position >= PATH_MAX) {
        const qsizetype cut = path.lastIndexOf('/', position + PATH_MAX - 2);
        if (cut <= position) {
            errno = ENAMETOOLONG;
            return false;
        }
        const QByteArray piece = path.mid(position, cut - position);
        const int fd = ::openat(current.Get(), piece.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return false;
        current.Reset(fd);
        position = cut + 1;
        while (position < path.size() && path.at(position) == '/')
            ++position;
    }
    const QByteArray rest = position < path.size() ? path.mid(position) : QByteArray(".");
    const int fd = ::openat(current.Get(), rest.constData(), flags | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    folder.Reset(fd);
    return true;
}

bool SplitParentPath(const QString& path, QByteArray& folder, QByteArray& leaf) {
    const QByteArray native = WithoutTrailingSlashes(QFile::encodeName(path));
    const qsizetype slash = native.lastIndexOf('/');
    leaf = native.mid(slash + 1);
    if (leaf.isEmpty() || leaf == "." || leaf == "..") {
        errno = EINVAL;
        return false;
    }
    folder = slash < 0 ? QByteArray() : slash == 0 ? QByteArray("/") : native.left(slash);
    return true;
}

bool OpenParentFolder(const QString& path, TFileDescriptor& parent, QByteArray& leaf) {
    QByteArray folder;
    if (!SplitParentPath(path, folder, leaf))
        return false;
    if (folder.isEmpty()) {
        parent.Reset(); // relative to the working folder
        return true;
    }
    return OpenFolderPath(folder, O_PATH, parent);
}

bool CreateFolderPath(const QString& path, mode_t mode, QString* errorText) {
    const QByteArray native = WithoutTrailingSlashes(QFile::encodeName(path));
    if (native.isEmpty())
        return Fail(ENOENT, errorText);
    TFileDescriptor existing;
    if (OpenFolderPath(native, O_PATH, existing))
        return true;
    if (errno != ENOENT)
        return Fail(errno, errorText);
    // Create level by level, each relative to the one above it.
    TFileDescriptor current;
    if (native.startsWith('/')) {
        const int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (root < 0)
            return Fail(errno, errorText);
        current.Reset(root);
    }
    for (const QByteArray& part : native.split('/')) {
        if (part.isEmpty())
            continue;
        int fd = ::openat(current.Get(), part.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(current.Get(), part.constData(), mode) != 0 && errno != EEXIST)
                return Fail(errno, errorText);
            fd = ::openat(current.Get(), part.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        if (fd < 0)
            return Fail(errno, errorText);
        current.Reset(fd);
    }
    return true;
}

bool DeleteDirectoryTree(const QString& folder, QString* errorText) {
    TFileDescriptor top;
    QByteArray leaf;
    if (!OpenParentFolder(folder, top, leaf))
        return Fail(errno, errorText);
    // The walk keeps only the folder being listed open and returns to a parent through "..":
    // a descriptor per level would run out of descriptors in deep trees.
    std::vector<TLevel> levels(1);
    DIR* dir = OpenListing(top.Get(), leaf.constData(), levels.back());
    if (!dir)
        return Fail(errno, errorText);
    int failure = 0;
    bool changed = false;
    while (dir) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry) {
            const char* name = entry->d_name;
            if (IsDotOrDotDot(name))
                continue;
            bool isDir = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                    isDir = S_ISDIR(st.st_mode);
            }
            if (isDir) {
                TLevel level;
                DIR* child = OpenListing(::dirfd(dir), name, level);
                if (!child) {
                    failure = errno;
                    break;
                }
                ::closedir(dir);
                dir = child;
                levels.push_back(level);
                continue;
            }
            if (::unlinkat(::dirfd(dir), name, 0) != 0) {
                failure = errno;
                break;
            }
            continue;
        }
        if (errno != 0) {
            failure = errno;
            break;
        }
        // The folder is empty: go up and remove it from its parent.
        const QByteArray name = levels.back().name;
        levels.pop_back();
        if (levels.empty()) {
            ::closedir(dir);
            dir = nullptr;
            if (::unlinkat(top.Get(), name.constData(), AT_REMOVEDIR) != 0)
                failure = errno;
            break;
        }
        const int parentFd = ::openat(::dirfd(dir), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat st;
        if (parentFd < 0 || ::fstat(parentFd, &st) != 0) {
            failure = errno;
            if (parentFd >= 0)
                ::close(parentFd);
            break;
        }
        if (st.st_dev != levels.back().device || st.st_ino != levels.back().inode) {
            ::close(parentFd);
            changed = true;
            break;
        }
        ::closedir(dir);
        dir = nullptr;
        if (::unlinkat(parentFd, name.constData(), AT_REMOVEDIR) != 0) {
            failure = errno;
            ::close(parentFd);
            break;
        }
        // A fresh listing of the parent: it starts over, and what was removed is gone from it.
        dir = ::fdopendir(parentFd);
        if (!dir) {
            failure = errno;
            ::close(parentFd);
            break;
        }
    }
    if (dir)
        ::closedir(dir);
    if (changed) {
        if (errorText)
            *errorText = QStringLiteral("The folder was moved while it was being deleted.");
        return false;
    }
    return failure == 0 || Fail(failure, errorText);
}
