#pragma once

#include <map>
#include <memory>

class TJob;
class TJobList;
class TJobLock;

// The per-job locks the window holds while it runs a job, so that a command-line run of the same
// job is refused (and the window refuses a job the command line runs). A lock is taken when an
// action or the scheduler makes a job busy and given back once the job is idle again.
class TJobLockKeeper {
public:
    TJobLockKeeper();
    ~TJobLockKeeper();
    TJobLockKeeper(const TJobLockKeeper&) = delete;
    TJobLockKeeper& operator=(const TJobLockKeeper&) = delete;

    // Takes the job's lock unless this window holds it already; false when another process holds it.
    bool Acquire(const TJob& job);
    bool Holds(const TJob& job) const;
    void Release(const TJob& job);
    // Gives back the locks of idle jobs, and of jobs no longer in the list.
    void ReleaseIdle(const TJobList& jobs);

private:
    std::map<const TJob*, std::unique_ptr<TJobLock>> m_locks;
};
