#pragma once

#include "../net/TServerProcess.h"

#include <QString>
#include <QTemporaryDir>

// A private smbd on a free loopback port with two shares: "share" for the user of User/Password
// and "guest" open to guests. Needs root (a throwaway system user owns the password share);
// Start() says why it could not start, for the test to skip.
class TSmbServer {
public:
    static const QString User;
    static const QString Password;

    TSmbServer() = default;
    TSmbServer(const TSmbServer&) = delete;
    TSmbServer& operator=(const TSmbServer&) = delete;
    ~TSmbServer();

    // Writes the configuration, adds the user and starts smbd; empty on success, else the reason.
    QString Start();
    // Stops smbd and its helper (the shares' content stays, for a later Start).
    void Stop();
    // Kills smbd and the processes serving its clients at once, as a crash or a power cut would;
    // safe from any thread. Start() brings it back.
    void Kill();
    bool Running() const { return m_running; }

    quint16 Port() const { return m_port; }
    // The folder the share serves, to look at from outside.
    QString SharePath(const QString& share) const { return m_dir.filePath(share); }
    // "smb://127.0.0.1:PORT/share".
    QString Url(const QString& share) const;

private:
    QTemporaryDir m_dir; // opened to every user: smbd serves it as the share's user and as guest
    TServerProcess m_smbd;
    quint16 m_port = 0;
    bool m_running = false;
};
