#pragma once

#include "core/settings/TOptions.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// One entry of a server folder as a listing reports it.
struct TFtpEntry {
    QString Name;
    bool IsFolder = false;
    bool IsLink = false;
    int64_t Size = -1;  // -1 when the listing gives none
    QDateTime Modified; // invalid when the listing gives none; UTC
};

// Where and how to reach an FTP server: the account's fields and the proxy of the options.
struct TFtpConnectSettings {
    QString Host;
    int Port = 21;
    QString Username;
    QString Password;
    bool PassiveMode = true;
    bool FTPS = false;
    TProxyOptions Proxy;

    static TFtpConnectSettings From(const TFTPAccount& account, const TProxyOptions& proxy);
};

// A control connection to one FTP server, kept open between operations so a job run logs in
// once. Blocking; used from one thread at a time. Paths are server paths with "/" separators,
// absolute or relative to the login folder. Every call that fails returns false and leaves the
// reason in ErrorText() (the server's reply or the transport's text, one line); a call on a
// connection that dropped fails, and the caller reconnects with Connect().
class TFtpConnection {
public:
    virtual ~TFtpConnection() = default;

    // Connects and logs in (explicit TLS first when FTPS is set: never continues in clear text
    // when the server refuses TLS). Closes an earlier connection first.
    virtual bool Connect() = 0;
    // Sends QUIT where the connection is up and closes it; false with ErrorText() when QUIT
    // failed (the connection is closed all the same).
    virtual bool Disconnect() = 0;
    virtual bool Connected() const = 0;
    virtual QString ErrorText() const = 0;

    // PWD, CWD, CDUP.
    virtual bool CurrentFolder(QString& path) = 0;
    virtual bool ChangeFolder(const QString& path) = 0;
    virtual bool ChangeToParent() = 0;

    // The entries of a folder ("." and ".." left out): MLSD where the server offers it, else
    // LIST in the Unix or DOS format.
    virtual bool List(const QString& folder, QList<TFtpEntry>& entries) = 0;
    // NLST: the bare names of a folder ("." and ".." left out).
    virtual bool NameList(const QString& folder, QStringList& names) = 0;
    // SIZE and MDTM of a path. Some servers answer SIZE for folders too.
    virtual bool Size(const QString& path, int64_t& size) = 0;
    virtual bool ModifiedTime(const QString& path, QDateTime& time) = 0;

    virtual bool MakeFolder(const QString& path) = 0;                // MKD, one level
    virtual bool RemoveFolder(const QString& path) = 0;              // RMD
    virtual bool RemoveFile(const QString& path) = 0;                // DELE
    virtual bool Rename(const QString& from, const QString& to) = 0; // RNFR + RNTO

    // STOR of a local file (binary, replacing the remote file, no append or resume).
    virtual bool Upload(const QString& localPath, const QString& remotePath) = 0;
    // RETR into a local file, replacing it; with resume, an existing local file is continued at
    // its end where the server supports REST.
    virtual bool Download(const QString& remotePath, const QString& localPath, bool resume = false) = 0;
    // True when the last transfer ended because OnProgress asked to stop.
    virtual bool Aborted() const = 0;
    // The code of the server's last reply (550 for a missing file on most servers); 0 when the
    // last call failed before the server answered or the connection cannot tell.
    virtual int LastReplyCode() const { return 0; }

    // Called during transfers with the bytes so far and the announced total (0 when unknown);
    // returning false aborts the transfer (the call then fails and Aborted() is true).
    std::function<bool(int64_t done, int64_t total)> OnProgress;
    // Status lines of the conversation (commands without passwords, replies), for the client
    // tool's transaction log.
    std::function<void(const QString& line)> OnStatus;
};

// Makes the connection for the settings (nothing is sent until Connect). Tests of windows and
// dialogs replace it with a fake; the engines call it through here too.
using TFtpConnectionFactory = std::function<std::unique_ptr<TFtpConnection>(const TFtpConnectSettings& settings)>;
std::unique_ptr<TFtpConnection> MakeFtpConnection(const TFtpConnectSettings& settings);
// Replaces the factory until called again with an empty one (then the libcurl one is used).
void SetFtpConnectionFactoryForTesting(TFtpConnectionFactory factory);
