#include "storage/ChangeName.h"

#include "core/model/TJob.h"
#include "core/settings/TAppGlobals.h"
#include "storage/StoragePaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The user is sent to the events log when a rename fails: the reasons the destination gave
// are in the job log, so they are copied there.
void CopyErrorLinesToEventsLog(const TJob& job, qsizetype firstLine) {
    const QString marker = QStringLiteral(": ") + job.Tr(QStringLiteral("ERROR:"));
    const QStringList& log = job.LastJobResult.Log;
    for (qsizetype i = firstLine; i < log.size(); ++i) {
        const qsizetype at = log.at(i).indexOf(marker);
        if (at >= 0)
            App().EventsLog.AddToEventsLog(log.at(i).mid(at + 2) + QStringLiteral(" (") + job.stJobName + u')');
    }
}

void RenameLogFolder(const TJob& job, const QString& oldName, const QString& newName) {
    const QString logs = job.JobOptions.Logging.PathForLogFiles;
    if (logs.isEmpty())
        return;
    const QString oldFolder = JoinPath(logs, oldName);
    if (QFileInfo(oldFolder).isDir())
        QDir().rename(oldFolder, JoinPath(logs, newName)); // the logs are a convenience: failures ignored
}

} // namespace

bool ChangeName(TJob& job, const QString& newname, TStorageOperations::TBranchFactory factory) {
    if (job.LastJobResult.EndTime == 0)
        return job.ChangeNameLocally(newname); // nothing at the destination yet

    job.JobStatus = jsRunning;
    job.JobOperation = joRename;
    job.OptionsToJobOptions();
    const qsizetype firstLine = job.LastJobResult.Log.size();
    TStorageOperations storage(job, std::move(factory));
    const QString oldName = job.stJobName;
    const QString oldFolder = storage.ConnectToStorage();
    bool renamed = false;
    if (storage.IsConnectError(oldFolder)) {
        App().EventsLog.AddToEventsLog(oldFolder);
    } else {
        const QString newFolder = FolderPart(oldFolder) + newname;
        const QString extension = App().RemoteJobFileExtension;
        // The interface waits for a rename: one attempt each, no waits between attempts.
        if (storage.FileOperation(atRenameRemoteFolder, newFolder, oldFolder, 0, true) == orSuccess) {
            if (storage.FileOperation(atRenameRemoteFile, newFolder + extension, oldFolder + extension, 0, true) ==
                orSuccess) {
                renamed = job.ChangeNameLocally(newname);
                if (renamed) {
                    RenameLogFolder(job, oldName, newname);
                } else {
                    // The job keeps its old name, so the destination must keep it too.
                    storage.FileOperation(atRenameRemoteFile, oldFolder + extension, newFolder + extension, 0, true);
                    storage.FileOperation(atRenameRemoteFolder, oldFolder, newFolder, 0, true);
                }
            } else {
                // Without its stored job file the renamed folder would not be found again.
                storage.FileOperation(atRenameRemoteFolder, oldFolder, newFolder, 0, true);
            }
        }
        if (!renamed)
            CopyErrorLinesToEventsLog(job, firstLine);
    }
    storage.DisconnectFromStorage();
    job.CurrentFileOperationType = atNone;
    job.CurrentFileOperationPath.Clear();
    job.JobStatus = jsNone;
    job.RequestRepaint();
    return renamed;
}
