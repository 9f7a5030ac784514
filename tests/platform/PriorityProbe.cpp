// Sets a priority class on itself and prints the nice values of a thread that existed before,
// of the main thread and of a thread started after: "before main after".

#include "platform/TLinuxProcessPriority.h"

#include <QString>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

int OwnNice() {
    return ::getpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 64;
    std::mutex lock;
    std::condition_variable changed;
    bool set = false;
    int before = 0;
    std::thread early([&] {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return set; });
        before = OwnNice();
    });
    TLinuxProcessPriority().SetPriorityClass(QString::fromLocal8Bit(argv[1]).toInt());
    {
        std::lock_guard guard(lock);
        set = true;
    }
    changed.notify_all();
    early.join();
    int after = 0;
    std::thread late([&] { after = OwnNice(); });
    late.join();
    std::printf("%d %d %d\n", before, OwnNice(), after);
    return 0;
}
