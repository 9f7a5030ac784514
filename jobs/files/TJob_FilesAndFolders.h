#pragma once

// Room jobs/files/: the files-and-folders kind: source walk, backup run, lists, restore points and
// restore. May use core/, archive/, storage/ and jobs/report.

#include "jobs/files/TStringTable.h"

#include "core/model/TJob.h"

#include "storage/TStorageOperations.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <thread>

enum TFilterType : uint8_t {
    ftNoFilters = 0,
    ftIncludeOnly = 1,
    ftExclude = 2,
};

enum TBackupType : uint8_t {
    btIncremental = 0,
    btDifferential = 1,
    btFull = 2,
    btSynchronization = 3, // shown to the user as "Mirror"
};

enum TPerformFullBackupCondition : uint8_t {
    bcEveryCopies = 0,
    bcSumExceedsPercentOfFullBackup = 1,
};

struct TSourceSettings {
    // A folder is stored as its path + "/*", a single file as its path.
    QStringList List;
    TFilterType FilterType = ftNoFilters;
    QString Extensions; // without dots, ";"-separated
    bool operator==(const TSourceSettings&) const = default;
};

struct TBackupSettings {
    TBackupType BackupType = btIncremental;
    TPerformFullBackupCondition PerformFullBackup_Condition = bcEveryCopies;
    int32_t PerformFullBackup_EveryCopies = 5;
    int32_t PerformFullBackup_SumExceedsPercentOfFullBackup = 50;
    int32_t NumberFullCopiesToKeep = 10;
    bool RemoveOldBackupsBeforeStartingNewBackup = false;
    bool operator==(const TBackupSettings&) const = default;
};

// Positions in the wizard's lists; stored as numbers.
enum TEncryptionMethod : uint8_t { emAES128 = 0, emAES192 = 1, emAES256 = 2, emPkzipClassic = 3 };
enum TCompressionLevel : uint8_t { clFastest = 0, clMax = 1, clNone = 2, clNormal = 3 };

struct TCompression {
    bool Enabled = false;
    bool ProtectWithPassword = false;
    QString Password;
    uint8_t EncryptionMethod = emAES128;
    uint8_t CompressionLevel = clFastest;
    QString NoCompressionExtensions;
    bool CreateIndividualZipForEachItem = false;
    bool operator==(const TCompression&) const = default;
};

struct TSpecificSettings {
    TSourceSettings Sources;
    TBackupSettings Backup;
    TCompression Compression;
    bool operator==(const TSpecificSettings&) const = default;
};

// What a files-and-folders job keeps at its destination in the stored job file besides its
// settings: the restore-point list and the lists of the last run it compares against.
struct TRemoteBackupState {
    QStringList MainBackupList;
    QStringList PreviousLocalFilesList;
    QStringList PreviousLocalFilesTimeList;
    QStringList PreviousLocalDirsList;
    int64_t SizeOfLastFullBackup = 0;
    int64_t SizeOfAllIncrementsOrLastDifferentialCopy = 0;
};

class TClock;
class TSleeper;

// What reading the restore points found, for the restore-point choice.
struct TRestoreListing {
    bool Ok = false;
    QString Error;       // the message to show when not Ok
    bool Mirror = false; // a mirror is restored whole: no choice to make
    QStringList Points;  // restore points, oldest first, times shown with ":"
    QStringList Raw;     // the same as stored
};

class TJob_FilesAndFolders : public TJob {
public:
    static constexpr int32_t LocalVersion = 5;
    static constexpr int32_t RemoteVersion = 5;

    explicit TJob_FilesAndFolders(const QString& JobName);
    ~TJob_FilesAndFolders() override;

    TJobKind Kind() const override { return TJobKind::FilesAndFolders; }
    QString IconName() const override;
    void CopySettingsFrom(const TJob& other) override;

    TSpecificSettings Settings;

    // Sets NewSubfolderIsCreatedForEachBackup from the backup type; every place that changes the
    // type calls it.
    void SetBackupType(TBackupType type);

    // ---- Operations ----
    // Starts a backup run on a worker thread and returns at once.
    void Backup() override;
    // Deletes the stored job file and the job's folder at the destination; the local job file stays.
    bool Remove() override;
    // The first half of a restore (interface thread): connects, downloads the stored job file and
    // reads the restore points. Leaves the job running (reading restore points) when Ok, idle
    // otherwise; the caller shows Error. A mirror whose last run was interrupted is refused here.
    TRestoreListing ReadRestorePoints();
    // The choice was cancelled: ends the restore as cancelled.
    void CancelRestore();
    // Starts the restore of restore point ListIndex (of TRestoreListing::Points; -1 for a mirror)
    // into OutPath on a worker thread.
    void StartRestore(const QString& OutPath, const QString& password, int ListIndex);
    // Blocks until the current worker (if any) has ended. For tests and the command line.
    void WaitForWorker() override;

    // Test seams: the waits of runs, the clock of backup runs and the storage branch they use
    // (defaults when unset).
    TSleeper* Sleeper = nullptr;
    TClock* Clock = nullptr;
    TStorageOperations::TBranchFactory Branches;

    // The stored job file kept next to the job's folder at the destination.
    bool SaveRemoteJobFile(const QString& path, const TRemoteBackupState& state) const;
    // The same file with the file and time lists taken from files and times instead of state.
    bool SaveRemoteJobFile(const QString& path, const TRemoteBackupState& state, const TStringSequence& files,
                           const TStringSequence& times) const;
    // As LoadRemoteJobFile without the settings, but the file and time lists go to the two tables
    // (which keep the decoded file) and state's lists of them are left empty.
    bool LoadRemoteJobFileLists(const QString& path, TRemoteBackupState& state, TStringTable& files,
                                TStringTable& times);
    // Reads the lists and sizes into state; the settings only when LoadJobSettings. Throws
    // TDecodeError on damaged data and returns false when the file cannot be opened.
    // destinationChanged is set when the stored destination differs from the job's.
    bool LoadRemoteJobFile(const QString& path, bool LoadJobSettings, TRemoteBackupState& state,
                           bool* destinationChanged = nullptr);

protected:
    int32_t LocalFormatVersion() const override { return LocalVersion; }
    void ReadLocalBody(TPrimitiveReader& reader, int32_t version) override;
    void WriteLocalBody(TPrimitiveWriter& writer) const override;
    QJsonObject SettingsToJson() const override;

private:
    void ReadSettings(TPrimitiveReader& reader, int32_t version, bool remote);
    // withSecrets = false for the stored job file: the ZIP and network passwords are written empty.
    void WriteSettings(TPrimitiveWriter& writer, bool withSecrets = true) const;

    void StartWorker(std::function<void()> body);

    bool m_remoteDestinationChanged = false;
    std::thread m_worker;
    QStringList m_restorePoints; // as last shown for the choice
};

// Turns a source entry of a version-1 job file into the current form: an entry without a file
// extension names a folder and gets "/*".
QString UpgradeVersion1SourceEntry(const QString& entry);
