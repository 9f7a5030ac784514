#pragma once

// Room jobs/appdata/: the application data kind. May use core/, storage/ and jobs/report.
// Its engine is still to come; today it holds the kind's settings and job file.

#include "core/model/TJob.h"

#include <QList>
#include <QString>
#include <QStringList>

// One application as recorded in a stored job file: the definition's name, category, folders
// and registry paths.
struct TAppRecord {
    QString Name;
    QString Category;
    QStringList Folders;
    QStringList RegistryPaths;
    bool operator==(const TAppRecord&) const = default;
};

struct TAppsDataSettings {
    QStringList AppNames;
    bool operator==(const TAppsDataSettings&) const = default;
};

class TJob_AppsData : public TJob {
public:
    static constexpr int32_t LocalVersion = 4;
    static constexpr int32_t RemoteVersion = 4;

    explicit TJob_AppsData(const QString& JobName);

    TJobKind Kind() const override { return TJobKind::AppsData; }
    QString IconName() const override { return QStringLiteral("job-appdata"); }
    void CopySettingsFrom(const TJob& other) override;

    QList<TAppRecord> RemoteAppsData; // read from a stored job file
    QStringList RemoteAppsSelectedForRestore;
    TAppsDataSettings Settings;

    // Writes the records of the definitions whose names are in AppNames, in the definitions' order.
    bool SaveRemoteJobFile(const QString& path, const QList<TAppRecord>& definitions) const;
    // Throws TDecodeError on damaged data; false when the file cannot be opened. The records always
    // go to RemoteAppsData.
    bool LoadRemoteJobFile(const QString& path, bool LoadJobSettings, bool* destinationChanged = nullptr);

protected:
    int32_t LocalFormatVersion() const override { return LocalVersion; }
    void ReadLocalBody(TPrimitiveReader& reader, int32_t version) override;
    void WriteLocalBody(TPrimitiveWriter& writer) const override;
    QJsonObject SettingsToJson() const override;
};
