#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One running instance per user and data folder. The first process takes a lock file and
// listens on a local socket next to it; a later process hands its request ("show", or "open "
// + path) to the first one and ends. The lock (flock) dies with its process, so a socket left
// behind by a crashed instance is recognised as stale and replaced.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class TRole {
        Primary,     // this process is the instance and listens for requests
        Independent, // another instance runs, but this process must run anyway
        HandedOver,  // the request went to the running instance; this process ends
        Failed,      // the running instance did not take the request (see ErrorText)
    };

    // runtimeDirectory: where the lock and socket live (default: the user's runtime folder).
    explicit TSingleInstance(const QString& dataDirectory, const QString& runtimeDirectory = QString(),
                             QObject* parent = nullptr);
    ~TSingleInstance() override;

    // Claims the instance. When another process holds it, a process started with
    // runEvenIfRunning runs alongside (Independent); any other sends request and ends.
    TRole Start(bool runEvenIfRunning, const QString& request);

    QString ErrorText() const { return m_error; }
    QString SocketPath() const { return m_socketPath; }
    QString LockPath() const { return m_lockPath; }

    // "show" and "open " + path are the requests an instance understands.
    static QString ShowRequest();
    static QString OpenRequest(const QString& path);

    // How long a second process keeps trying to reach an instance that holds the lock but does
    // not listen yet (it is still starting).
    static constexpr int HandOverTimeoutMs = 10000;
    // Longest request accepted; a path is far shorter.
    static constexpr int MaxRequestBytes = 65536;

Q_SIGNALS:
    void ShowRequested();
    void OpenRequested(const QString& path);

private:
    bool TryLock();
    bool Listen();
    bool Send(const QString& request);
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);
    void Dispatch(const QString& request);

    QString m_lockPath;
    QString m_socketPath;
    QString m_error;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
};
