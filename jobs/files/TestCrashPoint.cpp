#include "jobs/files/TestCrashPoint.h"

#ifdef VAULTORA_TEST_HOOKS

#include "storage/TSleeper.h"

#include <QByteArray>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// True when wanted ("name" or "name:N") names this point and it is reached for the N-th time.
bool ReachedAsWanted(const QByteArray& wanted, const char* name, std::atomic<int>& reached) {
    if (wanted.isEmpty())
        return false;
    const qsizetype colon = wanted.indexOf(':');
    const QByteArray point = colon < 0 ? wanted : wanted.left(colon);
    const int times = colon < 0 ? 1 : wanted.mid(colon + 1).toInt();
    if (point != name)
        return false;
    return ++reached >= times;
}

} // namespace

void TestCrashPoint(const char* name) {
    static const QByteArray wanted = qgetenv("VAULTORA_TEST_CRASH_AT");
    static std::atomic<int> reached{0};
    if (ReachedAsWanted(wanted, name, reached))
        ::_exit(86);
}

void TestPausePoint(const char* name, TSleeper& sleeper, const std::function<bool()>& released) {
    static const QByteArray wanted = qgetenv("VAULTORA_TEST_PAUSE_AT");
    static std::atomic<int> reached{0};
    static std::atomic<bool> done{false};
    if (done || !ReachedAsWanted(wanted, name, reached) || done.exchange(true))
        return;
    std::fprintf(stderr, "test pause: %s\n", name);
    std::fflush(stderr);
    while (!released())
        sleeper.Sleep(10);
}

#else

void TestCrashPoint(const char*) {}

void TestPausePoint(const char*, TSleeper&, const std::function<bool()>&) {}

#endif
