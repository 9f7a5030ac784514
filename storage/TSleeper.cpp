#include "storage/TSleeper.h"

#include <chrono>
#include <thread>

TSleeper::~TSleeper() = default;

void TSleeper::Sleep(int milliseconds) {
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TSleeper& TSleeper::System() {
    static TSleeper sleeper;
    return sleeper;
}
