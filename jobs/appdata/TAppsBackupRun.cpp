#include "jobs/appdata/TAppsBackupRun.h"

#include "jobs/appdata/AppLists.h"
#include "jobs/appdata/TAppRegistry.h"

#include "core/base/AtomicFile.h"
#include "core/base/OleDate.h"
#include "core/base/TClock.h"
#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/report/JobReport.h"
#include "storage/StoragePaths.h"
#include "storage/TSleeper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString StartFlagName = QStringLiteral("_startflag.vll");
const QString FilesListName = QStringLiteral("_rf.vll");
const QString StampsListName = QStringLiteral("_rft.vll");
const QString FoldersListName = QStringLiteral("_rd.vll");
const QString ApplicationSeparator(29, u'-');
} // namespace

TAppsBackupRun::TAppsBackupRun(TJob_AppsData& job, TSleeper& sleeper, TClock& clock, TAppRegistry& registry,
                               const QProcessEnvironment& environment, TStorageOperations::TBranchFactory branches)
    : m_job(job)
    , m_sleeper(sleeper)
    , m_clock(clock)
    , m_registry(registry)
    , m_resolver(environment, &registry)
    , m_storage(job, std::move(branches), &sleeper) {}

QString TAppsBackupRun::TempFolder() const {
    return JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName);
}

QString TAppsBackupRun::TempPath(const QString& name) const {
    return JoinPath(TempFolder(), name);
}

bool TAppsBackupRun::WaitWhilePaused() {
    while (m_job.JobStatus == jsPaused)
        m_sleeper.Sleep(1000);
    return Cancelled();
}

void TAppsBackupRun::Run() {
    // 1.
    m_start = m_clock.Now();
    m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Starting the backup.")), false);
    const QString connected = m_storage.ConnectToStorage();
    m_job.BeginRunLog(m_start);
    if (m_storage.IsConnectError(connected)) {
        ConnectionFailureEnding(connected);
        return;
    }
    m_jobFolder = connected;
    // 2.
    m_job.DeleteTempFiles();
    CreateFolderPath(TempFolder(), 0700);
    m_job.CurrentBackupSize = 0;
    m_job.CurrentBackupFilesProcessed = 0;
    LoadDefinitions();                                                   // 3
    ReadPreviousBackup();                                                // 4
    HandleInterruptedRun();                                              // 5
    StoreStartFlag();                                                    // 6
    for (const QString& name : std::as_const(m_job.Settings.AppNames)) { // 7
        if (Cancelled())
            break;
        BackupApplication(name);
    }
    StoreJobFile(); // 10
    WriteEnding();  // 11
}

void TAppsBackupRun::LoadDefinitions() {
    if (AppDefinitions::Loaded())
        return;
    m_job.AddLogLine(Tr(QStringLiteral("Loading supported application data.")));
    if (!AppDefinitions::Load()) {
        Cancel();
        App().EventsLog.AddToEventsLog(
            m_job.TrFormat(QStringLiteral("\"%s\" backup is cancelled:"), {m_job.stJobName}) + u' ' +
            Tr(QStringLiteral("Loading supported application data.")));
    }
}

void TAppsBackupRun::ReadPreviousBackup() {
    if (Cancelled())
        return;
    if (!m_job.JobOptions.Logging.DontLogCopyingInternalFiles)
        m_job.AddLogLine(Tr(QStringLiteral("Copying database files.")));
    const QString local =
        JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName + App().RemoteJobFileExtension);
    m_previousBackupExists = m_storage.FileOperation(atCopyFromRemoteToLocalFile, local,
                                                     m_jobFolder + App().RemoteJobFileExtension, 0, false) == orSuccess;
    if (!m_previousBackupExists)
        return;
    // Only whether a backup exists matters here; its lists are per entry. A damaged file still
    // means the folder holds a backup.
    TJob_AppsData previous(m_job.stJobName);
    try {
        previous.LoadRemoteJobFile(local, false);
    } catch (const std::exception&) {
    }
}

void TAppsBackupRun::HandleInterruptedRun() {
    if (Cancelled())
        return;
    if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, TempPath(StartFlagName),
                                JoinPath(m_jobFolder, StartFlagName), 0, false) != orSuccess)
        return;
    m_job.AddWarningLine(
        Tr(QStringLiteral("The previous backup has been cancelled and the backup files may be corrupted.")) + u' ' +
        Tr(QStringLiteral("We have to remove the previous backup.")));
    if (m_storage.FileOperation(atRemoveRemoteNotEmptyFolder, QString(), m_jobFolder, 0, true) != orSuccess) {
        Cancel();
        return;
    }
    m_storage.FileOperation(atRemoveRemoteFile, QString(), m_jobFolder + App().RemoteJobFileExtension, 0, false);
    m_previousBackupExists = false;
}

void TAppsBackupRun::StoreStartFlag() {
    if (Cancelled())
        return;
    if (!m_previousBackupExists)
        m_storage.FileOperation(atCreateRemoteFolder, QString(), m_jobFolder, 0, false);
    const QString local = TempPath(StartFlagName);
    QString error;
    if (!SaveAppList(local, {}, &error)) {
        m_job.AddErrorLine(error + u' ' + local);
        Cancel();
        return;
    }
    if (m_storage.FileOperation(atCopyFromLocalToRemoteFile, local, JoinPath(m_jobFolder, StartFlagName), Retries(),
                                true) != orSuccess)
        Cancel();
}

void TAppsBackupRun::BackupApplication(const QString& name) {
    m_job.AddPlainLine(ApplicationSeparator);
    m_job.AddPlainLine(name);
    m_job.AddPlainLine(QString());
    if (!IsUsableAppFolderName(name)) {
        m_job.AddErrorLine(Tr(QStringLiteral("The application name cannot be used as a folder name:")) + u' ' + name);
        return;
    }
    const QString appFolder = JoinPath(m_jobFolder, name);
    m_storage.FileOperation(atCreateRemoteFolder, QString(), appFolder, 0, false);
    TAppData definition;
    if (!AppDefinitions::Find(name, definition))
        return;
    for (qsizetype i = 0; i < definition.Folders.size(); ++i)
        if (!BackupFolderEntry(appFolder, int(i), definition.Folders.at(i)))
            return;
    for (qsizetype k = 0; k < definition.RegistryPaths.size() && !Cancelled(); ++k)
        BackupRegistryEntry(appFolder, int(k), definition.RegistryPaths.at(k));
}

void TAppsBackupRun::LoadPreviousLists(const QString& entryFolder, TEntryLists& lists) {
    bool any = false;
    const std::pair<const QString*, QStringList*> wanted[] = {
        {&FilesListName, &lists.PreviousFiles},
        {&FoldersListName, &lists.PreviousFolders},
        {&StampsListName, &lists.PreviousStamps},
    };
    for (const auto& [name, list] : wanted) {
        const QString local = TempPath(*name);
        QFile::remove(local);
        if (m_previousBackupExists &&
            m_storage.FileOperation(atCopyFromRemoteToLocalFile, local, JoinPath(entryFolder, *name), 0, false) ==
                orSuccess &&
            LoadAppList(local, *list))
            any = true;
    }
    // A new application (or entry) in an existing backup has no folder yet either.
    if (!any)
        m_storage.FileOperation(atCreateRemoteFolder, QString(), entryFolder, 0, false);
    // Entries that would lead out of the entry's folder are not the program's: they are dropped
    // rather than removed at the destination.
    QStringList files, stamps;
    for (qsizetype i = 0; i < lists.PreviousFiles.size(); ++i) {
        if (!IsContainedRelativePath(lists.PreviousFiles.at(i)))
            continue;
        files.append(lists.PreviousFiles.at(i));
        stamps.append(lists.PreviousStamps.value(i));
    }
    lists.PreviousFiles = files;
    lists.PreviousStamps = stamps;
    lists.PreviousFolders.removeIf([](const QString& path) { return !IsContainedRelativePath(path); });
    for (qsizetype i = 0; i < lists.PreviousFiles.size(); ++i)
        lists.PreviousFileIndex.insert(lists.PreviousFiles.at(i), i);
    lists.PreviousFolderSet = QSet<QString>(lists.PreviousFolders.cbegin(), lists.PreviousFolders.cend());
}

bool TAppsBackupRun::BackupFolderEntry(const QString& appFolder, int index, const QString& entry) {
    const QString entryFolder = JoinPath(appFolder, QString::number(index));
    // 1, 2.
    TEntryLists lists;
    LoadPreviousLists(entryFolder, lists);
    // 3.
    const QString path = m_resolver.Resolve(entry);
    m_job.AddPlainLine(QString());
    const TAppEntryKind kind = TAppPathResolver::KindOf(path);
    if (kind == TAppEntryKind::Folder) {
        // 4.
        m_job.AddLogLine(Tr(QStringLiteral("Starting the directory backup:")) + u' ' + path);
        QString clean = QDir::cleanPath(path);
        const QString name = LastPathComponent(clean);
        bool created = true;
        if (!IsContainedRelativePath(name)) {
            created = false; // the root folder itself names no folder to mirror into
        } else if (!lists.PreviousFolderSet.contains(name)) {
            created = m_storage.FileOperation(atCreateRemoteFolder, QString(), JoinPath(entryFolder, name), Retries(),
                                              true) == orSuccess;
        }
        if (created) {
            lists.CurrentFolders.append(name);
            BackupTree(clean, JoinPath(entryFolder, name), name + u'/', lists);
        } else if (lists.PreviousFolderSet.contains(name)) {
            lists.CurrentFolders.append(name);
            KeepPreviousBelow(name + u'/', lists);
        }
    } else if (kind == TAppEntryKind::File && QFileInfo(path).isFile()) {
        // 5.
        m_job.AddLogLine(Tr(QStringLiteral("Starting the file backup:")) + u' ' + path);
        const QString name = LastPathComponent(path);
        BackupFile(path, JoinPath(entryFolder, name), name, lists);
    } else if (kind == TAppEntryKind::Wildcard && QFileInfo(TAppPathResolver::WildcardFolder(path)).isDir()) {
        // 6.
        m_job.AddLogLine(Tr(QStringLiteral("Starting the file backup:")) + u' ' + path);
        const QString folder = TAppPathResolver::WildcardFolder(path);
        const QString mask = TAppPathResolver::WildcardMask(path);
        const QFileInfoList files =
            QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& file : files) {
            if (!TAppPathResolver::MatchesMask(file.fileName(), mask))
                continue;
            if (!BackupFile(file.filePath(), JoinPath(entryFolder, file.fileName()), file.fileName(), lists))
                break;
        }
    }
    // 8.
    m_job.AddPlainLine(QString());
    if (Cancelled())
        return false;
    RemoveGone(entryFolder, lists);                        // 9
    return StoreLists(entryFolder, lists) && !Cancelled(); // 10, 11
}

void TAppsBackupRun::BackupTree(const QString& source, const QString& remote, const QString& prefix,
                                TEntryLists& lists) {
    if (WaitWhilePaused())
        return;
    QDir dir(source);
    if (!dir.isReadable()) {
        // What cannot be listed now is not gone: its stored copy stays as it is.
        m_job.AddErrorLine(Tr(QStringLiteral("Unable to read the directory:")) + u' ' + source);
        KeepPreviousBelow(prefix, lists);
        return;
    }
    QDir::Filters filters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
    if (!m_job.JobOptions.Processing.SkipHiddenSystemFiles)
        filters |= QDir::Hidden;
    const QFileInfoList entries = dir.entryInfoList(filters, QDir::Name);
    const QString temp = QDir::cleanPath(TempFolder());
    for (const QFileInfo& entry : entries) {
        if (WaitWhilePaused())
            return;
        const QString name = entry.fileName();
        const QString path = entry.filePath();
        const QString relative = prefix + name;
        if (entry.isSymLink() && entry.isDir())
            continue; // a link into another tree (or back into this one) is not this folder's data
        if (entry.isDir()) {
            if (path.compare(temp, Qt::CaseInsensitive) == 0)
                continue;
            if (!QFileInfo::exists(path)) {
                m_job.AddWarningLine(Tr(QStringLiteral("The directory does not exist:")) + u' ' + path);
                continue;
            }
            lists.CurrentFolders.append(relative);
            const QString remoteFolder = JoinPath(remote, name);
            if (!lists.PreviousFolderSet.contains(relative) &&
                m_storage.FileOperation(atCreateRemoteFolder, QString(), remoteFolder, Retries(), true) != orSuccess) {
                Cancel();
                return;
            }
            BackupTree(path, remoteFolder, relative + u'/', lists);
            if (Cancelled())
                return;
        } else if (entry.isFile()) {
            if (!BackupFile(path, JoinPath(remote, name), relative, lists))
                return;
        }
    }
}

bool TAppsBackupRun::BackupFile(const QString& path, const QString& remote, const QString& relative,
                                TEntryLists& lists) {
    if (WaitWhilePaused())
        return false;
    if (!QFileInfo::exists(path)) {
        m_job.AddWarningLine(Tr(QStringLiteral("The file does not exist:")) + u' ' + path);
        return true;
    }
    const QString stamp = AppFileStamp(path);
    const qsizetype previous = lists.PreviousFileIndex.value(relative, -1);
    lists.CurrentFiles.append(relative);
    lists.CurrentStamps.append(stamp);
    if (previous >= 0 && lists.PreviousStamps.value(previous) == stamp)
        return true;
    switch (m_storage.FileOperation(atCopyFromLocalToRemoteFileThroughTempFolder, path, remote, Retries(), true)) {
    case orSuccess:
        ++m_job.CurrentBackupFilesProcessed;
        m_job.RequestRepaint();
        return true;
    case orERROR_LocalAccess:
        // The file could not be read now. Its stored copy must not look removed: a file stored
        // before keeps its old entry and stamp (the copy stays and it is tried again next run);
        // a new one is left out.
        if (previous >= 0) {
            lists.CurrentStamps.last() = lists.PreviousStamps.value(previous);
        } else {
            lists.CurrentFiles.removeLast();
            lists.CurrentStamps.removeLast();
        }
        return true;
    case orERROR_RemoteAccess:
        Cancel();
        return false;
    }
    return true;
}

void TAppsBackupRun::KeepPreviousBelow(const QString& prefix, TEntryLists& lists) {
    for (qsizetype i = 0; i < lists.PreviousFiles.size(); ++i) {
        if (lists.PreviousFiles.at(i).startsWith(prefix)) {
            lists.CurrentFiles.append(lists.PreviousFiles.at(i));
            lists.CurrentStamps.append(lists.PreviousStamps.value(i));
        }
    }
    for (const QString& folder : std::as_const(lists.PreviousFolders))
        if (folder.startsWith(prefix))
            lists.CurrentFolders.append(folder);
}

void TAppsBackupRun::RemoveGone(const QString& entryFolder, const TEntryLists& lists) {
    const QSet<QString> files(lists.CurrentFiles.cbegin(), lists.CurrentFiles.cend());
    for (const QString& path : std::as_const(lists.PreviousFiles)) {
        if (files.contains(path))
            continue;
        if (m_storage.FileOperation(atRemoveRemoteFile, QString(), JoinPath(entryFolder, path), Retries(), true) !=
            orSuccess) {
            Cancel();
            return;
        }
    }
    const QSet<QString> folders(lists.CurrentFolders.cbegin(), lists.CurrentFolders.cend());
    for (qsizetype i = lists.PreviousFolders.size() - 1; i >= 0; --i) {
        const QString& path = lists.PreviousFolders.at(i);
        if (folders.contains(path))
            continue;
        if (m_storage.FileOperation(atRemoveRemoteEmptyFolder, QString(), JoinPath(entryFolder, path), Retries(),
                                    true) != orSuccess) {
            Cancel();
            return;
        }
    }
}

bool TAppsBackupRun::StoreLists(const QString& entryFolder, const TEntryLists& lists) {
    const std::pair<const QString*, const QStringList*> stored[] = {
        {&FilesListName, &lists.CurrentFiles},
        {&StampsListName, &lists.CurrentStamps},
        {&FoldersListName, &lists.CurrentFolders},
    };
    for (const auto& [name, list] : stored) {
        QString error;
        if (!SaveAppList(TempPath(*name), *list, &error)) {
            m_job.AddErrorLine(error);
            Cancel();
            return false;
        }
    }
    if (!Cancelled()) {
        if (!m_job.JobOptions.Logging.DontLogCopyingInternalFiles)
            m_job.AddLogLine(Tr(QStringLiteral("Copying the database files.")));
        for (const QString* name : {&FilesListName, &FoldersListName, &StampsListName}) {
            if (m_storage.FileOperation(atCopyFromLocalToRemoteFile, TempPath(*name), JoinPath(entryFolder, *name),
                                        Retries(), true) != orSuccess) {
                Cancel();
                break;
            }
        }
    }
    for (const QString* name : {&FilesListName, &FoldersListName, &StampsListName})
        QFile::remove(TempPath(*name));
    return !Cancelled();
}

void TAppsBackupRun::BackupRegistryEntry(const QString& appFolder, int index, const QString& key) {
    const QString remote = JoinPath(appFolder, QString::number(index) + QStringLiteral(".rgh"));
    if (!m_registry.KeyExists(key)) {
        m_storage.FileOperation(atRemoveRemoteFile, QString(), remote, 0, false);
        return;
    }
    // The stored copy is replaced only by a new one: a key that cannot be saved now keeps it.
    m_job.AddPlainLine(QString());
    m_job.AddLogLine(Tr(QStringLiteral("Starting the registry key backup:")) + u' ' + key);
    const QString local = TempPath(QString::number(index) + QStringLiteral(".rgh"));
    if (SaveRegKey(key, local)) {
        if (m_storage.FileOperation(atCopyFromLocalToRemoteFile, local, remote, Retries(), true) != orSuccess)
            Cancel();
        QFile::remove(local);
    }
    m_job.AddPlainLine(QString());
}

bool TAppsBackupRun::SaveRegKey(const QString& key, const QString& file) {
    QString error;
    if (m_registry.SaveKey(key, file, &error))
        return true;
    if (error.startsWith(QStringLiteral("SaveRegKey1 ")))
        m_job.AddErrorLine(WithoutLineBreaks(error));
    else
        m_job.AddErrorLine(Tr(QStringLiteral("Unable to save the registry key.")) + QStringLiteral(" [E2]") +
                           (error.isEmpty() ? QString() : QStringLiteral(" ") + WithoutLineBreaks(error)));
    return false;
}

void TAppsBackupRun::StoreJobFile() {
    if (Cancelled())
        return;
    const QString local =
        JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName + App().RemoteJobFileExtension);
    if (!m_job.SaveRemoteJobFile(local, AppDefinitions::List())) {
        m_job.AddErrorLine(
            Tr(QStringLiteral("Unable to save the settings. Please check the possibility to write to the file:")) +
            u' ' + local);
        Cancel();
    } else if (m_storage.FileOperation(atCopyFromLocalToRemoteFile, local, m_jobFolder + App().RemoteJobFileExtension,
                                       Retries(), true) != orSuccess) {
        Cancel();
    }
    m_job.AddPlainLine(QString());
    if (!Cancelled())
        m_storage.FileOperation(atRemoveRemoteFile, QString(), JoinPath(m_jobFolder, StartFlagName), 0, false);
    m_job.CurrentFileOperationProgress = 0;
    m_job.CurrentFileOperationPath.Clear();
}

void TAppsBackupRun::WriteEnding() {
    m_job.CurrentFileOperationProgress = 0;
    m_job.CurrentFileOperationPath.Clear();
    m_job.AddPlainLine(QString());
    m_job.AddPlainLine(ApplicationSeparator);
    const QString name = m_job.stJobName;
    const QString copied = QString::number(m_job.CurrentBackupFilesProcessed.Load());
    QString line;
    QString history;
    if (Cancelled()) {
        line = Tr(QStringLiteral("Backup is cancelled."));
        history = line;
        App().EventsLog.AddToEventsLog(m_job.TrFormat(QStringLiteral("\"%s\" backup is cancelled."), {name}));
        m_job.LastJobResult.Cancelled = true;
    } else {
        const char16_t* text;
        const char16_t* event;
        if (m_job.LastJobResult.ErrorsCount >= 1) {
            text = u"Backup job \"%s\" is finished with errors. Files copied: %s.";
            event = u"Backup job is finished with errors.";
        } else if (m_job.LastJobResult.WarningsCount >= 1) {
            text = u"Backup job \"%s\" is finished with warnings. Files copied: %s.";
            event = u"Backup job is finished with warnings.";
        } else {
            text = u"Backup job \"%s\" is finished. Files copied: %s.";
            event = u"Backup job is finished.";
        }
        line = m_job.TrFormat(QString::fromUtf16(text), {name, copied});
        if (m_job.CurrentBackupFilesProcessed > 0)
            line += u' ' + Tr(QStringLiteral("Total size of the files:")) + u' ' + FormatSize(m_job.CurrentBackupSize);
        history = Tr(QString::fromUtf16(event));
        App().EventsLog.AddToEventsLog(line);
    }
    m_job.AddLogLine(line);
    m_job.AddEventtoBackupHistory(history, false);
    m_job.AddLogLine(Tr(QStringLiteral("Removing the temporary files.")));
    m_job.DeleteTempFiles();
    m_storage.DisconnectFromStorage();
    m_job.SaveRunLog();
    m_job.LastJobResult.EndTime = OleDate::Now();
    if (!App().IsQuitting)
        m_job.SaveLocalJobFileAtEndOfRun();
    if (ShouldSendReport(m_job.JobOptions.Email, m_job.LastJobResult.Cancelled, false))
        SendNotificationToEmail(m_job, LongTimeText(m_clock.Now()) + QStringLiteral(": ") + line);
}

void TAppsBackupRun::ConnectionFailureEnding(const QString& error) {
    m_job.AddLogLine(Tr(QStringLiteral("Backup is cancelled.")));
    m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Backup is cancelled.")) + u' ' + error, false);
    App().EventsLog.AddToEventsLog(m_job.TrFormat(QStringLiteral("\"%s\" backup is cancelled:"), {m_job.stJobName}) +
                                   u' ' + error);
    m_job.SaveRunLog();
    m_job.LastJobResult.Cancelled = true;
    m_job.LastJobResult.EndTime = OleDate::Now();
    if (!App().IsQuitting)
        m_job.SaveLocalJobFileAtEndOfRun();
    if (ShouldSendReport(m_job.JobOptions.Email, true, true))
        SendNotificationToEmail(m_job, LongTimeText(m_clock.Now()) + QStringLiteral(": ") + error);
}
