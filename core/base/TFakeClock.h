#pragma once

#include "core/base/TClock.h"

// A clock that stands still until the test moves it.
class TFakeClock : public TClock {
public:
    explicit TFakeClock(const QDateTime& now = QDateTime())
        : m_now(now) {}

    QDateTime Now() const override { return m_now; }
    void Set(const QDateTime& now) { m_now = now; }
    void AdvanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }
    void AdvanceSeconds(qint64 seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
};
