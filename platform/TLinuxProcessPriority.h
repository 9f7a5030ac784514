#pragma once

#include "platform/TProcessPriority.h"

#include <optional>

// Priority classes as nice values: idle 19, normal 0, high -5, real-time -10.
class TLinuxProcessPriority : public TProcessPriority {
public:
    void SetPriorityClass(int32_t priorityClass) override;

    static std::optional<int> NiceValueFor(int32_t priorityClass);
};
