#include "core/base/TClock.h"

TClock& TClock::System() {
    static TClock clock;
    return clock;
}
