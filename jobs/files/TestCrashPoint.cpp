#include "jobs/files/TestCrashPoint.h"

#ifdef VAULTORA_TEST_HOOKS

#include <QByteArray>

#include <atomic>
#include <cstdlib>
#include <unistd.h>

void TestCrashPoint(const char* name) {
    static const QByteArray wanted = qgetenv("VAULTORA_TEST_CRASH_AT");
    static std::atomic<int> reached{0};
    if (wanted.isEmpty())
        return;
    const qsizetype colon = wanted.indexOf(':');
    const QByteArray point = colon < 0 ? wanted : wanted.left(colon);
    const int times = colon < 0 ? 1 : wanted.mid(colon + 1).toInt();
    if (point != name)
        return;
    if (++reached >= times)
        ::_exit(86);
}

#else

void TestCrashPoint(const char*) {}

#endif
