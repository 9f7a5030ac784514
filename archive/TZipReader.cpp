#include "archive/TZipReader.h"

#include "archive/TOutputFolder.h"
#include "archive/TZipAes.h"
#include "archive/TZipCrypto.h"
#include "archive/ZipFormat.h"

#include <QFile>

#include <openssl/crypto.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZipFormat;

struct TZipReader::TFolderMeta {
    QStringList Components;
    uint32_t Mode = 0;
    int64_t MTimeNs = 0;
};

namespace {

constexpr int64_t ReadChunk = 256 * 1024;

bool HostKeepsUnixMode(uint16_t versionMadeBy) {
    const uint8_t host = uint8_t(versionMadeBy >> 8);
    return host == HostUnix || host == HostMacOsX;
}

// A link comes back exactly as it was stored, whatever it points to: a backup of a home folder
// holds links to absolute paths. Extraction stays inside the output folder because nothing is
// ever written through a link (entries below a link are refused, files replace links).
bool UsableLinkTarget(const QByteArray& target) {
    return !target.isEmpty() && !target.contains('\0');
}

struct timespec ToTimespec(int64_t ns) {
    struct timespec time {};
    time.tv_sec = time_t(ns >= 0 ? ns / 1000000000LL : -((-ns + 999999999LL) / 1000000000LL));
    time.tv_nsec = long(ns - int64_t(time.tv_sec) * 1000000000LL);
    return time;
}

class TFd {
public:
    explicit TFd(int fd)
        : m_fd(fd) {}
    ~TFd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

TZipReader::TZipReader() = default;

TZipReader::~TZipReader() {
    Close();
}

void TZipReader::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_entries.clear();
    OPENSSL_cleanse(m_password.data(), size_t(m_password.size()));
    m_password.clear();
}

bool TZipReader::Damaged(const QString& detail) {
    m_error =
        TZipError::Make(zeDamagedArchive, QStringLiteral("The archive \"%s\" is damaged (%s)."), {m_path, detail});
    return false;
}

bool TZipReader::ReadAt(int64_t offset, char* data, int64_t size) {
    if (offset < 0 || size < 0 || offset > m_size || size > m_size - offset)
        return Damaged(QStringLiteral("data beyond the end of the file"));
    for (int64_t done = 0; done < size;) {
        const ssize_t n = ::pread(m_fd, data + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_error = TZipError::System(zeCannotOpenArchive, QStringLiteral("Cannot read the archive \"%s\": %s"),
                                        m_path, errno);
            return false;
        }
        if (n == 0)
            return Damaged(QStringLiteral("unexpected end of file"));
        done += n;
    }
    return true;
}

bool TZipReader::Open(const QString& archivePath, const QByteArray& password) {
    Close();
    m_error = {};
    m_path = archivePath;
    m_password = password;
    m_fd = ::open(QFile::encodeName(archivePath).constData(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (m_fd < 0 || fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int failure = m_fd < 0 ? errno : EINVAL;
        m_error = TZipError::System(zeCannotOpenArchive, QStringLiteral("Cannot open the archive \"%s\": %s"),
                                    archivePath, failure);
        Close();
        return false;
    }
    m_size = status.st_size;
    if (m_size < EndRecordSize) {
        Close();
        m_error = TZipError::Make(zeCannotOpenArchive, QStringLiteral("Not a ZIP archive: \"%s\""), {archivePath});
        return false;
    }

    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    const int64_t tailSize = std::min<int64_t>(m_size, EndRecordSize + 0xffff);
    QByteArray tail(qsizetype(tailSize), Qt::Uninitialized);
    if (!ReadAt(m_size - tailSize, tail.data(), tailSize)) {
        Close();
        return false;
    }
    int64_t endPos = -1;
    for (int64_t i = tailSize - EndRecordSize; i >= 0; --i) {
        const char* p = tail.constData() + i;
        if (GetU32(p) == EndSignature && i + EndRecordSize + GetU16(p + 20) <= tailSize) {
            endPos = m_size - tailSize + i;
            break;
        }
    }
    if (endPos < 0) {
        Close();
        m_error = TZipError::Make(zeCannotOpenArchive, QStringLiteral("Not a ZIP archive: \"%s\""), {archivePath});
        return false;
    }
    const char* end = tail.constData() + (endPos - (m_size - tailSize));
    if (GetU16(end + 4) != 0 || GetU16(end + 6) != 0) {
        Close();
        m_error = TZipError::Make(zeUnsupported, QStringLiteral("Archives split into parts are not supported: \"%s\""),
                                  {archivePath});
        return false;
    }
    uint64_t count = GetU16(end + 10);
    uint64_t directorySize = GetU32(end + 12);
    uint64_t directoryOffset = GetU32(end + 16);
    int64_t directoryEnd = endPos;

    if (endPos >= Zip64LocatorSize) {
        char locator[Zip64LocatorSize];
        if (!ReadAt(endPos - Zip64LocatorSize, locator, Zip64LocatorSize)) {
            Close();
            return false;
        }
        if (GetU32(locator) == Zip64LocatorSignature) {
            const uint64_t recordPos = GetU64(locator + 8);
            if (recordPos > uint64_t(endPos - Zip64LocatorSize - Zip64EndRecordSize)) {
                Close();
                return Damaged(QStringLiteral("Zip64 end record out of place"));
            }
            char record[Zip64EndRecordSize];
            if (!ReadAt(int64_t(recordPos), record, Zip64EndRecordSize)) {
                Close();
                return false;
            }
            if (GetU32(record) != Zip64EndSignature) {
                Close();
                return Damaged(QStringLiteral("Zip64 end record missing"));
            }
            count = GetU64(record + 32);
            directorySize = GetU64(record + 40);
            directoryOffset = GetU64(record + 48);
            directoryEnd = int64_t(recordPos);
        }
    }
    // Data put before the archive (self-extracting archives, concatenation) shifts every
    // offset by the same amount.
    if (directorySize > uint64_t(directoryEnd) || directoryOffset > uint64_t(directoryEnd) - directorySize) {
        Close();
        return Damaged(QStringLiteral("central directory out of place"));
    }
    const int64_t shift = directoryEnd - int64_t(directorySize) - int64_t(directoryOffset);
    const int64_t directoryStart = directoryEnd - int64_t(directorySize);
    if (int64_t(directorySize) > MaxCentralDirectorySize) {
        Close();
        return Damaged(QStringLiteral("central directory too large"));
    }
    if (count > directorySize / CentralHeaderSize) {
        Close();
        return Damaged(QStringLiteral("more entries than the central directory holds"));
    }
    QByteArray directory(qsizetype(directorySize), Qt::Uninitialized);
    if (!ReadAt(directoryStart, directory.data(), int64_t(directorySize)) ||
        !ParseCentralDirectory(directory, count, shift, directoryStart)) {
        const TZipError error = m_error;
        Close();
        m_error = error;
        return false;
    }
    return true;
}

bool TZipReader::ParseCentralDirectory(const QByteArray& directory, uint64_t count, int64_t shift,
                                       int64_t directoryStart) {
    m_entries.reserve(size_t(count));
    const char* data = directory.constData();
    const int64_t size = directory.size();
    int64_t pos = 0;
    for (uint64_t index = 0; index < count; ++index) {
        if (size - pos < CentralHeaderSize || GetU32(data + pos) != CentralHeaderSignature)
            return Damaged(QStringLiteral("central directory truncated"));
        const char* h = data + pos;
        TZipEntryInfo entry;
        entry.VersionMadeBy = GetU16(h + 4);
        entry.Flags = GetU16(h + 8);
        entry.Method = GetU16(h + 10);
        entry.DosTime = GetU16(h + 12);
        entry.DosDate = GetU16(h + 14);
        entry.Crc = GetU32(h + 16);
        entry.CompressedSize = GetU32(h + 20);
        entry.Size = GetU32(h + 24);
        const int nameLength = GetU16(h + 28);
        const int extraLength = GetU16(h + 30);
        const int commentLength = GetU16(h + 32);
        const uint16_t diskStart = GetU16(h + 34);
        entry.ExternalAttributes = GetU32(h + 38);
        entry.LocalHeaderOffset = GetU32(h + 42);
        if (size - pos - CentralHeaderSize < int64_t(nameLength) + extraLength + commentLength)
            return Damaged(QStringLiteral("central directory truncated"));
        entry.RawName = QByteArray(h + CentralHeaderSize, nameLength);
        const char* extra = h + CentralHeaderSize + nameLength;

        bool haveNtfsTime = false;
        bool haveUnixTime = false;
        QString unicodeName;
        bool zip64Seen = false;
        for (int e = 0; e + 4 <= extraLength;) {
            const uint16_t id = GetU16(extra + e);
            const int length = GetU16(extra + e + 2);
            if (e + 4 + length > extraLength)
                break; // some tools pad the extra field; what does not fit is ignored
            const char* field = extra + e + 4;
            if (id == ExtraZip64 && !zip64Seen) {
                zip64Seen = true;
                int at = 0;
                auto take = [&](uint64_t& value) {
                    if (at + 8 > length)
                        return false;
                    value = GetU64(field + at);
                    at += 8;
                    return true;
                };
                if ((entry.Size == Unknown32 && !take(entry.Size)) ||
                    (entry.CompressedSize == Unknown32 && !take(entry.CompressedSize)) ||
                    (entry.LocalHeaderOffset == Unknown32 && !take(entry.LocalHeaderOffset)))
                    return Damaged(QStringLiteral("Zip64 extra field too short"));
                if (diskStart == Unknown16 && (at + 4 > length || GetU32(field + at) != 0))
                    return Damaged(QStringLiteral("entry on another disk"));
            } else if (id == ExtraAes && length >= 7 && field[2] == 'A' && field[3] == 'E') {
                entry.AesVersion = GetU16(field);
                entry.AesStrength = uint8_t(field[4]);
                if (entry.Method == MethodAes)
                    entry.Method = GetU16(field + 5);
            } else if (id == ExtraNtfs && length >= 4) {
                for (int t = 4; t + 4 <= length;) {
                    const uint16_t tag = GetU16(field + t);
                    const int tagSize = GetU16(field + t + 2);
                    if (t + 4 + tagSize > length)
                        break;
                    if (tag == 1 && tagSize >= 24) {
                        const uint64_t fileTime = GetU64(field + t + 4);
                        if (fileTime != 0 && FileTimeToUnixNs(fileTime, &entry.MTimeNs))
                            haveNtfsTime = true;
                    }
                    t += 4 + tagSize;
                }
            } else if (id == ExtraTimestamp && length >= 5 && (field[0] & 1)) {
                if (!haveNtfsTime)
                    entry.MTimeNs = int64_t(int32_t(GetU32(field + 1))) * 1000000000LL;
                haveUnixTime = true;
            } else if (id == ExtraUnicodePath && length >= 5 && field[0] == 1) {
                const uint32_t nameCrc = GetU32(field + 1);
                if (nameCrc == uint32_t(crc32(0, reinterpret_cast<const Bytef*>(entry.RawName.constData()),
                                              uInt(entry.RawName.size()))))
                    unicodeName = QString::fromUtf8(field + 5, length - 5);
            }
            e += 4 + length;
        }
        // With both present the NTFS time wins: it is the more precise one.
        if (!haveNtfsTime && !haveUnixTime)
            entry.MTimeNs = FromDosTime(entry.DosTime, entry.DosDate) * 1000000000LL;
        if (entry.Method == MethodAes && entry.AesStrength == 0)
            return Damaged(QStringLiteral("AES entry without its extra field"));

        if (entry.Flags & FlagUtf8)
            entry.Name = QString::fromUtf8(entry.RawName);
        else if (!unicodeName.isEmpty())
            entry.Name = unicodeName;
        else if (IsValidUtf8(entry.RawName))
            entry.Name = QString::fromUtf8(entry.RawName);
        else
            entry.Name = DecodeCp437(entry.RawName);
        if (HostKeepsUnixMode(entry.VersionMadeBy))
            entry.UnixMode = entry.ExternalAttributes >> 16;
        entry.IsDirectory = entry.Name.endsWith(u'/') || S_ISDIR(entry.UnixMode) ||
                            ((entry.ExternalAttributes & DosDirectory) && entry.Size == 0 && entry.UnixMode == 0);
        entry.IsSymlink = !entry.IsDirectory && S_ISLNK(entry.UnixMode);

        const int64_t localOffset =
            int64_t(std::min<uint64_t>(entry.LocalHeaderOffset, uint64_t(INT64_MAX / 2))) + shift;
        if (localOffset < 0 || localOffset > directoryStart - LocalHeaderSize)
            return Damaged(QStringLiteral("entry outside the archive"));
        entry.LocalHeaderOffset = uint64_t(localOffset);
        m_entries.push_back(std::move(entry));
        pos += CentralHeaderSize + nameLength + extraLength + commentLength;
    }

    // Every entry's data must lie between its local header and the central directory, and no
    // two entries may share bytes (overlapping entries are how small archives expand into huge
    // outputs).
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    ranges.reserve(m_entries.size());
    for (TZipEntryInfo& entry : m_entries) {
        char local[LocalHeaderSize];
        if (!ReadAt(int64_t(entry.LocalHeaderOffset), local, LocalHeaderSize))
            return false;
        if (GetU32(local) != LocalHeaderSignature)
            return Damaged(QStringLiteral("local header missing"));
        entry.LocalDosTime = GetU16(local + 10);
        const int nameLength = GetU16(local + 26);
        const int extraLength = GetU16(local + 28);
        const uint64_t dataOffset = entry.LocalHeaderOffset + LocalHeaderSize + uint64_t(nameLength) + extraLength;
        if (dataOffset > uint64_t(directoryStart) || entry.CompressedSize > uint64_t(directoryStart) - dataOffset)
            return Damaged(QStringLiteral("entry data beyond the central directory"));
        if (nameLength != entry.RawName.size())
            return Damaged(QStringLiteral("local and central names differ"));
        QByteArray localName(nameLength, Qt::Uninitialized);
        if (!ReadAt(int64_t(entry.LocalHeaderOffset) + LocalHeaderSize, localName.data(), nameLength))
            return false;
        if (localName != entry.RawName)
            return Damaged(QStringLiteral("local and central names differ"));
        entry.DataOffset = dataOffset;
        ranges.emplace_back(entry.LocalHeaderOffset, dataOffset + entry.CompressedSize);
    }
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second)
            return Damaged(QStringLiteral("overlapping entries"));
    return true;
}

int TZipReader::FindEntry(const QString& name) const {
    for (int i = int(m_entries.size()) - 1; i >= 0; --i) {
        const QString& entryName = m_entries[size_t(i)].Name;
        if (entryName == name || (m_entries[size_t(i)].IsDirectory && entryName == name + u'/'))
            return i;
    }
    return -1;
}

bool TZipReader::Progress() {
    if (!OnProgress)
        return true;
    const double percent =
        m_progressTotal ? std::min(100.0, 100.0 * double(m_progressDone) / double(m_progressTotal)) : 100.0;
    if (OnProgress(percent))
        return true;
    m_error = TZipError::Make(zeCancelled, QStringLiteral("Cancelled"));
    return false;
}

bool TZipReader::Decode(const TZipEntryInfo& entry, const std::function<bool(const char*, size_t)>& sink) {
    if (entry.Flags & FlagStrongEncryption || (entry.Method != MethodStored && entry.Method != MethodDeflated)) {
        m_error = TZipError::Make(zeUnsupported, QStringLiteral("Unsupported compression method %s in \"%s\""),
                                  {QString::number(entry.Method), entry.Name});
        return false;
    }
    const bool aesEntry = entry.AesStrength != 0;
    if (aesEntry && (entry.AesStrength < 1 || entry.AesStrength > 3)) {
        m_error = TZipError::Make(zeUnsupported, QStringLiteral("Unsupported encryption in \"%s\""), {entry.Name});
        return false;
    }
    const TZipError integrity = TZipError::Make(
        zeIntegrityCheckFailed,
        QStringLiteral("The entry \"%s\" failed its integrity check (wrong password or damaged archive)."),
        {entry.Name});
    const TZipError wrongPassword =
        TZipError::Make(zeWrongPassword, QStringLiteral("Wrong password for \"%s\""), {entry.Name});

    int64_t offset = int64_t(entry.DataOffset);
    uint64_t remaining = entry.CompressedSize;
    std::optional<TZipAes> aes;
    std::optional<TZipCrypto> crypto;
    if (entry.IsEncrypted() && aesEntry) {
        const int saltLength = AesSaltLength(entry.AesStrength);
        if (remaining < uint64_t(saltLength) + AesVerifierSize + AesMacSize)
            return Damaged(QStringLiteral("encrypted entry too short"));
        QByteArray salt(saltLength, Qt::Uninitialized);
        char stored[AesVerifierSize];
        if (!ReadAt(offset, salt.data(), saltLength) || !ReadAt(offset + saltLength, stored, AesVerifierSize))
            return false;
        QByteArray verifier;
        aes.emplace();
        if (!aes->Init(entry.AesStrength, m_password, salt, &verifier)) {
            m_error = wrongPassword;
            return false;
        }
        if (verifier != QByteArray(stored, AesVerifierSize)) {
            m_error = wrongPassword;
            return false;
        }
        offset += saltLength + AesVerifierSize;
        remaining -= uint64_t(saltLength + AesVerifierSize + AesMacSize);
    } else if (entry.IsEncrypted()) {
        if (remaining < ZipCryptoHeaderSize)
            return Damaged(QStringLiteral("encrypted entry too short"));
        char header[ZipCryptoHeaderSize];
        if (!ReadAt(offset, header, ZipCryptoHeaderSize))
            return false;
        crypto.emplace(m_password);
        crypto->Decrypt(header, ZipCryptoHeaderSize);
        const uint8_t check =
            (entry.Flags & FlagDataDescriptor) ? uint8_t(entry.LocalDosTime >> 8) : uint8_t(entry.Crc >> 24);
        if (uint8_t(header[11]) != check) {
            m_error = wrongPassword;
            return false;
        }
        offset += ZipCryptoHeaderSize;
        remaining -= ZipCryptoHeaderSize;
    } else if (aesEntry) {
        return Damaged(QStringLiteral("AES entry without the encryption flag"));
    }

    const bool inflating = entry.Method == MethodDeflated;
    z_stream stream{};
    if (inflating && inflateInit2(&stream, -15) != Z_OK) {
        m_error = TZipError::Make(zeDamagedArchive, QStringLiteral("Out of memory"));
        return false;
    }
    struct TInflateEnd {
        z_stream* Stream;
        bool Active;
        ~TInflateEnd() {
            if (Active)
                inflateEnd(Stream);
        }
    } inflateEndGuard{&stream, inflating};

    QByteArray input(qsizetype(std::min<uint64_t>(remaining, ReadChunk)), Qt::Uninitialized);
    QByteArray output(inflating ? ReadChunk : 0, Qt::Uninitialized);
    uint64_t produced = 0;
    uint32_t crc = 0;
    bool streamEnded = !inflating;
    auto deliver = [&](const char* data, size_t length) {
        if (uint64_t(length) > entry.Size - produced) {
            if (entry.IsEncrypted())
                m_error = integrity;
            else
                Damaged(QStringLiteral("entry longer than its recorded size"));
            return false;
        }
        produced += length;
        m_progressDone += length;
        crc = uint32_t(crc32_z(crc, reinterpret_cast<const Bytef*>(data), length));
        return sink(data, length) && Progress();
    };
    while (remaining > 0 || (inflating && !streamEnded && stream.avail_in > 0)) {
        const int64_t length = int64_t(std::min<uint64_t>(remaining, uint64_t(input.size())));
        if (length > 0) {
            if (!ReadAt(offset, input.data(), length))
                return false;
            offset += length;
            remaining -= uint64_t(length);
            if (aes)
                aes->Decrypt(input.data(), size_t(length));
            else if (crypto)
                crypto->Decrypt(input.data(), size_t(length));
        }
        if (!inflating) {
            if (!deliver(input.constData(), size_t(length)))
                return false;
            continue;
        }
        if (streamEnded)
            continue; // bytes after the end of the Deflate stream are ignored, but authenticated
        stream.next_in = reinterpret_cast<Bytef*>(input.data());
        stream.avail_in = uInt(length);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(output.data());
            stream.avail_out = uInt(output.size());
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                if (entry.IsEncrypted())
                    m_error = integrity;
                else
                    Damaged(QStringLiteral("bad compressed data"));
                return false;
            }
            const size_t have = size_t(output.size()) - stream.avail_out;
            if (have && !deliver(output.constData(), have))
                return false;
            if (result == Z_STREAM_END) {
                streamEnded = true;
                break;
            }
            if (result == Z_BUF_ERROR && have == 0)
                break;
        } while (stream.avail_in > 0 || stream.avail_out == 0);
        stream.avail_in = 0;
    }
    if (aes) {
        char stored[AesMacSize];
        if (!ReadAt(offset, stored, AesMacSize))
            return false;
        const QByteArray code = aes->Finish();
        if (code.size() != AesMacSize || CRYPTO_memcmp(code.constData(), stored, AesMacSize) != 0) {
            m_error = integrity;
            return false;
        }
    }
    if (!streamEnded || produced != entry.Size) {
        if (entry.IsEncrypted())
            m_error = integrity;
        else
            Damaged(QStringLiteral("entry shorter than its recorded size"));
        return false;
    }
    // AE-2 entries carry no CRC: their authentication code stands for it.
    if (!(aes && entry.AesVersion == 2) && crc != entry.Crc) {
        m_error = integrity;
        return false;
    }
    return true;
}

bool TZipReader::ReadEntry(int index, QByteArray* data, int64_t maxSize) {
    data->clear();
    if (!IsOpen() || index < 0 || index >= int(m_entries.size())) {
        m_error = TZipError::Make(zeEntryNotFound, QStringLiteral("The entry \"%s\" was not found in the archive"),
                                  {QString::number(index)});
        return false;
    }
    const TZipEntryInfo& entry = m_entries[size_t(index)];
    m_progressTotal = entry.Size;
    m_progressDone = 0;
    return ReadContent(entry, data, maxSize);
}

bool TZipReader::ReadContent(const TZipEntryInfo& entry, QByteArray* data, int64_t maxSize) {
    data->clear();
    if (entry.Size > uint64_t(maxSize)) {
        m_error = TZipError::Make(zeUnsupported, QStringLiteral("The entry \"%s\" is too large"), {entry.Name});
        return false;
    }
    const bool ok = Decode(entry, [data](const char* bytes, size_t length) {
        data->append(bytes, qsizetype(length));
        return true;
    });
    if (!ok)
        data->clear();
    return ok;
}

bool TZipReader::TestEntry(int index) {
    m_error = {};
    if (!IsOpen() || index < 0 || index >= int(m_entries.size())) {
        m_error = TZipError::Make(zeEntryNotFound, QStringLiteral("The entry \"%s\" was not found in the archive"),
                                  {QString::number(index)});
        return false;
    }
    const TZipEntryInfo& entry = m_entries[size_t(index)];
    m_progressTotal = entry.Size;
    m_progressDone = 0;
    return entry.IsDirectory || Decode(entry, [](const char*, size_t) { return true; });
}

bool TZipReader::ExtractEntry(const QString& name, const QString& baseFolder) {
    m_error = {};
    const int index = IsOpen() ? FindEntry(name) : -1;
    if (index < 0) {
        m_error =
            TZipError::Make(zeEntryNotFound, QStringLiteral("The entry \"%s\" was not found in the archive"), {name});
        return false;
    }
    const TZipEntryInfo& entry = m_entries[size_t(index)];
    QStringList components;
    if (!SplitEntryName(entry.Name, &components) || (components.isEmpty() && !entry.IsDirectory)) {
        m_error = TZipError::Make(zeUnsafeEntry, QStringLiteral("Unsafe entry name \"%s\" refused"), {entry.Name});
        return false;
    }
    TOutputFolder output;
    if (!output.Open(baseFolder, &m_error))
        return false;
    m_progressTotal = entry.Size;
    m_progressDone = 0;
    std::vector<TFolderMeta> folders;
    if (!ExtractOne(output, entry, components, folders))
        return false;
    ApplyFolderMeta(output, folders);
    return true;
}

bool TZipReader::ExtractAll(const QString& baseFolder) {
    m_error = {};
    if (!IsOpen()) {
        m_error = TZipError::Make(zeCannotOpenArchive, QStringLiteral("Cannot open the archive \"%s\": %s"),
                                  {m_path, QString()});
        return false;
    }
    std::vector<QStringList> names(m_entries.size());
    m_progressTotal = 0;
    m_progressDone = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (!SplitEntryName(m_entries[i].Name, &names[i]) || (names[i].isEmpty() && !m_entries[i].IsDirectory)) {
            m_error =
                TZipError::Make(zeUnsafeEntry, QStringLiteral("Unsafe entry name \"%s\" refused"), {m_entries[i].Name});
            return false;
        }
        m_progressTotal += m_entries[i].Size;
    }
    TOutputFolder output;
    if (!output.Open(baseFolder, &m_error))
        return false;
    std::vector<TFolderMeta> folders;
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (!ExtractOne(output, m_entries[i], names[i], folders))
            return false;
    ApplyFolderMeta(output, folders);
    return true;
}

bool TZipReader::ExtractOne(TOutputFolder& output, const TZipEntryInfo& entry, const QStringList& components,
                            std::vector<TFolderMeta>& folders) {
    if (entry.IsDirectory) {
        if (components.isEmpty())
            return true; // "./": the base folder itself
        const int fd = output.OpenFolder(components, entry.Name, &m_error);
        if (fd < 0)
            return false;
        ::close(fd);
        folders.push_back({components, entry.UnixMode & 07777, entry.MTimeNs});
        return true;
    }
    const QString& leaf = components.last();
    const TFd folder(output.OpenFolder(components.mid(0, components.size() - 1), entry.Name, &m_error));
    if (folder.Get() < 0)
        return false;
    struct timespec times[2] = {ToTimespec(entry.MTimeNs), ToTimespec(entry.MTimeNs)};

    if (entry.IsSymlink) {
        QByteArray target;
        if (!ReadContent(entry, &target, PATH_MAX))
            return false;
        if (!UsableLinkTarget(target)) {
            m_error = TZipError::Make(zeUnsafeEntry, QStringLiteral("The symbolic link \"%s\" has no usable target"),
                                      {entry.Name});
            return false;
        }
        QByteArray temporary;
        if (!output.CreateTemporaryLink(folder.Get(), target, &temporary, entry.Name, &m_error))
            return false;
        ::utimensat(folder.Get(), temporary.constData(), times, AT_SYMLINK_NOFOLLOW);
        return output.Commit(folder.Get(), temporary, leaf, entry.Name, &m_error);
    }

    QByteArray temporary;
    const int fd = output.CreateTemporary(folder.Get(), &temporary, entry.Name, &m_error);
    if (fd < 0)
        return false;
    TFd file(fd);
    bool writeFailed = false;
    const bool decoded = Decode(entry, [&](const char* data, size_t length) {
        for (size_t done = 0; done < length;) {
            const ssize_t n = ::write(fd, data + done, length - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_error = TZipError::System(zeCannotWriteOutput, QStringLiteral("Cannot create \"%s\": %s"), entry.Name,
                                            n < 0 ? errno : ENOSPC);
                writeFailed = true;
                return false;
            }
            done += size_t(n);
        }
        return true;
    });
    if (!decoded || writeFailed) {
        output.Discard(folder.Get(), temporary);
        return false;
    }
    mode_t mode = entry.UnixMode & 0777; // never set-user-ID, set-group-ID or sticky from an archive
    if (!mode)
        mode = (entry.ExternalAttributes & DosReadOnly) ? 0444 : 0644;
    ::fchmod(fd, mode);
    ::futimens(fd, times);
    return output.Commit(folder.Get(), temporary, leaf, entry.Name, &m_error);
}

void TZipReader::ApplyFolderMeta(TOutputFolder& output, std::vector<TFolderMeta>& folders) {
    // After the files: writing into a folder changes its time. Deepest first.
    std::stable_sort(folders.begin(), folders.end(), [](const TFolderMeta& a, const TFolderMeta& b) {
        return a.Components.size() > b.Components.size();
    });
    for (const TFolderMeta& meta : folders) {
        TZipError ignored;
        const TFd fd(output.OpenFolder(meta.Components, QString(), &ignored));
        if (fd.Get() < 0)
            continue;
        if (meta.Mode)
            ::fchmod(fd.Get(), meta.Mode & 0777);
        struct timespec times[2] = {ToTimespec(meta.MTimeNs), ToTimespec(meta.MTimeNs)};
        ::futimens(fd.Get(), times);
    }
}
