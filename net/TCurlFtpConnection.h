#pragma once

#include "net/TFtpConnection.h"

// The FTP connection on libcurl: one easy handle per object, so the control connection is
// reused between operations.
class TCurlFtpConnection : public TFtpConnection {
public:
    explicit TCurlFtpConnection(TFtpConnectSettings settings);
    ~TCurlFtpConnection() override;

    bool Connect() override;
    bool Disconnect() override;
    bool Connected() const override;
    QString ErrorText() const override;

    bool CurrentFolder(QString& path) override;
    bool ChangeFolder(const QString& path) override;
    bool ChangeToParent() override;

    bool List(const QString& folder, QList<TFtpEntry>& entries) override;
    bool NameList(const QString& folder, QStringList& names) override;
    bool Size(const QString& path, int64_t& size) override;
    bool ModifiedTime(const QString& path, QDateTime& time) override;

    bool MakeFolder(const QString& path) override;
    bool RemoveFolder(const QString& path) override;
    bool RemoveFile(const QString& path) override;
    bool Rename(const QString& from, const QString& to) override;

    bool Upload(const QString& localPath, const QString& remotePath) override;
    bool Download(const QString& remotePath, const QString& localPath, bool resume) override;
    bool Aborted() const override;

private:
    TFtpConnectSettings FSettings;
    QString FErrorText;
};
