#pragma once

#include "platform/TSleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

// Sleep blocking through systemd-logind: an inhibitor lock ("sleep", mode "block") is a file
// descriptor that logind hands out; the computer stays awake while this process holds it open,
// and closing it releases the lock. The request is asynchronous so that a slow or missing logind
// never holds up the scheduler tick; without a bus nothing is blocked, silently.
class TLogindSleepInhibitor : public QObject, public TSleepInhibitor {
    Q_OBJECT
public:
    explicit TLogindSleepInhibitor(const QDBusConnection& bus = QDBusConnection::systemBus(),
                                   QObject* parent = nullptr);

    void Block() override;
    void Release() override;

    // True while the inhibitor lock is held (the answer to Block has arrived).
    bool IsHeld() const { return m_lock.isValid(); }

    // How long to wait for logind's answer.
    static constexpr int CallTimeoutMs = 10000;

Q_SIGNALS:
    // logind answered a Block request (whether or not it granted the lock).
    void Answered();

private:
    QDBusConnection m_bus;
    QDBusUnixFileDescriptor m_lock;
    bool m_wanted = false;  // Block was asked last
    bool m_pending = false; // a request is on its way
};
