#include "cloud/TLoopbackCodeListener.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace {

// A browser's request line and headers are far below this; anything longer is not one.
constexpr qsizetype MaxRequestBytes = 16 * 1024;

} // namespace

TLoopbackCodeListener::TLoopbackCodeListener(QObject* parent)
    : QObject(parent) {
    connect(&FServer, &QTcpServer::newConnection, this, &TLoopbackCodeListener::OnNewConnection);
}

TLoopbackCodeListener::~TLoopbackCodeListener() {
    Stop();
}

bool TLoopbackCodeListener::Start(quint16 port, const QString& expectedState) {
    FResult.clear();
    FError.clear();
    FState = expectedState;
    if (FState.isEmpty()) {
        FError = QStringLiteral("A sign-in needs a state value.");
        return false;
    }
    if (!FServer.listen(QHostAddress::LocalHost, port)) {
        FError = FServer.errorString();
        return false;
    }
    return true;
}

quint16 TLoopbackCodeListener::Port() const {
    return FServer.serverPort();
}

void TLoopbackCodeListener::Stop() {
    FServer.close();
    for (auto it = FPending.begin(); it != FPending.end(); ++it) {
        it.key()->disconnect(this);
        it.key()->abort();
        it.key()->deleteLater();
    }
    FPending.clear();
}

void TLoopbackCodeListener::OnNewConnection() {
    while (QTcpSocket* socket = FServer.nextPendingConnection()) {
        FPending.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            FPending.remove(socket);
            socket->deleteLater();
        });
    }
}

void TLoopbackCodeListener::Answer(QTcpSocket* socket, int status, const QByteArray& page) {
    const QByteArray reason = status == 200 ? "OK" : status == 400 ? "Bad Request" : "Not Found";
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
                  QByteArray::number(page.size()) + "\r\n\r\n" + page);
    socket->disconnectFromHost();
    FPending.remove(socket);
    FAnswered.append(socket);
}

void TLoopbackCodeListener::OnReadyRead(QTcpSocket* socket) {
    auto it = FPending.find(socket);
    if (it == FPending.end())
        return;
    it->append(socket->readAll());
    if (it->size() > MaxRequestBytes) {
        Answer(socket, 400, "<html><body>Bad request.</body></html>");
        return;
    }
    if (!it->contains("\r\n\r\n"))
        return;
    const QByteArray firstLine = it->left(it->indexOf("\r\n"));
    const QList<QByteArray> parts = firstLine.split(' ');
    if (parts.size() != 3 || parts[0] != "GET") {
        Answer(socket, 400, "<html><body>Bad request.</body></html>");
        return;
    }
    const QUrl target = QUrl::fromEncoded("http://127.0.0.1" + parts[1]);
    const QUrlQuery query(target);
    const QString state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
    if (!FResult.isEmpty() || state != FState) {
        // Not the redirect of this sign-in (another page, a second request, a favicon).
        Answer(socket, 400, "<html><body>This request does not belong to the sign-in in progress.</body></html>");
        return;
    }
    const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    FResult = code.isEmpty() ? QStringLiteral("fail") : code;
    Answer(socket, 200, "<html><body>All done! You can close this page now.</body></html>");
    FServer.close();
    Q_EMIT Finished(FResult);
}

QString TLoopbackCodeListener::WaitForCode(const std::function<bool()>& cancelled) {
    if (FResult.isEmpty()) {
        QEventLoop loop;
        QTimer poll;
        connect(this, &TLoopbackCodeListener::Finished, &loop, [&loop] { loop.quit(); });
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (cancelled && cancelled())
                loop.quit();
        });
        poll.start(100);
        loop.exec();
    }
    const QString result = FResult.isEmpty() ? QStringLiteral("cancel") : FResult;
    // Let the answer page reach the browser before the sockets go.
    for (const QPointer<QTcpSocket>& socket : std::as_const(FAnswered))
        if (socket && socket->bytesToWrite() > 0)
            socket->waitForBytesWritten(2000);
    FAnswered.clear();
    Stop();
    return result;
}

QString LoopbackRedirectUri(quint16 port) {
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

QString StateOfAuthorizationUrl(const QString& url) {
    return QUrlQuery(QUrl(url)).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
}
