#include "jobs/driveimage/TJob_DriveImage.h"

#include "jobs/driveimage/ImageStore.h"
#include "jobs/driveimage/TDriveImageRun.h"

#include "core/base/OleDate.h"
#include "core/base/TClock.h"
#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"
#include "core/settings/TAppGlobals.h"
#include "platform/TPkexecElevation.h"
#include "storage/StoragePaths.h"
#include "storage/TSleeper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>

TJob_DriveImage::TJob_DriveImage(const QString& JobName)
    : TJob(JobName) {
    CanPause = false;
    NewSubfolderIsCreatedForEachBackup = true;
}

void TJob_DriveImage::CopySettingsFrom(const TJob& other) {
    TJob::CopySettingsFrom(other);
    if (auto* source = dynamic_cast<const TJob_DriveImage*>(&other)) {
        Settings = source->Settings;
    }
}

void TJob_DriveImage::ReadLocalBody(TPrimitiveReader& reader, int32_t version) {
    ReadResultBlock(reader, version);
    Settings.SourceDrivesList = reader.ReadStringList();
    Settings.AutocleanOldBackups = reader.ReadBoolean();
    Settings.NumberOfBackupVersionsToKeep = reader.ReadText();
    ReadDestinationBlock(reader);
    ReadSchedulingBlock(reader);
}

void TJob_DriveImage::WriteSettings(TPrimitiveWriter& writer, bool withSecrets) const {
    writer.WriteStringList(Settings.SourceDrivesList);
    writer.WriteBoolean(Settings.AutocleanOldBackups);
    writer.WriteText(Settings.NumberOfBackupVersionsToKeep);
    WriteDestinationBlock(writer, withSecrets);
    WriteSchedulingBlock(writer);
}

void TJob_DriveImage::WriteLocalBody(TPrimitiveWriter& writer) const {
    WriteResultBlock(writer);
    WriteSettings(writer);
}

bool TJob_DriveImage::SaveRemoteJobFile(const QString& path) const {
    TPrimitiveWriter writer;
    WriteHeader(writer, RemoteVersion, Kind());
    WriteSettings(writer, false);
    return WriteEncipheredFile(path, writer.Data());
}

bool TJob_DriveImage::LoadRemoteJobFile(const QString& path, bool LoadJobSettings, bool* destinationChanged) {
    QByteArray plain;
    if (ReadEncipheredFile(path, plain) != TEncipheredReadResult::Ok)
        return false;
    TPrimitiveReader reader(plain);
    ReadHeader(reader);
    bool changed = false;
    if (LoadJobSettings) {
        Settings.SourceDrivesList = reader.ReadStringList();
        Settings.AutocleanOldBackups = reader.ReadBoolean();
        Settings.NumberOfBackupVersionsToKeep = reader.ReadText();
        changed = ReadRemoteDestinationBlock(reader);
        ReadRemoteSchedulingBlock(reader);
    }
    if (destinationChanged)
        *destinationChanged = changed;
    return true;
}

QJsonObject TJob_DriveImage::SettingsToJson() const {
    return QJsonObject{
        {QStringLiteral("SourceDrivesList"), QJsonArray::fromStringList(Settings.SourceDrivesList)},
        {QStringLiteral("AutocleanOldBackups"), Settings.AutocleanOldBackups},
        {QStringLiteral("NumberOfBackupVersionsToKeep"), Settings.NumberOfBackupVersionsToKeep},
    };
}

// ---- Operations ----

TJob_DriveImage::~TJob_DriveImage() {
    if (m_worker.joinable()) {
        Cancel();
        m_worker.join();
    }
}

QStringList TJob_DriveImage::BackupParameters(const QString& target) const {
    return {QStringLiteral("-backupTarget:") + target,
            QStringLiteral("-include:") + Settings.SourceDrivesList.join(u','), QStringLiteral("-allCritical"),
            QStringLiteral("-quiet")};
}

QStringList TJob_DriveImage::KeepVersionsParameters(const QString& target) const {
    return {QStringLiteral("-backuptarget:") + target,
            QStringLiteral("-keepversions:") + Settings.NumberOfBackupVersionsToKeep, QStringLiteral("-quiet")};
}

QStringList TJob_DriveImage::RemoveParameters(const QString& target) const {
    return {QStringLiteral("-backuptarget:") + target, QStringLiteral("-keepversions:0"), QStringLiteral("-quiet")};
}

QString TJob_DriveImage::ToolProgramToUse() const {
    if (!ToolProgram.isEmpty())
        return ToolProgram;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/vaultora-imagetool");
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString found = QStandardPaths::findExecutable(QStringLiteral("vaultora-imagetool"));
    return found.isEmpty() ? QStringLiteral("vaultora-imagetool") : found;
}

const TElevation& TJob_DriveImage::ElevationToUse() const {
    static const TPkexecElevation pkexec;
    return Elevation ? *Elevation : pkexec;
}

TSleeper& TJob_DriveImage::SleeperToUse() const {
    return Sleeper ? *Sleeper : TSleeper::System();
}

TClock& TJob_DriveImage::ClockToUse() const {
    return Clock ? *Clock : TClock::System();
}

void TJob_DriveImage::WaitForWorker() {
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id())
        m_worker.join();
}

void TJob_DriveImage::StartWorker(std::function<void()> body) {
    WaitForWorker();
    m_worker = std::thread([this, body = std::move(body)] {
        try {
            body();
        } catch (const std::exception& error) {
            AddErrorLine(QString::fromLocal8Bit(error.what()));
        } catch (...) {
            AddErrorLine(Tr(QStringLiteral("Unexpected error.")));
        }
        // 15. The interface takes jsNone as the sign that the worker is done with the job.
        JobStatus = jsNone;
        RequestRepaint();
    });
}

void TJob_DriveImage::Backup() {
    StartOperation(joBackup);
    AddToEventsLog(QStringLiteral("Starting the \"%s\" backup."), stJobName);
    StartWorker([this] {
        TDriveImageRun run(*this);
        run.Run();
    });
}

bool TJob_DriveImage::Remove() {
    // 1.
    OptionsToJobOptions();
    JobOperation = joRemove;
    TStorageOperations storage(*this, Branches, Sleeper);
    const QString folder = storage.ConnectToStorage();
    if (storage.IsConnectError(folder)) {
        App().EventsLog.AddToEventsLog(folder);
        return false;
    }
    // 2.
    const bool fileRemoved = storage.FileOperation(atRemoveRemoteFile, QString(), folder + App().RemoteJobFileExtension,
                                                   0, true) == orSuccess;
    // 3. The versions go only through the tool, which waits here: true means they are gone.
    bool removed = false;
    if (fileRemoved && Settings.AutocleanOldBackups && LastJobResult.ErrorsCount == 0 &&
        DestinationSettings.DestinationType == dtLocalOrExternalDrive) {
        const QString target = ImageTarget(folder);
        const QString store = QDir(target).filePath(QString::fromLatin1(TImageStore::FolderName));
        // Images written as root are deleted as root.
        const bool elevated = QFileInfo::exists(store) && !ElevationToUse().CanAccess(store, true);
        removed = TDriveImageRun::RunToolToEnd(*this, elevated,
                                               QStringList{QStringLiteral("delete"), QStringLiteral("backup")} +
                                                   RemoveParameters(target)) == 0;
        // The job's folder held only the image store.
        if (removed)
            QDir().rmdir(target);
    }
    // 4.
    storage.DisconnectFromStorage();
    return removed;
}

bool TJob_DriveImage::ReadImageVersions(QList<TImageVersion>& versions, QString& error) {
    versions.clear();
    OptionsToJobOptions();
    TStorageOperations storage(*this, Branches, Sleeper);
    const QString folder = storage.ConnectToStorage();
    if (storage.IsConnectError(folder)) {
        error = folder;
        return false;
    }
    storage.DisconnectFromStorage();
    const QString store = QDir(ImageTarget(folder)).filePath(QString::fromLatin1(TImageStore::FolderName));
    QString program;
    QStringList arguments;
    TDriveImageRun::ToolCommand(
        *this, QFileInfo::exists(store) && !ElevationToUse().CanAccess(store, false),
        {QStringLiteral("get"), QStringLiteral("versions"), QStringLiteral("-backupTarget:") + ImageTarget(folder)},
        program, arguments);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(-1)) {
        error = Tr(QStringLiteral("ERROR:")) + u' ' + process.errorString();
        return false;
    }
    const QStringList lines = QString::fromLocal8Bit(process.readAll()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        static const QString IdMark = QStringLiteral("Version identifier: ");
        static const QString VolumesMark = QStringLiteral("Can recover: ");
        if (lines.at(i).startsWith(u"ERROR"))
            error = lines.at(i);
        if (!lines.at(i).startsWith(IdMark) || !lines.value(i + 1).startsWith(VolumesMark))
            continue;
        versions.append({lines.at(i).mid(IdMark.size()).trimmed(),
                         lines.at(i + 1).mid(VolumesMark.size()).trimmed().split(QStringLiteral(", "))});
    }
    return error.isEmpty() && process.exitCode() == 0;
}

bool TJob_DriveImage::RecoverVolume(const QString& version, const QString& volume, const QString& output) {
    StartOperation(joRestore);
    CurrentFileOperationType = atNone;
    TStorageOperations storage(*this, Branches, Sleeper);
    const QString folder = storage.ConnectToStorage();
    bool ok = false;
    if (!storage.IsConnectError(folder)) {
        const QString target = ImageTarget(folder);
        const QString store = QDir(target).filePath(QString::fromLatin1(TImageStore::FolderName));
        const QFileInfo written(output);
        // Root's images, or a device the user may not write: the tool runs as root.
        const bool elevated = (QFileInfo::exists(store) && !ElevationToUse().CanAccess(store, false)) ||
                              !ElevationToUse().CanAccess(written.exists() ? output : written.absolutePath(), true);
        const int exit = TDriveImageRun::RunToolToEnd(
            *this, elevated,
            {QStringLiteral("start"), QStringLiteral("recovery"), QStringLiteral("-version:") + version,
             QStringLiteral("-backupTarget:") + target, QStringLiteral("-itemSource:") + volume,
             QStringLiteral("-recoveryTarget:") + output, QStringLiteral("-quiet")});
        ok = exit == 0 && LastJobResult.ErrorsCount == 0;
        if (exit > 0 && LastJobResult.ErrorsCount == 0)
            AddErrorLine(
                TrFormat(QStringLiteral("The drive image tool ended with the exit code %s."), {QString::number(exit)}));
        storage.DisconnectFromStorage();
    }
    const QString line = TrFormat(ok ? QStringLiteral("Restore job \"%s\" is finished.")
                                     : QStringLiteral("Restore job \"%s\" is finished with errors."),
                                  {stJobName});
    AddLogLine(line);
    AddEventtoBackupHistory(ok ? Tr(QStringLiteral("Restore job is finished."))
                               : Tr(QStringLiteral("Restore job is finished with errors.")),
                            false);
    App().EventsLog.AddToEventsLog(line);
    LastJobResult.EndTime = OleDate::Now();
    CurrentFileOperationProgress = 0;
    CurrentFileOperationPath.Clear();
    JobStatus = jsNone;
    if (!App().IsQuitting)
        SaveLocalJobFileAtEndOfRun();
    return ok;
}
