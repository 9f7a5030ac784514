// libFuzzer harness for stored job files (the copy of a job's settings and lists kept at the
// destination), as a backup run and opening a job from its storage read them. The input is the
// plain image (the harness puts the envelope around it). The job is given a destination first,
// as where the file was found, chosen by the input's length. Files and folders: the two readers
// (the run's, which keeps the file and time lists as offsets into the file, and the full one)
// must agree. A file that loads with its settings must save and load again to the same bytes, and
// the saved file must hold no password. TDecodeError is the expected failure; anything else is a
// finding.

#include "tests/fuzz/FuzzSupport.h"

#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/JobKinds.h"
#include "jobs/appdata/TJob_AppsData.h"
#include "jobs/driveimage/TJob_DriveImage.h"
#include "jobs/files/TJob_FilesAndFolders.h"

namespace {

TDestinationSettings FoundAt(size_t size) {
    TDestinationSettings d;
    d.DestinationType = TDestinationType(size % 4);
    d.LocalOrExternalDrive.Disk = QStringLiteral("/media/usb");
    d.LocalOrExternalDrive.Subfolder = QStringLiteral("/Backups");
    d.Network.Username = QStringLiteral("anna");
    d.Network.Password = QStringLiteral("typed network password");
    d.Network.UNCPath = QStringLiteral("//nas/share");
    d.FTP.AccountID = 3;
    d.FTP.Subfolder = QStringLiteral("/ftp");
    d.Cloud.ServiceName = QStringLiteral("Google Drive");
    d.Cloud.Subfolder = QStringLiteral("/cloud");
    return d;
}

bool SameTexts(const TStringTable& table, const QStringList& list) {
    if (table.Size() != list.size())
        return false;
    for (qsizetype i = 0; i < list.size(); ++i)
        if (table.At(i) != list.at(i))
            return false;
    return true;
}

// Loads path into a new job of the kind found at d (with its settings); writes the job's stored
// file to out. False when the file does not decode.
bool LoadAndSave(int kind, const QString& path, const TDestinationSettings& d, const QString& out) {
    std::unique_ptr<TJob> job = CreateJobOfKind(kind, QStringLiteral("Fuzz"));
    if (!job)
        return false;
    job->DestinationSettings = d;
    bool changed = false;
    try {
        if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(job.get())) {
            TRemoteBackupState state;
            fuzz::Require(files->LoadRemoteJobFile(path, true, state, &changed), "the stored file cannot be read");
            fuzz::Require(files->SaveRemoteJobFile(out, state), "a loaded stored job cannot be saved");
        } else if (auto* drive = dynamic_cast<TJob_DriveImage*>(job.get())) {
            fuzz::Require(drive->LoadRemoteJobFile(path, true, &changed), "the stored file cannot be read");
            fuzz::Require(drive->SaveRemoteJobFile(out), "a loaded stored job cannot be saved");
        } else if (auto* apps = dynamic_cast<TJob_AppsData*>(job.get())) {
            fuzz::Require(apps->LoadRemoteJobFile(path, true, &changed), "the stored file cannot be read");
            fuzz::Require(apps->SaveRemoteJobFile(out, apps->RemoteAppsData), "a loaded stored job cannot be saved");
        }
    } catch (const TDecodeError&) {
        return false;
    }
    job->ToJson();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::TInputFile input("job.vlj");
    static const QString first = fuzz::ScratchPath(QStringLiteral("first.vlj"));
    static const QString second = fuzz::ScratchPath(QStringLiteral("second.vlj"));
    App().EventsLog.Clear();
    if (!input.Write(SealEnvelope(fuzz::Bytes(data, size))))
        return 0;
    const int kind = GetJobFileKind(input.Path());
    const TDestinationSettings foundAt = FoundAt(size);

    if (kind == int(TJobKind::FilesAndFolders)) {
        // The backup run's reader and the full reader see the same lists.
        TJob_FilesAndFolders run(QStringLiteral("Fuzz"));
        TRemoteBackupState lists;
        TStringTable files;
        TStringTable times;
        bool listsRead = false;
        try {
            listsRead = run.LoadRemoteJobFileLists(input.Path(), lists, files, times);
        } catch (const TDecodeError&) {
        }
        TJob_FilesAndFolders full(QStringLiteral("Fuzz"));
        TRemoteBackupState state;
        bool fullRead = false;
        try {
            fullRead = full.LoadRemoteJobFile(input.Path(), false, state);
        } catch (const TDecodeError&) {
        }
        fuzz::Require(listsRead == fullRead, "the two readers disagree on whether the lists decode");
        if (listsRead) {
            fuzz::Require(
                lists.MainBackupList == state.MainBackupList && SameTexts(files, state.PreviousLocalFilesList) &&
                    SameTexts(times, state.PreviousLocalFilesTimeList) &&
                    lists.PreviousLocalDirsList == state.PreviousLocalDirsList &&
                    lists.SizeOfLastFullBackup == state.SizeOfLastFullBackup &&
                    lists.SizeOfAllIncrementsOrLastDifferentialCopy == state.SizeOfAllIncrementsOrLastDifferentialCopy,
                "the two readers read different lists");
        }
    }

    if (!LoadAndSave(kind, input.Path(), foundAt, first))
        return 0;
    fuzz::Require(LoadAndSave(kind, first, foundAt, second), "a saved stored job file does not load");
    fuzz::Require(fuzz::ReadAll(first) == fuzz::ReadAll(second), "a stored job file does not read back as written");

    // Nothing the file is found with travels back into it: the passwords are written empty.
    std::unique_ptr<TJob> reread = CreateJobOfKind(kind, QStringLiteral("Fuzz"));
    TDestinationSettings elsewhere = foundAt;
    elsewhere.DestinationType = foundAt.DestinationType == dtNetwork ? dtLocalOrExternalDrive : foundAt.DestinationType;
    reread->DestinationSettings = elsewhere;
    reread->DestinationSettings.Network.Password.clear();
    TRemoteBackupState state;
    if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(reread.get())) {
        files->LoadRemoteJobFile(second, true, state);
        fuzz::Require(files->Settings.Compression.Password.isEmpty(), "a stored job file holds the ZIP password");
    } else if (auto* drive = dynamic_cast<TJob_DriveImage*>(reread.get())) {
        drive->LoadRemoteJobFile(second, true);
    } else if (auto* apps = dynamic_cast<TJob_AppsData*>(reread.get())) {
        apps->LoadRemoteJobFile(second, true);
    }
    fuzz::Require(reread->DestinationSettings.Network.Password.isEmpty(),
                  "a stored job file holds the network password");
    return 0;
}
