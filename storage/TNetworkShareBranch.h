#pragma once

#include "storage/TNetworkPathConnection.h"
#include "storage/TStorageBranch.h"

#include <cstdint>
#include <vector>

struct stat;

// A destination on a network share, reached through the SMB client library over a session of
// its own (no kernel mount, no root). Destination paths are "smb://server[:port]/share/..."
// texts below the connected share; the names in them are stored with ToShareName, so names
// the share refuses are kept too.
class TNetworkShareBranch : public TStorageBranch {
public:
    explicit TNetworkShareBranch(TJob& job, TSleeper* sleeper = nullptr);

    TConnectResult Connect() override;
    QString Disconnect() override;
    bool UploadsFromTemporaryCopy() const override { return false; }
    // A share without POSIX extensions stores no links: the metadata list of a point records them.
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

    // Bytes per read and write of a copy (progress and cancel checks come once a block).
    int64_t CopyBlockSize = 4 * 1024 * 1024;

private:
    // The client library's URL of a destination path; empty when the path is not below the
    // connected share.
    QByteArray Url(const QString& remote) const;
    // 0 when the item is there (st filled), else the error number.
    int Stat(const QByteArray& url, struct stat& st) const;
    // Clears the read-only attribute of a file with a log line; 0 or the error number.
    int MakeWritable(const QString& remote, const QByteArray& url);
    // Removes the folder url with everything in it; 0 or the first error number.
    int RemoveTree(const QByteArray& url);
    TBranchResult Rename(const QString& remote, const QString& newPath);
    // Gives the file from the name to, replacing a file there (read-only included, with its log
    // line); 0 or the error number.
    int RenameOver(const QByteArray& from, const QByteArray& to, const QString& remote);
    TBranchResult Failure(int error) const;
    // The copy buffer, made once per branch: a fresh block of megabytes per file would cost
    // more in page faults and clearing than a small file takes to send.
    std::vector<char>& Block();

    TNetworkPathConnection m_connection;
    std::vector<char> m_block;
    QString m_root; // "smb://server[:port]/share" as destination paths begin
};
