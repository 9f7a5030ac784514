#pragma once

#include "platform/TPowerOff.h"

// Answers with a chosen result and counts the requests, instead of turning the test machine off.
class TFakePowerOff : public TPowerOff {
public:
    bool Accept = true;
    int Requests = 0;

    bool PowerOff() override {
        ++Requests;
        return Accept;
    }
};
