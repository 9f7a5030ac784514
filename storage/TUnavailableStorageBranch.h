#pragma once

#include "storage/TStorageBranch.h"

// A destination type this build cannot reach yet. It never connects, and says so; its file
// operations fail the same way should a caller use them without a connection.
class TUnavailableStorageBranch : public TStorageBranch {
public:
    TUnavailableStorageBranch(TJob& job, TDestinationType type);

    TConnectResult Connect() override;
    QString Disconnect() override;
    bool UploadsFromTemporaryCopy() const override { return false; }

    TBranchResult Upload(const QString& local, const QString& remote) override;
    TBranchResult Download(const QString& remote, const QString& local) override;
    TBranchResult RemoveFile(const QString& remote) override;
    TBranchResult RemoveEmptyFolder(const QString& remote) override;
    TBranchResult RemoveFolderTree(const QString& remote) override;
    TBranchResult CreateFolder(const QString& remote) override;
    TBranchResult RenameFolder(const QString& remote, const QString& newPath) override;
    TBranchResult RenameFile(const QString& remote, const QString& newPath) override;

private:
    QString Reason() const;

    TDestinationType m_type;
};
