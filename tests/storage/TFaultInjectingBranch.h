#pragma once

#include "storage/TLocalDriveBranch.h"

#include <QString>
#include <QStringList>

#include <stdexcept>

// A branch that does its work through the local-drive branch but fails on purpose: while Down,
// after FailAfter successful operations, or for the next FailNextAttempts attempts. It records
// what it was asked to do.
class TFaultInjectingBranch : public TStorageBranch {
public:
    explicit TFaultInjectingBranch(TJob& job)
        : TStorageBranch(job)
        , m_inner(job) {}

    bool Down = false;
    int FailAfter = -1;       // operations allowed before every further one fails; -1 never
    int FailNextAttempts = 0; // the next attempts that fail, then it works
    bool ThrowOnFailure = false;
    bool TemporaryCopyUploads = false; // behaves like the FTP and cloud branches
    QString FailureText = QStringLiteral("The device is not ready.");

    int Attempts = 0;
    int FailedAttemptCalls = 0;
    int AfterOperationCalls = 0;
    int DisconnectCalls = 0;
    QStringList Calls; // "Upload local -> remote", ...
    QString DisconnectError;

    TConnectResult Connect() override {
        if (Down)
            return {false, {}, FailureText};
        return m_inner.Connect();
    }
    QString Disconnect() override {
        ++DisconnectCalls;
        return DisconnectError;
    }
    bool UploadsFromTemporaryCopy() const override { return TemporaryCopyUploads; }
    void BeforeAttempt() override { ++Attempts; }
    void AfterFailedAttempt() override { ++FailedAttemptCalls; }
    void AfterOperation() override { ++AfterOperationCalls; }

    TBranchResult Upload(const QString& local, const QString& remote) override {
        Calls << QStringLiteral("Upload ") + local + QStringLiteral(" -> ") + remote;
        return Faulty() ? Fail() : m_inner.Upload(local, remote);
    }
    TBranchResult Download(const QString& remote, const QString& local) override {
        Calls << QStringLiteral("Download ") + remote + QStringLiteral(" -> ") + local;
        return Faulty() ? Fail() : m_inner.Download(remote, local);
    }
    TBranchResult RemoveFile(const QString& remote) override {
        Calls << QStringLiteral("RemoveFile ") + remote;
        return Faulty() ? Fail() : m_inner.RemoveFile(remote);
    }
    TBranchResult RemoveEmptyFolder(const QString& remote) override {
        Calls << QStringLiteral("RemoveEmptyFolder ") + remote;
        return Faulty() ? Fail() : m_inner.RemoveEmptyFolder(remote);
    }
    TBranchResult RemoveFolderTree(const QString& remote) override {
        Calls << QStringLiteral("RemoveFolderTree ") + remote;
        return Faulty() ? Fail() : m_inner.RemoveFolderTree(remote);
    }
    TBranchResult CreateFolder(const QString& remote) override {
        Calls << QStringLiteral("CreateFolder ") + remote;
        return Faulty() ? Fail() : m_inner.CreateFolder(remote);
    }
    TBranchResult RenameFolder(const QString& remote, const QString& newPath) override {
        Calls << QStringLiteral("RenameFolder ") + remote + QStringLiteral(" -> ") + newPath;
        return Faulty() ? Fail() : m_inner.RenameFolder(remote, newPath);
    }
    TBranchResult RenameFile(const QString& remote, const QString& newPath) override {
        Calls << QStringLiteral("RenameFile ") + remote + QStringLiteral(" -> ") + newPath;
        return Faulty() ? Fail() : m_inner.RenameFile(remote, newPath);
    }

private:
    bool Faulty() {
        if (Down)
            return true;
        if (FailNextAttempts > 0) {
            --FailNextAttempts;
            return true;
        }
        if (FailAfter >= 0 && m_done >= FailAfter)
            return true;
        ++m_done;
        return false;
    }
    TBranchResult Fail() {
        if (ThrowOnFailure)
            throw std::runtime_error("connection reset\r\nby peer");
        return TBranchResult::Failure(FailureText);
    }

    TLocalDriveBranch m_inner;
    int m_done = 0;
};
