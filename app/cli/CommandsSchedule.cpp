// The schedule of a job and the scheduler without windows: schedule, run-scheduler.

#include "app/cli/Commands.h"
#include "app/cli/ScheduleFlags.h"
#include "app/cli/TCliContext.h"

#include "core/base/TClock.h"
#include "core/model/TJobLock.h"
#include "core/schedule/TJobFileSync.h"
#include "core/schedule/TScheduler.h"
#include "core/settings/TAppGlobals.h"
#include "platform/TLogindPowerOff.h"
#include "platform/TLogindSleepInhibitor.h"
#include "platform/TSingleInstance.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdlib>

namespace {

volatile std::sig_atomic_t StopRequested = 0;

void OnStopSignal(int) {
    StopRequested = 1;
}

// How often the command looks for SIGINT and SIGTERM.
constexpr int StopCheckMs = 100;

} // namespace

int CommandSchedule(TCliContext& context) {
    TSchedulingSettings schedule;
    QString message;
    const TScheduleFlags flags = TakeScheduleFlags(context, schedule, message);
    if (flags == TScheduleFlags::Invalid)
        return context.Usage(message);
    if (context.Args.size() != 1 || flags == TScheduleFlags::None)
        return context.Usage(QStringLiteral("usage: schedule NAME ") + ScheduleFlagsUsage());
    TJobLock lock;
    TJob* job = context.RequireLockedJob(context.Args.first(), lock);
    if (!job)
        return ceUsage;
    if (flags == TScheduleFlags::DisabledOnly) {
        job->SchedulingSettings.SchedulingType = stDisabled;
        job->SchedulingSettings.LastModificationDateTime = schedule.LastModificationDateTime;
    } else {
        job->SchedulingSettings = schedule;
    }
    if (!job->SaveLocalJobFile(job->LocalJobFilePath())) {
        context.Err << "vaultora-cli: cannot save the job file " << job->LocalJobFilePath() << Qt::endl;
        return ceErrors;
    }
    context.Out << "The schedule of job \"" << job->stJobName << "\" is saved." << Qt::endl;
    return ceOk;
}

int CommandRunScheduler(TCliContext& context) {
    if (!context.Args.isEmpty())
        return context.Usage(QStringLiteral("usage: run-scheduler"));
    const QString folder = App().ApplicationDirectory;
    // The same instance lock as the windowed program: one scheduler per data folder.
    TSingleInstance instance(folder);
    switch (instance.Start(true, QString())) {
    case TSingleInstance::TRole::Primary:
        break;
    case TSingleInstance::TRole::Independent:
        context.Err << "vaultora-cli: another Vaultora instance already runs the jobs of " << folder << Qt::endl;
        return ceUsage;
    case TSingleInstance::TRole::HandedOver:
    case TSingleInstance::TRole::Failed:
        context.Err << "vaultora-cli: " << instance.ErrorText() << Qt::endl;
        return ceErrors;
    }
    QObject::connect(&instance, &TSingleInstance::ShowRequested, &instance, [&context] {
        context.Err << "vaultora-cli: a window was asked for; this instance runs without one (stop run-scheduler "
                       "to use the window)"
                    << Qt::endl;
    });

    TApplicationContext& application = context.Application();
    // The events log goes to stdout as each tick moves the new lines in.
    TEventsLogModel& events = application.EventsLog();
    QObject::connect(&events, &TEventsLogModel::rowsInserted, &events,
                     [&context, &events](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             context.Out << events.data(events.index(row)).toString() << '\n';
                         context.Out.flush();
                     });

    TLogindSleepInhibitor sleepInhibitor;
    TLogindPowerOff powerOff;
    TScheduler scheduler(application, TClock::System(), sleepInhibitor, powerOff);
    TJobFileSync files(application.Jobs());
    scheduler.Hooks.BeforeTick = [&files] { files.Refresh(); };
    scheduler.Hooks.MayStart = [&files](TJob& job) { return files.IsCurrent(job); };

    // Without a dialog the countdown shows in the output; stopping the program cancels it.
    TShutdownCountdown& countdown = scheduler.ShutdownCountdown();
    scheduler.Hooks.ShowShutdownDialog = [&context, &countdown] { context.Out << countdown.Text() << Qt::endl; };
    QObject::connect(&countdown, &TShutdownCountdown::Changed, &countdown, [&context, &countdown] {
        if (countdown.Remaining() > 0 && countdown.Remaining() % 10 == 0)
            context.Out << countdown.Text() << Qt::endl;
    });
    QObject::connect(&countdown, &TShutdownCountdown::Cancelled, &countdown,
                     [&context] { context.Err << "vaultora-cli: the computer was not turned off" << Qt::endl; });
    QObject::connect(&countdown, &TShutdownCountdown::PoweringOff, &countdown, [] { QCoreApplication::exit(ceOk); });

    StopRequested = 0;
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    QTimer stopCheck;
    stopCheck.setInterval(StopCheckMs);
    QObject::connect(&stopCheck, &QTimer::timeout, &stopCheck, [] {
        if (StopRequested)
            QCoreApplication::exit(ceOk);
    });
    stopCheck.start();

    context.Err << "vaultora-cli: running the jobs of " << folder << " on schedule; stop with Ctrl-C" << Qt::endl;
    scheduler.Start();
    scheduler.Tick();
    const int code = QCoreApplication::exec();

    // Quitting as the window does: cancel what runs and wait a little for it.
    App().IsQuitting = true;
    scheduler.Stop();
    const bool stopped = application.CancelAllAndWait(TQuitWaiter::Sleeping());
    application.FlushEventsLog();
    if (!stopped) {
        // The rest is abandoned, as the window abandons it when it closes; waiting for a worker
        // here could take as long as the file it is copying.
        context.Err << "vaultora-cli: jobs still running after " << TApplicationContext::QuitWaitLimitMs / 1000
                    << " seconds were abandoned" << Qt::endl;
        context.Out.flush();
        std::_Exit(code);
    }
    return code;
}
