#include "jobs/appdata/TJob_AppsData.h"

#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"

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
