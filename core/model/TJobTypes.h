#pragma once

#include <QString>
#include <QStringList>

#include "core/model/TShared.h"

#include <array>
#include <cstdint>

// Enumerations and records shared by every job kind. The numeric values are stored in job files
// and must never change.

enum TJobStatus : int32_t {
    jsNone = 0, // idle
    jsWaiting = 1,
    jsRunning = 2,
    jsCancelling = 3,
    jsPaused = 4,
};

enum TJobOperation : int32_t {
    joBackup = 0,
    joReadRestorePoints = 1,
    joRestore = 2,
    joRename = 3,
    joRemove = 4,
};

enum TDestinationType : int32_t {
    dtLocalOrExternalDrive = 0,
    dtNetwork = 1,
    dtFTP = 2,
    dtCloud = 3,
};

enum TSchedulingType : int32_t {
    stDisabled = 0,
    stDaysOfWeek = 1,
    stDaysOfMonth = 2,
};

enum TFileOperationType : int32_t {
    atCopyFromLocalToRemoteFile = 0,
    atCopyFromLocalToRemoteFileThroughTempFolder = 1,
    atCopyFromRemoteToLocalFile = 2,
    atRemoveRemoteFile = 3,
    atRemoveRemoteEmptyFolder = 4,
    atRemoveRemoteNotEmptyFolder = 5,
    atCreateRemoteFolder = 6,
    atRenameRemoteFolder = 7,
    atRenameRemoteFile = 8,
    atAddToZip = 9,
    atCreateFolderInZip = 10,
    atMakeZipInTempFolderAndCopyToRemote = 11,
    atNone_WaitingForReconnection = 12,
    atNone = 13,
};

enum TOperationResult : int32_t {
    orSuccess = 0,
    orERROR_LocalAccess = 1,
    orERROR_RemoteAccess = 2,
};

// Result of the last or current run. The interface thread reads the times, flag and counters
// while a worker writes them, hence TShared; the log is read only while the job is idle.
struct TJobResult {
    TShared<double> StartTime = 0;
    TShared<double> EndTime = 0;
    QStringList Log;
    TShared<bool> Cancelled = false;
    TShared<int32_t> ErrorsCount = 0;
    TShared<int32_t> WarningsCount = 0;
};

struct TSchedulingSettings {
    TSchedulingType SchedulingType = stDisabled;
    std::array<bool, 8> DaysOfWeek{};   // index 1 = Monday ... 7 = Sunday; index 0 unused
    std::array<bool, 32> DaysOfMonth{}; // index 1 ... 31; index 0 unused
    QStringList TimeTable;              // "hh:mm:ss", ascending
    double LastModificationDateTime = 0;
    bool RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed = false;
    bool ShutdownPCInTheEnd = false;

    bool operator==(const TSchedulingSettings&) const = default;
};

struct TLocalOrExternalDriveDestination {
    QString Disk;
    QString Subfolder = QStringLiteral("/");
    bool operator==(const TLocalOrExternalDriveDestination&) const = default;
};

struct TNetworkDestination {
    QString Username;
    QString Password;
    QString UNCPath = QStringLiteral("\\\\");
    bool operator==(const TNetworkDestination&) const = default;
};

struct TFTPDestination {
    int32_t AccountID = -1;
    QString Subfolder = QStringLiteral("/");
    bool operator==(const TFTPDestination&) const = default;
};

struct TCloudDestination {
    QString ServiceName; // "DropBox", "Google Drive" or "One Drive"
    QString Subfolder = QStringLiteral("/");
    bool operator==(const TCloudDestination&) const = default;
};

struct TDestinationSettings {
    TDestinationType DestinationType = dtLocalOrExternalDrive;
    TLocalOrExternalDriveDestination LocalOrExternalDrive;
    TNetworkDestination Network;
    TFTPDestination FTP;
    TCloudDestination Cloud;
    bool operator==(const TDestinationSettings&) const = default;
};

// Kind codes of job files.
enum class TJobKind : int32_t {
    FilesAndFolders = 1,
    DriveImage = 2,
    AppsData = 3,
};
