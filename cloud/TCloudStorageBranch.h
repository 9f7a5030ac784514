#pragma once

#include "cloud/CloudServices.h"
#include "storage/TStorageBranch.h"

#include <cstdint>
#include <memory>

class TCloudDrive;

// A destination on a cloud drive (the job's Cloud.ServiceName). Destination paths are "/" paths
// from the drive's root. Uploads come from a private copy (a transfer may take long), go in upload
// sessions and take the file's name only when complete. The drive keeps no links and no mode
// bits: the restore point's metadata list brings them back.
//
// The job's client never asks the user to sign in: without a usable token every operation fails
// with the "cloud session has expired" text, which says where to sign in again. Disconnect writes
// the client's refresh token back to the service's token file.
class TCloudStorageBranch : public TStorageBranch {
public:
    explicit TCloudStorageBranch(TJob& job);
    ~TCloudStorageBranch() override;

    TConnectResult Connect() override;
    QString Disconnect() override;
    bool UploadsFromTemporaryCopy() const override { return true; }
    bool HoldsLinks() const override { return false; }

    TBranchResult Upload(const QString& local, const QString& remote) override;
    TBranchResult Download(const QString& remote, const QString& local) override;
    TBranchResult RemoveFile(const QString& remote) override;
    TBranchResult RemoveEmptyFolder(const QString& remote) override;
    TBranchResult RemoveFolderTree(const QString& remote) override;
    TBranchResult CreateFolder(const QString& remote) override;
    TBranchResult RenameFolder(const QString& remote, const QString& newPath) override;
    TBranchResult RenameFile(const QString& remote, const QString& newPath) override;
    bool ListFolder(const QString& remote, QStringList& folders, QStringList& files) override;

    // Bytes per upload-session request; 0: the size the service's client is made for.
    int64_t ChunkSize = 0;
    // The client of the connection (null when not connected); tests set its waits.
    TCloudDrive* Drive() const { return m_drive.get(); }

private:
    TBranchResult Failure() const;
    TBranchResult Remove(const QString& message, const QString& remote);
    TBranchResult Rename(const QString& message, const QString& remote, const QString& newPath);

    TCloudService m_service = TCloudService::Dropbox;
    std::unique_ptr<TCloudDrive> m_drive;
};

// Makes the storage operations use this branch for cloud destinations. Idempotent; called once
// before the first job runs by whoever creates jobs.
void RegisterCloudStorageBranch();
