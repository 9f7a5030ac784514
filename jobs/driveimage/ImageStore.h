#pragma once

// The image tool's store below a backup target: content-addressed chunks and one manifest per
// version and volume.
//
//   TARGET/VaultoraImages/lock                      held (flock) by the operation using the store
//   TARGET/VaultoraImages/chunks/ab/abcd...         a chunk: zstd frame of the bytes whose SHA-256
//                                                   the name is (all-zero chunks are not stored)
//   TARGET/VaultoraImages/versions/ID/N.manifest    one per volume of the version ID
//   TARGET/VaultoraImages/tmp/                      versions being written, versions being removed
//
// Every file lands under a temporary name and is renamed when complete: a version exists only once
// its folder is renamed into versions/, after every chunk it names is on disk. An interrupted run
// leaves only temporary names, which the next run of the tool clears.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

using TChunkHash = std::array<uint8_t, 32>;

TChunkHash HashOfBytes(const char* data, size_t size);
QString HashText(const TChunkHash& hash);

struct TChunkRef {
    bool Zero = false; // an all-zero chunk: not stored
    TChunkHash Hash{};
};

struct TImageManifest {
    static constexpr uint32_t DefaultChunkSize = 256 * 1024;
    uint32_t ChunkSize = DefaultChunkSize;
    uint64_t VolumeSize = 0;
    int64_t TimeMs = 0; // UTC milliseconds since 1970
    QString Source;     // the volume as named on the command line
    QString Device;     // the device or file that was read
    std::vector<TChunkRef> Chunks;

    // The size of chunk index (the last one may be short).
    uint32_t SizeOfChunk(size_t index) const;
};

QByteArray EncodeManifest(const TImageManifest& manifest);
// Checks the magic, the format, the trailing checksum and that every count fits the bytes left.
bool DecodeManifest(const QByteArray& data, TImageManifest& manifest, QString& error);

// Compresses one chunk (zstd, level 3); decompresses one into exactly expectedSize bytes (false on a
// damaged frame or another size).
QByteArray CompressChunk(const char* data, size_t size, void* context);
bool DecompressChunk(const QByteArray& frame, size_t expectedSize, QByteArray& out);

class TImageStore {
public:
    static constexpr const char* FolderName = "VaultoraImages";

    explicit TImageStore(const QString& target);
    ~TImageStore();
    TImageStore(const TImageStore&) = delete;
    TImageStore& operator=(const TImageStore&) = delete;

    QString Root() const { return m_root; }
    bool Exists() const;
    // Creates the store's folders (owner-only: an image holds whole volumes) under an existing
    // target; false with error otherwise.
    bool Create(QString& error);
    // Takes the store's lock without waiting; false when another operation holds it.
    bool Lock();

    // The complete versions, oldest first.
    QStringList Versions() const;
    // A new identifier, later than every existing one.
    QString NewVersionId() const;
    QString VersionFolder(const QString& id) const;
    QString TempFolder() const;
    QString ChunkPath(const TChunkHash& hash) const;
    // The manifests of one version in file order; false with error when one cannot be read.
    bool ReadVersion(const QString& id, std::vector<TImageManifest>& manifests, QString& error) const;
    // Removes what interrupted runs left: temporary versions and removals under tmp/.
    void ClearTemporaries() const;
    // Removes the chunk files that no complete version names and temporary chunk files; the
    // number removed, or -1 with error when a manifest cannot be read (then nothing is removed).
    qint64 CollectGarbage(QString& error, const std::function<void()>& afterRemoval = {}) const;

private:
    QString m_root;
    int m_lockFd = -1;
};

// Writes data to a temporary name beside path, flushes it to disk and renames it to path.
bool WriteFileDurably(const QString& path, const QByteArray& data, QString& error);
// Flushes a folder's entries (renames into it) to disk.
void SyncFolder(const QString& path);
