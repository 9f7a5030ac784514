#pragma once

// A private dconf for tests: its own configuration and runtime folders and its own session bus
// (dbus-daemon), so that writes go to a database of the test's and never to the user's. Usable
// when both dbus-daemon and dconf are installed.

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

class TPrivateDconf {
public:
    // Empty when it runs; otherwise why it cannot.
    QString Start() {
        if (QStandardPaths::findExecutable(QStringLiteral("dconf")).isEmpty())
            return QStringLiteral("dconf is not installed (package dconf-cli)");
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return QStringLiteral("dbus-daemon is not installed");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.filePath(QStringLiteral("run"))));
        QDir().mkpath(m_dir.filePath(QStringLiteral("config")));
        QDir().mkpath(m_dir.filePath(QStringLiteral("run")));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qunsetenv("DCONF_PROFILE");
        m_bus.setProgram(QStringLiteral("dbus-daemon"));
        m_bus.setArguments(
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        m_bus.setProcessChannelMode(QProcess::SeparateChannels);
        m_bus.start();
        if (!m_bus.waitForStarted(10'000))
            return QStringLiteral("dbus-daemon does not start");
        while (!m_bus.canReadLine())
            if (!m_bus.waitForReadyRead(10'000))
                return QStringLiteral("dbus-daemon prints no address");
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        return {};
    }
    ~TPrivateDconf() {
        if (m_bus.state() != QProcess::NotRunning) {
            m_bus.terminate();
            if (!m_bus.waitForFinished(5'000))
                m_bus.kill();
            m_bus.waitForFinished();
        }
    }
    // Runs the dconf tool; its exit code, with its output in out.
    static int Dconf(const QStringList& arguments, QByteArray* out = nullptr) {
        QProcess process;
        process.start(QStringLiteral("dconf"), arguments);
        process.waitForFinished(30'000);
        if (out)
            *out = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
};
