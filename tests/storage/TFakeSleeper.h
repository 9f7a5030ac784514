#pragma once

#include "core/base/TFakeClock.h"
#include "storage/TSleeper.h"

#include <functional>

// Sleeps without real time passing: adds up what was asked for, moves the fake clock (when
// given) on by it, and lets the test act on each call (resume or cancel a job, bring a
// destination back).
class TFakeSleeper : public TSleeper {
public:
    void Sleep(int milliseconds) override {
        ++Calls;
        TotalMilliseconds += milliseconds;
        if (Clock)
            Clock->AdvanceMs(milliseconds);
        if (OnSleep)
            OnSleep(Calls);
    }

    int Calls = 0;
    long long TotalMilliseconds = 0;
    std::function<void(int call)> OnSleep;
    TFakeClock* Clock = nullptr;
};
