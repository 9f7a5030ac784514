#pragma once

#include "core/model/TJobTypes.h"
#include "storage/TStorageOperations.h"

#include <QString>

class TJob;
class TJobList;

// Where a stored job file lies, as the user points at it.
struct TStoredJobLocation {
    TDestinationType Type = dtLocalOrExternalDrive;
    // Local: the file's path. Network: the share path of the file ("smb://server/share/a/Docs.vlj",
    // "//server/share/a/Docs.vlj" or with backslashes). FTP and cloud: the file's path below the
    // account's or the service's root, with "/".
    QString Path;
    QString Username; // network
    QString Password; // network
    int32_t AccountID = -1;
    QString ServiceName; // cloud: "DropBox", "Google Drive" or "One Drive"
};

// The job a stored job file stands for: its name (the file name without the extension) and the
// destination that holds the file, so that the job's folder is the one next to the file.
struct TStoredJobTarget {
    QString Name;
    TDestinationSettings Destination;
};

// Derives the job's name and destination from the location; false with error (translated) when
// the path names no stored job file or a name that cannot be a job's. Touches no storage.
bool DeriveStoredJobTarget(const TStoredJobLocation& location, TStoredJobTarget& target, QString& error);

struct TOpenJobResult {
    TJob* Job = nullptr; // the job added to the list; null when refused or failed
    QString Error;       // translated text for the user when Job is null
    // The job was added but the jobs list file could not be rewritten (the events log says so).
    bool JobsListNotSaved = false;
};

// Re-creates a job from its stored job file: derives the name and destination, refuses a name the
// list holds already (letter case ignored) before any storage access, downloads the file into the
// temporary folder, builds a job of the kind the file records and reads the file with its
// settings (the destination stays where the file was found), then adds the job to the list and
// saves its local job file and the jobs list. A file that cannot be fetched or read adds nothing.
// Blocks until done; the caller's thread. branches is the storage seam of tests.
TOpenJobResult OpenStoredJob(TJobList& jobs, const TStoredJobLocation& location,
                             const TStorageOperations::TBranchFactory& branches = {});
