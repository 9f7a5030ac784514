#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// Waits for the browser's redirect at the end of a sign-in: listens on 127.0.0.1 only, takes the
// first request whose "state" parameter is the one of the sign-in it started, answers it and
// stops listening. A request with another state (or none) gets an error page and changes
// nothing, so no other web page can slip its own code in and bind the user's backups to another
// account. Runs on the thread that creates it; headless (the dialog and the command line wrap it).
class TLoopbackCodeListener : public QObject {
    Q_OBJECT

public:
    explicit TLoopbackCodeListener(QObject* parent = nullptr);
    ~TLoopbackCodeListener() override;

    // Starts listening on 127.0.0.1:port (0: any free port) for the sign-in whose state is
    // expectedState. False when the port cannot be bound (ErrorString() says why).
    bool Start(quint16 port, const QString& expectedState);
    quint16 Port() const;
    QString ErrorString() const { return FError; }

    // Runs the event loop until the redirect came or cancelled() answers true (asked ten times a
    // second). Returns the code, "fail" when the redirect carried none (access denied), or
    // "cancel". Stops listening in every case.
    QString WaitForCode(const std::function<bool()>& cancelled);

    // The result once Finished was emitted; empty before.
    QString Result() const { return FResult; }
    void Stop();

Q_SIGNALS:
    void Finished(const QString& result);

private:
    void OnNewConnection();
    void OnReadyRead(QTcpSocket* socket);
    void Answer(QTcpSocket* socket, int status, const QByteArray& page);

    QTcpServer FServer;
    QString FState;
    QString FResult;
    QString FError;
    QHash<QTcpSocket*, QByteArray> FPending;
    QList<QPointer<QTcpSocket>> FAnswered;
};

// The address of the loopback redirect: http://127.0.0.1:PORT (no path).
QString LoopbackRedirectUri(quint16 port);
// The "state" parameter of an authorization address.
QString StateOfAuthorizationUrl(const QString& url);
