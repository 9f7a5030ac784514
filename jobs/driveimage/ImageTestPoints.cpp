#include "jobs/driveimage/ImageTestPoints.h"

#ifdef VAULTORA_TEST_HOOKS

#include <QByteArray>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

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

void ImageCrashPoint(const char* name) {
    static const QByteArray wanted = qgetenv("VAULTORA_TEST_CRASH_AT");
    static std::atomic<int> reached{0};
    if (ReachedAsWanted(wanted, name, reached))
        ::_exit(86);
}

void ImagePausePoint(const char* name, const std::function<void(const char*)>& say,
                     const std::function<bool()>& released) {
    static const QByteArray wanted = qgetenv("VAULTORA_TEST_PAUSE_AT");
    static std::atomic<int> reached{0};
    static std::atomic<bool> done{false};
    if (done || !ReachedAsWanted(wanted, name, reached) || done.exchange(true))
        return;
    say((std::string("test pause: ") + name).c_str());
    while (!released())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool ImageSyncSkipped() {
    static const bool skipped = !qgetenv("VAULTORA_TEST_NO_SYNC").isEmpty();
    return skipped;
}

#else

bool ImageSyncSkipped() {
    return false;
}

void ImageCrashPoint(const char*) {}

void ImagePausePoint(const char*, const std::function<void(const char*)>&, const std::function<bool()>&) {}

#endif
