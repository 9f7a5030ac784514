#pragma once

#include "storage/TLocalDriveBranch.h"

#include <QString>

#include <functional>
#include <optional>

// The local-drive branch with a hook before every upload and folder creation: a test can fail
// one file, act on the job at a chosen moment (pause, cancel), or take the destination away. It
// can also play a destination that holds no symbolic links.
class THookedBranch : public TStorageBranch {
public:
    using THook = std::function<std::optional<TBranchResult>(const QString& local, const QString& remote)>;

    THookedBranch(TJob& job, THook* onUpload, THook* onCreateFolder, const bool* holdsLinks = nullptr)
        : TStorageBranch(job)
        , m_inner(job)
        , m_onUpload(onUpload)
        , m_onCreateFolder(onCreateFolder)
        , m_holdsLinks(holdsLinks) {}

    TConnectResult Connect() override { return m_inner.Connect(); }
    QString Disconnect() override { return m_inner.Disconnect(); }
    bool UploadsFromTemporaryCopy() const override { return m_inner.UploadsFromTemporaryCopy(); }
    bool HoldsLinks() const override { return !m_holdsLinks || *m_holdsLinks; }
    TBranchResult Upload(const QString& local, const QString& remote) override {
        if (m_onUpload && *m_onUpload)
            if (std::optional<TBranchResult> result = (*m_onUpload)(local, remote))
                return *result;
        return m_inner.Upload(local, remote);
    }
    TBranchResult Download(const QString& remote, const QString& local) override {
        return m_inner.Download(remote, local);
    }
    TBranchResult RemoveFile(const QString& remote) override { return m_inner.RemoveFile(remote); }
    TBranchResult RemoveEmptyFolder(const QString& remote) override { return m_inner.RemoveEmptyFolder(remote); }
    TBranchResult RemoveFolderTree(const QString& remote) override { return m_inner.RemoveFolderTree(remote); }
    TBranchResult CreateFolder(const QString& remote) override {
        if (m_onCreateFolder && *m_onCreateFolder)
            if (std::optional<TBranchResult> result = (*m_onCreateFolder)(QString(), remote))
                return *result;
        return m_inner.CreateFolder(remote);
    }
    TBranchResult RenameFolder(const QString& remote, const QString& newPath) override {
        return m_inner.RenameFolder(remote, newPath);
    }
    TBranchResult RenameFile(const QString& remote, const QString& newPath) override {
        return m_inner.RenameFile(remote, newPath);
    }

private:
    TLocalDriveBranch m_inner;
    THook* m_onUpload;
    THook* m_onCreateFolder;
    const bool* m_holdsLinks;
};
