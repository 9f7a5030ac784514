#include "jobs/files/TTreeScan.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Read ahead at most this many entries the walk has not released, unless the walk waits: a scan
// far ahead of a slow copy would only hold memory.
constexpr qsizetype MaxUnreleasedEntries = 1 << 20;

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

} // namespace

TTreeScan::TTreeScan(TDescendCheck descend, int threads)
    : m_descend(std::move(descend))
    , m_threadCount(std::max(1, threads)) {}

TTreeScan::~TTreeScan() {
    Stop();
    for (TFolder& folder : m_folders)
        CloseDescriptor(folder);
}

int TTreeScan::AddRoot(const QString& path) {
    std::lock_guard guard(m_lock);
    TFolder& folder = m_folders.emplace_back();
    folder.Leaf = QFile::encodeName(path);
    folder.Path = path.endsWith(u'/') ? path : path + u'/';
    const int id = int(m_folders.size() - 1);
    m_pending.push_back(id);
    return id;
}

void TTreeScan::Start() {
    for (int i = 0; i < m_threadCount; ++i)
        m_threads.emplace_back([this] { Work(); });
}

void TTreeScan::Stop() {
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_workReady.notify_all();
    m_folderDone.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
    m_threads.clear();
}

bool TTreeScan::Wait(int id) {
    std::unique_lock lock(m_lock);
    TFolder& folder = m_folders[size_t(id)];
    if (!folder.Done) {
        m_waitingFor = id;
        m_workReady.notify_all();
        m_folderDone.wait(lock, [&] { return folder.Done || m_stopping; });
        m_waitingFor = -1;
    }
    return folder.Done;
}

void TTreeScan::Release(int id) {
    std::lock_guard guard(m_lock);
    TFolder& folder = m_folders[size_t(id)];
    m_unreleasedEntries -= qsizetype(folder.Entries.size());
    folder.Entries = std::vector<TEntry>();
    folder.Names = QByteArray();
    folder.Path = QString();
    m_workReady.notify_all();
}

void TTreeScan::CloseDescriptor(TFolder& folder) {
    if (folder.Descriptor >= 0) {
        ::close(folder.Descriptor);
        folder.Descriptor = -1;
    }
}

void TTreeScan::Work() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_workReady.wait(lock, [&] {
            return m_stopping ||
                   (!m_pending.empty() && (m_unreleasedEntries < MaxUnreleasedEntries || m_waitingFor >= 0));
        });
        if (m_stopping)
            return;
        const int id = m_pending.front();
        m_pending.pop_front();
        Read(id, lock);
        m_folderDone.notify_all();
    }
}

// Called and returns with the lock held; reads the folder without it.
void TTreeScan::Read(int id, std::unique_lock<std::mutex>& lock) {
    const TFolder& queued = m_folders[size_t(id)];
    const int parentDescriptor = queued.Parent >= 0 ? m_folders[size_t(queued.Parent)].Descriptor : AT_FDCWD;
    const QByteArray leaf = queued.Leaf;
    const QString path = queued.Path;
    lock.unlock();

    // The same flags as the walk's own reader.
    const int fd = ::openat(parentDescriptor, leaf.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    const int openError = fd < 0 ? errno : 0;
    QByteArray names;
    std::vector<TEntry> entries;
    std::vector<QString> subfolders; // names of folders to descend into, in order
    std::vector<size_t> subfolderEntries;
    if (fd >= 0) {
        alignas(8) char buffer[64 << 10];
        for (;;) {
            const long got = ::getdents64(fd, buffer, sizeof buffer);
            if (got <= 0)
                break; // the end, or a read error: the walk's reader stops there too
            for (long at = 0; at < got;) {
                const auto* raw = reinterpret_cast<const dirent64*>(buffer + at);
                at += raw->d_reclen;
                const char* name = raw->d_name;
                if (IsDotOrDotDot(name))
                    continue;
                TEntry entry;
                const size_t length = std::strlen(name);
                entry.NameOffset = uint32_t(names.size());
                entry.NameLength = uint16_t(length); // names are at most 255 bytes
                names.append(name, qsizetype(length));
                entry.Hidden = name[0] == '.';
                struct stat st;
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    // Gone between the listing and now: the walk reports it.
                    entry.Vanished = true;
                    entry.Type = EntryTypeOfListed(raw->d_type);
                } else {
                    entry.ModifiedSeconds = int64_t(st.st_mtim.tv_sec);
                    entry.ModifiedNanoseconds = int32_t(st.st_mtim.tv_nsec);
                    entry.Mode = uint16_t(st.st_mode & 07777);
                    entry.Owner = uint32_t(st.st_uid);
                    entry.Group = uint32_t(st.st_gid);
                    entry.Type = EntryTypeOfMode(st.st_mode);
                }
                if (entry.Type == TEntryType::Directory) {
                    struct stat self;
                    entry.ParentGone = ::fstat(fd, &self) != 0 || self.st_nlink == 0;
                    const QString decoded = QFile::decodeName(name);
                    if (!entry.ParentGone && m_descend(path, decoded, entry.Hidden)) {
                        subfolders.push_back(decoded);
                        subfolderEntries.push_back(entries.size());
                    }
                }
                entries.push_back(entry);
            }
        }
    }

    lock.lock();
    if (queued.Parent >= 0) {
        TFolder& parent = m_folders[size_t(queued.Parent)];
        if (--parent.UnopenedChildren == 0)
            CloseDescriptor(parent);
    }
    // New folders go to the front, in listing order, so the scan runs ahead of the walk in the
    // walk's own order.
    std::vector<int> children;
    for (size_t i = 0; i < subfolders.size(); ++i) {
        TFolder& child = m_folders.emplace_back();
        child.Parent = id;
        child.Leaf = QFile::encodeName(subfolders[i]);
        child.Path = path + subfolders[i] + u'/';
        const int childId = int(m_folders.size() - 1);
        entries[subfolderEntries[i]].Child = childId;
        children.push_back(childId);
    }
    m_pending.insert(m_pending.begin(), children.begin(), children.end());
    TFolder& folder = m_folders[size_t(id)];
    folder.OpenError = openError;
    folder.Names = std::move(names);
    m_unreleasedEntries += qsizetype(entries.size());
    folder.Entries = std::move(entries);
    folder.Leaf = QByteArray();
    folder.UnopenedChildren = int(children.size());
    if (fd >= 0 && !children.empty())
        folder.Descriptor = fd;
    else if (fd >= 0)
        ::close(fd);
    folder.Done = true;
    if (!children.empty())
        m_workReady.notify_all();
}
