#include "jobs/files/TBackupRun.h"

#include "jobs/files/ListFiles.h"
#include "jobs/files/TArchiver.h"
#include "jobs/files/TestCrashPoint.h"

#include "core/base/AtomicFile.h"
#include "core/base/OleDate.h"
#include "core/base/TClock.h"
#include "core/base/TextFormat.h"
#include "core/format/TPrimitiveReader.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/report/JobReport.h"
#include "storage/StoragePaths.h"
#include "storage/TSleeper.h"
#include "storage/TStorageBranch.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
const QString StartFlagName = QStringLiteral("_startflag.vll");
const QString MetadataListName = QStringLiteral("_rm.vll");
} // namespace

TBackupRun::TBackupRun(TJob_FilesAndFolders& job, TSleeper& sleeper, TClock& clock,
                       TStorageOperations::TBranchFactory branches)
    : m_job(job)
    , m_sleeper(sleeper)
    , m_clock(clock)
    , m_storage(job, std::move(branches), &sleeper) {}

TBackupRun::~TBackupRun() {
    m_job.Archiver = nullptr;
}

QString TBackupRun::TempFolder() const {
    return JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName);
}

QString TBackupRun::StoredJobFileTempPath() const {
    return JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName + App().RemoteJobFileExtension);
}

TOperationResult TBackupRun::Upload(const QString& local, const QString& remote) {
    return m_storage.FileOperation(atCopyFromLocalToRemoteFile, local, remote, Retries(), true);
}

void TBackupRun::Run() {
    // 1. The start moment names the restore point and the log file.
    m_start = m_clock.Now();
    m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Starting the backup.")), false);
    const QString connected = m_storage.ConnectToStorage();
    const bool connectionFailed = m_storage.IsConnectError(connected);
    // 2.
    m_job.BeginRunLog(m_start);
    if (connectionFailed) {
        ConnectionFailureEnding(connected);
        return;
    }
    m_jobFolder = connected;
    StartSourceScan();
    // 3.
    m_job.DeleteTempFiles();
    RemoveStoredJobFileLeftovers();
    CreateFolderPath(TempFolder(), 0700);
    m_job.CurrentBackupFilesProcessed = 0;
    m_job.CurrentBackupSize = 0;

    ReadDestinationState(); // 4, 5
    ListJobFolder();
    HandleInterruptedRun(); // 6
    RemoveExistingBackup(); // 7
    DropGoneRestorePoints();
    RemoveUnfinishedFolders();
    ChooseRunAndRestorePoint();                                                  // 8, 9
    if (!Cancelled() && CreateFolders() && UploadStartFlag() && OpenArchive()) { // 10, 11, 12
        WalkSources();                                                           // 13, 14
        CloseAndUploadArchive();                                                 // 15
        SaveStateAndLists();                                                     // 16
        UploadListsAndJobFile();                                                 // 17, 18
        if (!Cancelled() && !m_job.Settings.Backup.RemoveOldBackupsBeforeStartingNewBackup)
            RemoveOldRestorePoints(false); // 19
    } else if (m_archiver) {
        m_archiver->CloseArchive();
    }
    if (m_scan)
        m_scan->Stop();
    WriteEnding(); // 20, 21
}

namespace {

// The folder a source entry ending in "*" names.
QString SourceFolder(const QString& entry) {
    QString path = entry;
    if (path.size() > 2)
        path.chop(2);
    else
        path = QStringLiteral("/"); // the whole root volume
    return path;
}

} // namespace

void TBackupRun::StartSourceScan() {
    // The folders are read on other threads while the stored job file is fetched and decoded.
    m_scan = std::make_unique<TTreeScan>(TSourceWalk::DescendCheck(m_job), 2);
    m_scanRoots.clear();
    for (const QString& entry : std::as_const(m_job.Settings.Sources.List))
        m_scanRoots.append(entry.endsWith(u'*') ? m_scan->AddRoot(SourceFolder(entry)) : -1);
    m_scan->Start();
}

void TBackupRun::ReadDestinationState() {
    if (Cancelled())
        return;
    if (!m_job.JobOptions.Logging.DontLogCopyingInternalFiles) {
        m_job.AddSeparatorLine();
        m_job.AddLogLine(Tr(QStringLiteral("Copying database files.")));
    }
    const QString local = StoredJobFileTempPath();
    m_previousBackupExists = m_storage.FileOperation(atCopyFromRemoteToLocalFile, local,
                                                     m_jobFolder + App().RemoteJobFileExtension, 0, false) == orSuccess;
    if (Cancelled() || !m_previousBackupExists || !QFileInfo::exists(local))
        return;
    try {
        m_job.LoadRemoteJobFileLists(local, m_state, m_previousFiles, m_previousTimes);
    } catch (const TDecodeError&) {
        // A stored job file that cannot be decoded leaves nothing to compare against: the run
        // starts over as a first backup.
        ClearState();
        m_job.AddWarningLine(Tr(QStringLiteral("The stored job file is damaged; a full backup will be made.")));
        return;
    }
    TBackupType previous;
    if (!m_state.MainBackupList.isEmpty() && BackupTypeFromMarker(m_state.MainBackupList.first(), previous) &&
        previous != m_job.Settings.Backup.BackupType) {
        m_job.AddWarningLine(Tr(QStringLiteral("Backup type has been changed in the settings.")) + u' ' +
                             Tr(QStringLiteral("Going to remove existing backup before to run this job.")));
        m_removeExisting = true;
    }
}

void TBackupRun::ClearState() {
    m_state = TRemoteBackupState();
    m_previousFiles.Clear();
    m_previousTimes.Clear();
}

void TBackupRun::HandleInterruptedRun() {
    if (Cancelled())
        return;
    const QString flag = JoinPath(TempFolder(), StartFlagName);
    if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, flag, JoinPath(m_jobFolder, StartFlagName), 0, false) !=
        orSuccess)
        return;
    m_job.AddWarningLine(
        Tr(QStringLiteral("The previous backup has been cancelled and the backup files may be corrupted.")));
    m_previousRunInterrupted = true;
    QStringList lines;
    if (LoadListFile(flag, lines) && !lines.isEmpty())
        m_interruptedName = lines.first();
    // The stored job file lists a restore point only once its data and lists are all stored: a
    // run stopped after that left a whole point, which later points build on. Keep it.
    if (!m_interruptedName.isEmpty() && m_state.MainBackupList.indexOf(m_interruptedName) >= 1) {
        m_job.AddPlainLine(Tr(QStringLiteral("The interrupted backup had been stored completely and is kept:")) + u' ' +
                           m_interruptedName);
        m_interruptedName.clear();
        return;
    }
    if (m_job.JobOptions.Processing.RemovePreviousBackupIfCancelled ||
        m_job.Settings.Backup.BackupType == btSynchronization) {
        m_job.AddPlainLine(Tr(QStringLiteral("We have to remove the previous backup.")));
        m_removeExisting = true;
        return;
    }
    // A flag without a name (left by a mirror run) names no restore point: there is nothing to
    // set aside, and renaming the job folder itself would hide the whole backup.
    if (!m_interruptedName.isEmpty() && !PointFolderMissing(m_interruptedName)) {
        const QString interrupted = JoinPath(m_jobFolder, m_interruptedName);
        m_storage.FileOperation(atRenameRemoteFolder, interrupted + QStringLiteral(" CANCELED"), interrupted, 0, true);
    }
    m_job.AddPlainLine(QString());
}

void TBackupRun::RemoveExistingBackup() {
    if (!m_removeExisting || Cancelled())
        return;
    const QString& name = m_interruptedName;
    // A restore point folder that is gone already (removed by hand to make room) is removed.
    if ((name.isEmpty() || !PointFolderMissing(name)) &&
        m_storage.FileOperation(atRemoveRemoteNotEmptyFolder, QString(), JoinPath(m_jobFolder, name), 0, true) !=
            orSuccess) {
        Cancel();
        return;
    }
    if (name.isEmpty()) {
        m_jobFolderListed = false; // gone with the job folder
    } else {
        m_jobFolderFolders.removeAll(name);
    }
    if (name.isEmpty() && !Cancelled()) {
        if (m_storage.FileOperation(atRemoveRemoteFile, QString(), m_jobFolder + App().RemoteJobFileExtension, 0,
                                    true) != orSuccess) {
            Cancel();
            return;
        }
        m_previousBackupExists = false;
        ClearState();
    }
    m_job.AddPlainLine(QString());
}

void TBackupRun::RemoveStoredJobFileLeftovers() {
    // A run stopped while writing the stored job file leaves its temporary copy behind.
    const QString temp = m_job.JobOptions.General.PathForTempFiles;
    if (temp.isEmpty() || m_job.stJobName.isEmpty())
        return;
    const QRegularExpression leftover(QStringLiteral("^") +
                                      QRegularExpression::escape(m_job.stJobName + App().RemoteJobFileExtension) +
                                      QStringLiteral("\\.tmp-[A-Za-z0-9]{6}$"));
    QDir folder(temp);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (leftover.match(name).hasMatch())
            folder.remove(name);
}

void TBackupRun::ListJobFolder() {
    m_jobFolderListed = false;
    if (Cancelled() || !m_storage.Branch())
        return;
    QStringList files;
    m_jobFolderListed = m_storage.Branch()->ListFolder(m_jobFolder, m_jobFolderFolders, files);
}

bool TBackupRun::PointFolderMissing(const QString& name) const {
    return m_jobFolderListed && !m_jobFolderFolders.contains(name);
}

void TBackupRun::DropGoneRestorePoints() {
    if (Cancelled() || !m_jobFolderListed || m_job.Settings.Backup.BackupType == btSynchronization)
        return;
    // A listed restore point whose folder is gone cannot be restored, nor can any point that
    // builds on it: take them off the list, and compare this run against nothing.
    QStringList& list = m_state.MainBackupList;
    QStringList gone;
    bool fullGone = false;
    bool chainGone = false;
    for (qsizetype i = 1; i < list.size();) {
        const QString& name = list.at(i);
        const bool missing = PointFolderMissing(name);
        bool drop;
        if (name.endsWith(QStringLiteral("Full)"))) {
            fullGone = chainGone = drop = missing;
        } else if (name.endsWith(QStringLiteral("Differential)"))) {
            drop = missing || fullGone;
        } else {
            drop = chainGone = missing || chainGone;
        }
        if (drop)
            gone.append(list.takeAt(i));
        else
            ++i;
    }
    if (gone.isEmpty())
        return;
    for (const QString& name : std::as_const(gone))
        m_job.AddWarningLine(Tr(QStringLiteral("The restore point is missing at the destination and is taken off the "
                                               "list:")) +
                             u' ' + name);
    m_forceFull = true;
}

void TBackupRun::RemoveUnfinishedFolders() {
    if (Cancelled() || !m_jobFolderListed || m_job.Settings.Backup.BackupType == btSynchronization)
        return;
    // Folders named as this job names its restore points that no list knows: left by a run
    // stopped before its start flag was stored (or before it could be renamed). Only those that
    // hold no finished point go; with the option to keep interrupted points, only empty ones.
    static const QRegularExpression pointName(QStringLiteral(
        "^\\d{4}-\\d{2}-\\d{2} \\d{2};\\d{2};\\d{2} \\((ZIPs? ?, )?(Full|Incremental|Differential)\\)$"));
    const bool removeUnfinished = m_job.JobOptions.Processing.RemovePreviousBackupIfCancelled;
    for (const QString& name : QStringList(m_jobFolderFolders)) {
        if (Cancelled())
            return;
        if (!pointName.match(name).hasMatch() || m_state.MainBackupList.contains(name))
            continue;
        const QString path = JoinPath(m_jobFolder, name);
        QStringList folders, files;
        if (!m_storage.Branch()->ListFolder(path, folders, files) || files.contains(QStringLiteral("_rf.vll")))
            continue;
        if (!removeUnfinished && !(folders.isEmpty() && files.isEmpty()))
            continue;
        if (m_storage.FileOperation(atRemoveRemoteNotEmptyFolder, QString(), path, 0, true) == orSuccess)
            m_jobFolderFolders.removeAll(name);
    }
}

void TBackupRun::ChooseRunAndRestorePoint() {
    if (Cancelled())
        return;
    const TSpecificSettings& settings = m_job.Settings;
    TRunChoice choice = ChooseRunKind(settings.Backup, m_state, [this](const QString& text) { return Tr(text); });
    if (m_forceFull && choice.Kind != TRunKind::Mirror)
        choice.Kind = TRunKind::Full;
    m_kind = choice.Kind;
    if (!settings.Compression.Enabled || m_kind == TRunKind::Mirror)
        m_zip = TZipKind::None;
    else
        m_zip = settings.Compression.CreateIndividualZipForEachItem ? TZipKind::ArchivePerFile : TZipKind::OneArchive;
    if (!choice.Reason.isEmpty())
        m_job.AddLogLine(choice.Reason);
    if (m_state.MainBackupList.isEmpty())
        m_state.MainBackupList.append(KindMarker(settings.Backup.BackupType));
    if (m_kind != TRunKind::Mirror) {
        // Two runs within one second would get the same name and the second would overwrite the
        // first one's lists (and log file): wait for a second no restore point is named after.
        auto taken = [this](const QDateTime& moment) {
            const QString stamp = LogFileStamp(moment);
            for (const QString& entry : std::as_const(m_state.MainBackupList))
                if (entry.startsWith(stamp))
                    return true;
            return false;
        };
        while (taken(m_start)) {
            m_sleeper.Sleep(1001 - m_clock.Now().time().msec());
            m_start = m_clock.Now();
        }
        m_restorePointName = RestorePointName(m_start, m_kind, settings.Compression);
        m_state.MainBackupList.append(m_restorePointName);
        m_startFlag = {m_restorePointName};
    }
    if (m_kind == TRunKind::Full) {
        m_state.PreviousLocalFilesList.clear();
        m_state.PreviousLocalFilesTimeList.clear();
        m_state.PreviousLocalDirsList.clear();
        m_previousFiles.Clear();
        m_previousTimes.Clear();
    }
    m_restorePointPath = m_kind == TRunKind::Mirror ? m_jobFolder : JoinPath(m_jobFolder, m_restorePointName);
    struct TTarget {
        TRunKind Kind;
        const char16_t* Log;
        const char16_t* History;
    };
    static const TTarget Targets[] = {
        {TRunKind::Full, u"Target: full copy of the source. Subdirectory:", u"Target: full copy of the source."},
        {TRunKind::Incremental, u"Target: incremental copy of the source. Subdirectory:",
         u"Target: incremental copy of the source."},
        {TRunKind::Differential, u"Target: differential copy of the source. Subdirectory:",
         u"Target: differential copy of the source."},
    };
    for (const TTarget& target : Targets) {
        if (target.Kind == m_kind) {
            m_job.AddLogLine(Tr(QString::fromUtf16(target.Log)) + u' ' + m_restorePointName);
            m_job.AddEventtoBackupHistory(Tr(QString::fromUtf16(target.History)), true);
        }
    }
    // 9. Retention.
    if (m_kind != TRunKind::Mirror && settings.Backup.NumberFullCopiesToKeep > 0) {
        m_oldRestorePoints = ChooseOldRestorePoints(m_state.MainBackupList, settings.Backup.NumberFullCopiesToKeep);
        if (settings.Backup.RemoveOldBackupsBeforeStartingNewBackup)
            RemoveOldRestorePoints(true);
    }
}

void TBackupRun::RemoveOldRestorePoints(bool beforeBackup) {
    if (m_oldRestorePoints.isEmpty())
        return;
    m_job.AddSeparatorLine();
    m_job.AddLogLine(Tr(QStringLiteral("Removing the old backups.")));
    for (const QString& entry : std::as_const(m_oldRestorePoints)) {
        const QString path = JoinPath(m_jobFolder, entry);
        if (m_storage.FileOperation(atRemoveRemoteNotEmptyFolder, QString(), path, Retries(), false) == orSuccess) {
            TestCrashPoint("retention");
            continue;
        }
        if (beforeBackup && m_previousRunInterrupted)
            continue;
        m_job.AddErrorLine(Tr(QStringLiteral("Unable to remove the directory. Please remove it manually: ")) + u' ' +
                           path);
    }
    m_oldRestorePoints.clear();
}

bool TBackupRun::CreateFolders() {
    if (!m_previousBackupExists)
        m_storage.FileOperation(atCreateRemoteFolder, QString(), m_jobFolder, 0, false);
    if (m_kind != TRunKind::Mirror &&
        m_storage.FileOperation(atCreateRemoteFolder, QString(), m_restorePointPath, 0, true) == orERROR_RemoteAccess) {
        Cancel();
        return false;
    }
    TestCrashPoint("folder-made");
    return !Cancelled();
}

bool TBackupRun::UploadStartFlag() {
    const QString local = JoinPath(TempFolder(), StartFlagName);
    QString error;
    if (!SaveListFile(local, m_startFlag, &error)) {
        m_job.AddErrorLine(error + u' ' + local);
        Cancel();
        return false;
    }
    if (Upload(local, JoinPath(m_jobFolder, StartFlagName)) != orSuccess) {
        Cancel();
        return false;
    }
    TestCrashPoint("start-flag");
    return !Cancelled();
}

bool TBackupRun::OpenArchive() {
    if (m_zip == TZipKind::None)
        return true;
    m_archiver = std::make_unique<TArchiver>(m_job);
    m_job.Archiver = m_archiver.get();
    if (m_zip == TZipKind::ArchivePerFile)
        return true;
    // A failed upload of the one archive cannot be paused and resumed half-way.
    m_job.JobOptions.Processing.IfDestinationNotAvailable_Then = 0;
    const QString archive = JoinPath(TempFolder(), QStringLiteral("data.zip"));
    m_job.AddLogLine(Tr(QStringLiteral("Opening the archive:")) + u' ' + archive);
    if (!m_archiver->CreateArchive(archive)) {
        Cancel();
        return false;
    }
    return true;
}

void TBackupRun::WalkSources() {
    TSourceWalk::TSetup setup;
    setup.Kind = m_kind;
    setup.Compression = m_zip;
    setup.JobFolder = m_jobFolder;
    setup.RestorePointPath = m_restorePointPath;
    setup.PreviousFiles = &m_previousFiles;
    setup.PreviousTimes = &m_previousTimes;
    setup.PreviousFolders.Assign(m_state.PreviousLocalDirsList);
    if (m_kind != TRunKind::Mirror) {
        setup.PreviousMetadataFile = DownloadComparedMetadata();
        QString error;
        const QString metadata = JoinPath(TempFolder(), MetadataListName);
        if (!m_lists.Metadata.Open(metadata, &error)) {
            m_job.AddErrorLine(error + u' ' + metadata);
            Cancel();
            return;
        }
    }
    TSourceWalk walk(m_job, m_storage, m_sleeper, std::move(setup), m_lists);
    const TPathList previousFolders(m_state.PreviousLocalDirsList);

    const QStringList& sources = m_job.Settings.Sources.List;
    for (qsizetype source = 0; source < sources.size(); ++source) {
        const QString& entry = sources.at(source);
        if (Cancelled())
            break;
        if (entry.endsWith(u'*')) {
            const QString path = SourceFolder(entry);
            const QFileInfo info(path);
            if (!info.isDir()) {
                m_job.AddSeparatorLine();
                m_job.AddWarningLine(Tr(QStringLiteral("The source does not exist:")) + u' ' + path);
                continue;
            }
            m_job.AddSeparatorLine();
            m_job.AddLogLine(Tr(QStringLiteral("Starting the directory backup:")) + u' ' + path);
            const QString name = path == QStringLiteral("/") ? QString() : LastPathComponent(path);
            if (!name.isEmpty()) {
                if (!previousFolders.Contains(name)) {
                    if (!walk.EnsureFolderChain(name))
                        continue;
                    m_lists.CreatedFolders.append(name);
                }
                m_lists.CurrentFolders.Append(name);
            }
            walk.BackupDirectory(path, name, *m_scan, m_scanRoots.value(source, -1));
        } else {
            const QFileInfo info(entry);
            if (!info.exists() && !info.isSymLink()) {
                m_job.AddSeparatorLine();
                m_job.AddWarningLine(Tr(QStringLiteral("The source does not exist:")) + u' ' + entry);
                continue;
            }
            m_job.AddSeparatorLine();
            m_job.AddLogLine(Tr(QStringLiteral("Starting the file backup:")) + u' ' + entry);
            walk.BackupSingleFile(entry, LastPathComponent(entry));
        }
    }
    m_scan->Stop();
    if (!Cancelled())
        walk.ProcessSourceDeletions();
}

QString TBackupRun::DownloadComparedMetadata() {
    if (m_kind != TRunKind::Incremental && m_kind != TRunKind::Differential)
        return {};
    // The restore point the previous lists belong to: the last one before this run's, or for a
    // differential run the last full copy. Points made before metadata lists existed have none.
    const QStringList& points = m_state.MainBackupList;
    for (qsizetype i = points.size() - 2; i >= 1; --i) {
        if (m_kind == TRunKind::Differential && !points.at(i).endsWith(QStringLiteral("Full)")))
            continue;
        const QString local = JoinPath(TempFolder(), QStringLiteral("_rm_compared.vll"));
        if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, local,
                                    JoinPath(JoinPath(m_jobFolder, points.at(i)), MetadataListName), 0,
                                    false) == orSuccess)
            return local;
        break;
    }
    return {};
}

void TBackupRun::CloseAndUploadArchive() {
    if (m_zip != TZipKind::OneArchive || !m_archiver)
        return;
    const QString archive = JoinPath(TempFolder(), QStringLiteral("data.zip"));
    m_job.AddLogLine(Tr(QStringLiteral("Closing the archive:")) + u' ' + archive);
    if (!m_archiver->CloseArchive()) {
        Cancel();
        return;
    }
    if (!Cancelled() && QFileInfo::exists(archive) &&
        Upload(archive, JoinPath(m_restorePointPath, QStringLiteral("data.zip"))) != orSuccess)
        Cancel();
}

void TBackupRun::SaveStateAndLists() {
    if (Cancelled())
        return;
    const int64_t sent = m_job.CurrentBackupSize;
    switch (m_kind) {
    case TRunKind::Incremental:
        m_state.SizeOfAllIncrementsOrLastDifferentialCopy += sent;
        break;
    case TRunKind::Differential:
        m_state.SizeOfAllIncrementsOrLastDifferentialCopy = sent;
        break;
    case TRunKind::Full:
    case TRunKind::Mirror:
        m_state.SizeOfAllIncrementsOrLastDifferentialCopy = 0;
        m_state.SizeOfLastFullBackup = sent;
        break;
    }
    TRemoteBackupState stored = m_state;
    TStringSequence files{m_previousFiles.Size(), [this](qsizetype i) { return m_previousFiles.At(i); }};
    TStringSequence times{m_previousTimes.Size(), [this](qsizetype i) { return m_previousTimes.At(i); }};
    if (m_kind != TRunKind::Differential) {
        // A differential run keeps comparing against the last full copy; every other run against itself.
        files = m_lists.CurrentFiles.Paths();
        times = m_lists.CurrentFiles.Stamps();
        stored.PreviousLocalDirsList = m_lists.CurrentFolders.Items();
    }
    if (!m_job.SaveRemoteJobFile(StoredJobFileTempPath(), stored, files, times)) {
        m_job.AddErrorLine(
            Tr(QStringLiteral("Unable to save the settings. Please check the possibility to write to the file:")) +
            u' ' + StoredJobFileTempPath());
        Cancel();
        return;
    }
    const QString temp = TempFolder();
    const std::pair<const char16_t*, const QStringList*> lists[] = {
        {u"_rf.vll", &m_lists.CopiedFiles},
        {u"_rd.vll", &m_lists.CreatedFolders},
        {u"_rrf.vll", &m_lists.RemovedFiles},
        {u"_rrd.vll", &m_lists.RemovedFolders},
    };
    for (const auto& [name, lines] : lists) {
        QString error;
        const QString path = JoinPath(temp, QString::fromUtf16(name));
        if (!SaveListFile(path, *lines, &error)) {
            m_job.AddErrorLine(error + u' ' + path);
            Cancel();
            return;
        }
    }
    QString error;
    if (m_lists.Metadata.IsOpen() && !m_lists.Metadata.Commit(&error)) {
        m_job.AddErrorLine(error + u' ' + JoinPath(temp, MetadataListName));
        Cancel();
    }
}

void TBackupRun::UploadListsAndJobFile() {
    if (Cancelled())
        return;
    if (m_kind != TRunKind::Mirror) {
        if (!m_job.JobOptions.Logging.DontLogCopyingInternalFiles) {
            m_job.AddSeparatorLine();
            m_job.AddLogLine(Tr(QStringLiteral("Copying the database files.")));
        }
        for (const char16_t* name : {u"_rrd.vll", u"_rf.vll", u"_rd.vll", u"_rrf.vll", u"_rm.vll"}) {
            const QString file = QString::fromUtf16(name);
            if (Upload(JoinPath(TempFolder(), file), JoinPath(m_restorePointPath, file)) != orSuccess) {
                Cancel();
                return;
            }
        }
    }
    TestCrashPoint("lists-stored");
    if (Upload(StoredJobFileTempPath(), m_jobFolder + App().RemoteJobFileExtension) != orSuccess) {
        Cancel();
        return;
    }
    TestCrashPoint("job-file-stored");
    if (!Cancelled())
        m_storage.FileOperation(atRemoveRemoteFile, QString(), JoinPath(m_jobFolder, StartFlagName), 0, false);
}

void TBackupRun::WriteEnding() {
    m_job.CurrentFileOperationProgress = 0;
    m_job.CurrentFileOperationPath.Clear();
    m_job.AddSeparatorLine();
    const QString name = m_job.stJobName;
    const QString copied = QString::number(m_job.CurrentBackupFilesProcessed.Load());
    QString sizeSuffix;
    if (m_job.CurrentBackupFilesProcessed > 0)
        sizeSuffix = u' ' + Tr(QStringLiteral("Total size of the files:")) + u' ' + FormatSize(m_job.CurrentBackupSize);
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
        line = m_job.TrFormat(QString::fromUtf16(text), {name, copied}) + sizeSuffix;
        history = Tr(QString::fromUtf16(event));
        App().EventsLog.AddToEventsLog(line);
    }
    m_job.AddLogLine(line);
    m_job.AddEventtoBackupHistory(history, false);
    EndRun(line);
}

void TBackupRun::EndRun(const QString& resultLine) {
    m_job.AddLogLine(Tr(QStringLiteral("Removing the temporary files.")));
    m_job.DeleteTempFiles();
    m_storage.DisconnectFromStorage();
    m_job.SaveRunLog();
    m_job.Archiver = nullptr;
    m_archiver.reset();
    m_job.LastJobResult.EndTime = OleDate::Now();
    if (!App().IsQuitting)
        m_job.SaveLocalJobFileAtEndOfRun();
    if (ShouldSendReport(m_job.JobOptions.Email, m_job.LastJobResult.Cancelled, false))
        SendNotificationToEmail(m_job, LongTimeText(m_clock.Now()) + QStringLiteral(": ") + resultLine);
}

void TBackupRun::ConnectionFailureEnding(const QString& error) {
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
