#pragma once

#include "core/model/TJobTypes.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class TJob;

// What one attempt of a branch operation came to.
struct TBranchResult {
    // orSuccess; orERROR_LocalAccess when the local side failed (missing or unreadable local
    // file, local target that cannot be written): never worth another attempt; or
    // orERROR_RemoteAccess when the destination failed: the caller may try again.
    TOperationResult Result = orSuccess;
    QString Message;       // translated reason for the error line (no line breaks needed)
    int64_t BytesSent = 0; // uploads: the size of what was stored, counted into CurrentBackupSize

    static TBranchResult Success(int64_t bytesSent = 0) { return {orSuccess, {}, bytesSent}; }
    static TBranchResult LocalAccess(const QString& message) { return {orERROR_LocalAccess, message, 0}; }
    static TBranchResult Failure(const QString& message) { return {orERROR_RemoteAccess, message, 0}; }
};

struct TConnectResult {
    bool Connected = false;
    QString BasePath; // the destination folder that holds the job's folder
    QString Error;    // translated reason, without the "ERROR:" prefix
};

// One kind of destination (local drive, network share, FTP server, cloud drive) as the storage
// operations reach it. The operations object owns one branch per connection and calls it from
// the job's worker only; a branch never sees two calls at once.
//
// Paths: local paths and destination paths are "/" paths; destination paths are absolute for
// the local and network branches and relative to the destination root for FTP and cloud.
//
// Every operation writes its own log lines (the texts of its destination kind) and reports its
// outcome as a value; it never throws on purpose, but the caller catches anything thrown and
// counts it as a destination failure. Retrying, waiting and the error lines are the caller's.
class TStorageBranch {
public:
    explicit TStorageBranch(TJob& job);
    virtual ~TStorageBranch();
    TStorageBranch(const TStorageBranch&) = delete;
    TStorageBranch& operator=(const TStorageBranch&) = delete;

    // Writes the connecting line (where the kind has one) and opens the connection. On success
    // BasePath is where job folders are kept; on failure Error says why and nothing stays open.
    virtual TConnectResult Connect() = 0;
    // Closes what Connect opened; the text of a failure, or empty. Called once after a
    // successful Connect; a branch whose Connect failed is dropped without it.
    virtual QString Disconnect() = 0;

    // True when an upload may take long enough, with retries, that the source could change
    // under it: the caller then uploads a private copy made first (FTP and cloud). Where a
    // copy reads the source once, straight through, no copy is made.
    virtual bool UploadsFromTemporaryCopy() const = 0;
    // True when an uploaded symbolic link is stored as a link. A run that keeps a metadata list
    // for its restore point uploads no link to a branch answering false: the list records the
    // link (never its target's content) and a restore makes the link from it.
    virtual bool HoldsLinks() const { return true; }

    // Called before each attempt and after a failed one (FTP reconnects here).
    virtual void BeforeAttempt() {}
    virtual void AfterFailedAttempt() {}
    // Called once when an operation ends, whatever its outcome.
    virtual void AfterOperation() {}

    // Stores the local file under remote, replacing what is there (a read-only file included).
    // A missing or unreadable local file is LocalAccess; a failed or cancelled transfer is a
    // Failure that leaves the old remote file, or none, never a partial one under its name.
    // BytesSent is the size stored.
    virtual TBranchResult Upload(const QString& local, const QString& remote) = 0;
    // Fetches remote into the local file, replacing it (a read-only file included). A missing
    // remote file is a Failure with the text "The file does not exist."; a local file that
    // cannot be written is LocalAccess. The old local file survives a failed download.
    virtual TBranchResult Download(const QString& remote, const QString& local) = 0;
    // Deletes the file remote (a read-only one included); a missing file is a Failure.
    virtual TBranchResult RemoveFile(const QString& remote) = 0;
    // Deletes the folder remote, which the caller expects to be empty. The local and network
    // branches remove what is still in it; FTP refuses a folder that is not empty.
    virtual TBranchResult RemoveEmptyFolder(const QString& remote) = 0;
    // Deletes the folder remote with everything in it; links inside are removed, not followed.
    virtual TBranchResult RemoveFolderTree(const QString& remote) = 0;
    // Creates the folder remote; an existing folder is success. Local and network destinations
    // create missing parents too.
    virtual TBranchResult CreateFolder(const QString& remote) = 0;
    // Renames (moves) the folder or file remote to newPath. Refuses to replace an existing item.
    virtual TBranchResult RenameFolder(const QString& remote, const QString& newPath) = 0;
    virtual TBranchResult RenameFile(const QString& remote, const QString& newPath) = 0;
    // The names in the folder remote: folders into folders, everything else (links included)
    // into files. False when the folder cannot be read or this kind of destination cannot list
    // (the default); callers then leave the folder alone. Writes no log line.
    virtual bool ListFolder(const QString& remote, QStringList& folders, QStringList& files) {
        Q_UNUSED(remote);
        Q_UNUSED(folders);
        Q_UNUSED(files);
        return false;
    }

    // Called after each transferred chunk besides the job's own progress field; lets tests and
    // the command-line program follow a transfer.
    std::function<void(int64_t done, int64_t total)> OnProgress;

protected:
    // time + ": " + message + " " + path.
    void LogPathLine(const QString& message, const QString& path);
    // A copy line ("Copying the file:", "Uploading the file:", "Removing the file:", ...): left
    // out for the program's bookkeeping files when the option DontLogCopyingInternalFiles is on.
    void LogTransferLine(const QString& message, const QString& path);
    // Stores done * 100 / total, rounded (0 for an empty file), and asks for a repaint.
    void ReportProgress(int64_t done, int64_t total);
    bool CancelRequested() const;
    QString Tr(const QString& text) const;

    TJob& m_job;
};
