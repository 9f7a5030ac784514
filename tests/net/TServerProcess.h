#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A server program a test starts on loopback: bounded by timeout(1), stopped with the object.
class TServerProcess {
public:
    TServerProcess() = default;
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;
    ~TServerProcess();

    // Starts the program and waits until 127.0.0.1:port accepts connections. False when the
    // program ended first or did not listen in time; Output() then says why.
    bool StartListening(const QString& program, const QStringList& arguments, quint16 port);
    // Starts the program and waits until it has written the file.
    bool StartUntilFile(const QString& program, const QStringList& arguments, const QString& readyFile);
    void Stop();
    QString Output();

    // A port nothing listens on at the moment of asking.
    static quint16 FreePort();

private:
    bool Start(const QString& program, const QStringList& arguments);
    template <typename Ready>
    bool WaitFor(Ready ready);

    QProcess FProcess;
    QByteArray FOutput;
};
