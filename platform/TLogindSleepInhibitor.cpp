#include "platform/TLogindSleepInhibitor.h"

#include "platform/LogindNames.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

TLogindSleepInhibitor::TLogindSleepInhibitor(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus) {}

void TLogindSleepInhibitor::Block() {
    m_wanted = true;
    if (IsHeld() || m_pending || !m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(LogindNames::Service(), LogindNames::Path(),
                                                       LogindNames::Manager(), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Vaultora") << QStringLiteral("Backup jobs are running or due")
         << QStringLiteral("block");
    m_pending = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        m_pending = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
        // Released while the request was on its way: the descriptor is dropped (and so closed)
        // with the reply.
        if (!reply.isError() && m_wanted)
            m_lock = reply.value();
        finished->deleteLater();
        Q_EMIT Answered();
    });
}

void TLogindSleepInhibitor::Release() {
    m_wanted = false;
    // The last copy of the descriptor closes it, which ends the inhibitor lock.
    m_lock = QDBusUnixFileDescriptor();
}
