#pragma once

#include "TServerProcess.h"

#include "net/TFtpConnection.h"

#include <QString>
#include <QTemporaryDir>

// A private FTP server on a free loopback port serving a fresh folder to one user: pyftpdlib
// (with MLSD; optionally answering SIZE for folders like some servers do, or without MLSD) or
// vsftpd (LIST only; needs root for its system user), each plain or with explicit TLS on a
// certificate made for the run. Start() says why it could not start, for the test to skip.
class TFtpServer {
public:
    enum TKind { Pyftpdlib, Vsftpd };
    struct TOptions {
        TKind Kind = Pyftpdlib;
        bool Tls = false;
        bool SizeOnFolders = false;
        bool NoMlsd = false;
        bool PasvElsewhere = false; // pyftpdlib: PASV names another host, no EPSV
    };
    static const QString User;
    static const QString Password;

    TFtpServer() = default;
    TFtpServer(const TFtpServer&) = delete;
    TFtpServer& operator=(const TFtpServer&) = delete;
    ~TFtpServer();

    // Empty on success, else the reason (a missing program or root).
    QString Start(const TOptions& options);
    void Stop();
    bool Running() const { return m_running; }

    quint16 Port() const { return m_port; }
    // The folder the server serves as "/" (pyftpdlib) or as the login folder (vsftpd).
    QString Root() const { return m_dir.filePath(QStringLiteral("root")); }
    // The path the user sees for Root(): "/" for pyftpdlib, Root() itself for vsftpd.
    QString ServerRoot() const;
    // Settings that reach this server with the test user.
    TFtpConnectSettings Settings() const;
    // Hands a file or folder made from outside to the server's user.
    bool GiveToUser(const QString& path) const;
    QString Output() { return m_process.Output(); }

    // Writes a self-signed certificate and key into folder; empty on success.
    static QString MakeCertificate(const QString& folder);

private:
    QTemporaryDir m_dir;
    TServerProcess m_process;
    TOptions m_options;
    quint16 m_port = 0;
    bool m_running = false;
};
