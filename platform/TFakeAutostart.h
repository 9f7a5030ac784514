#pragma once

#include "platform/TAutostart.h"

// Stands in for the autostart entry in tests: remembers the state and answers with a chosen
// result.
class TFakeAutostart : public TAutostart {
public:
    TResult NextResult = TResult::Done;
    bool On = false;
    int Calls = 0;

    TResult SetAutostart(bool on) override {
        ++Calls;
        if (NextResult == TResult::Done)
            On = on;
        return NextResult;
    }
    bool IsAutostartOn() const override { return On; }
    QString Location() const override { return QStringLiteral("/fake/autostart"); }
};
