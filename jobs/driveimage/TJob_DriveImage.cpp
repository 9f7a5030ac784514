#include "jobs/driveimage/TJob_DriveImage.h"

#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"

#include <QJsonArray>

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
