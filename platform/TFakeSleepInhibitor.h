#pragma once

#include "platform/TSleepInhibitor.h"

#include <QStringList>

// Records the requests instead of keeping the test machine awake.
class TFakeSleepInhibitor : public TSleepInhibitor {
public:
    bool Blocked = false;
    QStringList Requests; // "block" and "release", in order

    void Block() override {
        Blocked = true;
        Requests.append(QStringLiteral("block"));
    }
    void Release() override {
        Blocked = false;
        Requests.append(QStringLiteral("release"));
    }
};
