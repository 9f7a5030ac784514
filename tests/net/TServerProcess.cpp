#include "TServerProcess.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

TServerProcess::~TServerProcess() {
    Stop();
}

bool TServerProcess::Start(const QString& program, const QStringList& arguments) {
    FOutput.clear();
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
    // timeout(1) bounds the server's life even when the test dies without stopping it.
    FProcess.start(QStringLiteral("/usr/bin/timeout"),
                   QStringList{QStringLiteral("--kill-after=5"), QStringLiteral("300"), program} + arguments);
    return FProcess.waitForStarted(10000);
}

template <typename Ready>
bool TServerProcess::WaitFor(Ready ready) {
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (ready())
            return true;
        if (FProcess.state() == QProcess::NotRunning)
            return false;
        FProcess.waitForReadyRead(50);
        FOutput += FProcess.readAll();
    }
    return false;
}

bool TServerProcess::StartListening(const QString& program, const QStringList& arguments, quint16 port) {
    if (!Start(program, arguments))
        return false;
    return WaitFor([port] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        return probe.waitForConnected(200);
    });
}

bool TServerProcess::StartUntilFile(const QString& program, const QStringList& arguments, const QString& readyFile) {
    if (!Start(program, arguments))
        return false;
    return WaitFor([&readyFile] { return QFileInfo::exists(readyFile); });
}

void TServerProcess::Stop() {
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.closeWriteChannel();
    // SIGTERM reaches the server through timeout(1); SIGKILL would leave it running.
    FProcess.terminate();
    if (!FProcess.waitForFinished(10000)) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

QString TServerProcess::Output() {
    FOutput += FProcess.readAll();
    return QString::fromLocal8Bit(FOutput);
}

quint16 TServerProcess::FreePort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}
