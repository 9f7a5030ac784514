#pragma once

#include "core/TJob.h"

#include <QString>
#include <QStringList>

#include <cstdint>

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

class TJob_FilesAndFolders : public TJob {
public:
    static constexpr int32_t LocalVersion = 5;
    static constexpr int32_t RemoteVersion = 5;

    explicit TJob_FilesAndFolders(const QString& JobName);

    TJobKind Kind() const override { return TJobKind::FilesAndFolders; }
    QString IconName() const override;

    TSpecificSettings Settings;

    // Sets NewSubfolderIsCreatedForEachBackup from the backup type; every place that changes the
    // type calls it.
    void SetBackupType(TBackupType type);

    // The stored job file kept next to the job's folder at the destination.
    bool SaveRemoteJobFile(const QString& path, const TRemoteBackupState& state) const;
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
    void WriteSettings(TPrimitiveWriter& writer) const;

    bool m_remoteDestinationChanged = false;
};

// Turns a source entry of a version-1 job file into the current form: an entry without a file
// extension names a folder and gets "/*".
QString UpgradeVersion1SourceEntry(const QString& entry);
