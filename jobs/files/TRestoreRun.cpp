#include "jobs/files/TRestoreRun.h"

#include "jobs/files/ListFiles.h"
#include "jobs/files/TArchiver.h"

#include "core/base/AtomicFile.h"
#include "core/base/DirectoryTree.h"
#include "core/base/OleDate.h"
#include "core/base/TFileDescriptor.h"
#include "core/base/TextFormat.h"
#include "core/format/TPrimitiveReader.h"
#include "core/settings/TAppGlobals.h"
#include "storage/StoragePaths.h"
#include "storage/TParentFolderCache.h"
#include "storage/TSleeper.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemErrorText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Changes the mode of name in parent without ever following a link. Where the C library cannot
// do that by name (it needs /proc), the item is opened without following one and changed through
// its descriptor: a link put there meanwhile fails the open instead of passing the mode on.
bool ChangeModeNotFollowing(int parent, const char* name, mode_t mode, bool folder) {
    if (::fchmodat(parent, name, mode, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    if (errno != EOPNOTSUPP && errno != ENOTSUP)
        return false;
    const TFileDescriptor item(
        ::openat(parent, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0)));
    return item.IsOpen() && ::fchmod(item.Get(), mode) == 0;
}

} // namespace

TRestoreRun::TRestoreRun(TJob_FilesAndFolders& job, TSleeper& sleeper, TStorageOperations::TBranchFactory branches)
    : m_job(job)
    , m_sleeper(sleeper)
    , m_storage(job, std::move(branches), &sleeper) {}

TRestoreRun::~TRestoreRun() {
    m_job.Archiver = nullptr;
}

QString TRestoreRun::TempFolder() const {
    return JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName);
}

bool TRestoreRun::WaitWhilePausedAndCheckCancel() {
    while (m_job.JobStatus == jsPaused)
        m_sleeper.Sleep(1000);
    return Cancelled();
}

void TRestoreRun::ErrorAndCancel(const QString& message) {
    m_job.AddErrorLine(WithoutLineBreaks(message));
    Cancel();
}

void TRestoreRun::Run(const QString& OutputPath, const QString& myZIPPassword, int ListInd) {
    m_output = OutputPath;
    while (m_output.size() > 1 && m_output.endsWith(u'/'))
        m_output.chop(1);
    m_password = myZIPPassword;
    // 1.
    const QDateTime start = QDateTime::currentDateTime();
    const QString name = m_job.stJobName;
    const QString starting =
        m_job.TrFormat(QStringLiteral("Starting the \"%s\" restore to directory:"), {name}) + u' ' + m_output;
    m_job.AddLogLine(starting);
    App().EventsLog.AddToEventsLog(starting);
    m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Starting the restore to directory:")) + u' ' + m_output, false);
    m_job.AddPlainLine(QStringLiteral("-------------------------------------------------"));
    m_job.JobStatus = jsRunning;
    m_job.JobOperation = joRestore;
    // 2.
    m_job.BeginRunLog(start);
    // 3.
    const QString connected = m_storage.ConnectToStorage();
    if (m_storage.IsConnectError(connected)) {
        App().EventsLog.AddToEventsLog(connected);
        Cancel();
    } else {
        m_jobFolder = connected;
        // 4. The stored job file was downloaded when the restore points were read.
        bool loaded = false;
        try {
            loaded = m_job.LoadRemoteJobFile(
                JoinPath(m_job.JobOptions.General.PathForTempFiles, name + App().RemoteJobFileExtension), false,
                m_state);
        } catch (const TDecodeError&) {
            loaded = false;
        }
        if (!loaded) {
            ErrorAndCancel(
                m_job.TrFormat(QStringLiteral("Unable to copy the job file \"%s\" from the backup directory."),
                               {name + App().RemoteJobFileExtension}));
        }
        if (!m_state.MainBackupList.isEmpty())
            m_state.MainBackupList.removeFirst();
        // 5.
        if (!Cancelled()) {
            if (m_job.Settings.Backup.BackupType == btSynchronization) {
                if (!RestoreFolder(m_jobFolder, true))
                    Cancel();
            } else if (ListInd >= 0 && ListInd < m_state.MainBackupList.size()) {
                const QStringList& points = m_state.MainBackupList;
                const QString chosen = points.at(ListInd);
                if (chosen.endsWith(QStringLiteral("Full)"))) {
                    if (!RestoreFolder(JoinPath(m_jobFolder, chosen), false))
                        Cancel();
                } else {
                    int full = ListInd;
                    while (full >= 0 && !points.at(full).endsWith(QStringLiteral("Full)")))
                        --full;
                    if (full >= 0) {
                        if (chosen.endsWith(QStringLiteral("Differential)"))) {
                            if (!RestoreFolder(JoinPath(m_jobFolder, points.at(full)), false))
                                Cancel();
                            if (!Cancelled() && full != ListInd && !RestoreFolder(JoinPath(m_jobFolder, chosen), false))
                                Cancel();
                        } else {
                            for (int i = full; i <= ListInd && !Cancelled(); ++i)
                                if (!RestoreFolder(JoinPath(m_jobFolder, points.at(i)), false))
                                    Cancel();
                        }
                    }
                }
            }
            // The chosen point's list: the last one restored.
            if (!Cancelled() && !m_metadataSource.isEmpty())
                ApplyMetadata();
        }
    }
    // 6.
    if (Cancelled()) {
        m_job.AddLogLine(Tr(QStringLiteral("Restore is cancelled.")));
        App().EventsLog.AddToEventsLog(m_job.TrFormat(QStringLiteral("\"%s\" restore is cancelled."), {name}));
        m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Restore is cancelled.")), false);
        m_job.LastJobResult.Cancelled = true;
    } else {
        const char16_t* text = u"Restore job \"%s\" is finished.";
        const char16_t* event = u"Restore job is finished.";
        if (m_job.LastJobResult.ErrorsCount >= 1) {
            text = u"Restore job \"%s\" is finished with errors.";
            event = u"Restore job is finished with errors.";
        } else if (m_job.LastJobResult.WarningsCount >= 1) {
            text = u"Restore job \"%s\" is finished with warnings.";
            event = u"Restore job is finished with warnings.";
        }
        const QString line = m_job.TrFormat(QString::fromUtf16(text), {name});
        m_job.AddLogLine(line);
        App().EventsLog.AddToEventsLog(line);
        m_job.AddEventtoBackupHistory(Tr(QString::fromUtf16(event)), false);
    }
    // 7.
    m_job.AddLogLine(Tr(QStringLiteral("Removing the temporary files.")));
    m_job.DeleteTempFiles();
    m_storage.DisconnectFromStorage();
    m_job.SaveRunLog();
    m_job.LastJobResult.EndTime = OleDate::Now();
    if (!App().IsQuitting)
        m_job.SaveLocalJobFileAtEndOfRun();
}

QString TRestoreRun::OutputPathFor(const QString& entry) {
    const QStringList parts = entry.split(u'/');
    // Entries come from files at the destination: each must name an item strictly below the output
    // folder. One that is empty (the output folder itself), absolute or climbs out must never reach
    // the file system, nor one with an empty or "." part ("a//b", "a/./b", "a/") or a NUL (the
    // system would see a shorter path): such an entry was not written by a backup.
    if (entry.isEmpty() || entry.startsWith(u'/') || parts.contains(QStringLiteral("..")) ||
        parts.contains(QStringLiteral(".")) || parts.contains(QString()) || entry.contains(QChar(0))) {
        ErrorAndCancel(Tr(QStringLiteral("The entry leads outside the output folder:")) + u' ' + entry);
        return {};
    }
    // No folder on the way may be a link: writing through it would land outside the output folder.
    QString folder = m_output;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        folder += u'/' + parts.at(i);
        if (m_checkedFolders.contains(folder))
            continue;
        struct stat st;
        if (::lstat(QFile::encodeName(folder).constData(), &st) != 0)
            break; // missing from here on: it will be created as real folders
        if (!S_ISDIR(st.st_mode)) {
            ErrorAndCancel(Tr(QStringLiteral("The entry leads outside the output folder:")) + u' ' + entry);
            return {};
        }
        m_checkedFolders.insert(folder);
    }
    return m_output + u'/' + entry;
}

void TRestoreRun::LoadMetadata(const QString& folder) {
    m_metadata.Clear();
    m_metadataSource.clear();
    m_linkTargets.clear();
    if (Cancelled())
        return;
    // Restore points made before metadata lists existed have none: they restore without one.
    const QString name = QStringLiteral("_rm.vll");
    const QString local = JoinPath(TempFolder(), name);
    const QString remote = JoinPath(folder, name);
    if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, local, remote, 0, false) != orSuccess ||
        !m_metadata.Load(local))
        return;
    m_metadataSource = remote;
    for (const TMetadataList::TEntry& entry : m_metadata.Entries())
        if (entry.Item.Kind == TItemMetadata::TKind::Link)
            m_linkTargets.insert(entry.Path, entry.LinkTarget);
}

bool TRestoreRun::CreateLink(const QString& path, const QByteArray& target) {
    m_job.AddLogLine(Tr(QStringLiteral("Creating the symbolic link:")) + u' ' + path);
    TFileDescriptor parent;
    QByteArray leaf;
    // Its folder may be missing as a copy's would be (the path was checked to hold no link).
    if (CreateFolderPath(FolderPart(path), 0755) && OpenParentFolder(path, parent, leaf)) {
        // Made under a name of its own and renamed over whatever is there, as a copy would be.
        for (int attempt = 0; attempt < 8; ++attempt) {
            const QByteArray temporary =
                QByteArrayLiteral(".vaultora-") + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
            if (::symlinkat(target.constData(), parent.Get(), temporary.constData()) == 0) {
                if (::renameat(parent.Get(), temporary.constData(), parent.Get(), leaf.constData()) == 0)
                    return true;
                const int error = errno;
                ::unlinkat(parent.Get(), temporary.constData(), 0);
                errno = error;
                break;
            }
            if (errno != EEXIST)
                break;
        }
    }
    ErrorAndCancel(path + QStringLiteral(": ") + SystemErrorText(errno));
    return false;
}

void TRestoreRun::ApplyMetadata() {
    for (const qsizetype line : m_metadata.DamagedLines())
        m_job.AddErrorLine(Tr(QStringLiteral("A damaged line of the metadata list is left out:")) + u' ' +
                           m_metadataSource + u':' + QString::number(line));
    if (m_metadata.DamagedCount() > qsizetype(m_metadata.DamagedLines().size()))
        m_job.AddErrorLine(Tr(QStringLiteral("Damaged lines of the metadata list left out in all:")) + u' ' +
                           QString::number(m_metadata.DamagedCount()));
    m_job.AddLogLine(Tr(QStringLiteral("Restoring the permissions, owners and times.")));
    const std::vector<TMetadataList::TEntry>& entries = m_metadata.Entries();
    // Deepest first: a folder gets its time after everything in it is in place, and a mode that
    // closes a folder comes after its content.
    std::vector<std::pair<qsizetype, size_t>> order;
    order.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        order.emplace_back(entries[i].Path.count(u'/'), i);
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    // Only root can give an item away; as anyone else the restored items stay the user's own.
    const bool asRoot = ::geteuid() == 0;
    m_checkedFolders.clear();
    TParentFolderCache folders;
    for (const auto& [depth, index] : order) {
        if (WaitWhilePausedAndCheckCancel())
            break;
        const TMetadataList::TEntry& entry = entries[index];
        const QString path = OutputPathFor(entry.Path);
        if (path.isEmpty())
            break;
        int parent = -1;
        QByteArray leaf;
        struct stat st;
        if (!folders.Open(path, parent, leaf) || ::fstatat(parent, leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Not restored (for example left out by its backup): nothing to give metadata to.
            if (errno != ENOENT && errno != ENOTDIR)
                m_job.AddWarningLine(path + QStringLiteral(": ") + SystemErrorText(errno));
            continue;
        }
        const TItemMetadata& item = entry.Item;
        // Something else of that name (left in the output folder) is not this item.
        if (TItemMetadata::FromStat(st).Kind != item.Kind)
            continue;
        const char* name = leaf.constData();
        int failure = 0;
        // Links are never followed: the owner and time are the link's own, and a link has no mode.
        if (asRoot && (st.st_uid != item.Owner || st.st_gid != item.Group) &&
            ::fchownat(parent, name, item.Owner, item.Group, AT_SYMLINK_NOFOLLOW) != 0)
            failure = errno;
        // A list may come from a hostile destination: a file never gets set-user-ID or
        // set-group-ID back (a restore as root would make privileged programs of it). A folder's
        // set-group-ID and sticky bit grant nothing and come back.
        const mode_t mode = item.Mode & (item.Kind == TItemMetadata::TKind::Folder ? 03777 : 0777);
        if (item.Kind != TItemMetadata::TKind::Link && (st.st_mode & 07777) != mode &&
            !ChangeModeNotFollowing(parent, name, mode, item.Kind == TItemMetadata::TKind::Folder))
            failure = errno;
        // A copy that kept the time needs no second call.
        const struct timespec times[2] = {{time_t(item.ModifiedSeconds), long(item.ModifiedNanoseconds)},
                                          {time_t(item.ModifiedSeconds), long(item.ModifiedNanoseconds)}};
        if ((st.st_mtim.tv_sec != times[1].tv_sec || st.st_mtim.tv_nsec != times[1].tv_nsec) &&
            ::utimensat(parent, name, times, AT_SYMLINK_NOFOLLOW) != 0)
            failure = errno;
        if (failure != 0)
            m_job.AddWarningLine(path + QStringLiteral(": ") + SystemErrorText(failure));
    }
    m_checkedFolders.clear();
}

bool TRestoreRun::RestoreFolder(const QString& folder, bool mirror) {
    // 1.
    if (WaitWhilePausedAndCheckCancel())
        return true;
    m_checkedFolders.clear();
    CreateFolderPath(TempFolder(), 0700);
    m_job.AddLogLine(Tr(QStringLiteral("Restoring the directory:")) + u' ' + folder);
    // 2.
    QStringList toFetch, toCreate, foldersToDelete, filesToDelete;
    if (mirror) {
        toFetch = m_state.PreviousLocalFilesList;
        toCreate = m_state.PreviousLocalDirsList;
    } else {
        const std::pair<const char16_t*, QStringList*> lists[] = {
            {u"_rf.vll", &toFetch},
            {u"_rd.vll", &toCreate},
            {u"_rrd.vll", &foldersToDelete},
            {u"_rrf.vll", &filesToDelete},
        };
        for (const auto& [file, lines] : lists) {
            const QString local = JoinPath(TempFolder(), QString::fromUtf16(file));
            if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, local, JoinPath(folder, QString::fromUtf16(file)),
                                        0, true) != orSuccess ||
                !LoadListFile(local, *lines))
                Cancel();
        }
        LoadMetadata(folder);
    }
    // 3.
    const TZipKind zip = mirror ? TZipKind::None : ZipKindOfRestorePoint(LastPathComponent(folder));
    std::unique_ptr<TArchiver> archiver;
    const int retries = m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times;
    if (!Cancelled() && zip != TZipKind::None) {
        archiver = std::make_unique<TArchiver>(m_job);
        if (zip == TZipKind::OneArchive) {
            const QString local = JoinPath(TempFolder(), QStringLiteral("data.zip"));
            if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, local,
                                        JoinPath(folder, QStringLiteral("data.zip")), retries, true) != orSuccess) {
                Cancel();
            } else if (!archiver->OpenForReading(local, m_password)) {
                m_job.AddErrorLine(WithoutLineBreaks(archiver->ErrorText()));
                return false;
            }
        }
    }
    // 4. Folders to create.
    for (const QString& entry : std::as_const(toCreate)) {
        if (WaitWhilePausedAndCheckCancel())
            break;
        const QString path = OutputPathFor(entry);
        if (path.isEmpty())
            break;
        if (QFileInfo(path).isDir())
            continue;
        m_job.AddLogLine(Tr(QStringLiteral("Creating the directory:")) + u' ' + path);
        if (!CreateFolderPath(path, 0755)) {
            ErrorAndCancel(SystemErrorText(errno));
            break;
        }
    }
    // 5. Files to fetch.
    for (const QString& entry : std::as_const(toFetch)) {
        if (WaitWhilePausedAndCheckCancel())
            break;
        const QString path = OutputPathFor(entry);
        if (path.isEmpty())
            break;
        if (zip == TZipKind::None) {
            // A link the metadata list records is made from it: the destination may hold none.
            const auto link = m_linkTargets.constFind(entry);
            if (link != m_linkTargets.cend()) {
                if (!CreateLink(path, link.value()))
                    break;
            } else if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, path, JoinPath(folder, entry), retries,
                                               true) != orSuccess) {
                Cancel();
            }
        } else if (zip == TZipKind::OneArchive) {
            m_job.AddLogLine(Tr(QStringLiteral("Extracting the file:")) + u' ' + entry);
            if (!archiver->ExtractEntry(entry, m_output)) {
                m_job.AddErrorLine(WithoutLineBreaks(archiver->ErrorText()));
                return false;
            }
        } else {
            const QString local = JoinPath(TempFolder(), LastPathComponent(entry) + QStringLiteral(".zip"));
            if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, local,
                                        JoinPath(folder, entry + QStringLiteral(".zip")), retries, true) != orSuccess) {
                Cancel();
                continue;
            }
            if (!archiver->OpenForReading(local, m_password)) {
                m_job.AddErrorLine(WithoutLineBreaks(archiver->ErrorText()));
                return false;
            }
            m_job.AddLogLine(Tr(QStringLiteral("Extracting the file:")) + u' ' + local);
            QString base = FolderPart(path);
            if (base.size() > 1 && base.endsWith(u'/'))
                base.chop(1);
            if (!archiver->ExtractAll(base)) {
                m_job.AddErrorLine(WithoutLineBreaks(archiver->ErrorText()));
                return false;
            }
            archiver->CloseReading();
            m_job.AddLogLine(Tr(QStringLiteral("Removing the file:")) + u' ' + local);
            if (!QFile::remove(local))
                ErrorAndCancel(SystemErrorText(errno));
        }
    }
    // 6. Files to delete.
    for (const QString& entry : std::as_const(filesToDelete)) {
        if (WaitWhilePausedAndCheckCancel())
            break;
        const QString path = OutputPathFor(entry);
        if (path.isEmpty())
            break;
        const QByteArray native = QFile::encodeName(path);
        struct stat st;
        if (::lstat(native.constData(), &st) != 0) {
            ErrorAndCancel(Tr(QStringLiteral("The file does not exist.")) + u' ' + path);
            break;
        }
        if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) {
            m_job.AddLogLine(Tr(QStringLiteral("Removing the read-only attribute:")) + u' ' + path);
            ::chmod(native.constData(), st.st_mode | S_IWUSR);
        }
        m_job.AddLogLine(Tr(QStringLiteral("Removing the file:")) + u' ' + path);
        if (::unlink(native.constData()) != 0) {
            ErrorAndCancel(SystemErrorText(errno));
            break;
        }
    }
    m_checkedFolders.clear();
    // 7. Folders to delete.
    for (const QString& entry : std::as_const(foldersToDelete)) {
        if (WaitWhilePausedAndCheckCancel())
            break;
        const QString path = OutputPathFor(entry);
        if (path.isEmpty())
            break;
        m_job.AddLogLine(Tr(QStringLiteral("Removing the directory:")) + u' ' + path);
        if (!DeleteDirectoryTree(path)) {
            ErrorAndCancel(Tr(QStringLiteral("Unable to remove the directory.")));
            break;
        }
    }
    // 8.
    m_job.AddPlainLine(QStringLiteral("-----------------------------------------------"));
    if (archiver)
        archiver->CloseReading();
    return true;
}
