#include "storage/TStorageOperations.h"

#include "core/base/AtomicFile.h"
#include "core/model/TJob.h"
#include "core/model/TJobArchiver.h"
#include "core/settings/TAppGlobals.h"
#include "storage/StorageBranchFactory.h"
#include "storage/StoragePaths.h"
#include "storage/TLocalFileCopy.h"
#include "storage/TSleeper.h"
#include "storage/TStorageBranch.h"

#include <QFile>

#include <algorithm>
#include <exception>

namespace {

QString ExceptionText(const std::exception& failure) {
    return WithoutLineBreaks(QString::fromLocal8Bit(failure.what()));
}

bool IsUploadOfLocalFile(TFileOperationType type) {
    return type == atCopyFromLocalToRemoteFile || type == atCopyFromLocalToRemoteFileThroughTempFolder ||
           type == atAddToZip || type == atMakeZipInTempFolderAndCopyToRemote;
}

} // namespace

TStorageOperations::TStorageOperations(TJob& job, TBranchFactory factory, TSleeper* sleeper)
    : m_job(job)
    , m_factory(factory ? std::move(factory) : TBranchFactory(&CreateStorageBranch))
    , m_sleeper(sleeper ? sleeper : &TSleeper::System()) {}

TStorageOperations::~TStorageOperations() = default;

QString TStorageOperations::Tr(const QString& text) const {
    return m_job.Tr(text);
}

// ---- Connection ----

bool TStorageOperations::IsConnectError(const QString& connectResult) const {
    return connectResult.startsWith(m_job.Tr(QStringLiteral("ERROR:")));
}

QString TStorageOperations::ConnectToStorage() {
    m_job.CurrentFileOperationType = atNone;
    m_job.CurrentFileOperationPath.Clear();
    m_branch.reset();
    m_connected = false;
    TConnectResult connection;
    try {
        m_branch = m_factory(m_job);
        if (m_branch)
            connection = m_branch->Connect();
        else
            connection.Error = Tr(QStringLiteral("Unknown error."));
    } catch (const std::exception& failure) {
        connection = {false, {}, ExceptionText(failure)};
    } catch (...) {
        connection = {false, {}, Tr(QStringLiteral("Unknown error."))};
    }
    if (!connection.Connected) {
        // A failed connection leaves nothing open to close.
        m_branch.reset();
        const QString text = Tr(QStringLiteral("ERROR:")) + u' ' + WithoutLineBreaks(connection.Error);
        m_job.AddLogLine(text);
        ++m_job.LastJobResult.ErrorsCount;
        return text;
    }
    m_connected = true;
    return JoinPath(connection.BasePath, m_job.stJobName);
}

void TStorageOperations::DisconnectFromStorage() {
    m_job.AddLogLine(Tr(QStringLiteral("Disconnecting from device.")));
    if (m_branch) {
        QString error;
        try {
            error = m_branch->Disconnect();
        } catch (const std::exception& failure) {
            error = ExceptionText(failure);
        } catch (...) {
            error = Tr(QStringLiteral("Unknown error."));
        }
        if (!error.isEmpty())
            m_job.AddErrorLine(WithoutLineBreaks(error));
        m_branch.reset();
    }
    m_connected = false;
}

// ---- File operations ----

TOperationResult TStorageOperations::FileOperation(TFileOperationType csOperationType, const QString& csstrLocal,
                                                   const QString& csstrRemote, int RetryCount, bool LogError) {
    m_job.CancelCurrentFileOperation = 0;
    m_job.CurrentFileOperationType = csOperationType;
    m_job.CurrentFileOperationProgress = 0;
    m_job.CurrentFileOperationPath.Set(IsUploadOfLocalFile(csOperationType) ? csstrLocal : csstrRemote);
    switch (csOperationType) {
    case atAddToZip:
        return Finish(AddToZip(csstrLocal, csstrRemote, LogError), {});
    case atCreateFolderInZip:
        return Finish(CreateFolderInZip(csstrRemote, LogError), {});
    case atMakeZipInTempFolderAndCopyToRemote: {
        const QString archive = MakeSingleFileArchive(csstrLocal, LogError);
        if (archive.isEmpty())
            return Finish(orERROR_LocalAccess, {});
        return Finish(AttemptLoop(atCopyFromLocalToRemoteFile, archive, csstrRemote + QStringLiteral(".zip"),
                                  RetryCount, LogError),
                      archive);
    }
    case atCopyFromLocalToRemoteFileThroughTempFolder:
        if (m_branch && m_branch->UploadsFromTemporaryCopy()) {
            const QString copy = CopyToTemporaryFolder(csstrLocal, csstrRemote, LogError);
            if (copy.isEmpty())
                return Finish(orERROR_LocalAccess, {});
            return Finish(AttemptLoop(atCopyFromLocalToRemoteFile, copy, csstrRemote, RetryCount, LogError), copy);
        }
        // The branch reads the source once, straight through: a private copy first buys nothing.
        return Finish(AttemptLoop(atCopyFromLocalToRemoteFile, csstrLocal, csstrRemote, RetryCount, LogError), {});
    default:
        return Finish(AttemptLoop(csOperationType, csstrLocal, csstrRemote, RetryCount, LogError), {});
    }
}

TOperationResult TStorageOperations::AttemptLoop(TFileOperationType operation, const QString& local,
                                                 const QString& remote, int retryCount, bool logError) {
    const int retries = std::max(0, retryCount);
    const int wait = std::max(0, int(m_job.JobOptions.Processing.IfDestinationNotAvailable_Wait_Sec));
    for (int attempt = 0; attempt <= retries && !CancellationRequested();) {
        if (attempt > 0) {
            m_job.AddLogLine(m_job.TrFormat(QStringLiteral("Retry after %s seconds."), {QString::number(wait)}));
            if (!WaitBeforeRetry(wait))
                break;
        }
        ++attempt;
        const TBranchResult result = Attempt(operation, local, remote);
        if (result.Result == orSuccess) {
            if (operation == atCopyFromLocalToRemoteFile)
                m_job.CurrentBackupSize += result.BytesSent;
            return orSuccess;
        }
        if (logError)
            m_job.AddErrorLine(WithoutLineBreaks(result.Message));
        if (result.Result == orERROR_LocalAccess)
            return orERROR_LocalAccess;
        try {
            if (m_branch)
                m_branch->AfterFailedAttempt();
        } catch (...) {
            // The next attempt finds out whether the connection is usable.
        }
    }
    return orERROR_RemoteAccess;
}

TBranchResult TStorageOperations::Attempt(TFileOperationType operation, const QString& local, const QString& remote) {
    switch (operation) {
    case atCopyFromLocalToRemoteFile:
    case atCopyFromRemoteToLocalFile:
    case atRemoveRemoteFile:
    case atRemoveRemoteEmptyFolder:
    case atRemoveRemoteNotEmptyFolder:
    case atCreateRemoteFolder:
    case atRenameRemoteFolder:
    case atRenameRemoteFile:
        break;
    default:
        return TBranchResult::Success(); // nothing to do at the destination
    }
    if (!m_branch)
        return TBranchResult::Failure(Tr(QStringLiteral("Not connected to the storage.")));
    try {
        m_branch->BeforeAttempt();
        switch (operation) {
        case atCopyFromLocalToRemoteFile:
            return m_branch->Upload(local, remote);
        case atCopyFromRemoteToLocalFile:
            return m_branch->Download(remote, local);
        case atRemoveRemoteFile:
            return m_branch->RemoveFile(remote);
        case atRemoveRemoteEmptyFolder:
            return m_branch->RemoveEmptyFolder(remote);
        case atRemoveRemoteNotEmptyFolder:
            return m_branch->RemoveFolderTree(remote);
        case atCreateRemoteFolder:
            return m_branch->CreateFolder(remote);
        case atRenameRemoteFolder:
            return m_branch->RenameFolder(remote, local);
        case atRenameRemoteFile:
            return m_branch->RenameFile(remote, local);
        default:
            return TBranchResult::Success();
        }
    } catch (const std::exception& failure) {
        return TBranchResult::Failure(ExceptionText(failure));
    } catch (...) {
        return TBranchResult::Failure(Tr(QStringLiteral("Unknown error.")));
    }
}

bool TStorageOperations::CancellationRequested() const {
    return m_job.CancelCurrentFileOperation != 0 || m_job.JobStatus == jsCancelling;
}

bool TStorageOperations::WaitBeforeRetry(int seconds) {
    // In one-second steps: a cancel stops the attempts, so there is nothing left to wait for.
    for (int second = 0; second < seconds; ++second) {
        if (CancellationRequested())
            return false;
        m_sleeper->Sleep(1000);
    }
    return !CancellationRequested();
}

TOperationResult TStorageOperations::Finish(TOperationResult result, const QString& temporaryFile) {
    m_job.CancelCurrentFileOperation = 0;
    try {
        if (m_branch)
            m_branch->AfterOperation();
    } catch (...) {
        // Closing down after the operation: its result stands.
    }
    if (!temporaryFile.isEmpty()) {
        QFile file(temporaryFile);
        file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
        file.remove();
    }
    m_job.CurrentFileOperationProgress = 0;
    m_job.RequestRepaint();
    return result;
}

// ---- Local preparations ----

void TStorageOperations::LogTransferLine(const QString& message, const QString& path) {
    if (m_job.JobOptions.Logging.DontLogCopyingInternalFiles && IsInternalFile(path, App().RemoteJobFileExtension))
        return;
    m_job.AddLogLine(Tr(message) + u' ' + path);
}

void TStorageOperations::LogMissingLocalFile(bool logError) {
    if (logError)
        m_job.AddErrorLine(Tr(QStringLiteral("The file does not exist.")));
}

QString TStorageOperations::TemporaryFolder(bool logError) {
    const QString base = m_job.JobOptions.General.PathForTempFiles;
    if (base.isEmpty() || m_job.stJobName.isEmpty()) {
        if (logError)
            m_job.AddErrorLine(Tr(QStringLiteral("The folder for temporary files is not set.")));
        return {};
    }
    const QString folder = JoinPath(base, m_job.stJobName);
    QString error;
    // Private: it holds copies of the user's files.
    if (!CreateFolderPath(folder, 0700, &error)) {
        if (logError)
            m_job.AddErrorLine(Tr(QStringLiteral("Unable to create the folder for temporary files:")) + u' ' + folder +
                               QStringLiteral(" (") + error + u')');
        return {};
    }
    return folder;
}

QString TStorageOperations::CopyToTemporaryFolder(const QString& local, const QString& remote, bool logError) {
    LogTransferLine(QStringLiteral("Copying the file:"), local);
    if (LocalPathIsMissing(local)) {
        LogMissingLocalFile(logError);
        return {};
    }
    const QString folder = TemporaryFolder(logError);
    if (folder.isEmpty())
        return {};
    const QString copyPath = JoinPath(folder, LastPathComponent(remote));
    TLocalFileCopy copy;
    copy.Unbuffered = m_job.JobOptions.Processing.DontUseBufferingForCopyOperations;
    copy.CancelFlag = &m_job.CancelCurrentFileOperation;
    copy.OnProgress = [this](int64_t done, int64_t total) {
        m_job.CurrentFileOperationProgress = total > 0 ? int32_t((done * 100 + total / 2) / total) : 0;
        m_job.RequestRepaint();
    };
    const TFileCopyResult result = copy.Copy(local, copyPath);
    if (!result.Ok()) {
        if (logError)
            m_job.AddErrorLine(result.ErrorText() + QStringLiteral(": ") + local);
        return {};
    }
    return copyPath;
}

// ---- Archive operations ----

TStorageOperations::TArchiverCall TStorageOperations::CallArchiver(TJobArchiver& archiver, bool logError,
                                                                   const std::function<bool()>& call,
                                                                   bool negativeFlagFails) {
    TArchiverCall result;
    bool done = false;
    try {
        done = call();
    } catch (const std::exception& failure) {
        if (logError)
            m_job.AddErrorLine(ExceptionText(failure));
        result.Reported = true;
    } catch (...) {
        result.Reported = true;
    }
    // The failure event has written its own line (or left it out for a skipped locked file); the
    // flag is cleared for the next call.
    result.Reported = result.Reported || archiver.Tag != 0;
    result.Failed = !done || (negativeFlagFails ? archiver.Tag != 0 : archiver.Tag >= 1);
    archiver.Tag = 0;
    return result;
}

TOperationResult TStorageOperations::AddToZip(const QString& local, const QString& remote, bool logError) {
    m_job.AddLogLine(Tr(QStringLiteral("Adding to the archive:")) + u' ' + local);
    if (LocalPathIsMissing(local)) {
        LogMissingLocalFile(logError);
        return orERROR_LocalAccess;
    }
    TJobArchiver* archiver = m_job.Archiver;
    if (!archiver) {
        m_job.AddErrorLine(Tr(QStringLiteral("No archive is open for this job.")));
        return orERROR_LocalAccess;
    }
    m_job.stFileNameToAddToZip = remote;
    const TArchiverCall call = CallArchiver(*archiver, logError, [&] { return archiver->AddFile(local); });
    if (call.Failed && !call.Reported && logError)
        m_job.AddErrorLine(Tr(QStringLiteral("Unable to add the file to the archive:")) + u' ' + local);
    return call.Failed ? orERROR_LocalAccess : orSuccess;
}

TOperationResult TStorageOperations::CreateFolderInZip(const QString& remote, bool logError) {
    m_job.AddLogLine(Tr(QStringLiteral("Creating the directory in the archive:")) + u' ' + remote);
    TJobArchiver* archiver = m_job.Archiver;
    if (!archiver) {
        m_job.AddErrorLine(Tr(QStringLiteral("No archive is open for this job.")));
        return orERROR_LocalAccess;
    }
    m_job.stFileNameToAddToZip.clear();
    const TArchiverCall call = CallArchiver(*archiver, logError, [&] { return archiver->AddFolderEntry(remote); });
    if (call.Failed && !call.Reported && logError)
        m_job.AddErrorLine(Tr(QStringLiteral("Unable to add the directory to the archive:")) + u' ' + remote);
    return call.Failed ? orERROR_LocalAccess : orSuccess;
}

QString TStorageOperations::MakeSingleFileArchive(const QString& local, bool logError) {
    m_job.AddLogLine(Tr(QStringLiteral("Archiving the file:")) + u' ' + local);
    if (LocalPathIsMissing(local)) {
        LogMissingLocalFile(logError);
        return {};
    }
    TJobArchiver* archiver = m_job.Archiver;
    if (!archiver) {
        m_job.AddErrorLine(Tr(QStringLiteral("No archive is open for this job.")));
        return {};
    }
    const QString folder = TemporaryFolder(logError);
    if (folder.isEmpty())
        return {};
    const QString archive = JoinPath(folder, LastPathComponent(local) + QStringLiteral(".zip"));
    // The entry keeps the file's own name: a name left from an earlier addition must not apply.
    m_job.stFileNameToAddToZip.clear();
    const TArchiverCall call = CallArchiver(
        *archiver, logError, [&] { return archiver->MakeSingleFileArchive(local, archive); }, false);
    if (!call.Failed)
        return archive;
    if (!call.Reported && logError)
        m_job.AddErrorLine(Tr(QStringLiteral("Unable to create the archive:")) + u' ' + archive);
    QFile::remove(archive);
    return {};
}

// ---- Unavailable destination ----

bool TStorageOperations::ApplyUnavailableDestinationPolicy() {
    const bool cancelling = m_job.JobStatus == jsCancelling;
    if (m_job.JobOptions.Processing.IfDestinationNotAvailable_Then != 1 || cancelling) {
        if (!cancelling) {
            m_job.AddPlainLine(QString());
            m_job.AddWarningLine(
                Tr(QStringLiteral("The job will be cancelled because destination is not accepting the file.")) +
                QStringLiteral("\r\n") +
                Tr(QStringLiteral("Possible reasons: device is disconnected; device is corrupted; network issues; "
                                  "transfer is blocked by antivirus.")) +
                QStringLiteral("\r\n") +
                Tr(QStringLiteral("If you do not want to cancel the job next time, please open the General Options, "
                                  "the tab \"Backup\".")) +
                QStringLiteral("\r\n") +
                Tr(QStringLiteral("Select the option \"Pause the job and wait for your action\".")));
        }
        m_job.JobStatus = jsCancelling;
        m_job.RequestRepaint();
        return false;
    }
    m_job.CurrentFileOperationType = atNone_WaitingForReconnection;
    m_job.JobStatus = jsPaused;
    m_job.RequestRepaint();
    while (m_job.JobStatus == jsPaused)
        m_sleeper->Sleep(1000);
    return m_job.JobStatus == jsRunning;
}

TOperationResult TStorageOperations::FileOperationWithPolicy(TFileOperationType csOperationType,
                                                             const QString& csstrLocal, const QString& csstrRemote) {
    for (;;) {
        const TOperationResult result =
            FileOperation(csOperationType, csstrLocal, csstrRemote,
                          m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times, true);
        if (result != orERROR_RemoteAccess || !ApplyUnavailableDestinationPolicy())
            return result;
    }
}
