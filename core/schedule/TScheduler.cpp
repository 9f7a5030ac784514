#include "core/schedule/TScheduler.h"

#include "core/base/TClock.h"
#include "core/base/TextFormat.h"
#include "core/model/TJobLock.h"
#include "core/schedule/Scheduling.h"
#include "core/settings/TAppGlobals.h"
#include "core/startup/TApplicationContext.h"
#include "platform/TSleepInhibitor.h"

#include <QStringList>

#include <exception>

namespace {

// Clears TickBusy however the tick ends.
class TBusyScope {
public:
    explicit TBusyScope(bool& busy)
        : m_busy(busy) {
        m_busy = true;
    }
    ~TBusyScope() { m_busy = false; }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    bool& m_busy;
};

// The cloud service of a job in one spelling: a job file or command line may write the name in any
// letter case and without its blank ("onedrive"), and the connection accepts all of them.
QString CloudServiceOf(const TJob& job) {
    if (job.DestinationSettings.DestinationType != dtCloud)
        return {};
    return job.DestinationSettings.Cloud.ServiceName.toLower().remove(u' ');
}

} // namespace

TScheduler::TScheduler(TApplicationContext& context, TClock& clock, TSleepInhibitor& sleepInhibitor,
                       TPowerOff& powerOff, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_clock(clock)
    , m_sleepInhibitor(sleepInhibitor)
    , m_countdown(powerOff) {
    m_timer.setInterval(TickIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &TScheduler::Tick);
    connect(&m_countdown, &TShutdownCountdown::Cancelled, this, &TScheduler::OnShutdownCancelled);
}

TScheduler::~TScheduler() {
    if (m_sleepBlocked)
        m_sleepInhibitor.Release();
}

void TScheduler::Start() {
    if (!m_timer.isActive())
        m_timer.start();
}

void TScheduler::Stop() {
    m_timer.stop();
}

QDateTime TScheduler::Now() const {
    return m_clock.Now();
}

bool TScheduler::AnyJobActive() const {
    TJobList& jobs = m_context.Jobs();
    for (int i = 0; i < jobs.Count(); ++i)
        if (jobs.At(i)->IsActive())
            return true;
    return false;
}

bool TScheduler::AllJobsIdle() const {
    TJobList& jobs = m_context.Jobs();
    for (int i = 0; i < jobs.Count(); ++i)
        if (jobs.At(i)->JobStatus != jsNone)
            return false;
    return true;
}

void TScheduler::Tick() {
    TAppGlobals& app = App();
    if (m_tickBusy || app.IsQuitting)
        return;
    const TBusyScope busy(m_tickBusy);
    if (Hooks.BeforeTick)
        Hooks.BeforeTick();
    ReleaseIdleJobLocks();
    const QDateTime now = m_clock.Now();
    TJobList& jobs = m_context.Jobs();
    TSchedulerTickCounts counts;
    QList<TJob*> waiting;
    QStringList servicesInUse;
    bool needsElevation = false;

    // Count, decide which jobs are due and collect the waiting ones, in list order.
    QList<TJob*> ended;
    std::set<const TJob*> stillActive;
    for (int i = 0; i < jobs.Count(); ++i) {
        TJob& job = *jobs.At(i);
        const TSchedulingSettings& schedule = job.SchedulingSettings;
        ++counts.Jobs;
        if (job.IsActive())
            stillActive.insert(&job);
        else if (m_seenActive.contains(&job))
            ended.append(&job);
        if (IsScheduledXDaysFromNow(schedule, 1, now))
            counts.DueSoon = true;
        if (schedule.SchedulingType != stDisabled && job.Kind() != TJobKind::FilesAndFolders)
            needsElevation = true;
        if (Hooks.ApplyFilter)
            Hooks.ApplyFilter(job);
        if (job.IsActive()) {
            ++counts.Active;
            const QString service = CloudServiceOf(job);
            if (!service.isEmpty() && !servicesInUse.contains(service))
                servicesInUse.append(service);
        } else if (schedule.SchedulingType != stDisabled &&
                   IsScheduledStartDue(schedule, job.LastJobResult.StartTime, now)) {
            job.JobStatus = jsWaiting;
            job.RequestRepaint();
            // Only the run of the day's last start turns the computer off afterwards.
            if (!m_shutdownPending && schedule.ShutdownPCInTheEnd && IsDaysLastStart(schedule, now))
                m_shutdownPending = true;
        }
        if (job.JobStatus == jsWaiting)
            waiting.append(&job);
        if (job.LastJobResult.Cancelled)
            ++counts.Cancelled;
    }
    counts.Waiting = int(waiting.size());
    m_counts = counts;
    // Jobs that left the list are forgotten without a word.
    m_seenActive = std::move(stillActive);
    if (Hooks.JobEnded)
        for (TJob* job : std::as_const(ended))
            Hooks.JobEnded(*job);

    if (Hooks.UpdatePanels)
        Hooks.UpdatePanels(counts);

    // Start waiting jobs within the concurrency rules.
    if (!app.Options.Processing.RunOnlyOneJobAtATime) {
        for (TJob* job : std::as_const(waiting)) {
            // Two jobs never use one cloud service at the same time.
            const QString service = CloudServiceOf(*job);
            if (!service.isEmpty()) {
                if (servicesInUse.contains(service))
                    continue;
                servicesInUse.append(service);
            }
            Dispatch(*job);
        }
    } else if (!waiting.isEmpty() && !AnyJobActive()) {
        Dispatch(*waiting.first());
    }

    m_context.FlushEventsLog();
    if (Hooks.Refresh)
        Hooks.Refresh(counts);

    // The shutdown after the day's last run waits until every job is idle.
    if (m_shutdownPending && AllJobsIdle()) {
        Stop();
        if (!m_countdown.IsActive()) {
            m_countdown.Begin();
            if (Hooks.ShowShutdownDialog)
                Hooks.ShowShutdownDialog();
        }
    }

    // Stay awake while jobs run or wait, and, when the options say so, while a start is due
    // today or tomorrow.
    const bool keepAwakeForSchedule = counts.DueSoon && app.Options.General.BlockSleepModeifJobIsScheduled;
    const bool jobsAtWork = counts.Active > 0 || counts.Waiting > 0;
    if (!jobsAtWork && m_sleepBlocked && !keepAwakeForSchedule) {
        m_sleepInhibitor.Release();
        m_sleepBlocked = false;
    } else if (!m_sleepBlocked && (jobsAtWork || keepAwakeForSchedule)) {
        m_sleepInhibitor.Block();
        m_sleepBlocked = true;
    }

    // The one elevation attempt per process: there is no relaunch here (see the class comment),
    // so the attempt ends as a declined one would, with the instance marked.
    if (!app.IsElevatedInstance && needsElevation && counts.Active == 0 && counts.Waiting == 0)
        app.IsElevatedInstance = true;
}

bool TScheduler::Dispatch(TJob& job) {
    switch (job.Kind()) {
    case TJobKind::DriveImage:
        // An image reads whole volumes: it runs alone. Jobs started earlier in this tick count.
        if (AnyJobActive())
            return false;
        return StartJob(job);
    case TJobKind::FilesAndFolders:
    case TJobKind::AppsData:
        return StartJob(job);
    }
    return false;
}

bool TScheduler::StartJob(TJob& job) {
    auto lock = std::make_unique<TJobLock>();
    if (!lock->TryLock(App().ApplicationDirectory, job.stJobName)) {
        if (lock->HeldElsewhere()) {
            // Another process (a command-line run) has the job; it starts here once that run ends.
            if (m_reportedBusyElsewhere.insert(&job).second) {
                const QString text =
                    FormatText(TranslateText(QStringLiteral(
                                   "The job \"%s\" is running in another process. It starts when that run ends.")),
                               {job.stJobName});
                App().EventsLog.AddToEventsLog(text);
                if (Hooks.StartFailed)
                    Hooks.StartFailed(job, text);
            }
            return false;
        }
        // No lock file can be made in the data folder: the run is not held back for that.
        lock.reset();
    }
    if (Hooks.MayStart && !Hooks.MayStart(job))
        return false;
    m_reportedBusyElsewhere.erase(&job);
    try {
        job.Backup();
    } catch (const std::exception& error) {
        AbandonStart(job, QString::fromLocal8Bit(error.what()));
        return false;
    } catch (...) {
        AbandonStart(job, TranslateText(QStringLiteral("Unexpected error.")));
        return false;
    }
    if (lock)
        m_jobLocks[&job] = std::move(lock);
    // A run that ends before the next tick looks is still seen ending.
    m_seenActive.insert(&job);
    return true;
}

void TScheduler::AbandonStart(TJob& job, const QString& error) {
    // A run that could not even begin (no thread for its worker) must not leave the job looking
    // active for ever, and the exception must not reach the event loop.
    job.JobStatus = jsNone;
    const QString text = TranslateText(QStringLiteral("ERROR:")) + u' ' + job.stJobName + QStringLiteral(": ") + error;
    App().EventsLog.AddToEventsLog(text);
    if (Hooks.StartFailed)
        Hooks.StartFailed(job, text);
}

void TScheduler::ReleaseIdleJobLocks() {
    TJobList& jobs = m_context.Jobs();
    for (auto it = m_jobLocks.begin(); it != m_jobLocks.end();) {
        const int index = jobs.IndexOf(it->first);
        if (index < 0 || !jobs.At(index)->IsActive())
            it = m_jobLocks.erase(it);
        else
            ++it;
    }
    for (auto it = m_reportedBusyElsewhere.begin(); it != m_reportedBusyElsewhere.end();) {
        const int index = jobs.IndexOf(*it);
        if (index < 0 || jobs.At(index)->JobStatus != jsWaiting)
            it = m_reportedBusyElsewhere.erase(it);
        else
            ++it;
    }
}

void TScheduler::OnShutdownCancelled() {
    m_shutdownPending = false;
    Start();
}
