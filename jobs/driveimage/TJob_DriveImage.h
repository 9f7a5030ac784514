#pragma once

// Room jobs/driveimage/: the drive image kind. May use core/, storage/ and jobs/report.
// Its engine is still to come; today it holds the kind's settings and job file.

#include "core/model/TJob.h"

#include <QString>
#include <QStringList>

struct TDriveImageSettings {
    QStringList SourceDrivesList;
    bool AutocleanOldBackups = false;
    QString NumberOfBackupVersionsToKeep = QStringLiteral("3");
    bool operator==(const TDriveImageSettings&) const = default;
};

class TJob_DriveImage : public TJob {
public:
    static constexpr int32_t LocalVersion = 4;
    static constexpr int32_t RemoteVersion = 4;

    explicit TJob_DriveImage(const QString& JobName);

    TJobKind Kind() const override { return TJobKind::DriveImage; }
    QString IconName() const override { return QStringLiteral("job-driveimage"); }
    void CopySettingsFrom(const TJob& other) override;

    TDriveImageSettings Settings;

    bool SaveRemoteJobFile(const QString& path) const;
    // Throws TDecodeError on damaged data; false when the file cannot be opened.
    bool LoadRemoteJobFile(const QString& path, bool LoadJobSettings, bool* destinationChanged = nullptr);

protected:
    int32_t LocalFormatVersion() const override { return LocalVersion; }
    void ReadLocalBody(TPrimitiveReader& reader, int32_t version) override;
    void WriteLocalBody(TPrimitiveWriter& writer) const override;
    QJsonObject SettingsToJson() const override;

private:
    // withSecrets = false for the stored job file: the network password is written empty.
    void WriteSettings(TPrimitiveWriter& writer, bool withSecrets = true) const;
};
