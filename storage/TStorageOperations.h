#pragma once

// Room storage/: the storage operations and one branch per destination kind behind one contract. May
// use core/, archive/ and net/.

#include "core/model/TJobTypes.h"

#include <QString>

#include <functional>
#include <memory>

class TJob;
class TSleeper;
class TStorageBranch;
struct TBranchResult;

// The one way a job reaches its destination: connect, typed file operations with retries, and
// disconnect, whatever the destination type. Every transfer gets the same log lines, progress,
// cancel and retry behaviour and the same kind of result.
//
// One object per job run (or per rename or removal), used by one thread at a time; it writes
// only its own job's fields and log. Nothing thrown by a branch or by the archive engine gets
// past it.
class TJobArchiver;

class TStorageOperations {
public:
    using TBranchFactory = std::function<std::unique_ptr<TStorageBranch>(TJob& job)>;

    // factory picks the branch for the job's destination (CreateStorageBranch when empty);
    // sleeper does the waits (the real clock when null).
    explicit TStorageOperations(TJob& job, TBranchFactory factory = {}, TSleeper* sleeper = nullptr);
    ~TStorageOperations();
    TStorageOperations(const TStorageOperations&) = delete;
    TStorageOperations& operator=(const TStorageOperations&) = delete;

    // Connects to the job's destination and returns the job's folder there (the destination's
    // base folder joined with the job name), or a text that begins with the translated "ERROR:"
    // (also written to the job log and counted as an error).
    QString ConnectToStorage();
    // Whether a text ConnectToStorage returned is its error (it begins with the job's translated
    // "ERROR:"); otherwise it is the job's folder.
    bool IsConnectError(const QString& connectResult) const;

    // Performs one operation (see TFileOperationType) with at most RetryCount + 1 attempts,
    // waiting IfDestinationNotAvailable_Wait_Sec between them. csstrLocal is the local file (for
    // renames: the new path); csstrRemote the destination path. With LogError, failures become
    // error lines and count. Returns orSuccess, orERROR_LocalAccess (the local side failed or
    // the archive refused the file; never retried) or orERROR_RemoteAccess (the destination
    // failed on every attempt, or a cancel stopped the attempts).
    TOperationResult FileOperation(TFileOperationType csOperationType, const QString& csstrLocal,
                                   const QString& csstrRemote, int RetryCount, bool LogError);

    // Writes "Disconnecting from device." and closes the connection (failures are logged).
    void DisconnectFromStorage();

    // What an engine does with an orERROR_RemoteAccess result. With the option "Cancel the job"
    // (or when the job is cancelling already) it warns once and sets the job cancelling: returns
    // false, the engine stops. With "Pause the job and wait for your action" it pauses the job,
    // waits (polling once a second) until the user resumes or cancels, and returns true when
    // resumed: the engine repeats the same item from the start. Worker thread only.
    bool ApplyUnavailableDestinationPolicy();

    // FileOperation with the engines' retry count and error logging, repeated after every pause
    // the policy above ends with a resume. The usual way an engine transfers one item.
    TOperationResult FileOperationWithPolicy(TFileOperationType csOperationType, const QString& csstrLocal,
                                             const QString& csstrRemote);

    bool IsConnected() const { return m_connected; }
    // The branch of the current connection (null when none); tests follow transfers through it.
    TStorageBranch* Branch() const { return m_branch.get(); }

private:
    // The job's folder for temporary files, created when missing; empty (with an error line
    // when logError) when the option names no folder or it cannot be created.
    QString TemporaryFolder(bool logError);
    void LogMissingLocalFile(bool logError);
    void LogTransferLine(const QString& message, const QString& path);
    struct TArchiverCall {
        bool Failed = false;
        bool Reported = false; // an error line was written (or deliberately left out) already
    };
    // The bookkeeping every archive operation does around one archiver call: an exception becomes
    // an error line (with logError), and the archiver's failure flag (Tag, set by its failure
    // event) marks the failure as reported and is cleared. A negative flag counts as a failure
    // unless negativeFlagFails is false.
    TArchiverCall CallArchiver(TJobArchiver& archiver, bool logError, const std::function<bool()>& call,
                               bool negativeFlagFails = true);
    TOperationResult AddToZip(const QString& local, const QString& remote, bool logError);
    TOperationResult CreateFolderInZip(const QString& remote, bool logError);
    // Packs local alone into a new archive in the temporary folder; the archive's path, or
    // empty when the archive engine failed (the partial archive is deleted).
    QString MakeSingleFileArchive(const QString& local, bool logError);
    QString CopyToTemporaryFolder(const QString& local, const QString& remote, bool logError);
    TOperationResult AttemptLoop(TFileOperationType operation, const QString& local, const QString& remote,
                                 int retryCount, bool logError);
    // One attempt on the branch; anything thrown becomes a failure.
    TBranchResult Attempt(TFileOperationType operation, const QString& local, const QString& remote);
    // Waits seconds in one-second steps; false when a cancel cut the wait short.
    bool WaitBeforeRetry(int seconds);
    bool CancellationRequested() const;
    TOperationResult Finish(TOperationResult result, const QString& temporaryFile);
    QString Tr(const QString& text) const;

    TJob& m_job;
    TBranchFactory m_factory;
    TSleeper* m_sleeper;
    std::unique_ptr<TStorageBranch> m_branch;
    bool m_connected = false;
};
