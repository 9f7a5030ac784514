#pragma once

#include "platform/TProcessPriority.h"

#include <QList>

// Records the priority classes asked for, instead of changing the test process.
class TFakeProcessPriority : public TProcessPriority {
public:
    QList<int32_t> Requests;
    void SetPriorityClass(int32_t priorityClass) override { Requests.append(priorityClass); }
};
