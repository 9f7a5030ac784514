#include "jobs/driveimage/ImageStore.h"

#include "jobs/driveimage/ImageTestPoints.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <openssl/evp.h>
#include <zstd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char ManifestMagic[8] = {'V', 'I', 'M', 'G', 'M', 'A', 'N', '1'};
constexpr uint32_t ManifestFormat = 1;
constexpr int CompressionLevel = 3;
const QString TemporaryMark = QStringLiteral(".tmp-");

void PutU32(QByteArray& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

void PutU64(QByteArray& out, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

void PutText(QByteArray& out, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    PutU32(out, uint32_t(utf8.size()));
    out.append(utf8);
}

// Reads little-endian fields; every read checks the bytes left first.
class TBoundedReader {
public:
    TBoundedReader(const char* data, size_t size)
        : m_data(data)
        , m_size(size) {}
    size_t Left() const { return m_size - m_at; }
    bool U32(uint32_t& value) {
        if (Left() < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i)
            value |= uint32_t(uint8_t(m_data[m_at + i])) << (8 * i);
        m_at += 4;
        return true;
    }
    bool U64(uint64_t& value) {
        if (Left() < 8)
            return false;
        value = 0;
        for (int i = 0; i < 8; ++i)
            value |= uint64_t(uint8_t(m_data[m_at + i])) << (8 * i);
        m_at += 8;
        return true;
    }
    bool Bytes(void* out, size_t count) {
        if (Left() < count)
            return false;
        std::memcpy(out, m_data + m_at, count);
        m_at += count;
        return true;
    }
    bool Text(QString& text) {
        uint32_t size = 0;
        if (!U32(size) || Left() < size)
            return false;
        text = QString::fromUtf8(m_data + m_at, qsizetype(size));
        m_at += size;
        return true;
    }

private:
    const char* m_data;
    size_t m_size;
    size_t m_at = 0;
};

bool IsHexName(const QString& name) {
    if (name.size() != 64)
        return false;
    for (QChar c : name)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    return true;
}

} // namespace

TChunkHash HashOfBytes(const char* data, size_t size) {
    TChunkHash hash{};
    unsigned int length = 0;
    EVP_Digest(data, size, hash.data(), &length, EVP_sha256(), nullptr);
    return hash;
}

QString HashText(const TChunkHash& hash) {
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(hash.data()), qsizetype(hash.size())).toHex());
}

uint32_t TImageManifest::SizeOfChunk(size_t index) const {
    const uint64_t start = uint64_t(index) * ChunkSize;
    if (start >= VolumeSize)
        return 0;
    return uint32_t(std::min<uint64_t>(ChunkSize, VolumeSize - start));
}

QByteArray EncodeManifest(const TImageManifest& manifest) {
    QByteArray out;
    out.append(ManifestMagic, sizeof ManifestMagic);
    PutU32(out, ManifestFormat);
    PutU32(out, manifest.ChunkSize);
    PutU64(out, manifest.VolumeSize);
    PutU64(out, uint64_t(manifest.TimeMs));
    PutText(out, manifest.Source);
    PutText(out, manifest.Device);
    PutU64(out, manifest.Chunks.size());
    for (const TChunkRef& chunk : manifest.Chunks) {
        out.append(char(chunk.Zero ? 0 : 1));
        out.append(reinterpret_cast<const char*>(chunk.Hash.data()), qsizetype(chunk.Hash.size()));
    }
    const TChunkHash sum = HashOfBytes(out.constData(), size_t(out.size()));
    out.append(reinterpret_cast<const char*>(sum.data()), qsizetype(sum.size()));
    return out;
}

bool DecodeManifest(const QByteArray& data, TImageManifest& manifest, QString& error) {
    manifest = TImageManifest();
    const size_t sumSize = sizeof(TChunkHash);
    if (size_t(data.size()) < sizeof ManifestMagic + sumSize ||
        std::memcmp(data.constData(), ManifestMagic, sizeof ManifestMagic) != 0) {
        error = QStringLiteral("not a manifest");
        return false;
    }
    const size_t body = size_t(data.size()) - sumSize;
    if (HashOfBytes(data.constData(), body) != [&] {
            TChunkHash stored{};
            std::memcpy(stored.data(), data.constData() + body, sumSize);
            return stored;
        }()) {
        error = QStringLiteral("the manifest's checksum does not match");
        return false;
    }
    TBoundedReader reader(data.constData() + sizeof ManifestMagic, body - sizeof ManifestMagic);
    uint32_t format = 0;
    uint64_t time = 0, count = 0;
    if (!reader.U32(format) || format != ManifestFormat) {
        error = QStringLiteral("unknown manifest format");
        return false;
    }
    if (!reader.U32(manifest.ChunkSize) || !reader.U64(manifest.VolumeSize) || !reader.U64(time) ||
        !reader.Text(manifest.Source) || !reader.Text(manifest.Device) || !reader.U64(count)) {
        error = QStringLiteral("the manifest ends early");
        return false;
    }
    manifest.TimeMs = int64_t(time);
    constexpr size_t EntrySize = 1 + sizeof(TChunkHash);
    if (manifest.ChunkSize == 0 || count > reader.Left() / EntrySize || reader.Left() != count * EntrySize) {
        error = QStringLiteral("the manifest's chunk count does not fit its size");
        return false;
    }
    const uint64_t wanted =
        manifest.VolumeSize / manifest.ChunkSize + (manifest.VolumeSize % manifest.ChunkSize ? 1 : 0);
    if (count != wanted) {
        error = QStringLiteral("the manifest's chunk count does not fit the volume size");
        return false;
    }
    manifest.Chunks.resize(size_t(count));
    for (TChunkRef& chunk : manifest.Chunks) {
        char kind = 0;
        reader.Bytes(&kind, 1);
        reader.Bytes(chunk.Hash.data(), chunk.Hash.size());
        if (kind != 0 && kind != 1) {
            error = QStringLiteral("the manifest names an unknown kind of chunk");
            return false;
        }
        chunk.Zero = kind == 0;
    }
    return true;
}

QByteArray CompressChunk(const char* data, size_t size, void* context) {
    QByteArray out(qsizetype(ZSTD_compressBound(size)), Qt::Uninitialized);
    const size_t written = ZSTD_compressCCtx(static_cast<ZSTD_CCtx*>(context), out.data(), size_t(out.size()), data,
                                             size, CompressionLevel);
    if (ZSTD_isError(written))
        return {};
    out.resize(qsizetype(written));
    return out;
}

bool DecompressChunk(const QByteArray& frame, size_t expectedSize, QByteArray& out) {
    const unsigned long long declared = ZSTD_getFrameContentSize(frame.constData(), size_t(frame.size()));
    if (declared != expectedSize)
        return false;
    out.resize(qsizetype(expectedSize));
    const size_t got = ZSTD_decompress(out.data(), expectedSize, frame.constData(), size_t(frame.size()));
    return !ZSTD_isError(got) && got == expectedSize;
}

bool WriteFileDurably(const QString& path, const QByteArray& data, QString& error) {
    const QByteArray temporary = QFile::encodeName(path + TemporaryMark + QString::number(::getpid()) + u'-' +
                                                   QString::number(quintptr(&data), 16));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const char* at = data.constData();
    size_t left = size_t(data.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            ::unlink(temporary.constData());
            return false;
        }
        at += n;
        left -= size_t(n);
    }
    if ((!ImageSyncSkipped() && ::fsync(fd) != 0) || ::close(fd) != 0 ||
        ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

void SyncFolder(const QString& path) {
    if (ImageSyncSkipped())
        return;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

TImageStore::TImageStore(const QString& target)
    : m_root(QDir(target).filePath(QString::fromLatin1(FolderName))) {}

TImageStore::~TImageStore() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool TImageStore::Exists() const {
    return QFileInfo(m_root).isDir();
}

bool TImageStore::Create(QString& error) {
    const QString target = QFileInfo(m_root).path();
    if (!QFileInfo(target).isDir()) {
        error = QStringLiteral("The backup target %1 was not found.").arg(target);
        return false;
    }
    const QStringList folders{m_root, m_root + QStringLiteral("/chunks"), m_root + QStringLiteral("/versions"),
                              TempFolder()};
    for (const QString& folder : folders) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
            error = QStringLiteral("Unable to create the folder %1: %2")
                        .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

bool TImageStore::Lock() {
    if (m_lockFd >= 0)
        return true;
    const int fd =
        ::open(QFile::encodeName(m_root + QStringLiteral("/lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

QStringList TImageStore::Versions() const {
    QStringList versions = QDir(m_root + QStringLiteral("/versions")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    versions.removeIf([](const QString& name) { return name.startsWith(u'.'); });
    versions.sort();
    return versions;
}

QString TImageStore::NewVersionId() const {
    QString base = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QStringList existing = Versions();
    // Within the same second, or after the clock went back: a suffix keeps the order of creation.
    if (!existing.isEmpty() && base <= existing.last())
        base = existing.last();
    QString id = base;
    for (int n = 2; existing.contains(id); ++n)
        id = base + QStringLiteral("-%1").arg(n, 3, 10, QLatin1Char('0'));
    return id;
}

QString TImageStore::VersionFolder(const QString& id) const {
    return m_root + QStringLiteral("/versions/") + id;
}

QString TImageStore::TempFolder() const {
    return m_root + QStringLiteral("/tmp");
}

QString TImageStore::ChunkPath(const TChunkHash& hash) const {
    const QString name = HashText(hash);
    return m_root + QStringLiteral("/chunks/") + name.left(2) + u'/' + name;
}

bool TImageStore::ReadVersion(const QString& id, std::vector<TImageManifest>& manifests, QString& error) const {
    manifests.clear();
    const QDir folder(VersionFolder(id));
    if (id.isEmpty() || id.contains(u'/') || id.startsWith(u'.') || !folder.exists()) {
        error = QStringLiteral("The version %1 was not found.").arg(id);
        return false;
    }
    QStringList names = folder.entryList({QStringLiteral("*.manifest")}, QDir::Files);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.section(u'.', 0, 0).toInt() < b.section(u'.', 0, 0).toInt();
    });
    for (const QString& name : std::as_const(names)) {
        QFile file(folder.filePath(name));
        TImageManifest manifest;
        QString why;
        if (!file.open(QIODevice::ReadOnly) || !DecodeManifest(file.readAll(), manifest, why)) {
            error = QStringLiteral("The manifest %1 of version %2 cannot be read: %3")
                        .arg(name, id, why.isEmpty() ? file.errorString() : why);
            return false;
        }
        manifests.push_back(std::move(manifest));
    }
    return true;
}

void TImageStore::ClearTemporaries() const {
    QDir temp(TempFolder());
    for (const QString& name : temp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString path = temp.filePath(name);
        if (QFileInfo(path).isDir())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

qint64 TImageStore::CollectGarbage(QString& error, const std::function<void()>& afterRemoval) const {
    QSet<QString> used;
    for (const QString& id : Versions()) {
        std::vector<TImageManifest> manifests;
        if (!ReadVersion(id, manifests, error))
            return -1;
        for (const TImageManifest& manifest : manifests)
            for (const TChunkRef& chunk : manifest.Chunks)
                if (!chunk.Zero)
                    used.insert(HashText(chunk.Hash));
    }
    qint64 removed = 0;
    QDirIterator it(m_root + QStringLiteral("/chunks"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        // Temporary chunk files are left by interrupted runs; nothing refers to them.
        if (IsHexName(name) && used.contains(name))
            continue;
        if (QFile::remove(path)) {
            ++removed;
            if (afterRemoval)
                afterRemoval();
        }
    }
    return removed;
}
