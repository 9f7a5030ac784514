#pragma once

#include "storage/TStorageBranch.h"

#include <memory>

class TFtpConnection;

// A destination on an FTP server, reached through one control connection for the whole run.
// Destination paths are server paths with "/" separators: absolute when the job's subfolder
// begins with "/", else relative to the login folder. The server keeps neither links nor modes
// nor the files' times: the metadata list of each point carries them.
class TFtpBranch : public TStorageBranch {
public:
    explicit TFtpBranch(TJob& job);
    ~TFtpBranch() override;

    TConnectResult Connect() override;
    QString Disconnect() override;
    // A transfer may take long and be retried; the source must not change in between.
    bool UploadsFromTemporaryCopy() const override { return true; }
    bool HoldsLinks() const override { return false; }

    // Reconnects a connection an earlier failure closed; closes it after a failed attempt and
    // after a cancelled transfer, so the next attempt starts afresh.
    void BeforeAttempt() override;
    void AfterFailedAttempt() override;
    void AfterOperation() override;

    TBranchResult Upload(const QString& local, const QString& remote) override;
    TBranchResult Download(const QString& remote, const QString& local) override;
    TBranchResult RemoveFile(const QString& remote) override;
    TBranchResult RemoveEmptyFolder(const QString& remote) override;
    TBranchResult RemoveFolderTree(const QString& remote) override;
    TBranchResult CreateFolder(const QString& remote) override;
    TBranchResult RenameFolder(const QString& remote, const QString& newPath) override;
    TBranchResult RenameFile(const QString& remote, const QString& newPath) override;
    bool ListFolder(const QString& remote, QStringList& folders, QStringList& files) override;

private:
    // The connection's failure as a result (the reconnect's when that failed).
    TBranchResult Failure() const;
    bool Usable();
    // Removes the part files earlier failures left, once the server answers again.
    void RemoveStaleParts();
    bool FolderExists(const QString& remote);
    // True when the item exists; false when it does not or the parent cannot be listed.
    bool Exists(const QString& remote);
    TBranchResult Rename(const QString& remote, const QString& newPath);
    bool RemoveTree(const QString& remote, int depth);

    std::unique_ptr<TFtpConnection> m_connection;
    QString m_home;           // the login folder, where relative paths start
    QString m_reconnectError; // why the last reconnect failed
    bool m_cancelled = false; // a transfer was aborted on cancel
    QStringList m_staleParts; // part files a dropped connection kept us from removing
};
