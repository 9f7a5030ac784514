#pragma once

// Room core/schedule/: due decisions, the one-second tick and the shutdown countdown. May use every
// other core room and platform/.

#include "core/schedule/TShutdownCountdown.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <set>

class TApplicationContext;
class TClock;
class TJob;
class TJobLock;
class TPowerOff;
class TSleepInhibitor;

// What one tick counted, for the window's header and status bar.
struct TSchedulerTickCounts {
    int Jobs = 0;
    int Active = 0;    // running, cancelling or paused when the tick began
    int Waiting = 0;   // waiting when the tick decided, including the jobs it started
    int Cancelled = 0; // jobs whose last run was cancelled
    bool DueSoon = false;
};

// The one-second tick that starts jobs: it decides which jobs are due, starts waiting jobs within
// the concurrency rules, keeps the computer awake while jobs run or are due, and arms and shows
// the shutdown after the day's last scheduled run. Jobs are started only here; everything else
// only sets a job waiting. The window and "vaultora-cli run-scheduler" each own one; interface
// thread only.
//
// The scheduler also keeps a job from running in two processes at once: it holds the job's lock
// (TJobLock) from the start of a run until it sees the job idle again, and a job that another
// process holds stays waiting.
//
// No relaunch with more rights: on this platform the program never restarts itself as root (the
// drive-image tool asks polkit for the rights it needs), so every job starts in this instance.
// The tick still notes when scheduled drive-image or application-data jobs exist and then marks
// the instance elevated once, as it would after its one relaunch attempt.
class TScheduler : public QObject {
    Q_OBJECT
public:
    static constexpr int TickIntervalMs = 1000;

    // Where the window takes part in a tick. Each may be empty.
    struct THooks {
        // First in every tick that runs: "run-scheduler" reloads job files changed by other
        // processes here.
        std::function<void()> BeforeTick;
        // For every job: the current filter or search decides the job's visibility.
        std::function<void(TJob& job)> ApplyFilter;
        // Before jobs start: the panel shown when no job is visible, the header and the search
        // texts.
        std::function<void(const TSchedulerTickCounts& counts)> UpdatePanels;
        // After jobs started and the events log was flushed: the job list, the toolbar and menus
        // for the selected job and the status-bar panels.
        std::function<void(const TSchedulerTickCounts& counts)> Refresh;
        // Once the day's last run is over and every job is idle: show the shutdown dialog over
        // ShutdownCountdown(), which has just begun (the tick timer is stopped meanwhile).
        std::function<void()> ShowShutdownDialog;
        // Asked right before a waiting job starts; false leaves it waiting for a later tick.
        std::function<bool(TJob& job)> MayStart;
        // A run this scheduler saw active is over: the job is idle and LastJobResult holds how
        // the run ended. Called in the first tick that sees it, before jobs start.
        std::function<void(TJob& job)> JobEnded;
        // A waiting job could not start: its run could not begin, or another process runs the job
        // (once per wait). text is the events-log line the scheduler wrote about it.
        std::function<void(TJob& job, const QString& text)> StartFailed;
    };

    TScheduler(TApplicationContext& context, TClock& clock, TSleepInhibitor& sleepInhibitor, TPowerOff& powerOff,
               QObject* parent = nullptr);
    ~TScheduler() override;

    THooks Hooks;

    // The one-second timer.
    void Start();
    void Stop();
    bool IsRunning() const { return m_timer.isActive(); }

    // One tick; returns at once while a tick is in progress or the program is quitting.
    void Tick();

    // A tick is in progress: the window's job actions refuse meanwhile.
    bool TickBusy() const { return m_tickBusy; }
    // The computer is to be turned off once every job is idle.
    bool ShutdownPending() const { return m_shutdownPending; }
    // The program asks the system to stay awake.
    bool SleepBlocked() const { return m_sleepBlocked; }
    const TSchedulerTickCounts& LastCounts() const { return m_counts; }
    TShutdownCountdown& ShutdownCountdown() { return m_countdown; }
    // The scheduler's clock, for the window's "Scheduled" filters.
    QDateTime Now() const;
    // Gives back the locks of the jobs it started that are no longer active. Every tick begins
    // with it; the window calls it before taking a job's lock for an action of its own (a restore
    // right after a run), which would otherwise be refused until the next tick.
    void ReleaseIdleJobLocks();

private:
    bool AnyJobActive() const;
    bool AllJobsIdle() const;
    // Starts a waiting job by its kind; false when it has to wait for a later tick.
    bool Dispatch(TJob& job);
    bool StartJob(TJob& job);
    void AbandonStart(TJob& job, const QString& error);
    void OnShutdownCancelled();

    TApplicationContext& m_context;
    TClock& m_clock;
    TSleepInhibitor& m_sleepInhibitor;
    TShutdownCountdown m_countdown;
    QTimer m_timer;
    bool m_tickBusy = false;
    bool m_shutdownPending = false;
    bool m_sleepBlocked = false;
    TSchedulerTickCounts m_counts;
    // Locks of the jobs this scheduler started, until it sees them idle. The pointers are only
    // compared with the list's jobs, never followed on their own: a job may have left the list.
    std::map<const TJob*, std::unique_ptr<TJobLock>> m_jobLocks;
    // Waiting jobs already reported as running in another process (once per wait).
    std::set<const TJob*> m_reportedBusyElsewhere;
    // Jobs seen active (or started) and not yet seen idle again, for JobEnded. Compared only, as
    // m_jobLocks.
    std::set<const TJob*> m_seenActive;
};
