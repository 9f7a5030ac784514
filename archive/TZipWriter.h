#pragma once

// Room archive/: the ZIP reader and writer (Deflate, AES, Zip64). May use QtCore, zlib, libdeflate and
// OpenSSL; knows nothing of jobs.

#include "archive/TZipError.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class TWorkerPool;

enum class TZipLevel { Stored, Fastest, Normal, Max };
enum class TZipEncryption { None, Aes128, Aes192, Aes256, ZipCrypto };
enum class TZipAddResult { Added, Failed, Cancelled };

struct TZipWriterSettings {
    TZipLevel Level = TZipLevel::Normal;
    TZipEncryption Encryption = TZipEncryption::None;
    QByteArray Password; // used when Encryption is not None
    // Wildcard masks ("*.jpg"), matched without regard to case against an entry's file name:
    // such entries are stored without compression whatever the level.
    QStringList StoredMasks;
    // Hold a shared lock on each source while it is read, so that programs honouring locks
    // cannot write to it meanwhile; a source someone holds a write lock on cannot be opened.
    bool LockSources = false;
    int Threads = 0;                     // compression threads; 0: one per core
    int64_t MaxQueuedBytes = 64ll << 20; // source bytes read ahead while earlier entries compress
    int64_t WholeEntryLimit = 8ll << 20; // larger sources are streamed through in chunks
};

// Writes a ZIP archive entry by entry. Every archive carries Zip64 records and extra fields;
// entries keep their last-write time (DOS time, extended timestamp and NTFS time extra fields)
// and Unix permission bits. Symbolic links are stored as links.
//
// Sources up to WholeEntryLimit are read at once and compressed (and encrypted) on worker
// threads while the caller goes on; larger ones are streamed with their chunks compressed in
// parallel. Entries are written strictly in the order they were added, and whether a source was
// added is known when AddFile returns: it has been read by then. A source that fails part-way
// leaves no trace in the archive. Memory stays bounded by MaxQueuedBytes and the chunk window.
//
// All events fire on the caller's thread, inside the call that causes them.
class TZipWriter {
public:
    explicit TZipWriter(const TZipWriterSettings& settings = {});
    ~TZipWriter(); // an archive still open is abandoned
    TZipWriter(const TZipWriter&) = delete;
    TZipWriter& operator=(const TZipWriter&) = delete;

    // Before a file is stored: may change the entry name (the source's bare name by default).
    std::function<void(QString& entryName, const QString& sourcePath)> OnStoreFile;
    // A file or entry that cannot be added; it is skipped and the archive stays valid.
    std::function<void(const QString& sourcePath, const TZipError& error)> OnFailure;
    // Progress of the current add in percent; returning false cancels that add.
    std::function<bool(double percent)> OnProgress;

    // Starts a new archive at path, removing any file of that name at once. The archive
    // appears under its name only when Close succeeds.
    bool Create(const QString& archivePath);
    TZipAddResult AddFile(const QString& sourcePath);
    // A folder entry: name + "/", directory attribute, mode 0755, the current time.
    bool AddFolder(const QString& entryName);
    // An entry from memory (mode: Unix permission bits and file type, 0 for a regular 0644 file).
    bool AddData(const QString& entryName, const QByteArray& data, int64_t mtimeNs, uint32_t mode = 0);
    // Writes what is queued and the central directory, then gives the archive its name.
    bool Close();
    // Drops the unfinished archive.
    void Abandon();

    bool IsOpen() const { return m_fd >= 0; }
    // The archive-level failure (cannot create or write the archive); once set, adds fail.
    const TZipError& LastError() const { return m_error; }
    const QString& ArchivePath() const { return m_path; }

    // One compressed (and encrypted) entry body, made on a worker thread.
    struct TBody;
    struct TEntry;

private:
    struct TPending;
    struct TSourceInfo {
        int64_t MTimeNs = 0;
        int64_t ATimeNs = 0;
        uint32_t Mode = 0;
        int64_t Size = 0;
    };

    bool ValidName(const QString& name, bool folder, QByteArray* encoded) const;
    bool StoreWithoutCompression(const QString& fileName) const;
    TZipAddResult AddLink(const QString& sourcePath, const QByteArray& encodedName);
    TZipAddResult AddStreamed(int fd, const QString& sourcePath, const QByteArray& encodedName, const TSourceInfo& info,
                              bool compress, QByteArray firstPart);
    void Enqueue(std::unique_ptr<TPending> pending);
    void Submit(TPending& pending, QByteArray data, bool compress);
    void WriteFinished(bool wait);
    void WritePending(TPending& pending);
    void DrainQueue();
    TEntry MakeEntry(const QByteArray& encodedName, const TSourceInfo& info, bool directory) const;
    QByteArray LocalHeader(const TEntry& entry) const;
    QByteArray CentralHeader(const TEntry& entry) const;
    void Fail(const QString& sourcePath, const TZipError& error);
    bool Progress(double percent);

    bool Write(const char* data, size_t size);
    bool Flush();
    bool WriteAt(int64_t offset, const QByteArray& data);
    bool TruncateTo(int64_t offset);
    void SetWriteError(int error);

    TZipWriterSettings m_settings;
    std::vector<QRegularExpression> m_masks;
    int m_aesStrength = 0;
    std::unique_ptr<TWorkerPool> m_pool;
    QString m_path;
    QByteArray m_tempPath;
    int m_fd = -1;
    int64_t m_offset = 0;
    QByteArray m_buffer;
    std::deque<std::unique_ptr<TPending>> m_queue;
    int64_t m_queuedBytes = 0;
    std::vector<TEntry> m_entries;
    TZipError m_error;
};
