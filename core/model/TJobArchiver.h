#pragma once

#include <QString>

// The archive engine of a job's current run (the job's Archiver), as the storage operations
// drive it for the three archive operation types. The files-and-folders engine provides the
// implementation; the storage operations only know this interface.
class TJobArchiver {
public:
    virtual ~TJobArchiver() = default;

    // Adds one source file to the open archive. The entry name is the job's stFileNameToAddToZip
    // when it is set, else the file's bare name. False when the failure event fired for it.
    virtual bool AddFile(const QString& sourcePath) = 0;
    // Adds a folder entry (directory attribute) named entryName to the open archive.
    virtual bool AddFolderEntry(const QString& entryName) = 0;
    // Creates archivePath (replacing it) holding sourcePath under its bare name, with the run's
    // password and level, and closes it. False on any failure (the caller deletes the archive).
    virtual bool MakeSingleFileArchive(const QString& sourcePath, const QString& archivePath) = 0;

    // The failure flag: set to 1 by the failure event, read and reset by the caller.
    int Tag = 0;
};
