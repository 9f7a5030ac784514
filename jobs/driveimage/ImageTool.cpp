#include "jobs/driveimage/ImageTool.h"

#include "jobs/driveimage/ImageStore.h"
#include "jobs/driveimage/ImageTestPoints.h"
#include "jobs/driveimage/ImageVolumes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <zstd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using TSay = std::function<void(const QString&)>;

// Chunks read (and compressed by two threads) per step; the stop request is checked between steps.
constexpr size_t BatchChunks = 16;

QString SystemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

void SayError(const TSay& say, const QString& text) {
    say(QStringLiteral("ERROR - ") + text);
}

void Banner(const TSay& say) {
    say(QStringLiteral("Backup command-line tool [Version 1.0]"));
    say(QStringLiteral("Copyright (C) Vaultora developers."));
    say(QString());
}

// "-name:value" parameters by lower-case name, and the switches ("-quiet") with an empty value.
struct TParameters {
    QHash<QString, QString> Values;
    QString Unknown;
    bool Has(const char* name) const { return Values.contains(QString::fromLatin1(name)); }
    QString Value(const char* name) const { return Values.value(QString::fromLatin1(name)); }
};

TParameters ParseParameters(const QStringList& args) {
    TParameters parameters;
    for (const QString& arg : args) {
        if (!arg.startsWith(u'-') || arg.size() < 2) {
            parameters.Unknown = arg;
            continue;
        }
        const qsizetype colon = arg.indexOf(u':');
        const QString name = (colon < 0 ? arg.mid(1) : arg.mid(1, colon - 1)).toLower();
        QString value = colon < 0 ? QString() : arg.mid(colon + 1);
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.mid(1, value.size() - 2);
        parameters.Values.insert(name, value);
    }
    return parameters;
}

// The one operation of this user that runs now: its lock file names the process and its store, and
// "stop job" asks it to stop with a file named after its process.
class TOperationLock {
public:
    ~TOperationLock() {
        if (m_fd >= 0) {
            ::unlink(Native(StopFile(::getpid())).constData());
            ::close(m_fd);
        }
    }
    static QString LockFile() { return ImageToolRuntimeFolder() + QStringLiteral("/operation.lock"); }
    static QString StopFile(pid_t pid) { return ImageToolRuntimeFolder() + QStringLiteral("/stop-%1").arg(pid); }

    bool Take(const QString& store) {
        const int fd = ::open(Native(LockFile()).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        m_fd = fd;
        // A request left for an earlier process of the same number is not meant for this one.
        ::unlink(Native(StopFile(::getpid())).constData());
        const QByteArray content = QByteArray::number(::getpid()) + '\n' + Native(store) + '\n';
        // Should this fail, the lock still holds; only "stop job" cannot find this run.
        if (::ftruncate(fd, 0) == 0)
            (void)!::pwrite(fd, content.constData(), size_t(content.size()), 0);
        return true;
    }
    bool StopRequested() const { return ::access(Native(StopFile(::getpid())).constData(), F_OK) == 0; }

private:
    int m_fd = -1;
};

bool MakeRuntimeFolder() {
    const QString folder = ImageToolRuntimeFolder();
    if (::mkdir(Native(folder).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info {};
    // In a shared folder (/tmp) it must be this user's own folder, not a planted link.
    return ::lstat(Native(folder).constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

bool ReadAll(int fd, char* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

bool WriteAll(int fd, const char* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

bool IsAllZero(const char* data, size_t size) {
    return size == 0 || (data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0);
}

class TProgress {
public:
    TProgress(const TSay& say, QString prefix)
        : m_say(say)
        , m_prefix(std::move(prefix)) {}
    void Show(uint64_t done, uint64_t total) {
        const int percent = total == 0 ? 100 : int(done * 100 / total);
        if (percent == m_last)
            return;
        m_last = percent;
        m_say(m_prefix + QStringLiteral(", copied (%1%).").arg(percent));
    }

private:
    const TSay& m_say;
    QString m_prefix;
    int m_last = -1;
};

struct TBackupCounts {
    qint64 NewChunks = 0;
    qint64 NewBytes = 0;
};

// One chunk of a batch as the two compressing threads see it.
struct TSlot {
    QByteArray Data;
    TChunkRef Ref;
    bool Stored = false; // written by this run
    qint64 Bytes = 0;
    QString Error;
};

void StoreSlot(const TImageStore& store, TSlot& slot, ZSTD_CCtx* context) {
    if (IsAllZero(slot.Data.constData(), size_t(slot.Data.size()))) {
        slot.Ref.Zero = true;
        return;
    }
    slot.Ref.Hash = HashOfBytes(slot.Data.constData(), size_t(slot.Data.size()));
    const QString path = store.ChunkPath(slot.Ref.Hash);
    // A chunk file exists only complete (it is renamed into place after being flushed).
    if (::access(Native(path).constData(), F_OK) == 0)
        return;
    const QString folder = QFileInfo(path).path();
    if (::mkdir(Native(folder).constData(), 0700) != 0 && errno != EEXIST) {
        slot.Error = SystemError();
        return;
    }
    const QByteArray frame = CompressChunk(slot.Data.constData(), size_t(slot.Data.size()), context);
    if (frame.isEmpty()) {
        slot.Error = QStringLiteral("compression failed");
        return;
    }
    if (!WriteFileDurably(path, frame, slot.Error))
        return;
    slot.Stored = true;
    slot.Bytes = frame.size();
}

enum class TVolumeResult { Done, Failed, Stopped };

TVolumeResult BackupVolume(const TImageStore& store, const TImageVolume& volume, const TOperationLock& operation,
                           const TSay& say, TImageManifest& manifest, TBackupCounts& counts) {
    const int fd = ::open(Native(volume.Device).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            say(QStringLiteral("Access denied. You must be a member of the disk group or run the tool as root to "
                               "read %1.")
                    .arg(volume.Name));
        else
            SayError(say, QStringLiteral("Unable to open %1: %2").arg(volume.Device, SystemError()));
        return TVolumeResult::Failed;
    }
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        SayError(say, QStringLiteral("Unable to read the size of %1: %2").arg(volume.Device, SystemError()));
        ::close(fd);
        return TVolumeResult::Failed;
    }
    manifest.VolumeSize = uint64_t(end);
    manifest.Source = volume.Name;
    manifest.Device = volume.Device;
    manifest.TimeMs = QDateTime::currentMSecsSinceEpoch();
    const size_t count = size_t((manifest.VolumeSize + manifest.ChunkSize - 1) / manifest.ChunkSize);
    manifest.Chunks.reserve(count);
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> first(ZSTD_createCCtx(), &ZSTD_freeCCtx);
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> second(ZSTD_createCCtx(), &ZSTD_freeCCtx);
    TProgress progress(say, QStringLiteral("Creating a backup of volume %1").arg(volume.Name));
    progress.Show(0, count);
    std::vector<TSlot> slots(BatchChunks);
    TVolumeResult result = TVolumeResult::Done;
    for (size_t start = 0; start < count; start += BatchChunks) {
        ImagePausePoint(
            "backup-batch", [&](const char* text) { say(QString::fromUtf8(text)); },
            [&] { return operation.StopRequested(); });
        if (operation.StopRequested()) {
            result = TVolumeResult::Stopped;
            break;
        }
        const size_t inBatch = std::min(BatchChunks, count - start);
        for (size_t k = 0; k < inBatch; ++k) {
            TSlot& slot = slots[k];
            slot = TSlot();
            slot.Data.resize(qsizetype(manifest.SizeOfChunk(start + k)));
            if (!ReadAll(fd, slot.Data.data(), size_t(slot.Data.size()), uint64_t(start + k) * manifest.ChunkSize)) {
                SayError(say, QStringLiteral("Unable to read %1: %2").arg(volume.Device, SystemError()));
                ::close(fd);
                return TVolumeResult::Failed;
            }
        }
        // Both cores: the other thread takes the odd chunks of the batch.
        std::thread helper([&] {
            for (size_t k = 1; k < inBatch; k += 2)
                StoreSlot(store, slots[k], second.get());
        });
        for (size_t k = 0; k < inBatch; k += 2)
            StoreSlot(store, slots[k], first.get());
        helper.join();
        for (size_t k = 0; k < inBatch; ++k) {
            if (!slots[k].Error.isEmpty()) {
                SayError(say, QStringLiteral("Unable to write a chunk to %1: %2").arg(store.Root(), slots[k].Error));
                ::close(fd);
                return TVolumeResult::Failed;
            }
            manifest.Chunks.push_back(slots[k].Ref);
            if (slots[k].Stored) {
                ++counts.NewChunks;
                counts.NewBytes += slots[k].Bytes;
                ImageCrashPoint("backup-chunk");
            }
        }
        progress.Show(start + inBatch, count);
    }
    ::close(fd);
    return result;
}

int StartBackup(const TParameters& parameters, const TSay& say) {
    const QString target = parameters.Value("backuptarget");
    QStringList names;
    for (const QString& item : parameters.Value("include").split(u',', Qt::SkipEmptyParts))
        if (!names.contains(item.trimmed()))
            names.append(item.trimmed());
    if (target.isEmpty() || names.isEmpty()) {
        SayError(say, QStringLiteral("The backup target and the volumes to include (-backupTarget, -include) are "
                                     "required."));
        return itUsage;
    }
    TImageStore store(target);
    QString error;
    TOperationLock operation;
    if (!MakeRuntimeFolder()) {
        SayError(say, QStringLiteral("Unable to use the folder %1.").arg(ImageToolRuntimeFolder()));
        return itFailed;
    }
    const bool created = store.Create(error);
    const bool locked = created && operation.Take(store.Root()) && store.Lock();
    Banner(say);
    if (!created) {
        SayError(say, error);
        return itFailed;
    }
    if (!locked) {
        say(QStringLiteral("Another backup or recovery operation is in progress."));
        return itFailed;
    }
    store.ClearTemporaries();
    std::vector<TImageVolume> volumes;
    for (const QString& name : std::as_const(names)) {
        TImageVolume volume;
        if (!ResolveImageVolume(name, volume, error)) {
            SayError(say, error);
            return itFailed;
        }
        volumes.push_back(volume);
    }
    const QString id = store.NewVersionId();
    const QString building = store.TempFolder() + u'/' + id;
    if (::mkdir(Native(building).constData(), 0700) != 0) {
        SayError(say, QStringLiteral("Unable to create the folder %1: %2").arg(building, SystemError()));
        return itFailed;
    }
    say(QStringLiteral("Creating a backup of volume(s) %1 to %2.").arg(names.join(QStringLiteral(", ")), target));
    TBackupCounts counts;
    for (size_t i = 0; i < volumes.size(); ++i) {
        const TImageVolume& volume = volumes[i];
        if (volume.MountedReadWrite)
            say(QStringLiteral("The volume %1 is mounted read-write at %2: its image is crash-consistent only.")
                    .arg(volume.Name, volume.MountPoint));
        TImageManifest manifest;
        const TVolumeResult result = BackupVolume(store, volume, operation, say, manifest, counts);
        if (result != TVolumeResult::Done) {
            QDir(building).removeRecursively();
            if (result == TVolumeResult::Stopped) {
                say(QStringLiteral("The backup operation was stopped before completing."));
                return itStopped;
            }
            return itFailed;
        }
        if (!WriteFileDurably(building + QStringLiteral("/%1.manifest").arg(i), EncodeManifest(manifest), error)) {
            SayError(say, QStringLiteral("Unable to write the manifest of %1: %2").arg(volume.Name, error));
            QDir(building).removeRecursively();
            return itFailed;
        }
    }
    ImageCrashPoint("backup-manifest");
    // Every chunk named by the manifests is flushed (each file before its rename); the renames
    // themselves reach the disk with the file system's sync before the version appears.
    const int rootFd = ::open(Native(store.Root()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd >= 0) {
        if (!ImageSyncSkipped())
            ::syncfs(rootFd);
        ::close(rootFd);
    }
    SyncFolder(building);
    if (::rename(Native(building).constData(), Native(store.VersionFolder(id)).constData()) != 0) {
        SayError(say, QStringLiteral("Unable to complete the version %1: %2").arg(id, SystemError()));
        QDir(building).removeRecursively();
        return itFailed;
    }
    SyncFolder(store.Root() + QStringLiteral("/versions"));
    say(QStringLiteral("Version identifier: %1").arg(id));
    say(QStringLiteral("New chunks stored: %1 (%2 bytes).").arg(counts.NewChunks).arg(counts.NewBytes));
    say(QStringLiteral("The backup operation successfully completed."));
    return itOk;
}

int DeleteBackup(const TParameters& parameters, const TSay& say) {
    const QString target = parameters.Value("backuptarget");
    bool ok = false;
    const int keep = parameters.Value("keepversions").toInt(&ok);
    Banner(say);
    if (target.isEmpty() || !ok || keep < 0) {
        SayError(say, QStringLiteral("The backup target and a number of versions to keep (-backupTarget, "
                                     "-keepversions) are required."));
        return itUsage;
    }
    TImageStore store(target);
    if (!store.Exists()) {
        say(QStringLiteral("No backup versions were found at %1.").arg(target));
        return itOk;
    }
    TOperationLock operation;
    if (!MakeRuntimeFolder() || !operation.Take(store.Root()) || !store.Lock()) {
        say(QStringLiteral("Another backup or recovery operation is in progress."));
        return itFailed;
    }
    store.ClearTemporaries();
    const QStringList versions = store.Versions();
    const qsizetype removeCount = std::max<qsizetype>(0, versions.size() - keep);
    for (qsizetype i = 0; i < removeCount; ++i) {
        // Out of versions/ first: from this rename on the version no longer exists as a whole.
        const QString away = store.TempFolder() + QStringLiteral("/removing-") + versions.at(i);
        if (::rename(Native(store.VersionFolder(versions.at(i))).constData(), Native(away).constData()) != 0) {
            SayError(say, QStringLiteral("Unable to delete the version %1: %2").arg(versions.at(i), SystemError()));
            return itFailed;
        }
        SyncFolder(store.Root() + QStringLiteral("/versions"));
        ImageCrashPoint("delete-version");
        QDir(away).removeRecursively();
        say(QStringLiteral("Deleted the version %1.").arg(versions.at(i)));
    }
    QString error;
    const qint64 removed = store.CollectGarbage(error, [] { ImageCrashPoint("delete-chunk"); });
    if (removed < 0) {
        SayError(say, error + QStringLiteral(" No chunk was deleted."));
        return itFailed;
    }
    say(QStringLiteral("Chunks deleted: %1.").arg(removed));
    if (keep == 0 && store.Versions().isEmpty())
        QDir(store.Root()).removeRecursively();
    say(QStringLiteral("The backup deletion operation successfully completed."));
    return itOk;
}

int GetVersions(const TParameters& parameters, const TSay& say) {
    const QString target = parameters.Value("backuptarget");
    Banner(say);
    if (target.isEmpty()) {
        SayError(say, QStringLiteral("The backup target (-backupTarget) is required."));
        return itUsage;
    }
    TImageStore store(target);
    const QStringList versions = store.Exists() ? store.Versions() : QStringList();
    if (versions.isEmpty()) {
        say(QStringLiteral("No backup versions were found at %1.").arg(target));
        return itOk;
    }
    int result = itOk;
    for (const QString& id : versions) {
        std::vector<TImageManifest> manifests;
        QString error;
        if (!store.ReadVersion(id, manifests, error)) {
            if (QFileInfo::exists(store.VersionFolder(id))) { // else removed meanwhile
                SayError(say, error);
                result = itFailed;
            }
            continue;
        }
        QStringList volumes;
        for (const TImageManifest& manifest : manifests)
            volumes.append(manifest.Source);
        say(QStringLiteral("Version identifier: %1").arg(id));
        say(QStringLiteral("Can recover: %1").arg(volumes.join(QStringLiteral(", "))));
        say(QString());
    }
    return result;
}

int StartRecovery(const TParameters& parameters, const TSay& say) {
    const QString id = parameters.Value("version");
    const QString target = parameters.Value("backuptarget");
    const QString item = parameters.Value("itemsource");
    const QString output = parameters.Value("recoverytarget");
    Banner(say);
    if (id.isEmpty() || target.isEmpty() || item.isEmpty() || output.isEmpty()) {
        SayError(say, QStringLiteral("The version, the backup target, the volume and the recovery target (-version, "
                                     "-backupTarget, -itemSource, -recoveryTarget) are required."));
        return itUsage;
    }
    TImageStore store(target);
    if (!store.Exists()) {
        SayError(say, QStringLiteral("No backup was found at %1.").arg(target));
        return itFailed;
    }
    TOperationLock operation;
    if (!MakeRuntimeFolder() || !operation.Take(store.Root()) || !store.Lock()) {
        say(QStringLiteral("Another backup or recovery operation is in progress."));
        return itFailed;
    }
    std::vector<TImageManifest> manifests;
    QString error;
    if (!store.ReadVersion(id, manifests, error)) {
        SayError(say, error);
        return itFailed;
    }
    const TImageManifest* manifest = nullptr;
    for (const TImageManifest& candidate : manifests)
        if (candidate.Source == item)
            manifest = &candidate;
    if (!manifest) {
        SayError(say, QStringLiteral("The version %1 holds no image of %2.").arg(id, item));
        return itFailed;
    }

    // The target: a block device written in place, or a file written under a temporary name.
    struct stat info {};
    const bool exists = ::stat(Native(output).constData(), &info) == 0;
    const bool device = exists && S_ISBLK(info.st_mode);
    if (exists && !device && !S_ISREG(info.st_mode)) {
        SayError(say, QStringLiteral("The recovery target %1 is neither a block device nor a file.").arg(output));
        return itFailed;
    }
    if (exists) {
        TImageVolume volume;
        if (ResolveImageVolume(output, volume, error) && volume.Mounted) {
            SayError(say, QStringLiteral("The recovery target %1 is mounted at %2: unmount it first.")
                              .arg(output, volume.MountPoint));
            return itFailed;
        }
    }
    const QString written = device ? output : output + QStringLiteral(".vaultora-partial");
    // O_EXCL on a block device fails while the kernel holds it (mounted, in use by a mapping).
    const int fd =
        device ? ::open(Native(written).constData(), O_WRONLY | O_EXCL | O_CLOEXEC)
               : ::open(Native(written).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SayError(say, QStringLiteral("Unable to open the recovery target %1: %2").arg(output, SystemError()));
        return itFailed;
    }
    const auto fail = [&] {
        ::close(fd);
        if (!device)
            ::unlink(Native(written).constData());
        return itFailed;
    };
    if (device) {
        const off_t size = ::lseek(fd, 0, SEEK_END);
        if (size < 0 || uint64_t(size) < manifest->VolumeSize) {
            SayError(say, QStringLiteral("The recovery target %1 is smaller than the volume (%2 bytes).")
                              .arg(output)
                              .arg(manifest->VolumeSize));
            return fail();
        }
    } else if (::ftruncate(fd, off_t(manifest->VolumeSize)) != 0) {
        SayError(say, QStringLiteral("Unable to write %1: %2").arg(written, SystemError()));
        return fail();
    }
    say(QStringLiteral("Recovering volume %1 of version %2 to %3.").arg(item, id, output));
    TProgress progress(say, QStringLiteral("Recovering volume %1").arg(item));
    const size_t count = manifest->Chunks.size();
    progress.Show(0, count);
    const QByteArray zeros(qsizetype(manifest->ChunkSize), '\0');
    // A chunk frame is never larger than this (zstd's bound), so a damaged file cannot make the
    // reader allocate much.
    const qint64 largestFrame = qint64(ZSTD_compressBound(manifest->ChunkSize)) + 64;
    QByteArray plain;
    for (size_t i = 0; i < count; ++i) {
        if (i % BatchChunks == 0) {
            ImagePausePoint(
                "recovery-batch", [&](const char* text) { say(QString::fromUtf8(text)); },
                [&] { return operation.StopRequested(); });
            if (operation.StopRequested()) {
                say(QStringLiteral("The recovery operation was stopped before completing."));
                fail();
                return itStopped;
            }
        }
        const TChunkRef& chunk = manifest->Chunks[i];
        const uint32_t size = manifest->SizeOfChunk(i);
        const uint64_t offset = uint64_t(i) * manifest->ChunkSize;
        if (chunk.Zero) {
            if (device && !WriteAll(fd, zeros.constData(), size, offset)) {
                SayError(say, QStringLiteral("Unable to write %1: %2").arg(output, SystemError()));
                return fail();
            }
            continue;
        }
        QFile file(store.ChunkPath(chunk.Hash));
        if (!file.open(QIODevice::ReadOnly) || file.size() > largestFrame) {
            SayError(say, QStringLiteral("The chunk %1 of volume %2 is missing or damaged: the recovery is stopped.")
                              .arg(HashText(chunk.Hash), item));
            return fail();
        }
        if (!DecompressChunk(file.readAll(), size, plain) ||
            HashOfBytes(plain.constData(), size_t(plain.size())) != chunk.Hash) {
            SayError(say, QStringLiteral("The chunk %1 of volume %2 is damaged: the recovery is stopped.")
                              .arg(HashText(chunk.Hash), item));
            return fail();
        }
        if (!WriteAll(fd, plain.constData(), size, offset)) {
            SayError(say, QStringLiteral("Unable to write %1: %2").arg(output, SystemError()));
            return fail();
        }
        ImageCrashPoint("recovery-chunk");
        if ((i + 1) % BatchChunks == 0)
            progress.Show(i + 1, count);
    }
    if (!ImageSyncSkipped() && ::fsync(fd) != 0) {
        SayError(say, QStringLiteral("Unable to write %1: %2").arg(output, SystemError()));
        return fail();
    }
    ::close(fd);
    if (!device && ::rename(Native(written).constData(), Native(output).constData()) != 0) {
        SayError(say, QStringLiteral("Unable to write %1: %2").arg(output, SystemError()));
        ::unlink(Native(written).constData());
        return itFailed;
    }
    progress.Show(count, count);
    say(QStringLiteral("The recovery operation successfully completed."));
    return itOk;
}

int StopJob(const TSay& say) {
    Banner(say);
    const int fd = ::open(Native(TOperationLock::LockFile()).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 || ::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        if (fd >= 0)
            ::close(fd);
        say(QStringLiteral("There is no backup or recovery operation in progress."));
        return itFailed;
    }
    // The running operation writes its process number right after taking the lock.
    pid_t pid = 0;
    for (int attempt = 0; attempt < 500 && pid <= 0; ++attempt) {
        char text[64] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        pid = n > 0 ? pid_t(std::atoi(text)) : 0;
        if (pid <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    QString error;
    if (pid <= 0 || !WriteFileDurably(TOperationLock::StopFile(pid), QByteArray(), error)) {
        ::close(fd);
        SayError(say, QStringLiteral("Unable to ask the running operation to stop."));
        return itFailed;
    }
    // Returns once the operation has ended (its lock is free).
    while (::flock(fd, LOCK_SH | LOCK_NB) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::close(fd);
    say(QStringLiteral("The operation was stopped."));
    return itOk;
}

} // namespace

QString ImageToolRuntimeFolder() {
    const QString chosen = qEnvironmentVariable("VAULTORA_IMAGETOOL_RUNTIME_DIR");
    if (!chosen.isEmpty())
        return chosen;
    if (::geteuid() == 0)
        return QStringLiteral("/run/vaultora-imagetool");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/vaultora-imagetool");
    return QStringLiteral("/tmp/vaultora-imagetool-%1").arg(::geteuid());
}

int RunImageTool(const QStringList& args, const TSay& say) {
    const QString verb = args.value(0).toLower() + u' ' + args.value(1).toLower();
    const TParameters parameters = ParseParameters(args.mid(2));
    if (!parameters.Unknown.isEmpty()) {
        SayError(say, QStringLiteral("Unknown parameter: %1").arg(parameters.Unknown));
        return itUsage;
    }
    if (verb == QStringLiteral("start backup"))
        return StartBackup(parameters, say);
    if (verb == QStringLiteral("delete backup"))
        return DeleteBackup(parameters, say);
    if (verb == QStringLiteral("get versions"))
        return GetVersions(parameters, say);
    if (verb == QStringLiteral("start recovery"))
        return StartRecovery(parameters, say);
    if (verb == QStringLiteral("stop job"))
        return StopJob(say);
    say(QStringLiteral("usage: vaultora-imagetool start backup -backupTarget:T -include:A,B [-allCritical] [-quiet]"));
    say(QStringLiteral("       vaultora-imagetool delete backup -backupTarget:T -keepversions:N [-quiet]"));
    say(QStringLiteral("       vaultora-imagetool get versions -backupTarget:T"));
    say(QStringLiteral("       vaultora-imagetool start recovery -version:ID -backupTarget:T -itemSource:VOLUME "
                       "-recoveryTarget:DEVICE_OR_FILE [-quiet]"));
    say(QStringLiteral("       vaultora-imagetool stop job [-quiet]"));
    return itUsage;
}
