#pragma once

#include "jobs/files/RestorePoints.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "jobs/files/TSourceWalk.h"

#include "storage/TStorageOperations.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

class TArchiver;
class TClock;
class TSleeper;

// One backup run of a files-and-folders job, on the job's worker thread: connects, reads what
// the destination holds, decides the kind of run, walks the sources into a new restore point,
// uploads the lists and the stored job file, prunes old restore points and ends the run.
class TBackupRun {
public:
    // The clock names the restore point and the log; the sleeper waits between attempts and for a
    // fresh restore-point second.
    TBackupRun(TJob_FilesAndFolders& job, TSleeper& sleeper, TClock& clock,
               TStorageOperations::TBranchFactory branches = {});
    ~TBackupRun();

    // The whole run (BackupInThread). Ends with the job idle.
    void Run();

private:
    bool Cancelled() const { return m_job.JobStatus == jsCancelling; }
    void Cancel() { m_job.JobStatus = jsCancelling; }
    QString Tr(const QString& text) const { return m_job.Tr(text); }
    int Retries() const { return m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times; }
    QString TempFolder() const;
    QString StoredJobFileTempPath() const;

    void ReadDestinationState();
    void ClearState();
    void StartSourceScan();
    void HandleInterruptedRun();
    void RemoveExistingBackup();
    // Removes temporary copies of the stored job file that a stopped run left.
    void RemoveStoredJobFileLeftovers();
    // Reads which folders the job folder holds, where the destination can list.
    void ListJobFolder();
    // True when the listing says the job folder holds no folder name.
    bool PointFolderMissing(const QString& name) const;
    void DropGoneRestorePoints();
    void RemoveUnfinishedFolders();
    void ChooseRunAndRestorePoint();
    void RemoveOldRestorePoints(bool beforeBackup);
    bool CreateFolders();
    bool UploadStartFlag();
    bool OpenArchive();
    void WalkSources();
    // Fetches the metadata list of the restore point this run compares against; its local path,
    // or empty when there is none.
    QString DownloadComparedMetadata();
    void CloseAndUploadArchive();
    void SaveStateAndLists();
    void UploadListsAndJobFile();
    void WriteEnding();
    void EndRun(const QString& resultLine);
    void ConnectionFailureEnding(const QString& error);
    TOperationResult Upload(const QString& local, const QString& remote);

    TJob_FilesAndFolders& m_job;
    TSleeper& m_sleeper;
    TClock& m_clock;
    TStorageOperations m_storage;
    std::unique_ptr<TArchiver> m_archiver;

    QDateTime m_start;
    QString m_jobFolder;
    QString m_restorePointPath;
    QString m_restorePointName;
    TRunKind m_kind = TRunKind::Full;
    TZipKind m_zip = TZipKind::None;
    TRemoteBackupState m_state; // its file lists stay empty: they are kept in the two tables below
    TStringTable m_previousFiles;
    TStringTable m_previousTimes;
    std::unique_ptr<TTreeScan> m_scan;
    QList<int> m_scanRoots; // per source: its folder's id in the scan, or -1
    TRunLists m_lists;
    QStringList m_startFlag;
    QStringList m_oldRestorePoints;
    bool m_previousBackupExists = false;
    bool m_previousRunInterrupted = false;
    bool m_removeExisting = false;
    bool m_forceFull = false;       // the run compares against nothing: a point it built on is gone
    bool m_jobFolderListed = false; // m_jobFolderFolders holds the job folder's folders
    QStringList m_jobFolderFolders;
    QString m_interruptedName;
};
