#pragma once

// Room platform/: one small interface per desktop service, its Linux implementation and a fake for
// tests. May use QtCore (the single instance QtNetwork, the logind clients QtDBus), nothing of ours.

// Keeps the computer from going to sleep while backup jobs run or are about to run. Block and
// Release are requests: when the system offers no way to stay awake, nothing happens, silently.
class TSleepInhibitor {
public:
    virtual ~TSleepInhibitor() = default;
    // Asks the system to stay awake until Release. Asking again while blocked changes nothing.
    virtual void Block() = 0;
    // Lets the system sleep again.
    virtual void Release() = 0;
};
