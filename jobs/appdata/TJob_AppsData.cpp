#include "jobs/appdata/TJob_AppsData.h"

#include "jobs/appdata/AppLists.h"
#include "jobs/appdata/TAppRegistry.h"
#include "jobs/appdata/TAppsBackupRun.h"
#include "jobs/appdata/TAppsRestoreRun.h"

#include "core/base/AtomicFile.h"
#include "core/base/OleDate.h"
#include "core/base/TClock.h"
#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"
#include "core/settings/TAppGlobals.h"
#include "storage/StoragePaths.h"
#include "storage/TSleeper.h"

#include <QJsonArray>

TJob_AppsData::TJob_AppsData(const QString& JobName)
    : TJob(JobName) {
    NewSubfolderIsCreatedForEachBackup = false;
}

void TJob_AppsData::CopySettingsFrom(const TJob& other) {
    TJob::CopySettingsFrom(other);
    if (auto* source = dynamic_cast<const TJob_AppsData*>(&other)) {
        Settings = source->Settings;
    }
}

void TJob_AppsData::ReadLocalBody(TPrimitiveReader& reader, int32_t version) {
    ReadResultBlock(reader, version);
    Settings.AppNames = reader.ReadStringList();
    ReadDestinationBlock(reader);
    ReadSchedulingBlock(reader);
}

void TJob_AppsData::WriteLocalBody(TPrimitiveWriter& writer) const {
    WriteResultBlock(writer);
    writer.WriteStringList(Settings.AppNames);
    WriteDestinationBlock(writer);
    WriteSchedulingBlock(writer);
}

bool TJob_AppsData::SaveRemoteJobFile(const QString& path, const QList<TAppRecord>& definitions) const {
    TPrimitiveWriter writer;
    WriteHeader(writer, RemoteVersion, Kind());
    writer.WriteInt32(1);
    QList<const TAppRecord*> chosen;
    for (const TAppRecord& record : definitions)
        if (Settings.AppNames.contains(record.Name))
            chosen.append(&record);
    writer.WriteInt32(int32_t(chosen.size()));
    for (const TAppRecord* record : chosen) {
        writer.WriteText(record->Name);
        writer.WriteText(record->Category);
        writer.WriteStringList(record->Folders);
        writer.WriteStringList(record->RegistryPaths);
    }
    writer.WriteStringList(Settings.AppNames);
    WriteDestinationBlock(writer, false);
    WriteSchedulingBlock(writer);
    return WriteEncipheredFile(path, writer.Data());
}

bool TJob_AppsData::LoadRemoteJobFile(const QString& path, bool LoadJobSettings, bool* destinationChanged) {
    QByteArray plain;
    if (ReadEncipheredFile(path, plain) != TEncipheredReadResult::Ok)
        return false;
    TPrimitiveReader reader(plain);
    ReadHeader(reader);
    reader.ReadInt32(); // always 1
    const int32_t count = reader.ReadInt32();
    // Each record holds at least two texts and two lists of 4 bytes each.
    if (count < 0 || qsizetype(count) * 16 > reader.Remaining())
        throw TDecodeError("application count runs past the end of data");
    QList<TAppRecord> records;
    records.reserve(count);
    for (int32_t i = 0; i < count; ++i) {
        TAppRecord record;
        record.Name = reader.ReadText();
        record.Category = reader.ReadText();
        record.Folders = reader.ReadStringList();
        record.RegistryPaths = reader.ReadStringList();
        records.append(record);
    }
    RemoteAppsData = records;
    bool changed = false;
    if (LoadJobSettings) {
        Settings.AppNames = reader.ReadStringList();
        changed = ReadRemoteDestinationBlock(reader);
        ReadRemoteSchedulingBlock(reader);
    }
    if (destinationChanged)
        *destinationChanged = changed;
    return true;
}

QJsonObject TJob_AppsData::SettingsToJson() const {
    return QJsonObject{{QStringLiteral("AppNames"), QJsonArray::fromStringList(Settings.AppNames)}};
}

// ---- Operations ----

TJob_AppsData::~TJob_AppsData() {
    if (m_worker.joinable()) {
        Cancel();
        m_worker.join();
    }
}

TAppRegistry& TJob_AppsData::RegistryToUse() const {
    return Registry ? *Registry : SystemAppRegistry();
}

QProcessEnvironment TJob_AppsData::EnvironmentToUse() const {
    return Environment ? *Environment : QProcessEnvironment::systemEnvironment();
}

TSleeper& TJob_AppsData::SleeperToUse() const {
    return Sleeper ? *Sleeper : TSleeper::System();
}

TClock& TJob_AppsData::ClockToUse() const {
    return Clock ? *Clock : TClock::System();
}

void TJob_AppsData::WaitForWorker() {
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id())
        m_worker.join();
}

void TJob_AppsData::StartWorker(std::function<void()> body) {
    WaitForWorker();
    m_worker = std::thread([this, body = std::move(body)] {
        try {
            body();
        } catch (const std::exception& error) {
            AddErrorLine(QString::fromLocal8Bit(error.what()));
        } catch (...) {
            AddErrorLine(Tr(QStringLiteral("Unexpected error.")));
        }
        // The interface takes jsNone as the sign that the worker is done with the job.
        JobStatus = jsNone;
        RequestRepaint();
    });
}

void TJob_AppsData::Backup() {
    StartOperation(joBackup);
    AddToEventsLog(QStringLiteral("Starting the \"%s\" backup."), stJobName);
    StartWorker([this] {
        TAppsBackupRun run(*this, SleeperToUse(), ClockToUse(), RegistryToUse(), EnvironmentToUse(), Branches);
        run.Run();
    });
}

bool TJob_AppsData::Remove() {
    OptionsToJobOptions();
    JobOperation = joRemove;
    TStorageOperations storage(*this, Branches, Sleeper);
    const QString folder = storage.ConnectToStorage();
    if (storage.IsConnectError(folder)) {
        App().EventsLog.AddToEventsLog(folder);
        return false;
    }
    bool removed = storage.FileOperation(atRemoveRemoteFile, QString(), folder + App().RemoteJobFileExtension, 0,
                                         true) == orSuccess;
    removed = removed && storage.FileOperation(atRemoveRemoteNotEmptyFolder, QString(), folder, 0, true) == orSuccess;
    storage.DisconnectFromStorage();
    return removed;
}

TAppsRestoreListing TJob_AppsData::ReadBackup() {
    TAppsRestoreListing listing;
    // 1.
    JobStatus = jsRunning;
    JobOperation = joReadRestorePoints;
    CurrentFileOperationType = atNone;
    CurrentFileOperationPath.Clear();
    OptionsToJobOptions();
    LastJobResult.Cancelled = false;
    LastJobResult.ErrorsCount = 0;
    LastJobResult.WarningsCount = 0;
    LastJobResult.Log.clear();
    // 2.
    TStorageOperations storage(*this, Branches, Sleeper);
    const QString folder = storage.ConnectToStorage();
    if (storage.IsConnectError(folder)) {
        listing.Error =
            Tr(QStringLiteral("Unable to connect to the backup storage.")) + QStringLiteral("\r\n") + folder;
        JobStatus = jsNone;
        return listing;
    }
    // 3.
    const QString temp = JobOptions.General.PathForTempFiles;
    CreateFolderPath(JoinPath(temp, stJobName), 0700);
    AddLogLine(Tr(QStringLiteral("Reading the application data.")));
    const QString storedCopy = JoinPath(temp, stJobName + App().RemoteJobFileExtension);
    const bool downloaded = storage.FileOperation(atCopyFromRemoteToLocalFile, storedCopy,
                                                  folder + App().RemoteJobFileExtension, 0, true) == orSuccess;
    const bool interrupted =
        storage.FileOperation(atCopyFromRemoteToLocalFile,
                              JoinPath(JoinPath(temp, stJobName), QStringLiteral("_startflag.vll")),
                              JoinPath(folder, QStringLiteral("_startflag.vll")), 0, false) == orSuccess;
    storage.DisconnectFromStorage();
    CurrentFileOperationType = atNone;
    CurrentFileOperationPath.Clear();
    // 4, 5.
    bool loaded = false;
    if (downloaded) {
        try {
            loaded = LoadRemoteJobFile(storedCopy, true);
        } catch (const std::exception&) {
            loaded = false;
        }
    }
    if (!loaded) {
        listing.Error = TrFormat(QStringLiteral("Unable to copy the job file \"%s\" from the backup directory."),
                                 {stJobName + App().RemoteJobFileExtension});
        DeleteTempFiles();
        JobStatus = jsNone;
        return listing;
    }
    // 6.
    if (interrupted) {
        JobStatus = jsCancelling;
        listing.Error =
            TrFormat(QStringLiteral("Last backup job was cancelled, so %s is not able to restore your files. "
                                    "Please copy the backup folder \"%s\" from the storage manually."),
                     {QString::fromUtf16(TAppGlobals::ApplicationTitle), stJobName});
        AddErrorLine(listing.Error);
        CancelRestore();
        return listing;
    }
    // 7.
    listing.AppNames = Settings.AppNames;
    AddLogLine(Tr(QStringLiteral("Please choose the applications you want to restore:")));
    listing.Ok = true;
    return listing;
}

void TJob_AppsData::CancelRestore() {
    RemoteAppsSelectedForRestore.clear();
    JobStatus = jsNone;
    DeleteTempFiles();
    AddLogLine(Tr(QStringLiteral("Restore is cancelled.")));
    AddToEventsLog(QStringLiteral("\"%s\" restore is cancelled."), stJobName);
    AddEventtoBackupHistory(Tr(QStringLiteral("Restore is cancelled.")), false);
    LastJobResult.Cancelled = true;
    LastJobResult.EndTime = OleDate::Now();
    if (!App().IsQuitting)
        SaveLocalJobFileAtEndOfRun();
}

void TJob_AppsData::StartRestore(const QStringList& chosen) {
    RemoteAppsSelectedForRestore.clear();
    for (const QString& name : std::as_const(Settings.AppNames)) {
        if (chosen.contains(name)) {
            RemoteAppsSelectedForRestore.append(name);
            AddPlainLine(name);
        }
    }
    StartWorker([this] {
        TAppsRestoreRun run(*this, SleeperToUse(), ClockToUse(), RegistryToUse(), EnvironmentToUse(), Branches);
        run.Run();
    });
}
