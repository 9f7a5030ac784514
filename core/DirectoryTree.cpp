#include "core/DirectoryTree.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// One level of the walk: an open directory and the name it has in its parent.
struct Level {
    int fd;
    DIR* dir;
    std::string name;
};

bool Fail(int code, QString* errorText) {
    if (errorText)
        *errorText = QString::fromLocal8Bit(std::strerror(code));
    return false;
}

bool OpenLevel(int parentFd, const std::string& name, std::vector<Level>& stack) {
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    stack.push_back({fd, dir, name});
    return true;
}

} // namespace

bool DeleteDirectoryTree(const QString& folder, QString* errorText) {
    const std::string path = QFile::encodeName(folder).toStdString();
    std::vector<Level> stack;
    // An explicit stack instead of recursion: depth is bounded only by the file system.
    if (!OpenLevel(AT_FDCWD, path, stack))
        return Fail(errno, errorText);
    bool ok = true;
    int failure = 0;
    while (!stack.empty()) {
        Level& top = stack.back();
        errno = 0;
        dirent* entry = ::readdir(top.dir);
        if (entry) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            bool isDir = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(top.fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                    isDir = S_ISDIR(st.st_mode);
            }
            if (isDir) {
                const std::string child = name;
                if (!OpenLevel(top.fd, child, stack)) {
                    ok = false;
                    failure = errno;
                    break;
                }
                continue;
            }
            if (::unlinkat(top.fd, name, 0) != 0) {
                ok = false;
                failure = errno;
                break;
            }
            continue;
        }
        if (errno != 0) {
            ok = false;
            failure = errno;
            break;
        }
        // The level is empty: close it and remove it from its parent.
        const std::string name = top.name;
        ::closedir(top.dir);
        stack.pop_back();
        const int parentFd = stack.empty() ? AT_FDCWD : stack.back().fd;
        if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0) {
            ok = false;
            failure = errno;
            break;
        }
        if (!stack.empty())
            ::rewinddir(stack.back().dir); // entries removed meanwhile change the listing
    }
    for (Level& level : stack)
        ::closedir(level.dir);
    return ok || Fail(failure, errorText);
}
