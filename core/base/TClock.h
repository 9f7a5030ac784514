#pragma once

#include <QDateTime>

// The wall clock the scheduler reads. Tests hand the scheduler a TFakeClock so that due starts,
// missed starts and day changes can be checked at any moment without waiting for it.
class TClock {
public:
    virtual ~TClock() = default;
    // Local time.
    virtual QDateTime Now() const { return QDateTime::currentDateTime(); }

    // The system clock.
    static TClock& System();
};
