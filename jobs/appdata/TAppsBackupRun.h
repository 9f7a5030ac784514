#pragma once

#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/TAppPathResolver.h"
#include "jobs/appdata/TJob_AppsData.h"

#include "storage/TStorageOperations.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

class TAppRegistry;
class TClock;
class TSleeper;

// One backup run of an application data job, on the job's worker thread: mirrors the folders,
// files and wildcard groups of every chosen application into the job's folder (only files whose
// stamp changed are copied; what is gone locally is removed), saves its settings keys and ends with
// the stored job file that carries the definitions used.
class TAppsBackupRun {
public:
    TAppsBackupRun(TJob_AppsData& job, TSleeper& sleeper, TClock& clock, TAppRegistry& registry,
                   const QProcessEnvironment& environment, TStorageOperations::TBranchFactory branches = {});

    // The whole run. Ends with the job's files saved; the caller sets the job idle.
    void Run();

private:
    // The working lists of one entry.
    struct TEntryLists {
        QStringList PreviousFiles, PreviousStamps, PreviousFolders;
        QHash<QString, qsizetype> PreviousFileIndex;
        QSet<QString> PreviousFolderSet;
        QStringList CurrentFiles, CurrentStamps, CurrentFolders;
    };

    bool Cancelled() const { return m_job.JobStatus == jsCancelling; }
    void Cancel() { m_job.JobStatus = jsCancelling; }
    // Sleeps while paused; true when the run is cancelling.
    bool WaitWhilePaused();
    QString Tr(const QString& text) const { return m_job.Tr(text); }
    int Retries() const { return m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times; }
    QString TempFolder() const;
    QString TempPath(const QString& name) const;

    void LoadDefinitions();
    void ReadPreviousBackup();
    void HandleInterruptedRun();
    void StoreStartFlag();
    void BackupApplication(const QString& name);
    // Returns false when the application's remaining entries are to be left (cancelling).
    bool BackupFolderEntry(const QString& appFolder, int index, const QString& entry);
    void BackupRegistryEntry(const QString& appFolder, int index, const QString& key);
    bool SaveRegKey(const QString& key, const QString& file);
    void LoadPreviousLists(const QString& entryFolder, TEntryLists& lists);
    void BackupTree(const QString& source, const QString& remote, const QString& prefix, TEntryLists& lists);
    // Copies one file unless its stamp is the one stored; false when the run must stop.
    bool BackupFile(const QString& path, const QString& remote, const QString& relative, TEntryLists& lists);
    // Keeps what the previous run stored below prefix (a folder that cannot be read now).
    void KeepPreviousBelow(const QString& prefix, TEntryLists& lists);
    void RemoveGone(const QString& entryFolder, const TEntryLists& lists);
    bool StoreLists(const QString& entryFolder, const TEntryLists& lists);
    void StoreJobFile();
    void WriteEnding();
    void ConnectionFailureEnding(const QString& error);

    TJob_AppsData& m_job;
    TSleeper& m_sleeper;
    TClock& m_clock;
    TAppRegistry& m_registry;
    TAppPathResolver m_resolver;
    TStorageOperations m_storage;

    QDateTime m_start;
    QString m_jobFolder;
    bool m_previousBackupExists = false;
};
