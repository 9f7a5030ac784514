#include "jobs/files/TJob_FilesAndFolders.h"

#include "jobs/files/RestorePoints.h"
#include "jobs/files/TBackupRun.h"
#include "jobs/files/TRestoreRun.h"

#include "core/base/AtomicFile.h"
#include "core/base/OleDate.h"
#include "core/base/TClock.h"
#include "core/format/FileCipher.h"
#include "core/format/TEncipheredFileWriter.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"
#include "core/settings/TAppGlobals.h"
#include "storage/TSleeper.h"

#include <QJsonArray>
#include <QtEndian>

TJob_FilesAndFolders::TJob_FilesAndFolders(const QString& JobName)
    : TJob(JobName) {
    SetBackupType(Settings.Backup.BackupType);
}

void TJob_FilesAndFolders::CopySettingsFrom(const TJob& other) {
    TJob::CopySettingsFrom(other);
    if (auto* source = dynamic_cast<const TJob_FilesAndFolders*>(&other)) {
        Settings = source->Settings;
        SetBackupType(source->Settings.Backup.BackupType);
    }
}

void TJob_FilesAndFolders::SetBackupType(TBackupType type) {
    Settings.Backup.BackupType = type;
    NewSubfolderIsCreatedForEachBackup = type != btSynchronization;
}

QString TJob_FilesAndFolders::IconName() const {
    switch (Settings.Backup.BackupType) {
    case btIncremental:
        return QStringLiteral("job-incremental");
    case btDifferential:
        return QStringLiteral("job-differential");
    case btFull:
        return QStringLiteral("job-full");
    case btSynchronization:
        return QStringLiteral("job-mirror");
    }
    return QStringLiteral("job-incremental");
}

QString UpgradeVersion1SourceEntry(const QString& entry) {
    const qsizetype slash = entry.lastIndexOf(u'/');
    const bool hasExtension = entry.lastIndexOf(u'.') > slash;
    if (hasExtension)
        return entry;
    if (entry.endsWith(u'/'))
        return entry + u'*';
    return entry + QStringLiteral("/*");
}

void TJob_FilesAndFolders::ReadSettings(TPrimitiveReader& reader, int32_t version, bool remote) {
    QStringList sources = reader.ReadStringList();
    if (version == 1)
        for (QString& entry : sources)
            entry = UpgradeVersion1SourceEntry(entry);
    Settings.Sources.List = sources;
    if (version <= 2)
        Settings.Sources.FilterType = reader.ReadBoolean() ? ftIncludeOnly : ftNoFilters;
    else
        Settings.Sources.FilterType = TFilterType(reader.ReadByte());
    Settings.Sources.Extensions = reader.ReadText();
    if (version == 1) {
        reader.ReadStringList();
        reader.ReadBoolean();
        reader.ReadText();
    }
    if (remote)
        m_remoteDestinationChanged = ReadRemoteDestinationBlock(reader);
    else
        ReadDestinationBlock(reader);
    SetBackupType(TBackupType(reader.ReadInt32()));
    Settings.Backup.PerformFullBackup_Condition = TPerformFullBackupCondition(reader.ReadInt32());
    Settings.Backup.PerformFullBackup_EveryCopies = reader.ReadInt32();
    Settings.Backup.PerformFullBackup_SumExceedsPercentOfFullBackup = reader.ReadInt32();
    Settings.Backup.NumberFullCopiesToKeep = reader.ReadInt32();
    Settings.Backup.RemoveOldBackupsBeforeStartingNewBackup = version >= 5 ? reader.ReadBoolean() : false;
    Settings.Compression.Enabled = reader.ReadBoolean();
    Settings.Compression.ProtectWithPassword = reader.ReadBoolean();
    // The stored job file holds no password (nor is one taken from an older file that does): the
    // job keeps its own, and a job opened from its storage asks for it.
    const QString password = reader.ReadText();
    if (!remote)
        Settings.Compression.Password = password;
    Settings.Compression.EncryptionMethod = uint8_t(reader.ReadInt32());
    Settings.Compression.CompressionLevel = uint8_t(reader.ReadInt32());
    Settings.Compression.NoCompressionExtensions = reader.ReadText();
    Settings.Compression.CreateIndividualZipForEachItem = reader.ReadBoolean();
    if (remote)
        ReadRemoteSchedulingBlock(reader);
    else
        ReadSchedulingBlock(reader);
}

void TJob_FilesAndFolders::WriteSettings(TPrimitiveWriter& writer, bool withSecrets) const {
    writer.WriteStringList(Settings.Sources.List);
    writer.WriteByte(Settings.Sources.FilterType);
    writer.WriteText(Settings.Sources.Extensions);
    WriteDestinationBlock(writer, withSecrets);
    writer.WriteInt32(Settings.Backup.BackupType);
    writer.WriteInt32(Settings.Backup.PerformFullBackup_Condition);
    writer.WriteInt32(Settings.Backup.PerformFullBackup_EveryCopies);
    writer.WriteInt32(Settings.Backup.PerformFullBackup_SumExceedsPercentOfFullBackup);
    writer.WriteInt32(Settings.Backup.NumberFullCopiesToKeep);
    writer.WriteBoolean(Settings.Backup.RemoveOldBackupsBeforeStartingNewBackup);
    writer.WriteBoolean(Settings.Compression.Enabled);
    writer.WriteBoolean(Settings.Compression.ProtectWithPassword);
    writer.WriteText(withSecrets ? Settings.Compression.Password : QString());
    writer.WriteInt32(Settings.Compression.EncryptionMethod);
    writer.WriteInt32(Settings.Compression.CompressionLevel);
    writer.WriteText(Settings.Compression.NoCompressionExtensions);
    writer.WriteBoolean(Settings.Compression.CreateIndividualZipForEachItem);
    WriteSchedulingBlock(writer);
}

void TJob_FilesAndFolders::ReadLocalBody(TPrimitiveReader& reader, int32_t version) {
    ReadResultBlock(reader, version);
    ReadSettings(reader, version, false);
}

void TJob_FilesAndFolders::WriteLocalBody(TPrimitiveWriter& writer) const {
    WriteResultBlock(writer);
    WriteSettings(writer);
}

bool TJob_FilesAndFolders::SaveRemoteJobFile(const QString& path, const TRemoteBackupState& state) const {
    TPrimitiveWriter writer;
    WriteHeader(writer, RemoteVersion, Kind());
    writer.WriteStringList(state.MainBackupList);
    writer.WriteStringList(state.PreviousLocalFilesList);
    writer.WriteStringList(state.PreviousLocalFilesTimeList);
    writer.WriteStringList(state.PreviousLocalDirsList);
    writer.WriteInt64(state.SizeOfLastFullBackup);
    writer.WriteInt64(state.SizeOfAllIncrementsOrLastDifferentialCopy);
    WriteSettings(writer, false);
    return WriteEncipheredFile(path, writer.Data());
}

namespace {

void WriteTexts(TEncipheredFileWriter& out, const TStringSequence& texts) {
    // The writer's format: a 32-bit count, then per text a 32-bit length and UTF-16LE units.
    QByteArray piece;
    piece.reserve(64 << 10);
    char number[4];
    qToLittleEndian<int32_t>(int32_t(texts.Count), number);
    piece.append(number, 4);
    for (qsizetype i = 0; i < texts.Count; ++i) {
        const QStringView text = texts.At(i);
        qToLittleEndian<int32_t>(int32_t(text.size()), number);
        piece.append(number, 4);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        piece.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
#else
        for (const QChar unit : text) {
            char bytes[2];
            qToLittleEndian<uint16_t>(unit.unicode(), bytes);
            piece.append(bytes, 2);
        }
#endif
        if (piece.size() >= (64 << 10)) {
            out.Append(piece);
            piece.resize(0);
        }
    }
    out.Append(piece);
}

void ReadTexts(TPrimitiveReader& reader, const QByteArray& image, TStringTable& table) {
    table.SetStore(image);
    const int32_t count = reader.ReadListCount();
    table.Reserve(count);
    for (int32_t i = 0; i < count; ++i) {
        int32_t units = 0;
        const qsizetype at = reader.SkipText(units);
        table.AddStored(at, units);
    }
}

} // namespace

bool TJob_FilesAndFolders::SaveRemoteJobFile(const QString& path, const TRemoteBackupState& state,
                                             const TStringSequence& files, const TStringSequence& times) const {
    TEncipheredFileWriter out(path, 0600);
    TPrimitiveWriter head;
    WriteHeader(head, RemoteVersion, Kind());
    head.WriteStringList(state.MainBackupList);
    out.Append(head.Data());
    WriteTexts(out, files);
    WriteTexts(out, times);
    TPrimitiveWriter tail;
    tail.WriteStringList(state.PreviousLocalDirsList);
    tail.WriteInt64(state.SizeOfLastFullBackup);
    tail.WriteInt64(state.SizeOfAllIncrementsOrLastDifferentialCopy);
    WriteSettings(tail, false);
    out.Append(tail.Data());
    return out.Commit();
}

bool TJob_FilesAndFolders::LoadRemoteJobFileLists(const QString& path, TRemoteBackupState& state, TStringTable& files,
                                                  TStringTable& times) {
    QByteArray plain;
    if (ReadEncipheredFile(path, plain) != TEncipheredReadResult::Ok)
        return false;
    TPrimitiveReader reader(plain);
    const int32_t version = reader.ReadInt32();
    if (version >= 4)
        reader.ReadInt32();
    state.MainBackupList = reader.ReadStringList();
    state.PreviousLocalFilesList.clear();
    state.PreviousLocalFilesTimeList.clear();
    ReadTexts(reader, plain, files);
    ReadTexts(reader, plain, times);
    state.PreviousLocalDirsList = reader.ReadStringList();
    state.SizeOfLastFullBackup = reader.ReadInt64();
    state.SizeOfAllIncrementsOrLastDifferentialCopy = reader.ReadInt64();
    m_remoteDestinationChanged = false;
    return true;
}

bool TJob_FilesAndFolders::LoadRemoteJobFile(const QString& path, bool LoadJobSettings, TRemoteBackupState& state,
                                             bool* destinationChanged) {
    QByteArray plain;
    if (ReadEncipheredFile(path, plain) != TEncipheredReadResult::Ok)
        return false;
    TPrimitiveReader reader(plain);
    const int32_t version = ReadHeader(reader);
    state.MainBackupList = reader.ReadStringList();
    state.PreviousLocalFilesList = reader.ReadStringList();
    state.PreviousLocalFilesTimeList = reader.ReadStringList();
    state.PreviousLocalDirsList = reader.ReadStringList();
    state.SizeOfLastFullBackup = reader.ReadInt64();
    state.SizeOfAllIncrementsOrLastDifferentialCopy = reader.ReadInt64();
    m_remoteDestinationChanged = false;
    if (LoadJobSettings)
        ReadSettings(reader, version, true);
    if (destinationChanged)
        *destinationChanged = m_remoteDestinationChanged;
    return true;
}

QJsonObject TJob_FilesAndFolders::SettingsToJson() const {
    const TSpecificSettings& s = Settings;
    return QJsonObject{
        {QStringLiteral("Sources"), QJsonObject{{QStringLiteral("List"), QJsonArray::fromStringList(s.Sources.List)},
                                                {QStringLiteral("FilterType"), int(s.Sources.FilterType)},
                                                {QStringLiteral("Extensions"), s.Sources.Extensions}}},
        {QStringLiteral("Backup"),
         QJsonObject{
             {QStringLiteral("BackupType"), int(s.Backup.BackupType)},
             {QStringLiteral("PerformFullBackup_Condition"), int(s.Backup.PerformFullBackup_Condition)},
             {QStringLiteral("PerformFullBackup_EveryCopies"), s.Backup.PerformFullBackup_EveryCopies},
             {QStringLiteral("PerformFullBackup_SumExceedsPercentOfFullBackup"),
              s.Backup.PerformFullBackup_SumExceedsPercentOfFullBackup},
             {QStringLiteral("NumberFullCopiesToKeep"), s.Backup.NumberFullCopiesToKeep},
             {QStringLiteral("RemoveOldBackupsBeforeStartingNewBackup"),
              s.Backup.RemoveOldBackupsBeforeStartingNewBackup},
         }},
        {QStringLiteral("Compression"),
         QJsonObject{
             {QStringLiteral("Enabled"), s.Compression.Enabled},
             {QStringLiteral("ProtectWithPassword"), s.Compression.ProtectWithPassword},
             {QStringLiteral("PasswordIsSet"), !s.Compression.Password.isEmpty()},
             {QStringLiteral("EncryptionMethod"), int(s.Compression.EncryptionMethod)},
             {QStringLiteral("CompressionLevel"), int(s.Compression.CompressionLevel)},
             {QStringLiteral("NoCompressionExtensions"), s.Compression.NoCompressionExtensions},
             {QStringLiteral("CreateIndividualZipForEachItem"), s.Compression.CreateIndividualZipForEachItem},
         }},
    };
}

// ---- Operations ----

TJob_FilesAndFolders::~TJob_FilesAndFolders() {
    if (m_worker.joinable()) {
        Cancel();
        m_worker.join();
    }
}

void TJob_FilesAndFolders::WaitForWorker() {
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id())
        m_worker.join();
}

void TJob_FilesAndFolders::StartWorker(std::function<void()> body) {
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

void TJob_FilesAndFolders::Backup() {
    StartOperation(joBackup);
    AddToEventsLog(QStringLiteral("Starting the \"%s\" backup."), stJobName);
    StartWorker([this] {
        TBackupRun run(*this, Sleeper ? *Sleeper : TSleeper::System(), Clock ? *Clock : TClock::System(), Branches);
        run.Run();
    });
}

bool TJob_FilesAndFolders::Remove() {
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

TRestoreListing TJob_FilesAndFolders::ReadRestorePoints() {
    TRestoreListing listing;
    // 1.
    JobStatus = jsRunning;
    JobOperation = joReadRestorePoints;
    CurrentFileOperationType = atNone;
    CurrentFileOperationPath.Clear();
    OptionsToJobOptions();
    // 3.
    LastJobResult.Cancelled = false;
    LastJobResult.ErrorsCount = 0;
    LastJobResult.WarningsCount = 0;
    LastJobResult.Log.clear();
    // 4.
    TStorageOperations storage(*this, Branches, Sleeper);
    const QString folder = storage.ConnectToStorage();
    if (storage.IsConnectError(folder)) {
        listing.Error =
            Tr(QStringLiteral("Unable to connect to the backup storage.")) + QStringLiteral("\r\n") + folder;
        JobStatus = jsNone;
        return listing;
    }
    // 5.
    const QString temp = JobOptions.General.PathForTempFiles;
    CreateFolderPath(temp + u'/' + stJobName, 0700);
    AddLogLine(Tr(QStringLiteral("Reading the list of restore points.")));
    const QString storedCopy = temp + u'/' + stJobName + App().RemoteJobFileExtension;
    const bool downloaded = storage.FileOperation(atCopyFromRemoteToLocalFile, storedCopy,
                                                  folder + App().RemoteJobFileExtension, 0, true) == orSuccess;
    const bool interrupted =
        storage.FileOperation(atCopyFromRemoteToLocalFile, temp + u'/' + stJobName + QStringLiteral("/_startflag.vll"),
                              folder + QStringLiteral("/_startflag.vll"), 0, false) == orSuccess;
    storage.DisconnectFromStorage();
    CurrentFileOperationType = atNone;
    CurrentFileOperationPath.Clear();
    // 6.
    TRemoteBackupState state;
    bool loaded = false;
    if (downloaded) {
        try {
            loaded = LoadRemoteJobFile(storedCopy, false, state);
        } catch (const TDecodeError&) {
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
    // 7. The restore follows the type recorded at the destination.
    TBackupType type;
    if (!state.MainBackupList.isEmpty() && BackupTypeFromMarker(state.MainBackupList.first(), type))
        SetBackupType(type);
    listing.Mirror = Settings.Backup.BackupType == btSynchronization;
    // 8.
    if (interrupted && listing.Mirror) {
        JobStatus = jsCancelling;
        listing.Error =
            TrFormat(QStringLiteral("Last backup job was cancelled, so %s is not able to restore your files. "
                                    "Please copy the backup folder \"%s\" from the storage manually."),
                     {QString::fromUtf16(TAppGlobals::ApplicationTitle), stJobName});
        AddErrorLine(listing.Error);
        CancelRestore();
        return listing;
    }
    // 9.
    if (!state.MainBackupList.isEmpty())
        state.MainBackupList.removeFirst();
    listing.Raw = state.MainBackupList;
    if (!listing.Mirror) {
        for (const QString& entry : std::as_const(state.MainBackupList))
            listing.Points.append(QString(entry).replace(u';', u':'));
        AddLogLine(Tr(QStringLiteral("Choosing the restore point.")));
    }
    m_restorePoints = listing.Points;
    listing.Ok = true;
    return listing;
}

void TJob_FilesAndFolders::CancelRestore() {
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

void TJob_FilesAndFolders::StartRestore(const QString& OutPath, const QString& password, int ListIndex) {
    if (ListIndex >= 0 && ListIndex < m_restorePoints.size())
        AddLogLine(Tr(QStringLiteral("Chosen restore point:")) + u' ' + m_restorePoints.at(ListIndex));
    StartWorker([this, OutPath, password, ListIndex] {
        TRestoreRun run(*this, Sleeper ? *Sleeper : TSleeper::System(), Branches);
        run.Run(OutPath, password, ListIndex);
    });
}
