#pragma once

// Room jobs/appdata/: the application data kind: definitions, the resolution of their paths and
// settings keys, and the backup and restore runs. May use core/, storage/ and jobs/report.

#include "core/model/TJob.h"

#include "storage/TStorageOperations.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <thread>

// One application as recorded in a stored job file: the definition's name, category, folders
// and registry paths.
struct TAppRecord {
    QString Name;
    QString Category;
    QStringList Folders;
    QStringList RegistryPaths;
    bool operator==(const TAppRecord&) const = default;
};

struct TAppsDataSettings {
    QStringList AppNames;
    bool operator==(const TAppsDataSettings&) const = default;
};

class TAppRegistry;
class TClock;
class TSleeper;

// What reading a backup for a restore found.
struct TAppsRestoreListing {
    bool Ok = false;
    QString Error;        // the message to show when not Ok
    QStringList AppNames; // the applications the backup holds, in the order chosen
};

class TJob_AppsData : public TJob {
public:
    static constexpr int32_t LocalVersion = 4;
    static constexpr int32_t RemoteVersion = 4;

    explicit TJob_AppsData(const QString& JobName);
    ~TJob_AppsData() override;

    TJobKind Kind() const override { return TJobKind::AppsData; }
    QString IconName() const override { return QStringLiteral("job-appdata"); }
    void CopySettingsFrom(const TJob& other) override;

    QList<TAppRecord> RemoteAppsData; // read from a stored job file
    QStringList RemoteAppsSelectedForRestore;
    TAppsDataSettings Settings;

    // Writes the records of the definitions whose names are in AppNames, in the definitions' order.
    bool SaveRemoteJobFile(const QString& path, const QList<TAppRecord>& definitions) const;
    // Throws TDecodeError on damaged data; false when the file cannot be opened. The records always
    // go to RemoteAppsData.
    bool LoadRemoteJobFile(const QString& path, bool LoadJobSettings, bool* destinationChanged = nullptr);

    // ---- Operations ----
    // Starts a backup run on a worker thread and returns at once.
    void Backup() override;
    // Deletes the stored job file and the job's folder at the destination.
    bool Remove() override;
    // The first half of a restore: connects, downloads the stored job file and reads which
    // applications it holds (RemoteAppsData and Settings.AppNames come from it). Leaves the job
    // running when Ok, idle otherwise; the caller shows Error. A backup whose last run did not
    // finish is refused.
    TAppsRestoreListing ReadBackup();
    // The choice was cancelled: ends the restore as cancelled.
    void CancelRestore();
    // Restores the chosen applications (of ReadBackup's AppNames) on a worker thread.
    void StartRestore(const QStringList& chosen);
    void WaitForWorker() override;
    // Settings keys are the user's own dconf folders here: no run needs elevated rights.
    bool RequiresElevationForBackup() const { return false; }

    // Test seams (defaults when unset): the waits, the clock, the storage branch, the settings-key
    // store and the environment that path variables are resolved in.
    TSleeper* Sleeper = nullptr;
    TClock* Clock = nullptr;
    TStorageOperations::TBranchFactory Branches;
    TAppRegistry* Registry = nullptr;
    const QProcessEnvironment* Environment = nullptr;

    TAppRegistry& RegistryToUse() const;
    QProcessEnvironment EnvironmentToUse() const;
    TSleeper& SleeperToUse() const;
    TClock& ClockToUse() const;

protected:
    int32_t LocalFormatVersion() const override { return LocalVersion; }
    void ReadLocalBody(TPrimitiveReader& reader, int32_t version) override;
    void WriteLocalBody(TPrimitiveWriter& writer) const override;
    QJsonObject SettingsToJson() const override;

private:
    void StartWorker(std::function<void()> body);

    std::thread m_worker;
};
