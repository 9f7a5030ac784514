#include "jobs/files/TJob_FilesAndFolders.h"

#include "core/FileCipher.h"
#include "core/TPrimitiveReader.h"
#include "core/TPrimitiveWriter.h"

#include <QJsonArray>

TJob_FilesAndFolders::TJob_FilesAndFolders(const QString& JobName)
    : TJob(JobName) {
    SetBackupType(Settings.Backup.BackupType);
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
    Settings.Compression.Password = reader.ReadText();
    Settings.Compression.EncryptionMethod = uint8_t(reader.ReadInt32());
    Settings.Compression.CompressionLevel = uint8_t(reader.ReadInt32());
    Settings.Compression.NoCompressionExtensions = reader.ReadText();
    Settings.Compression.CreateIndividualZipForEachItem = reader.ReadBoolean();
    if (remote)
        ReadRemoteSchedulingBlock(reader);
    else
        ReadSchedulingBlock(reader);
}

void TJob_FilesAndFolders::WriteSettings(TPrimitiveWriter& writer) const {
    writer.WriteStringList(Settings.Sources.List);
    writer.WriteByte(Settings.Sources.FilterType);
    writer.WriteText(Settings.Sources.Extensions);
    WriteDestinationBlock(writer);
    writer.WriteInt32(Settings.Backup.BackupType);
    writer.WriteInt32(Settings.Backup.PerformFullBackup_Condition);
    writer.WriteInt32(Settings.Backup.PerformFullBackup_EveryCopies);
    writer.WriteInt32(Settings.Backup.PerformFullBackup_SumExceedsPercentOfFullBackup);
    writer.WriteInt32(Settings.Backup.NumberFullCopiesToKeep);
    writer.WriteBoolean(Settings.Backup.RemoveOldBackupsBeforeStartingNewBackup);
    writer.WriteBoolean(Settings.Compression.Enabled);
    writer.WriteBoolean(Settings.Compression.ProtectWithPassword);
    writer.WriteText(Settings.Compression.Password);
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
    WriteSettings(writer);
    return WriteEncipheredFile(path, writer.Data());
}

bool TJob_FilesAndFolders::LoadRemoteJobFile(const QString& path, bool LoadJobSettings, TRemoteBackupState& state,
                                             bool* destinationChanged) {
    QByteArray plain;
    if (ReadEncipheredFile(path, plain) != TEncipheredReadResult::Ok)
        return false;
    TPrimitiveReader reader(plain);
    const int32_t version = reader.ReadInt32();
    if (version >= 4)
        reader.ReadInt32();
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
