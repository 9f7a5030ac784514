#include "jobs/OpenStoredJob.h"

#include "core/base/AtomicFile.h"
#include "core/base/TextFormat.h"
#include "core/format/TPrimitiveReader.h"
#include "core/model/JobNameCheck.h"
#include "core/model/TJobList.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/JobKinds.h"
#include "jobs/appdata/TJob_AppsData.h"
#include "jobs/driveimage/TJob_DriveImage.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <exception>

namespace {

QString UnableToOpenText() {
    return TranslateText(QStringLiteral("Unable to open the job file from the backup storage."));
}

QString NotAJobFileText() {
    return FormatText(TranslateText(QStringLiteral("Click \"Browse...\" and find the job file %s.")),
                      {u'*' + App().RemoteJobFileExtension});
}

// The mount point of the volume that holds folder is the "disk" and the rest the subfolder, as
// the wizard and "vaultora-cli new --to" record a local destination.
TLocalOrExternalDriveDestination LocalDestinationOf(const QString& folder) {
    QString root = QStorageInfo(folder).rootPath();
    if (root.isEmpty() || !folder.startsWith(root))
        root = QStringLiteral("/");
    TLocalOrExternalDriveDestination drive;
    drive.Disk = root;
    QString subfolder = folder.mid(root.size());
    if (!subfolder.startsWith(u'/'))
        subfolder.prepend(u'/');
    drive.Subfolder = subfolder;
    return drive;
}

// Reads the downloaded file into job with its settings; false when it cannot be opened or is
// damaged. Nothing thrown by a loader gets out.
bool LoadStoredJobFile(TJob& job, const QString& path) {
    try {
        if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(&job)) {
            TRemoteBackupState state;
            return files->LoadRemoteJobFile(path, true, state);
        }
        if (auto* apps = dynamic_cast<TJob_AppsData*>(&job))
            return apps->LoadRemoteJobFile(path, true);
        if (auto* image = dynamic_cast<TJob_DriveImage*>(&job))
            return image->LoadRemoteJobFile(path, true);
    } catch (const std::exception&) {
        return false;
    }
    return false;
}

} // namespace

bool DeriveStoredJobTarget(const TStoredJobLocation& location, TStoredJobTarget& target, QString& error) {
    QString path = location.Path.trimmed();
    const bool remote = location.Type == dtFTP || location.Type == dtCloud;
    // FTP and cloud paths are "/" paths: a backslash is a character of a name there, never a
    // separator, and the user almost certainly meant one.
    if (remote && path.contains(u'\\')) {
        error = TranslateText(QStringLiteral("The path cannot contain the \\ character."));
        return false;
    }
    if (location.Type == dtLocalOrExternalDrive && !path.isEmpty())
        path = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Share paths may be written with either separator.
    const qsizetype slash =
        location.Type == dtNetwork ? std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\')) : path.lastIndexOf(u'/');
    const QString fileName = path.mid(slash + 1);
    const QString extension = App().RemoteJobFileExtension;
    if (!fileName.endsWith(extension) || fileName.size() == extension.size()) {
        error = NotAJobFileText();
        return false;
    }
    const QString name = fileName.chopped(extension.size());
    // The name names the job's folder next to the file and its files here: it must pass the
    // checks a typed name does, and untrimmed it would name another folder than the file's.
    TJobList none([](int, const QString&) { return std::unique_ptr<TJob>(); });
    const TJobNameCheck check = CheckJobName(name, none);
    if (check.Verdict != TJobNameVerdict::Accepted) {
        error = check.Message;
        return false;
    }
    if (check.Name != name) {
        error = TranslateText(QStringLiteral("This name cannot be used as a job name."));
        return false;
    }
    const QString folder = slash < 0 ? QString() : path.left(slash);
    TDestinationSettings& d = target.Destination;
    d = TDestinationSettings();
    d.DestinationType = location.Type;
    switch (location.Type) {
    case dtLocalOrExternalDrive:
        d.LocalOrExternalDrive = LocalDestinationOf(folder.isEmpty() ? QStringLiteral("/") : folder);
        break;
    case dtNetwork:
        d.Network.UNCPath = folder;
        d.Network.Username = location.Username;
        d.Network.Password = location.Password;
        break;
    case dtFTP:
        d.FTP.AccountID = location.AccountID;
        d.FTP.Subfolder = folder.isEmpty() ? QStringLiteral("/") : folder;
        break;
    case dtCloud:
        d.Cloud.ServiceName = location.ServiceName;
        d.Cloud.Subfolder = folder.isEmpty() ? QStringLiteral("/") : folder;
        break;
    }
    target.Name = name;
    return true;
}

TOpenJobResult OpenStoredJob(TJobList& jobs, const TStoredJobLocation& location,
                             const TStorageOperations::TBranchFactory& branches) {
    TOpenJobResult result;
    TStoredJobTarget target;
    if (!DeriveStoredJobTarget(location, target, result.Error))
        return result;
    // Refused before any storage access.
    if (jobs.FindIgnoringCase(target.Name)) {
        result.Error = FormatText(
            TranslateText(QStringLiteral("Job \"%s\" already exists. Please specify another name.")), {target.Name});
        return result;
    }

    // A scratch job of the name reaches the destination; its folder there is the one next to
    // the file, so the file is that folder + the extension.
    const std::unique_ptr<TJob> scratch = CreateJobOfKind(int(TJobKind::FilesAndFolders), target.Name);
    scratch->DestinationSettings = target.Destination;
    scratch->OptionsToJobOptions();
    const QString extension = App().RemoteJobFileExtension;
    QString downloaded;
    {
        TStorageOperations storage(*scratch, branches);
        const QString folder = storage.ConnectToStorage();
        if (storage.IsConnectError(folder)) {
            result.Error = TranslateText(QStringLiteral("Unable to connect to the backup storage.")) +
                           QStringLiteral("\r\n") + folder;
            scratch->DeleteTempFiles();
            return result;
        }
        const QString temp = scratch->JobOptions.General.PathForTempFiles;
        if (!temp.isEmpty() && CreateFolderPath(temp + u'/' + target.Name, 0700)) {
            const QString local = temp + u'/' + target.Name + extension;
            if (storage.FileOperation(atCopyFromRemoteToLocalFile, local, folder + extension, 0, true) == orSuccess)
                downloaded = local;
        }
        storage.DisconnectFromStorage();
    }

    std::unique_ptr<TJob> job;
    if (!downloaded.isEmpty()) {
        // A kind none of the three (a damaged header, a newer program) is refused like a file
        // that cannot be read: silence would leave the user guessing.
        job = jobs.CreateJob(GetJobFileKind(downloaded), target.Name);
        if (job) {
            job->DestinationSettings = target.Destination;
            if (!LoadStoredJobFile(*job, downloaded))
                job.reset();
        }
    }
    scratch->DeleteTempFiles();
    if (!job) {
        result.Error = UnableToOpenText();
        return result;
    }
    if (!job->SaveLocalJobFile(job->LocalJobFilePath())) {
        // Without its local job file the job would be gone at the next start.
        result.Error = UnableToOpenText();
        return result;
    }
    AddToEventsLog(QStringLiteral("Job is open: \"%s\"."), target.Name);
    result.Job = jobs.Append(std::move(job));
    if (!jobs.SaveJobsList()) {
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Error: unable to save the jobs list:")) +
                                       jobs.JobsListPath());
        result.JobsListNotSaved = true;
    }
    return result;
}
