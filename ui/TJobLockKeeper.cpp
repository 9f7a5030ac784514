#include "ui/TJobLockKeeper.h"

#include "core/model/TJob.h"
#include "core/model/TJobList.h"
#include "core/model/TJobLock.h"
#include "core/settings/TAppGlobals.h"

TJobLockKeeper::TJobLockKeeper() = default;
TJobLockKeeper::~TJobLockKeeper() = default;

bool TJobLockKeeper::Acquire(const TJob& job) {
    if (Holds(job))
        return true;
    auto lock = std::make_unique<TJobLock>();
    if (!lock->TryLock(App().ApplicationDirectory, job.stJobName))
        return false;
    m_locks[&job] = std::move(lock);
    return true;
}

bool TJobLockKeeper::Holds(const TJob& job) const {
    return m_locks.count(&job) > 0;
}

void TJobLockKeeper::Release(const TJob& job) {
    m_locks.erase(&job);
}

void TJobLockKeeper::ReleaseIdle(const TJobList& jobs) {
    for (auto it = m_locks.begin(); it != m_locks.end();) {
        const int index = jobs.IndexOf(it->first);
        if (index < 0 || jobs.At(index)->JobStatus == jsNone)
            it = m_locks.erase(it);
        else
            ++it;
    }
}
