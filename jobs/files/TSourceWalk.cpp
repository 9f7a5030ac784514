#include "jobs/files/TSourceWalk.h"

#include "jobs/files/TDirectoryReader.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include "storage/StoragePaths.h"
#include "storage/TSleeper.h"
#include "storage/TStorageOperations.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

// Names that are never copied when met during a walk (a single-file source may still name them).
bool IsSkippedSystemName(const QString& name) {
    static const QSet<QString> names{QStringLiteral("dumpstack.log.tmp"), QStringLiteral("pagefile.sys"),
                                     QStringLiteral("swapfile.sys"),      QStringLiteral("ntuser.dat"),
                                     QStringLiteral("hiberfil.sys"),      QStringLiteral("ntuser.dat.log1"),
                                     QStringLiteral("ntuser.dat.log2")};
    return names.contains(name.toLower());
}

QString WithSlash(const QString& path) {
    return path.endsWith(u'/') ? path : path + u'/';
}

} // namespace

TSourceWalk::TSourceWalk(TJob_FilesAndFolders& job, TStorageOperations& storage, TSleeper& sleeper, TSetup setup,
                         TRunLists& lists)
    : m_job(job)
    , m_storage(storage)
    , m_sleeper(sleeper)
    , m_setup(std::move(setup))
    , m_lists(lists) {
    for (const QString& folder : m_job.JobOptions.ExcludedDirs)
        m_excluded.insert(folder.toLower());
    QString temp = m_job.JobOptions.General.PathForTempFiles;
    while (temp.size() > 1 && temp.endsWith(u'/'))
        temp.chop(1);
    m_tempFolderLower = temp.toLower();
    m_extensions = u';' + m_job.Settings.Sources.Extensions.toLower() + u';';
}

bool TSourceWalk::Cancelled() const {
    return m_job.JobStatus == jsCancelling;
}

bool TSourceWalk::WaitWhilePausedAndCheckCancel() {
    while (m_job.JobStatus == jsPaused)
        m_sleeper.Sleep(1000);
    return Cancelled();
}

bool TSourceWalk::DestinationNotAccepting() {
    return m_storage.ApplyUnavailableDestinationPolicy();
}

TOperationResult TSourceWalk::CreateFolder(const QString& rel) {
    const int retries = m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times;
    if (m_setup.Compression == TZipKind::OneArchive)
        return m_storage.FileOperation(atCreateFolderInZip, QString(), rel, retries, true);
    return m_storage.FileOperation(atCreateRemoteFolder, QString(), JoinPath(m_setup.RestorePointPath, rel), retries,
                                   true);
}

bool TSourceWalk::EnsureFolderChain(const QString& relPath) {
    QString rel = relPath;
    if (rel.endsWith(u'/'))
        rel.chop(1);
    if (rel.isEmpty())
        return true;
    qsizetype from = 0;
    for (;;) {
        const qsizetype slash = rel.indexOf(u'/', from);
        const QString prefix = slash < 0 ? rel : rel.left(slash);
        if (!m_createdFolders.contains(prefix)) {
            if (CreateFolder(prefix) != orSuccess)
                return false;
            m_createdFolders.insert(prefix);
        }
        if (slash < 0)
            return true;
        from = slash + 1;
    }
}

bool TSourceWalk::IsExcludedFolder(const QString& dir, const QString& name) const {
    const QString full = (dir + name).toLower();
    return m_excluded.contains(full) || m_excluded.contains(QStringLiteral("%anypath%/") + name.toLower()) ||
           full == m_tempFolderLower;
}

bool TSourceWalk::PassesExtensionFilter(const QString& name) const {
    const TFilterType filter = m_job.Settings.Sources.FilterType;
    if (filter == ftNoFilters)
        return true;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    const bool listed = m_extensions.contains(u';' + extension + u';');
    return filter == ftIncludeOnly ? listed : !listed;
}

void TSourceWalk::BackupDirectory(const QString& dirPath, const QString& relPath) {
    if (WaitWhilePausedAndCheckCancel())
        return;
    TDirectoryReader reader;
    if (!reader.Open(dirPath)) {
        m_job.AddWarningLine(m_job.Tr(QStringLiteral("The directory does not exist:")) + u' ' + dirPath);
        return;
    }
    WalkFolder(reader, WithSlash(dirPath), relPath.isEmpty() ? QString() : WithSlash(relPath));
}

void TSourceWalk::WalkFolder(TDirectoryReader& reader, const QString& dir, const QString& rel) {
    const bool skipHidden = m_job.JobOptions.Processing.SkipHiddenSystemFiles;
    const bool incremental = m_setup.Kind == TRunKind::Incremental || m_setup.Kind == TRunKind::Differential;
    TDirectoryReader::TEntry entry;
    while (reader.Next(entry)) {
        if (WaitWhilePausedAndCheckCancel())
            return;
        // Sockets, pipes and devices are never copied.
        if (entry.Type == TDirectoryReader::TEntryType::Other && !entry.Vanished)
            continue;
        if (skipHidden && entry.Hidden)
            continue;
        if (entry.Type == TDirectoryReader::TEntryType::Directory) {
            struct stat self;
            if (::fstat(reader.Descriptor(), &self) != 0 || self.st_nlink == 0) {
                m_job.AddWarningLine(m_job.Tr(QStringLiteral("The directory does not exist:")) + u' ' + dir);
                continue;
            }
            if (IsExcludedFolder(dir, entry.Name))
                continue;
            const QString relFolder = rel + entry.Name;
            m_lists.CurrentFolders.Append(relFolder);
            if (!m_setup.PreviousFolders.Contains(relFolder)) {
                for (;;) {
                    bool created;
                    if (incremental) {
                        created = EnsureFolderChain(relFolder);
                    } else {
                        created = CreateFolder(relFolder) == orSuccess;
                        if (created)
                            m_createdFolders.insert(relFolder);
                    }
                    if (created) {
                        m_lists.CreatedFolders.append(relFolder);
                        break;
                    }
                    if (!DestinationNotAccepting())
                        return;
                }
            }
            TDirectoryReader child;
            if (!child.Open(entry.Name, &reader)) {
                if (errno == ENOENT)
                    m_job.AddWarningLine(m_job.Tr(QStringLiteral("The directory does not exist:")) + u' ' + dir +
                                         entry.Name);
                else
                    m_job.AddErrorLine(dir + entry.Name + QStringLiteral(": ") +
                                       QString::fromLocal8Bit(std::strerror(errno)));
                continue;
            }
            WalkFolder(child, dir + entry.Name + u'/', relFolder + u'/');
            if (Cancelled())
                return;
            continue;
        }
        // Files and links to files.
        if (entry.Vanished) {
            m_job.AddWarningLine(m_job.Tr(QStringLiteral("The file does not exist:")) + u' ' + dir + entry.Name);
            continue;
        }
        if (!PassesExtensionFilter(entry.Name) || IsSkippedSystemName(entry.Name))
            continue;
        const QString relFile = rel + entry.Name;
        const QString stamp = m_stamps.Format(entry.Modified);
        m_lists.CurrentFiles.Append(relFile);
        m_lists.CurrentTimes.append(stamp);
        TransferIfChanged(dir + entry.Name, relFile, stamp, incremental);
        if (Cancelled())
            return;
    }
}

void TSourceWalk::TransferIfChanged(const QString& path, const QString& rel, const QString& stamp, bool needsFolder) {
    const qsizetype previous = m_setup.PreviousFiles.IndexOf(rel);
    for (;;) {
        if (WaitWhilePausedAndCheckCancel())
            return;
        if (previous >= 0 && previous < m_setup.PreviousTimes.size() && m_setup.PreviousTimes.at(previous) == stamp)
            return; // unchanged
        if (needsFolder) {
            const qsizetype slash = rel.lastIndexOf(u'/');
            if (slash > 0 && !EnsureFolderChain(rel.left(slash))) {
                if (!DestinationNotAccepting())
                    return;
                continue;
            }
        }
        switch (Transfer(path, rel)) {
        case orSuccess:
            m_lists.CopiedFiles.append(rel);
            ++m_job.CurrentBackupFilesProcessed;
            m_job.RequestRepaint();
            return;
        case orERROR_LocalAccess:
            // The file could not be read now. It must not look removed: a file seen before keeps
            // its old entry (and is retried next run); a new one is left out (and is new next run).
            if (previous >= 0 && previous < m_setup.PreviousTimes.size()) {
                m_lists.CurrentTimes.last() = m_setup.PreviousTimes.at(previous);
            } else {
                m_lists.CurrentFiles.RemoveLast();
                m_lists.CurrentTimes.removeLast();
            }
            return;
        case orERROR_RemoteAccess:
            if (!DestinationNotAccepting())
                return;
            break;
        }
    }
}

TOperationResult TSourceWalk::Transfer(const QString& path, const QString& rel) {
    const int retries = m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times;
    switch (m_setup.Compression) {
    case TZipKind::None:
        return m_storage.FileOperation(atCopyFromLocalToRemoteFileThroughTempFolder, path,
                                       JoinPath(m_setup.RestorePointPath, rel), retries, true);
    case TZipKind::OneArchive:
        return m_storage.FileOperation(atAddToZip, path, rel, retries, true);
    case TZipKind::ArchivePerFile:
        return m_storage.FileOperation(atMakeZipInTempFolderAndCopyToRemote, path,
                                       JoinPath(m_setup.RestorePointPath, rel), retries, true);
    }
    return orERROR_LocalAccess;
}

void TSourceWalk::BackupSingleFile(const QString& path, const QString& name) {
    if (WaitWhilePausedAndCheckCancel())
        return;
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return;
    const QString stamp = m_stamps.Format(st.st_mtim);
    m_lists.CurrentFiles.Append(name);
    m_lists.CurrentTimes.append(stamp);
    TransferIfChanged(path, name, stamp, false);
}

void TSourceWalk::ProcessSourceDeletions() {
    if (WaitWhilePausedAndCheckCancel())
        return;
    const bool mirror = m_setup.Kind == TRunKind::Mirror;
    const int retries = m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times;
    const QStringList& previousFiles = m_setup.PreviousFiles.Items();
    for (const QString& entry : previousFiles) {
        if (m_lists.CurrentFiles.Contains(entry))
            continue;
        if (!mirror) {
            m_lists.RemovedFiles.append(entry);
            continue;
        }
        for (;;) {
            if (WaitWhilePausedAndCheckCancel())
                return;
            if (m_storage.FileOperation(atRemoveRemoteFile, QString(), JoinPath(m_setup.JobFolder, entry), retries,
                                        true) == orSuccess)
                break;
            if (!DestinationNotAccepting())
                return;
        }
    }
    const QStringList& previousFolders = m_setup.PreviousFolders.Items();
    for (qsizetype i = previousFolders.size() - 1; i >= 0; --i) {
        const QString& entry = previousFolders.at(i);
        if (m_lists.CurrentFolders.Contains(entry))
            continue;
        if (!mirror) {
            m_lists.RemovedFolders.append(entry);
            continue;
        }
        for (;;) {
            if (WaitWhilePausedAndCheckCancel())
                return;
            if (m_storage.FileOperation(atRemoveRemoteEmptyFolder, QString(), JoinPath(m_setup.JobFolder, entry),
                                        retries, true) == orSuccess)
                break;
            if (!DestinationNotAccepting())
                return;
        }
    }
}
