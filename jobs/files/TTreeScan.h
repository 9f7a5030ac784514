#pragma once

#include "jobs/files/EntryType.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Reads the folders of source trees on threads of its own while the run does other work: a run
// over an unchanged tree spends most of its time listing folders and reading file times, and
// the kernel does that on both cores at once. The walk then takes each folder's entries in
// readdir order, as it would have read them itself; the scan only reads, it never decides.
//
// A folder is opened relative to its parent's descriptor (paths of any length), symbolic links
// are never followed, and a parent's descriptor stays open only until its subfolders are open.
// The scan descends where the walk will descend; Descend tells it where not to (hidden folders
// when they are skipped, excluded folders), checked with the folder's absolute path ending in a
// slash and the entry's name.
class TTreeScan {
public:
    using TEntryType = ::TEntryType;

    // Compact: the scan of a large tree holds hundreds of thousands of these.
    struct TEntry {
        int64_t ModifiedSeconds = 0;
        int32_t ModifiedNanoseconds = 0;
        uint32_t NameOffset = 0; // into TFolder::Names, raw bytes
        int32_t Child = -1;      // directories the scan descended into: the folder's id
        uint16_t NameLength = 0;
        TEntryType Type = TEntryType::Other;
        bool Hidden : 1 = false;     // the name begins with "."
        bool Vanished : 1 = false;   // listed, but gone when it was looked at
        bool ParentGone : 1 = false; // directories: the listed folder itself was removed meanwhile
        uint16_t Mode = 0;           // permission bits (st_mode & 07777)
        uint32_t Owner = 0;
        uint32_t Group = 0;

        timespec Modified() const {
            timespec time{};
            time.tv_sec = time_t(ModifiedSeconds);
            time.tv_nsec = long(ModifiedNanoseconds);
            return time;
        }
    };

    struct TFolder {
        int OpenError = 0; // errno when the folder could not be opened
        QByteArray Names;
        std::vector<TEntry> Entries;
        QString Path; // absolute, ending in a slash
        QByteArray NameOf(const TEntry& entry) const { return Names.mid(entry.NameOffset, entry.NameLength); }

    private:
        friend class TTreeScan;
        int Parent = -1;
        QByteArray Leaf; // name within the parent, or the whole path of a root
        int Descriptor = -1;
        int UnopenedChildren = 0;
        bool Done = false;
    };

    static_assert(sizeof(TEntry) == 40);

    using TDescendCheck = std::function<bool(const QString& folderPath, const QString& name, bool hidden)>;

    explicit TTreeScan(TDescendCheck descend, int threads = 2);
    ~TTreeScan();
    TTreeScan(const TTreeScan&) = delete;
    TTreeScan& operator=(const TTreeScan&) = delete;

    // Queues a source folder (absolute path); returns its id.
    int AddRoot(const QString& path);
    // Starts the threads.
    void Start();
    // Stops the threads; folders not read by then stay unread.
    void Stop();

    // Waits until the folder has been read. False when the scan was stopped before that.
    bool Wait(int id);
    const TFolder& Folder(int id) const { return m_folders[size_t(id)]; }
    // The walk is done with the folder: its entries are freed.
    void Release(int id);

private:
    void Work();
    void Read(int id, std::unique_lock<std::mutex>& lock);
    void CloseDescriptor(TFolder& folder);

    TDescendCheck m_descend;
    int m_threadCount;
    std::deque<TFolder> m_folders; // stable addresses; ids are positions
    std::deque<int> m_pending;     // depth first: a folder's subfolders go to the front
    std::vector<std::thread> m_threads;
    mutable std::mutex m_lock;
    std::condition_variable m_workReady;
    std::condition_variable m_folderDone;
    qsizetype m_unreleasedEntries = 0;
    int m_waitingFor = -1;
    bool m_stopping = false;
};
