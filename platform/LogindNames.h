#pragma once

#include <QString>

// Where systemd-logind answers on the system bus.
namespace LogindNames {

inline QString Service() {
    return QStringLiteral("org.freedesktop.login1");
}
inline QString Path() {
    return QStringLiteral("/org/freedesktop/login1");
}
inline QString Manager() {
    return QStringLiteral("org.freedesktop.login1.Manager");
}

} // namespace LogindNames
