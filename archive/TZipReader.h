#pragma once

#include "archive/TZipError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

class TOutputFolder;

struct TZipEntryInfo {
    QString Name; // decoded; folders end with "/"
    QByteArray RawName;
    uint16_t VersionMadeBy = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0; // of the data itself (the one inside the AES extra field for AES entries)
    uint32_t Crc = 0;
    uint64_t CompressedSize = 0;
    uint64_t Size = 0;
    uint64_t LocalHeaderOffset = 0;
    uint64_t DataOffset = 0;
    uint32_t ExternalAttributes = 0;
    uint16_t DosTime = 0;
    uint16_t DosDate = 0;
    uint16_t LocalDosTime = 0;
    int64_t MTimeNs = 0;
    uint32_t UnixMode = 0; // file type and permission bits; 0 when the archive has none
    int AesStrength = 0;   // 1, 2, 3; 0 when not AES
    int AesVersion = 0;
    bool IsDirectory = false;
    bool IsSymlink = false;

    bool IsEncrypted() const { return Flags & 0x0001; }
};

// Reads ZIP archives: Zip64, data descriptors, stored and Deflate data, AES (the
// authentication code is checked) and traditional encryption. Every count, size and offset is
// checked against the archive's size before use, and archives whose entries overlap are
// refused. Extraction recreates relative paths below a base folder and never writes outside it
// (see TOutputFolder); entry names that are absolute or contain ".." are refused.
class TZipReader {
public:
    TZipReader();
    ~TZipReader();
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;

    // Extraction progress in percent; returning false cancels.
    std::function<bool(double percent)> OnProgress;

    bool Open(const QString& archivePath, const QByteArray& password = {});
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const std::vector<TZipEntryInfo>& Entries() const { return m_entries; }
    // Index of the entry named exactly name (a folder also without its "/"), the last one when
    // the name repeats; -1 when none.
    int FindEntry(const QString& name) const;

    // Extracts the entry named name below baseFolder, recreating its relative path.
    bool ExtractEntry(const QString& name, const QString& baseFolder);
    // Extracts every entry below baseFolder. Unsafe names are refused before anything is written.
    bool ExtractAll(const QString& baseFolder);
    // The content of one entry, checked like an extraction; fails beyond maxSize bytes.
    bool ReadEntry(int index, QByteArray* data, int64_t maxSize);
    // Decodes one entry and checks it (CRC, authentication code, sizes) without keeping it.
    bool TestEntry(int index);

    const TZipError& LastError() const { return m_error; }

    // The largest central directory read into memory.
    static constexpr int64_t MaxCentralDirectorySize = 1ll << 30;

private:
    struct TFolderMeta;
    bool Damaged(const QString& detail);
    bool ParseCentralDirectory(const QByteArray& directory, uint64_t count, int64_t shift, int64_t directoryStart);
    bool ReadAt(int64_t offset, char* data, int64_t size);
    bool Decode(const TZipEntryInfo& entry, const std::function<bool(const char*, size_t)>& sink);
    // ReadEntry without resetting the progress of the extraction it is part of.
    bool ReadContent(const TZipEntryInfo& entry, QByteArray* data, int64_t maxSize);
    bool ExtractOne(TOutputFolder& output, const TZipEntryInfo& entry, const QStringList& components,
                    std::vector<TFolderMeta>& folders);
    void ApplyFolderMeta(TOutputFolder& output, std::vector<TFolderMeta>& folders);
    bool Progress();

    QString m_path;
    QByteArray m_password;
    int m_fd = -1;
    int64_t m_size = 0;
    std::vector<TZipEntryInfo> m_entries;
    TZipError m_error;
    uint64_t m_progressTotal = 0;
    uint64_t m_progressDone = 0;
};
