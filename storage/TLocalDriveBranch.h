#pragma once

#include "storage/TLocalFileCopy.h"
#include "storage/TParentFolderCache.h"
#include "storage/TStorageBranch.h"

// A destination on a local or external drive: a folder of this computer's file system, reached
// with the file-system calls (descriptor-relative, so paths beyond PATH_MAX work).
class TLocalDriveBranch : public TStorageBranch {
public:
    explicit TLocalDriveBranch(TJob& job);

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
    bool ListFolder(const QString& remote, QStringList& folders, QStringList& files) override;

    // Bytes per chunk of the copy routine (progress and cancel checks come once a chunk).
    int64_t CopyChunkSize = TLocalFileCopy::DefaultChunkSize;

private:
    TFileCopyResult CopyFile(const QString& source, const QString& target);
    // Gives a read-only file at path its owner's write bit back, with a log line; 0 or errno.
    int MakeWritable(const QString& path);
    TBranchResult Rename(const QString& remote, const QString& newPath);

    // The folders of the last files copied (an upload and its checks resolve them once).
    TParentFolderCache m_folders;
};
