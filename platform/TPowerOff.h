#pragma once

// Turns the computer off after the day's last scheduled run.
class TPowerOff {
public:
    virtual ~TPowerOff() = default;
    // True when the system has accepted the request and is going down; false when it refused
    // (no right to do so, no service to ask).
    virtual bool PowerOff() = 0;
};
