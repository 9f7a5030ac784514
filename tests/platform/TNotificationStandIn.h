#pragma once

// A private bus (its own dbus-daemon) with a stand-in desktop notification service in the test
// process, so that notification tests never depend on, or show anything on, the user's desktop.

#include <QDBusConnection>
#include <QDBusError>
#include <QDeadlineTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

// Owns org.freedesktop.Notifications and keeps every Notify it receives.
class TNotificationStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct TCall {
        QString Application;
        uint ReplacesId = 0;
        QString Icon;
        QString Summary;
        QString Body;
        QStringList Actions;
        QVariantMap Hints;
        int ExpireTimeout = 0;
    };
    QList<TCall> Calls;

    ~TNotificationStandIn() override { Stop(); }

    // Starts the bus and registers the service on it; false with why when either fails.
    bool Start(QString* why) {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return Fail(why, QStringLiteral("dbus-daemon is missing (Debian package dbus-daemon)"));
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return Fail(why, QStringLiteral("cannot write the bus configuration"));
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                     " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig>\n"
                     "  <type>session</type>\n"
                     "  <listen>unix:path=" +
                     QFile::encodeName(m_dir.filePath(QStringLiteral("bus"))) +
                     "</listen>\n"
                     "  <auth>EXTERNAL</auth>\n"
                     "  <policy context=\"default\">\n"
                     "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                     "    <allow eavesdrop=\"true\"/>\n"
                     "    <allow own=\"*\"/>\n"
                     "  </policy>\n"
                     "</busconfig>\n");
        config.close();
        m_daemon.start(daemon, {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted())
            return Fail(why, QStringLiteral("dbus-daemon did not start"));
        QDeadlineTimer deadline(20000);
        QByteArray out;
        while (!out.contains('\n') && !deadline.hasExpired() && m_daemon.state() == QProcess::Running) {
            m_daemon.waitForReadyRead(100);
            out += m_daemon.readAllStandardOutput();
        }
        Address = QString::fromUtf8(out).trimmed();
        if (Address.isEmpty())
            return Fail(why, QString::fromUtf8(m_daemon.readAllStandardError()));
        QDBusConnection server = QDBusConnection::connectToBus(Address, QStringLiteral("notification-stand-in"));
        if (!server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                   QDBusConnection::ExportAllSlots) ||
            !server.registerService(QStringLiteral("org.freedesktop.Notifications")))
            return Fail(why, server.lastError().message());
        return true;
    }

    // Takes the service off the bus (as a desktop without one), or puts it back.
    bool Withdraw() {
        return QDBusConnection(QStringLiteral("notification-stand-in"))
            .unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    }
    bool Register() {
        return QDBusConnection(QStringLiteral("notification-stand-in"))
            .registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

    // A client connection of its own to the private bus.
    QDBusConnection Connect() {
        return QDBusConnection::connectToBus(Address, QStringLiteral("client-") + QString::number(++m_clients));
    }

    void Stop() {
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-stand-in"));
        for (int i = 1; i <= m_clients; ++i)
            QDBusConnection::disconnectFromBus(QStringLiteral("client-") + QString::number(i));
        m_clients = 0;
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished();
        }
    }

    QString Address;

public Q_SLOTS:
    uint Notify(const QString& application, uint replacesId, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout) {
        Calls.append({application, replacesId, icon, summary, body, actions, hints, expireTimeout});
        Q_EMIT Received();
        return uint(Calls.size());
    }

Q_SIGNALS:
    void Received();

private:
    static bool Fail(QString* why, const QString& text) {
        if (why != nullptr)
            *why = text;
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_daemon;
    int m_clients = 0;
};
