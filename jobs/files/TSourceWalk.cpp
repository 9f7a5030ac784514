#include "jobs/files/TSourceWalk.h"

#include "jobs/files/TJob_FilesAndFolders.h"
#include "jobs/files/TestCrashPoint.h"

#include "storage/StoragePaths.h"
#include "storage/TSleeper.h"
#include "storage/TStorageBranch.h"
#include "storage/TStorageOperations.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names that are never copied when met during a walk (a single-file source may still name them).
bool IsSkippedSystemName(const QString& name) {
    static const QSet<QString> names{QStringLiteral("dumpstack.log.tmp"), QStringLiteral("pagefile.sys"),
                                     QStringLiteral("swapfile.sys"),      QStringLiteral("ntuser.dat"),
                                     QStringLiteral("hiberfil.sys"),      QStringLiteral("ntuser.dat.log1"),
                                     QStringLiteral("ntuser.dat.log2")};
    // Lower-casing allocates; only names as long as a listed one can be one (no lower-case form
    // that is plain ASCII has another length).
    switch (name.size()) {
    case 10:
    case 12:
    case 15:
    case 17:
        return names.contains(name.toLower());
    default:
        return false;
    }
}

// The same test for a name of plain ASCII bytes, without allocations.
bool IsSkippedSystemAsciiName(const char* name, size_t length) {
    static const char* const names[] = {"dumpstack.log.tmp", "pagefile.sys",    "swapfile.sys",   "ntuser.dat",
                                        "hiberfil.sys",      "ntuser.dat.log1", "ntuser.dat.log2"};
    for (const char* listed : names) {
        if (std::strlen(listed) != length)
            continue;
        size_t i = 0;
        while (i < length && (name[i] >= 'A' && name[i] <= 'Z' ? char(name[i] + 32) : name[i]) == listed[i])
            ++i;
        if (i == length)
            return true;
    }
    return false;
}

bool IsAscii(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    return true;
}

QString WithSlash(const QString& path) {
    return path.endsWith(u'/') ? path : path + u'/';
}

TItemMetadata MetadataOf(const TTreeScan::TEntry& entry) {
    TItemMetadata item;
    item.ModifiedSeconds = entry.ModifiedSeconds;
    item.ModifiedNanoseconds = entry.ModifiedNanoseconds;
    item.Owner = entry.Owner;
    item.Group = entry.Group;
    item.Mode = entry.Mode;
    item.Kind = TItemMetadata::KindOf(entry.Type);
    return item;
}

// Whether the text equals the UTF-8 bytes, without decoding them when they are plain ASCII.
bool SameText(QStringView text, QByteArrayView utf8) {
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(utf8[i]);
        if (byte >= 0x80)
            return QString::fromUtf8(utf8) == text;
        // Up to here both are the same ASCII text: a difference here is a difference.
        if (i >= text.size() || text[i].unicode() != byte)
            return false;
    }
    return text.size() == utf8.size();
}

} // namespace

TSourceWalk::TSourceWalk(TJob_FilesAndFolders& job, TStorageOperations& storage, TSleeper& sleeper, TSetup setup,
                         TRunLists& lists)
    : m_job(job)
    , m_storage(storage)
    , m_sleeper(sleeper)
    , m_setup(std::move(setup))
    , m_lists(lists)
    , m_exclusions(job) {
    if (!m_setup.PreviousFiles)
        m_setup.PreviousFiles = &m_noPrevious;
    if (!m_setup.PreviousTimes)
        m_setup.PreviousTimes = &m_noPrevious;
    m_previousIndex.Build(*m_setup.PreviousFiles);
    m_previousSeen.assign(size_t(m_setup.PreviousFiles->Size()), false);
    m_lists.CurrentFiles.SetPrevious(m_setup.PreviousFiles, m_setup.PreviousTimes);
    m_compareOwners = ::geteuid() == 0;
    LoadPreviousMetadata(m_setup.PreviousMetadataFile);
    m_extensions = u';' + m_job.Settings.Sources.Extensions.toLower() + u';';
}

void TSourceWalk::LoadPreviousMetadata(const QString& path) {
    const TStringTable& previous = *m_setup.PreviousFiles;
    TMetadataListReader reader;
    if (path.isEmpty() || previous.IsEmpty() || !reader.Open(path))
        return;
    m_previousMetadata.assign(size_t(previous.Size()), TComparedMetadata());
    // The list holds the files in the order of the previous files list: each is looked up only
    // where that order breaks.
    qsizetype next = 0;
    TMetadataLine line;
    while (reader.Next(line)) {
        if (line.Damaged || line.Item.Kind == TItemMetadata::TKind::Folder)
            continue;
        qsizetype index = -1;
        if (next < previous.Size() && SameText(previous.At(next), line.Path))
            index = next;
        else
            index = m_previousIndex.IndexOf(QString::fromUtf8(line.Path));
        if (index < 0)
            continue;
        m_previousMetadata[size_t(index)] = {line.Item.Owner, line.Item.Group, line.Item.Mode, line.Item.Kind};
        next = index + 1;
    }
    if (reader.ReadFailed())
        m_previousMetadata.clear();
}

bool TSourceWalk::PreviousMetadataIs(qsizetype previous, const TItemMetadata& metadata) const {
    if (previous < 0 || size_t(previous) >= m_previousMetadata.size())
        return true;
    const TComparedMetadata& recorded = m_previousMetadata[size_t(previous)];
    if (recorded.Kind == TItemMetadata::TKind::Unknown)
        return true;
    return recorded.Kind == metadata.Kind && recorded.Mode == metadata.Mode &&
           (!m_compareOwners || (recorded.Owner == metadata.Owner && recorded.Group == metadata.Group));
}

void TSourceWalk::RecordMetadata(QStringView rel, const TItemMetadata& metadata, const QByteArray& nativePath) {
    if (!m_lists.Metadata.IsOpen())
        return;
    if (metadata.Kind != TItemMetadata::TKind::Link) {
        m_lists.Metadata.Add(rel, metadata);
        return;
    }
    char target[PATH_MAX];
    const ssize_t length = ::readlink(nativePath.constData(), target, sizeof target);
    // A link that is gone, or whose target cannot be read now, is left out of the list.
    if (length > 0 && size_t(length) < sizeof target)
        m_lists.Metadata.Add(rel, metadata, QByteArrayView(target, qsizetype(length)));
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
    return m_exclusions.Matches(dir, name);
}

TSourceWalk::TExclusions::TExclusions(const TJob_FilesAndFolders& job) {
    for (const QString& folder : job.JobOptions.ExcludedDirs)
        Excluded.insert(folder.toLower());
    QString temp = job.JobOptions.General.PathForTempFiles;
    while (temp.size() > 1 && temp.endsWith(u'/'))
        temp.chop(1);
    TempFolderLower = temp.toLower();
}

bool TSourceWalk::TExclusions::Matches(const QString& dir, const QString& name) const {
    const QString full = (dir + name).toLower();
    return Excluded.contains(full) || Excluded.contains(QStringLiteral("%anypath%/") + name.toLower()) ||
           full == TempFolderLower;
}

TTreeScan::TDescendCheck TSourceWalk::DescendCheck(const TJob_FilesAndFolders& job) {
    // A copy: the scan's threads read it while the walk runs.
    const bool skipHidden = job.JobOptions.Processing.SkipHiddenSystemFiles;
    return [exclusions = TExclusions(job), skipHidden](const QString& dir, const QString& name, bool hidden) {
        return !(skipHidden && hidden) && !exclusions.Matches(dir, name);
    };
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

void TSourceWalk::BackupDirectory(const QString& dirPath, const QString& relPath, TTreeScan& scan, int root) {
    if (WaitWhilePausedAndCheckCancel())
        return;
    if (root < 0 || !scan.Wait(root))
        return;
    if (scan.Folder(root).OpenError != 0) {
        m_job.AddWarningLine(m_job.Tr(QStringLiteral("The directory does not exist:")) + u' ' + dirPath);
        scan.Release(root);
        return;
    }
    struct stat st;
    if (!relPath.isEmpty() && ::lstat(QFile::encodeName(dirPath).constData(), &st) == 0 && S_ISDIR(st.st_mode))
        RecordMetadata(relPath, TItemMetadata::FromStat(st), QByteArray());
    WalkFolder(scan, root, WithSlash(dirPath), relPath.isEmpty() ? QString() : WithSlash(relPath));
    scan.Release(root);
}

void TSourceWalk::WalkFolder(TTreeScan& scan, int id, const QString& dir, const QString& rel) {
    const bool skipHidden = m_job.JobOptions.Processing.SkipHiddenSystemFiles;
    const bool incremental = m_setup.Kind == TRunKind::Incremental || m_setup.Kind == TRunKind::Differential;
    const bool filtered = m_job.Settings.Sources.FilterType != ftNoFilters;
    const TTreeScan::TFolder& folder = scan.Folder(id);
    // The folder's relative path; each file's name goes after it for the lookup.
    std::u16string relPath(reinterpret_cast<const char16_t*>(rel.utf16()), size_t(rel.size()));
    const size_t relLength = relPath.size();
    for (const TTreeScan::TEntry& entry : folder.Entries) {
        if (WaitWhilePausedAndCheckCancel())
            return;
        // Sockets, pipes and devices are never copied.
        if (entry.Type == TTreeScan::TEntryType::Other && !entry.Vanished)
            continue;
        if (skipHidden && entry.Hidden)
            continue;
        const char* raw = folder.Names.constData() + entry.NameOffset;
        const size_t rawLength = entry.NameLength;
        // Most files are unchanged and have plain ASCII names: those are looked up without
        // decoding the name into a text of its own.
        const bool plainFile =
            entry.Type != TTreeScan::TEntryType::Directory && !entry.Vanished && !filtered && IsAscii(raw, rawLength);
        QString name;
        if (!plainFile)
            name = QFile::decodeName(QByteArray::fromRawData(raw, qsizetype(rawLength)));
        if (entry.Type == TTreeScan::TEntryType::Directory) {
            if (entry.ParentGone) {
                m_job.AddWarningLine(m_job.Tr(QStringLiteral("The directory does not exist:")) + u' ' + dir);
                continue;
            }
            if (IsExcludedFolder(dir, name))
                continue;
            const QString relFolder = rel + name;
            m_lists.CurrentFolders.Append(relFolder);
            RecordMetadata(relFolder, MetadataOf(entry), QByteArray());
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
            // The scan descends exactly where this walk gets to.
            if (entry.Child < 0 || !scan.Wait(entry.Child))
                return;
            const int openError = scan.Folder(entry.Child).OpenError;
            if (openError != 0) {
                if (openError == ENOENT)
                    m_job.AddWarningLine(m_job.Tr(QStringLiteral("The directory does not exist:")) + u' ' + dir + name);
                else
                    m_job.AddErrorLine(dir + name + QStringLiteral(": ") +
                                       QString::fromLocal8Bit(std::strerror(openError)));
                scan.Release(entry.Child);
                continue;
            }
            WalkFolder(scan, entry.Child, dir + name + u'/', relFolder + u'/');
            scan.Release(entry.Child);
            if (Cancelled())
                return;
            continue;
        }
        // Files and links to files.
        if (entry.Vanished) {
            m_job.AddWarningLine(m_job.Tr(QStringLiteral("The file does not exist:")) + u' ' + dir + name);
            continue;
        }
        relPath.resize(relLength);
        if (plainFile) {
            if (IsSkippedSystemAsciiName(raw, rawLength))
                continue;
            for (size_t i = 0; i < rawLength; ++i)
                relPath.push_back(char16_t(static_cast<unsigned char>(raw[i])));
        } else {
            if (!PassesExtensionFilter(name) || IsSkippedSystemName(name))
                continue;
            relPath.append(reinterpret_cast<const char16_t*>(name.utf16()), size_t(name.size()));
        }
        const QStringView relView(relPath.data(), qsizetype(relPath.size()));
        char16_t stampUnits[TFileTimeStamp::Length];
        m_stamps.FormatTo(entry.Modified(), stampUnits);
        const QStringView stampView(stampUnits, TFileTimeStamp::Length);
        const TItemMetadata metadata = MetadataOf(entry);
        auto linkPath = [&] {
            return metadata.Kind == TItemMetadata::TKind::Link
                       ? QFile::encodeName(dir).append(raw, qsizetype(rawLength))
                       : QByteArray();
        };
        const qsizetype previous = FindPrevious(relView);
        if (Unchanged(previous, stampView, metadata)) {
            // Unchanged: the entry refers to the previous run's texts and nothing is copied.
            m_lists.CurrentFiles.AppendPrevious(previous);
            RecordMetadata(relView, metadata, linkPath());
            if (WaitWhilePausedAndCheckCancel())
                return;
            continue;
        }
        if (plainFile)
            name = QString::fromLatin1(raw, qsizetype(rawLength));
        const QString relFile = relView.toString();
        m_lists.CurrentFiles.Append(relView, stampView);
        if (TransferIfChanged(dir + name, relFile, stampView.toString(), incremental, previous, metadata))
            RecordMetadata(relFile, metadata, linkPath());
        if (Cancelled())
            return;
    }
}

qsizetype TSourceWalk::FindPrevious(QStringView rel) {
    const qsizetype previous = m_previousIndex.IndexOf(rel);
    if (previous >= 0)
        m_previousSeen[size_t(previous)] = true;
    return previous;
}

bool TSourceWalk::PreviousStampIs(qsizetype previous, QStringView stamp) const {
    return previous >= 0 && previous < m_setup.PreviousTimes->Size() && m_setup.PreviousTimes->At(previous) == stamp;
}

bool TSourceWalk::TransferIfChanged(const QString& path, const QString& rel, const QString& stamp, bool needsFolder,
                                    qsizetype previous, const TItemMetadata& metadata) {
    for (;;) {
        if (WaitWhilePausedAndCheckCancel())
            return false;
        if (Unchanged(previous, stamp, metadata))
            return true;
        if (needsFolder) {
            const qsizetype slash = rel.lastIndexOf(u'/');
            if (slash > 0 && !EnsureFolderChain(rel.left(slash))) {
                if (!DestinationNotAccepting())
                    return false;
                continue;
            }
        }
        switch (RecordedOnly(metadata) ? RecordableLink(path) : Transfer(path, rel)) {
        case orSuccess:
            m_lists.CopiedFiles.append(rel);
            ++m_job.CurrentBackupFilesProcessed;
            m_job.RequestRepaint();
            TestCrashPoint("file-loop");
            TestPausePoint("file-loop", m_sleeper, [this] { return Cancelled(); });
            return true;
        case orERROR_LocalAccess:
            // The file could not be read now. It must not look removed: a file seen before keeps
            // its old entry (and is retried next run); a new one is left out (and is new next run).
            // Either way this restore point records no metadata of it.
            if (previous >= 0 && previous < m_setup.PreviousTimes->Size())
                m_lists.CurrentFiles.SetLastStampToPrevious(previous);
            else
                m_lists.CurrentFiles.RemoveLast();
            return false;
        case orERROR_RemoteAccess:
            if (!DestinationNotAccepting())
                return false;
            break;
        }
    }
}

bool TSourceWalk::RecordedOnly(const TItemMetadata& metadata) const {
    // Archives hold links themselves.
    return metadata.Kind == TItemMetadata::TKind::Link && m_setup.Compression == TZipKind::None &&
           m_lists.Metadata.IsOpen() && m_storage.Branch() && !m_storage.Branch()->HoldsLinks();
}

TOperationResult TSourceWalk::RecordableLink(const QString& path) {
    // Only the list will hold the link: a link gone meanwhile (or unreadable) must not be listed
    // as copied, or a restore would look for it at the destination.
    char target[PATH_MAX];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    if (length > 0 && size_t(length) < sizeof target)
        return orSuccess;
    m_job.AddErrorLine(path + QStringLiteral(": ") +
                       QString::fromLocal8Bit(std::strerror(length < 0 ? errno : ENAMETOOLONG)));
    return orERROR_LocalAccess;
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
    const qsizetype previous = FindPrevious(name);
    m_lists.CurrentFiles.Append(name, stamp);
    const TItemMetadata metadata = TItemMetadata::FromStat(st);
    if (TransferIfChanged(path, name, stamp, false, previous, metadata))
        RecordMetadata(name, metadata, QFile::encodeName(path));
}

void TSourceWalk::ProcessSourceDeletions() {
    if (WaitWhilePausedAndCheckCancel())
        return;
    const bool mirror = m_setup.Kind == TRunKind::Mirror;
    const int retries = m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times;
    const TStringTable& previousFiles = *m_setup.PreviousFiles;
    const bool duplicates = m_previousIndex.HasDuplicates();
    for (qsizetype i = 0; i < previousFiles.Size(); ++i) {
        const QStringView previous = previousFiles.At(i);
        // A path listed twice was marked at its first place.
        const qsizetype first = duplicates ? m_previousIndex.IndexOf(previous) : i;
        if (m_previousSeen[size_t(first)])
            continue;
        const QString entry = previous.toString();
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
