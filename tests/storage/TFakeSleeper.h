#pragma once

#include "storage/TSleeper.h"

#include <functional>

// Sleeps without time passing: adds up what was asked for and lets the test act on each call
// (resume or cancel a job, bring a destination back).
class TFakeSleeper : public TSleeper {
public:
    void Sleep(int milliseconds) override {
        ++Calls;
        TotalMilliseconds += milliseconds;
        if (OnSleep)
            OnSleep(Calls);
    }

    int Calls = 0;
    long long TotalMilliseconds = 0;
    std::function<void(int call)> OnSleep;
};
