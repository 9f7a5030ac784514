#pragma once

// Room jobs/driveimage/: the drive image kind: its settings and job file, the job engine that runs
// the image tool (vaultora-imagetool) as a child process and reads its output, and the image tool's
// own engine (ImageTool.h, ImageStore.h). May use platform/, core/, storage/ and jobs/report.

#include "core/model/TJob.h"

#include "storage/TStorageOperations.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <thread>

class TClock;
class TElevation;
class TSleeper;

// One complete image version in the job's store and the volumes it can write back.
struct TImageVersion {
    QString Id;
    QStringList Volumes;
    bool operator==(const TImageVersion&) const = default;
};

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
    ~TJob_DriveImage() override;

    TJobKind Kind() const override { return TJobKind::DriveImage; }
    QString IconName() const override { return QStringLiteral("job-driveimage"); }
    void CopySettingsFrom(const TJob& other) override;

    TDriveImageSettings Settings;

    bool SaveRemoteJobFile(const QString& path) const;
    // Throws TDecodeError on damaged data; false when the file cannot be opened.
    bool LoadRemoteJobFile(const QString& path, bool LoadJobSettings, bool* destinationChanged = nullptr);

    // ---- Operations ----
    // Starts a backup run on a worker thread and returns at once.
    void Backup() override;
    // Deletes the stored job file and, when old versions are pruned automatically and the job
    // counted no errors, has the tool delete every image version; true only when the tool did.
    bool Remove() override;
    void WaitForWorker() override;
    // The image versions in the job's store, oldest first; false with error when the store cannot
    // be reached or read.
    bool ReadImageVersions(QList<TImageVersion>& versions, QString& error);
    // Writes one volume of a version back to a block device that is not mounted, or to a file
    // (replaced only by a complete, verified image), with the tool; runs on the calling thread and
    // leaves the tool's lines in the job log. True when the tool completed without an error.
    bool RecoverVolume(const QString& version, const QString& volume, const QString& output);

    // The tool's parameters after its verb ("start backup", "delete backup") for a target folder.
    QStringList BackupParameters(const QString& target) const;
    QStringList KeepVersionsParameters(const QString& target) const;
    QStringList RemoveParameters(const QString& target) const;
    // The folder the tool stores the images in: the job's folder at the destination.
    static QString ImageTarget(const QString& jobFolder) { return jobFolder; }

    // The image tool: ToolProgram when set, else vaultora-imagetool beside the running program or
    // on the PATH.
    QString ToolProgramToUse() const;

    // Test seams (defaults when unset): the tool's path, the elevation, the waits, the clock and
    // the storage branch.
    QString ToolProgram;
    const TElevation* Elevation = nullptr;
    TSleeper* Sleeper = nullptr;
    TClock* Clock = nullptr;
    TStorageOperations::TBranchFactory Branches;

    const TElevation& ElevationToUse() const;
    TSleeper& SleeperToUse() const;
    TClock& ClockToUse() const;

protected:
    int32_t LocalFormatVersion() const override { return LocalVersion; }
    void ReadLocalBody(TPrimitiveReader& reader, int32_t version) override;
    void WriteLocalBody(TPrimitiveWriter& writer) const override;
    QJsonObject SettingsToJson() const override;

private:
    // withSecrets = false for the stored job file: the network password is written empty.
    void WriteSettings(TPrimitiveWriter& writer, bool withSecrets = true) const;
    void StartWorker(std::function<void()> body);

    std::thread m_worker;
};
