#include "core/schedule/TShutdownCountdown.h"

#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"
#include "platform/TPowerOff.h"

TShutdownCountdown::TShutdownCountdown(TPowerOff& powerOff, QObject* parent)
    : QObject(parent)
    , m_powerOff(powerOff) {
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &TShutdownCountdown::Second);
}

void TShutdownCountdown::Begin() {
    m_active = true;
    m_remaining = CountdownSeconds;
    m_timer.start();
    Q_EMIT Changed();
}

QString TShutdownCountdown::Text() const {
    return FormatText(TranslateText(QStringLiteral("All backup tasks are done. According to the program settings, the "
                                                   "computer will be turned off after %s seconds.")),
                      {QString::number(m_remaining)});
}

void TShutdownCountdown::Second() {
    if (!m_active)
        return;
    if (m_remaining > 0) {
        --m_remaining;
        Q_EMIT Changed();
        return;
    }
    m_timer.stop();
    App().IsQuitting = true;
    if (!m_powerOff.PowerOff()) {
        Cancel();
        return;
    }
    m_active = false;
    Q_EMIT PoweringOff();
}

void TShutdownCountdown::ShutdownNow() {
    if (!m_active)
        return;
    m_remaining = 0;
    Q_EMIT Changed();
}

void TShutdownCountdown::Cancel() {
    if (!m_active)
        return;
    m_timer.stop();
    m_active = false;
    App().IsQuitting = false;
    Q_EMIT Cancelled();
}
