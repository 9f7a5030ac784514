#pragma once

#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/TAppPathResolver.h"
#include "jobs/appdata/TJob_AppsData.h"

#include "storage/TStorageOperations.h"

#include <QDateTime>
#include <QString>

class TAppRegistry;
class TClock;
class TSleeper;

// The restore of the chosen applications (RemoteAppsSelectedForRestore) on the job's worker
// thread: what each application has on this computer is renamed out of the way (nothing is
// overwritten), then its stored folders, files and settings keys are put back.
class TAppsRestoreRun {
public:
    TAppsRestoreRun(TJob_AppsData& job, TSleeper& sleeper, TClock& clock, TAppRegistry& registry,
                    const QProcessEnvironment& environment, TStorageOperations::TBranchFactory branches = {});

    void Run();

private:
    bool Cancelled() const { return m_job.JobStatus == jsCancelling; }
    void Cancel() { m_job.JobStatus = jsCancelling; }
    bool WaitWhilePaused();
    QString Tr(const QString& text) const { return m_job.Tr(text); }
    int Retries() const { return m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times; }
    QString TempPath(const QString& name) const;

    void RestoreApplication(const TAppData& definition);
    // False when the application's remaining folder entries are to be left.
    bool RestoreFolderEntry(const QString& appFolder, int index, const QString& entry);
    bool RenameLocalData(const QString& path);
    // False when the application's remaining settings keys are to be left.
    bool RestoreRegistryEntry(const QString& appFolder, int index, const QString& key);
    void WriteEnding();

    TJob_AppsData& m_job;
    TSleeper& m_sleeper;
    TClock& m_clock;
    TAppRegistry& m_registry;
    TAppPathResolver m_resolver;
    TStorageOperations m_storage;
    QString m_jobFolder;
    QString m_renameStamp; // " - RENAMED ON yyyy-mm-dd hh;nn;ss" of this restore
};
