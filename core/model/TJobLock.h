#pragma once

#include <QString>

// Keeps one job running in one process at a time: a lock file per job in the data folder, held
// (flock) for as long as this object lives. A second process that wants the same job, such as a
// command-line run while the window runs it, is refused. The lock goes with the process, so a
// crash never leaves a job locked.
class TJobLock {
public:
    TJobLock() = default;
    ~TJobLock();
    TJobLock(const TJobLock&) = delete;
    TJobLock& operator=(const TJobLock&) = delete;

    // Takes the lock of jobName in the data folder; false when another process holds it, or when
    // the lock file cannot be made (HeldElsewhere tells the two apart).
    bool TryLock(const QString& applicationDirectory, const QString& jobName);
    // The last TryLock failed because another process holds the lock.
    bool HeldElsewhere() const { return m_heldElsewhere; }
    void Unlock();
    bool IsLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
};
