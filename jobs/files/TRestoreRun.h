#pragma once

#include "jobs/files/RestorePoints.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "jobs/files/TMetadataList.h"

#include "storage/TStorageOperations.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class TArchiver;
class TSleeper;

// One restore of a files-and-folders job on the job's worker thread (RestoreInThread): applies
// the chosen restore point (and the full copy and increments it builds on) to the output folder.
class TRestoreRun {
public:
    TRestoreRun(TJob_FilesAndFolders& job, TSleeper& sleeper, TStorageOperations::TBranchFactory branches = {});
    ~TRestoreRun();

    void Run(const QString& OutputPath, const QString& myZIPPassword, int ListInd);

private:
    bool Cancelled() const { return m_job.JobStatus == jsCancelling; }
    void Cancel() { m_job.JobStatus = jsCancelling; }
    QString Tr(const QString& text) const { return m_job.Tr(text); }
    bool WaitWhilePausedAndCheckCancel();
    QString TempFolder() const;
    // Restores one restore point (or the mirror folder). False only when the archive engine failed.
    bool RestoreFolder(const QString& folder, bool mirror);
    // Output path for a relative entry of a list, or empty (with an error line) when the entry
    // would lead outside the output folder.
    QString OutputPathFor(const QString& entry);
    void ErrorAndCancel(const QString& message);
    // Fetches the restore point's metadata list, when it has one; the last one fetched is applied.
    void LoadMetadata(const QString& folder);
    // Gives the restored items the modes, times and (as root) owners the metadata list records.
    void ApplyMetadata();
    // Makes the symbolic link path (replacing a file there) pointing to target.
    bool CreateLink(const QString& path, const QByteArray& target);

    TJob_FilesAndFolders& m_job;
    TSleeper& m_sleeper;
    TStorageOperations m_storage;
    QString m_output;
    QString m_password;
    QString m_jobFolder;
    TRemoteBackupState m_state;
    QSet<QString> m_checkedFolders; // output folders known to hold no link leading out
    TMetadataList m_metadata;
    QString m_metadataSource;                 // where m_metadata came from; empty: no list
    QHash<QString, QByteArray> m_linkTargets; // the links m_metadata records, by path
};
