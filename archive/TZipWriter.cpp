#include "archive/TZipWriter.h"

#include "archive/TWorkerPool.h"
#include "archive/TZipAes.h"
#include "archive/TZipCrypto.h"
#include "archive/ZipFormat.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <libdeflate.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZipFormat;

struct TZipWriter::TEntry {
    QByteArray Name;
    uint16_t Flags = 0;
    uint16_t Method = MethodStored; // of the data itself; AES entries say 99 in their headers
    TDosTime Dos;
    int64_t MTimeNs = 0;
    int64_t ATimeNs = 0;
    uint32_t Crc = 0;
    uint64_t CompressedSize = 0;
    uint64_t Size = 0;
    uint64_t Offset = 0;
    uint32_t ExternalAttributes = 0;
    int AesStrength = 0;
    bool DataDescriptor = false;
};

struct TZipWriter::TBody {
    TCompletion Done;
    QByteArray Payload; // everything between the local header and the next entry
    uint16_t Method = MethodStored;
    uint32_t Crc = 0;
    uint64_t Size = 0;
    bool Ok = false;
};

struct TZipWriter::TPending {
    TEntry Entry;
    std::shared_ptr<TBody> Body; // null for entries without data
    QString SourcePath;
    int64_t QueuedBytes = 0;
};

namespace {

constexpr int64_t ChunkSize = 1 << 20;
constexpr int DictionarySize = 32768;
constexpr qsizetype OutputBufferSize = 1 << 20;
constexpr size_t MaxQueuedEntries = 4096;

int DeflateLevel(TZipLevel level) {
    switch (level) {
    case TZipLevel::Fastest:
        return 1;
    case TZipLevel::Max:
        return 9;
    default:
        return 6;
    }
}

uint16_t DeflateFlags(TZipLevel level) {
    switch (level) {
    case TZipLevel::Fastest:
        return FlagDeflateSuperFast;
    case TZipLevel::Max:
        return FlagDeflateMax;
    default:
        return 0;
    }
}

// libdeflate compressors are costly to set up; each worker thread keeps one per level.
struct TCompressorCache {
    libdeflate_compressor* ByLevel[13] = {};
    ~TCompressorCache() {
        for (libdeflate_compressor* compressor : ByLevel)
            libdeflate_free_compressor(compressor);
    }
    libdeflate_compressor* Get(int level) {
        if (!ByLevel[level])
            ByLevel[level] = libdeflate_alloc_compressor(level);
        return ByLevel[level];
    }
};

struct TBodyRecipe {
    bool Compress = false;
    int Level = 6;
    int AesStrength = 0;
    bool ZipCrypto = false;
    QByteArray Password;
};

// Runs on a worker: compresses and encrypts one whole entry.
void MakeBody(TZipWriter::TBody& body, const QByteArray& input, const TBodyRecipe& recipe) noexcept {
    try {
        body.Size = uint64_t(input.size());
        body.Crc = uint32_t(crc32_z(0, reinterpret_cast<const Bytef*>(input.constData()), size_t(input.size())));
        QByteArray data;
        if (recipe.Compress && !input.isEmpty()) {
            thread_local TCompressorCache cache;
            if (libdeflate_compressor* compressor = cache.Get(recipe.Level)) {
                const size_t bound = libdeflate_deflate_compress_bound(compressor, size_t(input.size()));
                QByteArray output(qsizetype(bound), Qt::Uninitialized);
                const size_t length = libdeflate_deflate_compress(compressor, input.constData(), size_t(input.size()),
                                                                  output.data(), bound);
                // Data that does not shrink is stored as it is, like every ZIP tool does.
                if (length > 0 && length < size_t(input.size())) {
                    output.truncate(qsizetype(length));
                    data = std::move(output);
                    body.Method = MethodDeflated;
                }
            }
        }
        if (body.Method == MethodStored)
            data = input;
        if (recipe.AesStrength) {
            QByteArray salt, verifier;
            TZipAes aes;
            if (TZipAes::MakeSalt(recipe.AesStrength, &salt) &&
                aes.Init(recipe.AesStrength, recipe.Password, salt, &verifier)) {
                aes.Encrypt(data.data(), size_t(data.size()));
                body.Payload = salt + verifier + data + aes.Finish();
                body.Ok = true;
            }
        } else if (recipe.ZipCrypto) {
            TZipCrypto crypto(recipe.Password);
            char header[ZipCryptoHeaderSize];
            if (crypto.MakeHeader(uint8_t(body.Crc >> 24), header)) {
                crypto.Encrypt(data.data(), size_t(data.size()));
                body.Payload = QByteArray(header, ZipCryptoHeaderSize) + data;
                body.Ok = true;
            }
        } else {
            body.Payload = std::move(data);
            body.Ok = true;
        }
    } catch (const std::exception&) {
        body.Ok = false;
    }
    body.Done.Set();
}

// One chunk of a streamed entry: raw Deflate ending on a byte boundary (sync flush), primed
// with the 32 KiB before it, so that the chunks simply follow one another in the entry.
struct TChunk {
    TCompletion Done;
    QByteArray Input;
    QByteArray Dictionary;
    QByteArray Output;
    uint32_t Crc = 0;
    int64_t InputSize = 0;
    bool Ok = false;
};

void CompressChunk(TChunk& chunk, int level) noexcept {
    try {
        chunk.InputSize = chunk.Input.size();
        chunk.Crc =
            uint32_t(crc32_z(0, reinterpret_cast<const Bytef*>(chunk.Input.constData()), size_t(chunk.Input.size())));
        z_stream stream{};
        if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK) {
            bool ok = chunk.Dictionary.isEmpty() ||
                      deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(chunk.Dictionary.constData()),
                                           uInt(chunk.Dictionary.size())) == Z_OK;
            chunk.Output.resize(qsizetype(deflateBound(&stream, uLong(chunk.Input.size()))) + 64);
            stream.next_in = reinterpret_cast<Bytef*>(chunk.Input.data());
            stream.avail_in = uInt(chunk.Input.size());
            qsizetype have = 0;
            while (ok) {
                if (have == chunk.Output.size())
                    chunk.Output.resize(chunk.Output.size() * 2);
                stream.next_out = reinterpret_cast<Bytef*>(chunk.Output.data() + have);
                stream.avail_out = uInt(chunk.Output.size() - have);
                const int result = deflate(&stream, Z_SYNC_FLUSH);
                have = chunk.Output.size() - qsizetype(stream.avail_out);
                if (result != Z_OK && result != Z_BUF_ERROR)
                    ok = false;
                else if (stream.avail_out != 0)
                    break;
            }
            deflateEnd(&stream);
            chunk.Output.truncate(have);
            chunk.Ok = ok && stream.avail_in == 0;
        }
        chunk.Input = QByteArray();
        chunk.Dictionary = QByteArray();
    } catch (const std::exception&) {
        chunk.Ok = false;
    }
    chunk.Done.Set();
}

int64_t TimeNs(const struct timespec& time) {
    return int64_t(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

int64_t FloorSeconds(int64_t ns) {
    return ns >= 0 ? ns / 1000000000LL : -((-ns + 999999999LL) / 1000000000LL);
}

void AppendTimes(QByteArray& extra, int64_t mtimeNs, int64_t atimeNs, bool central) {
    const int64_t seconds = FloorSeconds(mtimeNs);
    if (seconds >= 0 && seconds <= INT32_MAX) {
        PutU16(extra, ExtraTimestamp);
        PutU16(extra, 5);
        PutU8(extra, 1); // modification time only
        PutU32(extra, uint32_t(seconds));
    }
    // NTFS times keep what the two-second DOS time and the one-second timestamp lose. Readers
    // take them from the central directory, so the local headers go without (36 bytes an
    // entry). The creation time is unknown here; the modification time stands in for it.
    if (!central)
        return;
    PutU16(extra, ExtraNtfs);
    PutU16(extra, 32);
    PutU32(extra, 0);
    PutU16(extra, 1);
    PutU16(extra, 24);
    PutU64(extra, UnixNsToFileTime(mtimeNs));
    PutU64(extra, UnixNsToFileTime(atimeNs));
    PutU64(extra, UnixNsToFileTime(mtimeNs));
}

// The AES extra field of an encrypted entry, the same in its local header and in the central
// directory: strength (1..3) and the method the data was compressed with before encryption.
void AppendAesField(QByteArray& extra, int strength, uint16_t method) {
    PutU16(extra, ExtraAes);
    PutU16(extra, 7);
    PutU16(extra, 2); // AE-2: no CRC of the plain data, the authentication code covers it
    extra.append("AE", 2);
    PutU8(extra, uint8_t(strength));
    PutU16(extra, method);
}

class TFdCloser {
public:
    explicit TFdCloser(int fd)
        : m_fd(fd) {}
    ~TFdCloser() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TFdCloser(const TFdCloser&) = delete;
    TFdCloser& operator=(const TFdCloser&) = delete;

private:
    int m_fd;
};

} // namespace

TZipWriter::TZipWriter(const TZipWriterSettings& settings)
    : m_settings(settings) {
    for (const QString& mask : m_settings.StoredMasks)
        m_masks.emplace_back(QRegularExpression::wildcardToRegularExpression(mask),
                             QRegularExpression::CaseInsensitiveOption);
    switch (m_settings.Encryption) {
    case TZipEncryption::Aes128:
        m_aesStrength = 1;
        break;
    case TZipEncryption::Aes192:
        m_aesStrength = 2;
        break;
    case TZipEncryption::Aes256:
        m_aesStrength = 3;
        break;
    default:
        break;
    }
    if (m_settings.Threads <= 0)
        m_settings.Threads = std::max(QThread::idealThreadCount(), 1);
    m_settings.WholeEntryLimit = std::max<int64_t>(m_settings.WholeEntryLimit, 0);
}

TZipWriter::~TZipWriter() {
    Abandon();
}

bool TZipWriter::Create(const QString& archivePath) {
    Abandon();
    m_error = {};
    m_entries.clear();
    m_offset = 0;
    m_path = archivePath;
    const QByteArray native = QFile::encodeName(archivePath);
    struct stat existing {};
    if (lstat(native.constData(), &existing) == 0 && unlink(native.constData()) != 0) {
        m_error = TZipError::System(zeCannotWriteArchive, QStringLiteral("Cannot create the archive \"%s\": %s"),
                                    archivePath, errno);
        return false;
    }
    // The unfinished archive sits beside its final name under a short name of its own, so that
    // any name the file system takes for the archive also works while it is being written.
    const qsizetype slash = native.lastIndexOf('/');
    m_tempPath = native.left(slash + 1) + ".vaultora-zip-XXXXXX";
    m_fd = mkostemp(m_tempPath.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_error = TZipError::System(zeCannotWriteArchive, QStringLiteral("Cannot create the archive \"%s\": %s"),
                                    archivePath, errno);
        return false;
    }
    m_buffer.reserve(OutputBufferSize);
    m_pool = std::make_unique<TWorkerPool>(m_settings.Threads);
    return true;
}

void TZipWriter::Abandon() {
    m_queue.clear();
    m_queuedBytes = 0;
    m_buffer.clear();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
        unlink(m_tempPath.constData());
    }
    m_pool.reset();
}

bool TZipWriter::ValidName(const QString& name, bool folder, QByteArray* encoded) const {
    QString plain = name;
    if (folder)
        while (plain.endsWith(u'/'))
            plain.chop(1);
    else if (plain.endsWith(u'/'))
        return false;
    QStringList components;
    if (!SplitEntryName(plain, &components) || components.isEmpty())
        return false;
    *encoded = components.join(u'/').toUtf8();
    if (folder)
        encoded->append('/');
    return encoded->size() <= 0xffff;
}

bool TZipWriter::StoreWithoutCompression(const QString& fileName) const {
    for (const QRegularExpression& mask : m_masks)
        if (mask.match(fileName).hasMatch())
            return true;
    return false;
}

void TZipWriter::Fail(const QString& sourcePath, const TZipError& error) {
    if (OnFailure)
        OnFailure(sourcePath, error);
}

bool TZipWriter::Progress(double percent) {
    return !OnProgress || OnProgress(percent);
}

TZipWriter::TEntry TZipWriter::MakeEntry(const QByteArray& encodedName, const TSourceInfo& info, bool directory) const {
    TEntry entry;
    entry.Name = encodedName;
    for (const char c : encodedName)
        if (uint8_t(c) >= 0x80) {
            entry.Flags |= FlagUtf8;
            break;
        }
    entry.MTimeNs = info.MTimeNs;
    entry.ATimeNs = info.ATimeNs;
    entry.Dos = ToDosTime(FloorSeconds(info.MTimeNs));
    uint32_t mode = info.Mode;
    if (!(mode & S_IFMT))
        mode |= directory ? S_IFDIR : S_IFREG;
    if (!(mode & 07777))
        mode |= directory ? 0755 : 0644;
    uint32_t dos = directory ? DosDirectory : DosArchive;
    if (!(mode & S_IWUSR))
        dos |= DosReadOnly;
    entry.ExternalAttributes = (mode << 16) | dos;
    return entry;
}

QByteArray TZipWriter::LocalHeader(const TEntry& entry) const {
    QByteArray extra;
    PutU16(extra, ExtraZip64);
    PutU16(extra, 16);
    PutU64(extra, entry.DataDescriptor ? 0 : entry.Size);
    PutU64(extra, entry.DataDescriptor ? 0 : entry.CompressedSize);
    AppendTimes(extra, entry.MTimeNs, entry.ATimeNs, false);
    if (entry.AesStrength)
        AppendAesField(extra, entry.AesStrength, entry.Method);
    QByteArray header;
    header.reserve(LocalHeaderSize + entry.Name.size() + extra.size());
    PutU32(header, LocalHeaderSignature);
    PutU16(header, entry.AesStrength ? VersionAes : VersionZip64);
    PutU16(header, entry.Flags);
    PutU16(header, entry.AesStrength ? MethodAes : entry.Method);
    PutU16(header, entry.Dos.Time);
    PutU16(header, entry.Dos.Date);
    PutU32(header, entry.DataDescriptor ? 0 : entry.Crc);
    PutU32(header, Unknown32);
    PutU32(header, Unknown32);
    PutU16(header, uint16_t(entry.Name.size()));
    PutU16(header, uint16_t(extra.size()));
    header.append(entry.Name);
    header.append(extra);
    return header;
}

QByteArray TZipWriter::CentralHeader(const TEntry& entry) const {
    QByteArray extra;
    PutU16(extra, ExtraZip64);
    PutU16(extra, 24);
    PutU64(extra, entry.Size);
    PutU64(extra, entry.CompressedSize);
    PutU64(extra, entry.Offset);
    AppendTimes(extra, entry.MTimeNs, entry.ATimeNs, true);
    if (entry.AesStrength)
        AppendAesField(extra, entry.AesStrength, entry.Method);
    QByteArray header;
    header.reserve(CentralHeaderSize + entry.Name.size() + extra.size());
    PutU32(header, CentralHeaderSignature);
    PutU16(header, VersionMadeBy);
    PutU16(header, entry.AesStrength ? VersionAes : VersionZip64);
    PutU16(header, entry.Flags);
    PutU16(header, entry.AesStrength ? MethodAes : entry.Method);
    PutU16(header, entry.Dos.Time);
    PutU16(header, entry.Dos.Date);
    PutU32(header, entry.Crc);
    PutU32(header, Unknown32);
    PutU32(header, Unknown32);
    PutU16(header, uint16_t(entry.Name.size()));
    PutU16(header, uint16_t(extra.size()));
    PutU16(header, 0); // comment
    PutU16(header, 0); // disk
    PutU16(header, 0); // internal attributes
    PutU32(header, entry.ExternalAttributes);
    PutU32(header, Unknown32);
    header.append(entry.Name);
    header.append(extra);
    return header;
}

// ---- Adding ----

TZipAddResult TZipWriter::AddFile(const QString& sourcePath) {
    QString entryName = QFileInfo(sourcePath).fileName();
    if (OnStoreFile)
        OnStoreFile(entryName, sourcePath);
    if (!IsOpen() || m_error.IsSet()) {
        Fail(sourcePath, m_error.IsSet() ? m_error
                                         : TZipError::Make(zeCannotWriteArchive,
                                                           QStringLiteral("The archive is not open for writing.")));
        return TZipAddResult::Failed;
    }
    QByteArray encodedName;
    if (!ValidName(entryName, false, &encodedName)) {
        Fail(sourcePath, TZipError::Make(zeInvalidEntryName, QStringLiteral("Invalid entry name \"%s\""), {entryName}));
        return TZipAddResult::Failed;
    }
    const TZipError cannotOpen =
        TZipError::Make(zeCannotOpenFile, QStringLiteral("Cannot open file \"%s\""), {sourcePath});
    const QByteArray native = QFile::encodeName(sourcePath);
    struct stat status {};
    if (lstat(native.constData(), &status) != 0) {
        TZipError error = cannotOpen;
        error.NativeError = errno;
        Fail(sourcePath, error);
        return TZipAddResult::Failed;
    }
    if (S_ISLNK(status.st_mode))
        return AddLink(sourcePath, encodedName);

    // Not following links, and not blocking on a FIFO that replaced the file meanwhile.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        TZipError error = cannotOpen;
        error.NativeError = errno;
        Fail(sourcePath, error);
        return TZipAddResult::Failed;
    }
    TFdCloser closer(fd);
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        Fail(sourcePath, cannotOpen);
        return TZipAddResult::Failed;
    }
    if (m_settings.LockSources) {
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            TZipError error = cannotOpen;
            error.NativeError = errno;
            Fail(sourcePath, error);
            return TZipAddResult::Failed;
        }
    }
    TSourceInfo info;
    info.MTimeNs = TimeNs(status.st_mtim);
    info.ATimeNs = TimeNs(status.st_atim);
    info.Mode = status.st_mode;
    info.Size = status.st_size;
    const bool compress =
        m_settings.Level != TZipLevel::Stored && !StoreWithoutCompression(QFileInfo(sourcePath).fileName());

    // Read up to one byte past the whole-entry limit: a file that ends within it (whatever its
    // size said) goes to the workers whole; a longer one is streamed.
    const int64_t cap = m_settings.WholeEntryLimit + 1;
    QByteArray data(qsizetype(std::min<int64_t>(std::max<int64_t>(info.Size, 0) + 1, cap)), Qt::Uninitialized);
    int64_t have = 0;
    bool ended = false;
    while (have < cap) {
        if (have == data.size())
            data.resize(qsizetype(std::min<int64_t>(cap, data.size() * 2)));
        const ssize_t n = ::read(fd, data.data() + have, size_t(data.size() - have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            Fail(sourcePath,
                 TZipError::System(zeCannotReadFile, QStringLiteral("Cannot read file \"%s\": %s"), sourcePath, errno));
            return TZipAddResult::Failed;
        }
        if (n == 0) {
            ended = true;
            break;
        }
        have += n;
    }
    data.truncate(qsizetype(have));
    if (!ended)
        return AddStreamed(fd, sourcePath, encodedName, info, compress, std::move(data));
    if (!Progress(100.0))
        return TZipAddResult::Cancelled;
    auto pending = std::make_unique<TPending>();
    pending->Entry = MakeEntry(encodedName, info, false);
    pending->SourcePath = sourcePath;
    Submit(*pending, std::move(data), compress);
    Enqueue(std::move(pending));
    return TZipAddResult::Added;
}

TZipAddResult TZipWriter::AddLink(const QString& sourcePath, const QByteArray& encodedName) {
    const QByteArray native = QFile::encodeName(sourcePath);
    struct stat status {};
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t length = lstat(native.constData(), &status) == 0
                               ? readlink(native.constData(), target.data(), size_t(target.size()))
                               : -1;
    if (length < 0 || length >= target.size() || !S_ISLNK(status.st_mode)) {
        Fail(sourcePath, TZipError::Make(zeCannotOpenFile, QStringLiteral("Cannot open file \"%s\""), {sourcePath},
                                         length < 0 ? errno : 0));
        return TZipAddResult::Failed;
    }
    target.truncate(qsizetype(length));
    if (!Progress(100.0))
        return TZipAddResult::Cancelled;
    TSourceInfo info;
    info.MTimeNs = TimeNs(status.st_mtim);
    info.ATimeNs = TimeNs(status.st_atim);
    info.Mode = status.st_mode;
    auto pending = std::make_unique<TPending>();
    pending->Entry = MakeEntry(encodedName, info, false);
    pending->SourcePath = sourcePath;
    Submit(*pending, std::move(target), false);
    Enqueue(std::move(pending));
    return TZipAddResult::Added;
}

bool TZipWriter::AddFolder(const QString& entryName) {
    QByteArray encodedName;
    if (!IsOpen() || m_error.IsSet()) {
        Fail(entryName, m_error.IsSet() ? m_error
                                        : TZipError::Make(zeCannotWriteArchive,
                                                          QStringLiteral("The archive is not open for writing.")));
        return false;
    }
    if (!ValidName(entryName, true, &encodedName)) {
        Fail(entryName, TZipError::Make(zeInvalidEntryName, QStringLiteral("Invalid entry name \"%s\""), {entryName}));
        return false;
    }
    TSourceInfo info;
    info.MTimeNs = QDateTime::currentMSecsSinceEpoch() * 1000000LL;
    info.ATimeNs = info.MTimeNs;
    info.Mode = S_IFDIR | 0755;
    auto pending = std::make_unique<TPending>();
    pending->Entry = MakeEntry(encodedName, info, true);
    pending->SourcePath = entryName;
    Enqueue(std::move(pending));
    return true;
}

bool TZipWriter::AddData(const QString& entryName, const QByteArray& data, int64_t mtimeNs, uint32_t mode) {
    QByteArray encodedName;
    if (!IsOpen() || m_error.IsSet()) {
        Fail(entryName, m_error.IsSet() ? m_error
                                        : TZipError::Make(zeCannotWriteArchive,
                                                          QStringLiteral("The archive is not open for writing.")));
        return false;
    }
    if (!ValidName(entryName, false, &encodedName)) {
        Fail(entryName, TZipError::Make(zeInvalidEntryName, QStringLiteral("Invalid entry name \"%s\""), {entryName}));
        return false;
    }
    TSourceInfo info;
    info.MTimeNs = mtimeNs;
    info.ATimeNs = mtimeNs;
    info.Mode = mode;
    auto pending = std::make_unique<TPending>();
    pending->Entry = MakeEntry(encodedName, info, false);
    pending->SourcePath = entryName;
    const bool compress = m_settings.Level != TZipLevel::Stored && !S_ISLNK(mode) &&
                          !StoreWithoutCompression(entryName.section(u'/', -1));
    Submit(*pending, data, compress);
    Enqueue(std::move(pending));
    return true;
}

void TZipWriter::Submit(TPending& pending, QByteArray data, bool compress) {
    auto body = std::make_shared<TBody>();
    pending.Body = body;
    pending.QueuedBytes = data.size();
    TBodyRecipe recipe;
    recipe.Compress = compress;
    recipe.Level = DeflateLevel(m_settings.Level);
    recipe.AesStrength = m_aesStrength;
    recipe.ZipCrypto = m_settings.Encryption == TZipEncryption::ZipCrypto;
    if (recipe.AesStrength || recipe.ZipCrypto)
        recipe.Password = m_settings.Password;
    // The task holds its own references only: it may outlive an abandoned archive.
    m_pool->Submit([body, data = std::move(data), recipe]() { MakeBody(*body, data, recipe); });
}

void TZipWriter::Enqueue(std::unique_ptr<TPending> pending) {
    m_queuedBytes += pending->QueuedBytes;
    m_queue.push_back(std::move(pending));
    WriteFinished(false);
    while (!m_queue.empty() && (m_queuedBytes > m_settings.MaxQueuedBytes || m_queue.size() > MaxQueuedEntries))
        WriteFinished(true);
}

void TZipWriter::WriteFinished(bool wait) {
    bool first = true;
    while (!m_queue.empty()) {
        TPending& front = *m_queue.front();
        if (front.Body && !front.Body->Done.IsSet() && !(wait && first))
            break;
        WritePending(front);
        m_queuedBytes -= front.QueuedBytes;
        m_queue.pop_front();
        first = false;
    }
}

void TZipWriter::DrainQueue() {
    while (!m_queue.empty())
        WriteFinished(true);
}

void TZipWriter::WritePending(TPending& pending) {
    TEntry& entry = pending.Entry;
    if (pending.Body) {
        TBody& body = *pending.Body;
        body.Done.Wait();
        if (m_error.IsSet())
            return;
        if (!body.Ok) {
            // Out of memory or a failing cryptographic library: the file was already reported as
            // added, so the archive as a whole is failed rather than silently missing it.
            m_error = TZipError::Make(zeCannotWriteArchive, QStringLiteral("Cannot compress or encrypt \"%s\""),
                                      {pending.SourcePath});
            return;
        }
        entry.Method = body.Method;
        if (entry.Method == MethodDeflated)
            entry.Flags |= DeflateFlags(m_settings.Level);
        if (m_settings.Encryption != TZipEncryption::None)
            entry.Flags |= FlagEncrypted;
        entry.AesStrength = m_aesStrength;
        entry.Crc = m_aesStrength ? 0 : body.Crc;
        entry.Size = body.Size;
        entry.CompressedSize = uint64_t(body.Payload.size());
    }
    if (m_error.IsSet())
        return;
    entry.Offset = uint64_t(m_offset);
    const QByteArray header = LocalHeader(entry);
    if (!Write(header.constData(), size_t(header.size())))
        return;
    if (pending.Body) {
        if (!Write(pending.Body->Payload.constData(), size_t(pending.Body->Payload.size())))
            return;
        pending.Body->Payload = QByteArray();
    }
    m_entries.push_back(entry);
}

TZipAddResult TZipWriter::AddStreamed(int fd, const QString& sourcePath, const QByteArray& encodedName,
                                      const TSourceInfo& info, bool compress, QByteArray firstPart) {
    DrainQueue();
    if (m_error.IsSet()) {
        Fail(sourcePath, m_error);
        return TZipAddResult::Failed;
    }
    TEntry entry = MakeEntry(encodedName, info, false);
    entry.Method = compress ? MethodDeflated : MethodStored;
    if (compress)
        entry.Flags |= DeflateFlags(m_settings.Level);
    const bool zipCrypto = m_settings.Encryption == TZipEncryption::ZipCrypto;
    if (m_settings.Encryption != TZipEncryption::None)
        entry.Flags |= FlagEncrypted;
    entry.AesStrength = m_aesStrength;
    // The traditional cipher's check byte must precede the data, before its CRC is known: such
    // entries take the DOS time as check byte and a data descriptor after the data.
    if (zipCrypto) {
        entry.DataDescriptor = true;
        entry.Flags |= FlagDataDescriptor;
    }
    const int64_t start = m_offset;
    entry.Offset = uint64_t(start);

    std::deque<std::shared_ptr<TChunk>> inFlight;
    const size_t maxInFlight = size_t(m_pool->ThreadCount()) * 2 + 1;
    auto stop = [&](TZipAddResult result, const TZipError& error) {
        for (const std::shared_ptr<TChunk>& chunk : inFlight)
            chunk->Done.Wait();
        inFlight.clear();
        if (!m_error.IsSet())
            TruncateTo(start);
        if (result == TZipAddResult::Failed)
            Fail(sourcePath, error);
        return result;
    };

    const QByteArray header = LocalHeader(entry);
    if (!Write(header.constData(), size_t(header.size())))
        return stop(TZipAddResult::Failed, m_error);
    uint64_t written = 0;
    std::optional<TZipAes> aes;
    std::optional<TZipCrypto> crypto;
    const TZipError encryptFailed =
        TZipError::Make(zeCannotWriteArchive, QStringLiteral("Cannot compress or encrypt \"%s\""), {sourcePath});
    if (m_aesStrength) {
        QByteArray salt, verifier;
        aes.emplace();
        if (!TZipAes::MakeSalt(m_aesStrength, &salt) || !aes->Init(m_aesStrength, m_settings.Password, salt, &verifier))
            return stop(TZipAddResult::Failed, encryptFailed);
        const QByteArray prefix = salt + verifier;
        if (!Write(prefix.constData(), size_t(prefix.size())))
            return stop(TZipAddResult::Failed, m_error);
        written += uint64_t(prefix.size());
    } else if (zipCrypto) {
        crypto.emplace(m_settings.Password);
        char cryptHeader[ZipCryptoHeaderSize];
        if (!crypto->MakeHeader(uint8_t(entry.Dos.Time >> 8), cryptHeader))
            return stop(TZipAddResult::Failed, encryptFailed);
        if (!Write(cryptHeader, ZipCryptoHeaderSize))
            return stop(TZipAddResult::Failed, m_error);
        written += ZipCryptoHeaderSize;
    }
    auto emit = [&](QByteArray& bytes) {
        if (aes)
            aes->Encrypt(bytes.data(), size_t(bytes.size()));
        else if (crypto)
            crypto->Encrypt(bytes.data(), size_t(bytes.size()));
        written += uint64_t(bytes.size());
        return Write(bytes.constData(), size_t(bytes.size()));
    };

    uint32_t crc = 0;
    uint64_t total = 0;
    bool writeFailed = false;
    auto writeFront = [&]() {
        std::shared_ptr<TChunk> chunk = inFlight.front();
        inFlight.pop_front();
        chunk->Done.Wait();
        if (!chunk->Ok)
            return false;
        crc = uint32_t(crc32_combine(crc, chunk->Crc, z_off_t(chunk->InputSize)));
        if (!emit(chunk->Output))
            writeFailed = true;
        return !writeFailed;
    };

    const int level = DeflateLevel(m_settings.Level);
    QByteArray previous;
    qsizetype firstPos = 0;
    for (bool ended = false; !ended;) {
        QByteArray chunkData;
        if (firstPos < firstPart.size()) {
            chunkData = firstPart.mid(firstPos, ChunkSize);
            firstPos += chunkData.size();
            if (firstPos >= firstPart.size())
                firstPart = QByteArray();
        } else {
            chunkData.resize(ChunkSize);
            qsizetype have = 0;
            while (have < chunkData.size()) {
                const ssize_t n = ::read(fd, chunkData.data() + have, size_t(chunkData.size() - have));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    return stop(TZipAddResult::Failed,
                                TZipError::System(zeCannotReadFile, QStringLiteral("Cannot read file \"%s\": %s"),
                                                  sourcePath, errno));
                if (n == 0) {
                    ended = true;
                    break;
                }
                have += n;
            }
            chunkData.truncate(have);
        }
        if (chunkData.isEmpty())
            break;
        total += uint64_t(chunkData.size());
        const double percent = info.Size > 0 ? std::min(100.0, 100.0 * double(total) / double(info.Size)) : 100.0;
        if (!Progress(percent))
            return stop(TZipAddResult::Cancelled, {});
        if (compress) {
            auto chunk = std::make_shared<TChunk>();
            chunk->Dictionary = previous;
            previous = chunkData.right(DictionarySize);
            chunk->Input = std::move(chunkData);
            inFlight.push_back(chunk);
            m_pool->Submit([chunk, level]() { CompressChunk(*chunk, level); });
            while (inFlight.size() >= maxInFlight)
                if (!writeFront())
                    return stop(TZipAddResult::Failed, writeFailed ? m_error : encryptFailed);
        } else {
            crc =
                uint32_t(crc32_z(crc, reinterpret_cast<const Bytef*>(chunkData.constData()), size_t(chunkData.size())));
            if (!emit(chunkData))
                return stop(TZipAddResult::Failed, m_error);
        }
    }
    while (!inFlight.empty())
        if (!writeFront())
            return stop(TZipAddResult::Failed, writeFailed ? m_error : encryptFailed);
    if (compress) {
        // Every chunk ended with a sync flush; an empty final block closes the stream.
        QByteArray last("\x03\x00", 2);
        if (!emit(last))
            return stop(TZipAddResult::Failed, m_error);
    }
    if (aes) {
        const QByteArray code = aes->Finish();
        if (!Write(code.constData(), size_t(code.size())))
            return stop(TZipAddResult::Failed, m_error);
        written += uint64_t(code.size());
    }
    entry.CompressedSize = written;
    entry.Size = total;
    entry.Crc = m_aesStrength ? 0 : crc;
    if (entry.DataDescriptor) {
        QByteArray descriptor;
        PutU32(descriptor, DataDescriptorSignature);
        PutU32(descriptor, entry.Crc);
        PutU64(descriptor, entry.CompressedSize);
        PutU64(descriptor, entry.Size);
        if (!Write(descriptor.constData(), size_t(descriptor.size())))
            return stop(TZipAddResult::Failed, m_error);
    } else if (!WriteAt(start, LocalHeader(entry))) {
        return stop(TZipAddResult::Failed, m_error);
    }
    m_entries.push_back(entry);
    return TZipAddResult::Added;
}

// ---- Closing ----

bool TZipWriter::Close() {
    if (!IsOpen())
        return false;
    DrainQueue();
    const int64_t centralStart = m_offset;
    for (const TEntry& entry : m_entries) {
        const QByteArray header = CentralHeader(entry);
        if (!Write(header.constData(), size_t(header.size())))
            break;
    }
    const int64_t centralSize = m_offset - centralStart;
    const int64_t zip64End = m_offset;
    const uint64_t count = m_entries.size();
    QByteArray end;
    // An archive without entries gets the classic end record alone: 7-Zip refuses a file that
    // begins with a Zip64 end record, and with no entries no Zip64 field has anything to say.
    if (count > 0) {
        PutU32(end, Zip64EndSignature);
        PutU64(end, Zip64EndRecordSize - 12);
        PutU16(end, VersionMadeBy);
        PutU16(end, VersionZip64);
        PutU32(end, 0);
        PutU32(end, 0);
        PutU64(end, count);
        PutU64(end, count);
        PutU64(end, uint64_t(centralSize));
        PutU64(end, uint64_t(centralStart));
        PutU32(end, Zip64LocatorSignature);
        PutU32(end, 0);
        PutU64(end, uint64_t(zip64End));
        PutU32(end, 1);
    }
    PutU32(end, EndSignature);
    PutU16(end, 0);
    PutU16(end, 0);
    PutU16(end, uint16_t(std::min<uint64_t>(count, Unknown16)));
    PutU16(end, uint16_t(std::min<uint64_t>(count, Unknown16)));
    PutU32(end, uint32_t(std::min<uint64_t>(uint64_t(centralSize), Unknown32)));
    PutU32(end, uint32_t(std::min<uint64_t>(uint64_t(centralStart), Unknown32)));
    PutU16(end, 0);
    Write(end.constData(), size_t(end.size()));
    Flush();
    if (m_error.IsSet()) {
        Abandon();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 || rename(m_tempPath.constData(), QFile::encodeName(m_path).constData()) != 0) {
        m_error = TZipError::System(zeCannotWriteArchive, QStringLiteral("Cannot write to the archive \"%s\": %s"),
                                    m_path, errno);
        unlink(m_tempPath.constData());
        m_pool.reset();
        return false;
    }
    m_pool.reset();
    return true;
}

// ---- Output ----

void TZipWriter::SetWriteError(int error) {
    if (!m_error.IsSet())
        m_error = TZipError::System(zeCannotWriteArchive, QStringLiteral("Cannot write to the archive \"%s\": %s"),
                                    m_path, error);
}

bool TZipWriter::Write(const char* data, size_t size) {
    if (m_error.IsSet())
        return false;
    if (size_t(m_buffer.size()) + size > size_t(OutputBufferSize) && !Flush())
        return false;
    if (size >= size_t(OutputBufferSize)) {
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                SetWriteError(n < 0 ? errno : ENOSPC);
                return false;
            }
            done += size_t(n);
        }
    } else {
        m_buffer.append(data, qsizetype(size));
    }
    m_offset += int64_t(size);
    return true;
}

bool TZipWriter::Flush() {
    if (m_error.IsSet())
        return false;
    for (qsizetype done = 0; done < m_buffer.size();) {
        const ssize_t n = ::write(m_fd, m_buffer.constData() + done, size_t(m_buffer.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            SetWriteError(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += n;
    }
    m_buffer.clear();
    return true;
}

bool TZipWriter::WriteAt(int64_t offset, const QByteArray& data) {
    if (!Flush())
        return false;
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::pwrite(m_fd, data.constData() + done, size_t(data.size() - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            SetWriteError(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += n;
    }
    return true;
}

bool TZipWriter::TruncateTo(int64_t offset) {
    if (!Flush())
        return false;
    if (ftruncate(m_fd, off_t(offset)) != 0 || lseek(m_fd, off_t(offset), SEEK_SET) != off_t(offset)) {
        SetWriteError(errno);
        return false;
    }
    m_offset = offset;
    return true;
}
