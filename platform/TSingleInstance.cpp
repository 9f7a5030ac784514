#include "platform/TSingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr char Acknowledge = '\x06';
// A connection that does not finish its request within this time is dropped.
constexpr int ServerReadTimeoutMs = 10000;

QString CanonicalFolder(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QByteArray Frame(const QByteArray& payload) {
    char length[4];
    qToLittleEndian<quint32>(quint32(payload.size()), length);
    return QByteArray(length, 4) + payload;
}

} // namespace

TSingleInstance::TSingleInstance(const QString& dataDirectory, const QString& runtimeDirectory, QObject* parent)
    : QObject(parent) {
    QString folder = runtimeDirectory;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    // One name per user and data folder, so instances on other data folders never meet.
    const QByteArray key = QByteArray::number(quint64(::getuid())) + '\n' + CanonicalFolder(dataDirectory).toUtf8();
    const QString id = QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    m_lockPath = folder + QStringLiteral("/vaultora-") + id + QStringLiteral(".lock");
    m_socketPath = folder + QStringLiteral("/vaultora-") + id + QStringLiteral(".socket");
}

TSingleInstance::~TSingleInstance() {
    if (m_server) {
        m_server->close();
        QLocalServer::removeServer(m_socketPath);
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
}

QString TSingleInstance::ShowRequest() {
    return QStringLiteral("show");
}

QString TSingleInstance::OpenRequest(const QString& path) {
    return QStringLiteral("open ") + path;
}

bool TSingleInstance::TryLock() {
    if (m_lockFd < 0) {
        const QByteArray path = QFile::encodeName(m_lockPath);
        // Close-on-exec: a child process (the image tool) must not keep the lock alive after
        // this process has ended.
        m_lockFd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_lockFd < 0) {
            m_error = QStringLiteral("cannot open the instance lock %1: %2")
                          .arg(m_lockPath, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return ::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0;
}

bool TSingleInstance::Listen() {
    // Holding the lock, any socket file left here belongs to an instance that has ended.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        m_error = QStringLiteral("cannot listen on %1: %2").arg(m_socketPath, m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &TSingleInstance::OnNewConnection);
    return true;
}

TSingleInstance::TRole TSingleInstance::Start(bool runEvenIfRunning, const QString& request) {
    m_error.clear();
    const QDeadlineTimer deadline(HandOverTimeoutMs);
    for (;;) {
        if (TryLock()) {
            // Without a listening socket later processes could not reach this one; the process
            // still runs as the instance.
            Listen();
            return TRole::Primary;
        }
        if (m_lockFd < 0)
            return TRole::Failed;
        if (runEvenIfRunning)
            return TRole::Independent;
        if (Send(request))
            return TRole::HandedOver;
        // The instance holds the lock but does not answer yet: it is starting, or it has just
        // ended and the lock is about to be free.
        if (deadline.hasExpired()) {
            if (m_error.isEmpty())
                m_error = QStringLiteral("the running instance does not answer");
            return TRole::Failed;
        }
        QThread::msleep(50);
    }
}

bool TSingleInstance::Send(const QString& request) {
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(1000)) {
        m_error = socket.errorString();
        return false;
    }
    socket.write(Frame(request.toUtf8()));
    if (!socket.waitForBytesWritten(5000)) {
        m_error = socket.errorString();
        return false;
    }
    // The instance answers once it has taken the request, so this process may end at once.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(5000)) {
            m_error = socket.errorString();
            return false;
        }
    }
    const bool taken = socket.read(1).at(0) == Acknowledge;
    socket.disconnectFromServer();
    if (!taken)
        m_error = QStringLiteral("the running instance refused the request");
    return taken;
}

void TSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        QTimer::singleShot(ServerReadTimeoutMs, socket, [socket] { socket->abort(); });
        OnReadyRead(socket);
    }
}

void TSingleInstance::OnReadyRead(QLocalSocket* socket) {
    if (socket->bytesAvailable() < 4)
        return;
    char header[4];
    socket->peek(header, 4);
    const quint32 length = qFromLittleEndian<quint32>(header);
    if (length > quint32(MaxRequestBytes)) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < qint64(length) + 4)
        return;
    socket->skip(4);
    const QByteArray payload = socket->read(qint64(length));
    socket->write(&Acknowledge, 1);
    socket->flush();
    socket->disconnectFromServer();
    Dispatch(QString::fromUtf8(payload));
}

void TSingleInstance::Dispatch(const QString& request) {
    if (request == ShowRequest()) {
        Q_EMIT ShowRequested();
        return;
    }
    const QString open = OpenRequest(QString());
    if (request.startsWith(open) && request.size() > open.size()) {
        Q_EMIT OpenRequested(request.mid(open.size()));
        return;
    }
    // Anything else is ignored, as an unknown message would be.
}
