#pragma once

#include "net/TFtpConnection.h"

#include <QByteArray>
#include <QStringList>

typedef void CURL;
typedef void CURLM;
struct curl_slist;

// The FTP connection on libcurl: one easy handle per object, so the control connection is
// reused between operations. libcurl goes back to the login folder before each request, so the
// folder of CWD/PWD is kept here and every path is resolved against it.
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

    int LastReplyCode() const override { return FLastReplyCode; }

    // True where the libcurl in use cannot run active-mode transfers over TLS.
    static bool ActiveTlsIsBroken();

private:
    enum class TRequest { Command, Upload, Download, Listing };
    struct TCall;

    bool Fail(const QString& text);
    // The absolute (or login-relative) path of path seen from the current folder; empty with
    // ErrorText() when the path cannot be sent.
    QString Resolve(const QString& path);
    // ftp://host:port/ and the percent-encoded path ("%2F" first for an absolute one).
    QByteArray Url(const QString& path, bool folder) const;
    // Prepares the handle for one request with the connection's settings.
    bool Setup(TCall& call);
    bool Perform(TCall& call);
    // Closes the connection (QUIT where it is still up) and frees the handles.
    void ReleaseHandles();
    // Sends the commands one after the other; the first that fails fails the call.
    bool Commands(const QList<QByteArray>& commands, QList<QByteArray>* replies = nullptr);
    bool ListRaw(const QString& folder, const QByteArray& command, bool namesOnly, QByteArray& data);

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnWrite(char* data, size_t size, size_t count, void* call);
    static size_t OnRead(char* data, size_t size, size_t count, void* call);
    static int OnTransferInfo(void* self, int64_t dlTotal, int64_t dlNow, int64_t ulTotal, int64_t ulNow);
    static int OnDebug(CURL* handle, int type, char* data, size_t size, void* self);

    TFtpConnectSettings FSettings;
    QString FErrorText;
    CURL* FHandle = nullptr;
    CURLM* FMulti = nullptr; // holds the control connection between requests
    bool FConnected = false;
    bool FAborted = false;
    bool FUploading = false;
    bool FHasMlsd = false;
    int FLastReplyCode = 0;
    QString FHome;              // the login folder (PWD after login)
    QString FCurrent;           // the folder of CWD
    QList<QByteArray> FReplies; // server reply lines of the running request
    QByteArray FProxyUrl;
    char FErrorBuffer[256] = {};
};
