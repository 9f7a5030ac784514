#pragma once

#include "platform/TDesktopNotifier.h"

#include <QDBusConnection>
#include <QObject>

// Desktop notifications through the freedesktop.org notification service
// (org.freedesktop.Notifications, method Notify) on the session bus. The call is asynchronous so
// that a slow or missing service never holds up the caller; a failure reaches OnFailure once per
// notifier, as the service is either there or not.
class TDBusDesktopNotifier : public QObject, public TDesktopNotifier {
    Q_OBJECT
public:
    explicit TDBusDesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                  QObject* parent = nullptr);

    void Notify(const QString& summary, const QString& body) override;

    static QString Service() { return QStringLiteral("org.freedesktop.Notifications"); }
    static QString Path() { return QStringLiteral("/org/freedesktop/Notifications"); }
    static QString Interface() { return QStringLiteral("org.freedesktop.Notifications"); }
    // What the messages are shown as: the program's name and its icon (the icon name of the
    // desktop entry, which is also its name).
    static QString ApplicationName() { return QStringLiteral("Vaultora"); }
    static QString IconName() { return QStringLiteral("org.vaultora.Vaultora"); }
    // Long enough to be read on return to the desk, short enough not to pile up.
    static constexpr int ExpireTimeoutMs = 15000;
    static constexpr int CallTimeoutMs = 10000;

Q_SIGNALS:
    // The service answered a Notify (whether or not it accepted it).
    void Answered();

private:
    void Fail(const QString& why);

    QDBusConnection m_bus;
    bool m_failureReported = false;
};
