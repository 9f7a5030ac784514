#pragma once

#include "platform/TPowerOff.h"

#include <QDBusConnection>

// Power-off through systemd-logind (PowerOff without asking the user interactively): logind and
// polkit decide whether this user may turn the computer off.
class TLogindPowerOff : public TPowerOff {
public:
    explicit TLogindPowerOff(const QDBusConnection& bus = QDBusConnection::systemBus());

    bool PowerOff() override;

    // How long to wait for logind's answer.
    static constexpr int CallTimeoutMs = 10000;

private:
    QDBusConnection m_bus;
};
