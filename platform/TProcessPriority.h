#pragma once

#include <cstdint>

// The process priority class of the options: 0 idle, 1 normal, 2 high, 3 real-time.
class TProcessPriority {
public:
    virtual ~TProcessPriority() = default;
    // Any other value leaves the priority unchanged. Refusals by the system are ignored.
    virtual void SetPriorityClass(int32_t priorityClass) = 0;
};
