#include "platform/TLogindPowerOff.h"

#include "platform/LogindNames.h"

#include <QDBusMessage>

TLogindPowerOff::TLogindPowerOff(const QDBusConnection& bus)
    : m_bus(bus) {}

bool TLogindPowerOff::PowerOff() {
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(LogindNames::Service(), LogindNames::Path(),
                                                       LogindNames::Manager(), QStringLiteral("PowerOff"));
    // Not interactive: a password prompt would wait for a user who is not there.
    call << false;
    return m_bus.call(call, QDBus::Block, CallTimeoutMs).type() == QDBusMessage::ReplyMessage;
}
