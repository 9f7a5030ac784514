#include "platform/TLinuxProcessPriority.h"

#include <QDir>

#include <sys/resource.h>

std::optional<int> TLinuxProcessPriority::NiceValueFor(int32_t priorityClass) {
    switch (priorityClass) {
    case 0:
        return 19;
    case 1:
        return 0;
    case 2:
        return -5;
    case 3:
        return -10;
    default:
        return std::nullopt;
    }
}

void TLinuxProcessPriority::SetPriorityClass(int32_t priorityClass) {
    const std::optional<int> nice = NiceValueFor(priorityClass);
    if (!nice)
        return;
    // On Linux a nice value belongs to a thread, not to the process: set it on every thread that
    // exists now; threads started later inherit it from the thread that starts them.
    const QStringList threads = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    bool any = false;
    for (const QString& name : threads) {
        bool ok = false;
        const id_t tid = id_t(name.toUInt(&ok));
        if (ok) {
            ::setpriority(PRIO_PROCESS, tid, *nice);
            any = true;
        }
    }
    if (!any)
        ::setpriority(PRIO_PROCESS, 0, *nice);
}
