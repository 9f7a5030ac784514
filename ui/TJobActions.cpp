#include "ui/TJobActions.h"

#include "ui/TAppsRestoreFlow.h"
#include "ui/TFilesRestoreFlow.h"
#include "ui/TInputBox.h"
#include "ui/TJobLockKeeper.h"
#include "ui/TJobWizard.h"
#include "ui/TMessageBox.h"
#include "ui/TfrmJobProperties.h"
#include "ui/TfrmOpenJobDialog.h"
#include "ui/TfrmSourceType.h"
#include "ui/UiTr.h"

#include "core/model/JobLogLookup.h"
#include "core/model/JobNameCheck.h"
#include "core/model/TJobList.h"
#include "core/schedule/TJobFileSync.h"
#include "core/schedule/TScheduler.h"
#include "core/startup/TApplicationContext.h"
#include "jobs/OpenStoredJob.h"
#include "jobs/appdata/TJob_AppsData.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "storage/ChangeName.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTimer>

namespace {

// How often a restore started from the window is looked at until it ends.
constexpr int RestoreWatchIntervalMs = 200;

// A job's name as a question names it, so that a name with blanks reads as one.
QString Quoted(const QString& name) {
    return u'"' + name + u'"';
}

// The busy cursor while the window waits for the destination (rename, removal).
class TBusyCursor {
public:
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

} // namespace

TJobActions::TJobActions(TApplicationContext& context, TScheduler& scheduler, TJobLockKeeper& locks, QWidget* window,
                         THooks hooks)
    : QObject(window)
    , m_context(context)
    , m_scheduler(scheduler)
    , m_locks(locks)
    , m_window(window)
    , m_hooks(std::move(hooks)) {}

void TJobActions::SetWizard(TJobKind kind, TJobWizard* wizard) {
    m_wizards[kind] = wizard;
}

TJobWizard* TJobActions::WizardFor(TJobKind kind) const {
    const auto found = m_wizards.find(kind);
    return found != m_wizards.end() ? found->second : nullptr;
}

int TJobActions::RunDialog(QDialog& dialog) {
    return m_hooks.RunDialog ? m_hooks.RunDialog(dialog) : dialog.exec();
}

TJob* TJobActions::IdleSelectedJob(bool refusedWhileTickBusy) {
    TJob* job = m_hooks.SelectedJob();
    if (!job)
        return nullptr;
    if (job->JobStatus != jsNone || (refusedWhileTickBusy && m_scheduler.TickBusy())) {
        TMessageBox::Warning(m_window, JobNotIdleText());
        return nullptr;
    }
    return job;
}

bool TJobActions::RefuseWhileTickBusy() {
    if (!m_scheduler.TickBusy())
        return false;
    TMessageBox::Warning(m_window, JobNotIdleText());
    return true;
}

QString TJobActions::AskNewJobName(const QString& caption, const QString& prompt, const QString& suggestion) {
    QString typed = suggestion;
    if (!TInputBox::GetText(m_window, caption, prompt, typed))
        return {};
    const TJobNameCheck check = CheckJobName(typed, m_context.Jobs());
    if (check.Verdict != TJobNameVerdict::Accepted) {
        TMessageBox::Error(m_window, check.Message);
        return {};
    }
    return check.Name;
}

void TJobActions::NewJob() {
    TfrmSourceType chooser(m_window);
    const int kind = RunDialog(chooser);
    if (kind < 1 || kind > 3)
        return;
    const QString name = AskNewJobName(Tr(u"New Job"), Tr(u"New job name:"), QString());
    if (name.isEmpty())
        return;
    CreateJobWithWizard(kind, name, nullptr);
}

void TJobActions::Duplicate() {
    const TJob* source = IdleSelectedJob(false);
    if (!source)
        return;
    const QString name = AskNewJobName(Tr(u"Duplicate"), Tr(u"Duplicate name:"),
                                       source->stJobName + QStringLiteral(" (") + Tr(u"Duplicated") + u')');
    if (name.isEmpty())
        return;
    CreateJobWithWizard(int(source->Kind()), name, source);
}

void TJobActions::CreateJobWithWizard(int kind, const QString& name, const TJob* source) {
    TJobWizard* wizard = WizardFor(TJobKind(kind));
    if (!wizard) {
        ShowNotice(Tr(u"Jobs are created and edited in the job wizard, which is not available in this version yet. "
                      u"Meanwhile, \"vaultora-cli new\" creates files-and-folders jobs."));
        return;
    }
    TJobList& jobs = m_context.Jobs();
    std::unique_ptr<TJob> created = jobs.CreateJob(kind, name);
    if (!created)
        return;
    const TJobWizard::TResult result =
        wizard->Run(m_window, source ? TJobWizard::wmDuplicate : TJobWizard::wmNew,
                    u' ' + Tr(u"New Job") + QStringLiteral(" - ") + name, *created, source);
    if (result == TJobWizard::wrCancelled)
        return;
    TJob* job = jobs.Append(std::move(created));
    SaveJobFile(*job);
    if (!jobs.SaveJobsList())
        App().EventsLog.AddToEventsLog(Tr(u"Error: unable to save the jobs list:") + jobs.JobsListPath());
    AddToEventsLog(QStringLiteral("Created new job: \"%s\"."), name);
    m_hooks.ListChanged();
    if (jobs.Count() == 1)
        m_hooks.SelectJob(job);
    if (result == TJobWizard::wrDoneAndRun)
        BackupJob(job);
    m_hooks.Refresh();
}

void TJobActions::Properties() {
    TJob* job = IdleSelectedJob(false);
    if (!job)
        return;
    TJobWizard* wizard = WizardFor(job->Kind());
    if (!wizard) {
        TfrmJobProperties dialog(m_window);
        dialog.ShowJob(*job);
        RunDialog(dialog);
        return;
    }
    std::unique_ptr<TJob> edited = m_context.Jobs().CreateJob(int(job->Kind()), job->stJobName);
    for (;;) {
        const TJobWizard::TResult result =
            wizard->Run(m_window, TJobWizard::wmProperties, Tr(u"Properties") + QStringLiteral(" - ") + job->stJobName,
                        *edited, job);
        if (result == TJobWizard::wrCancelled)
            return;
        if (job->JobStatus != jsNone) {
            TMessageBox::Warning(m_window, Tr(u"Job is currently running.") + u'\n' + JobNotIdleText());
            continue;
        }
        job->CopySettingsFrom(*edited);
        SaveJobFile(*job);
        if (result == TJobWizard::wrDoneAndRun)
            BackupJob(job);
        m_hooks.Refresh();
        return;
    }
}

void TJobActions::OpenJob(const QString& path) {
    TfrmOpenJobDialog dialog(m_window);
    dialog.DefaultPath = path;
    RunDialog(dialog);
    if (dialog.Tag() != 1)
        return;
    OpenJobFrom(dialog.Location());
}

TJob* TJobActions::OpenJobFrom(const TStoredJobLocation& location) {
    TOpenJobResult result;
    {
        const TBusyCursor busy;
        result = OpenStoredJob(m_context.Jobs(), location, StorageBranches);
    }
    if (!result.Job) {
        TMessageBox::Error(m_window, result.Error);
        return nullptr;
    }
    // The job file the procedure saved is the job's own, not a change from outside.
    if (m_files)
        m_files->Adopt(*result.Job);
    m_hooks.ListChanged();
    if (m_context.Jobs().Count() == 1)
        m_hooks.SelectJob(result.Job);
    m_hooks.Refresh();
    return result.Job;
}

void TJobActions::Rename() {
    TJob* job = IdleSelectedJob(true);
    if (!job)
        return;
    QString typed = job->stJobName;
    if (!TInputBox::GetText(m_window, Tr(u"Rename Job"), Tr(u"New job name:"), typed))
        return;
    // The scheduler may have started the job while the box was open.
    if (job->JobStatus != jsNone) {
        TMessageBox::Warning(m_window, JobNotIdleText());
        return;
    }
    const TJobNameCheck check = CheckJobName(typed, m_context.Jobs(), job);
    if (check.Verdict == TJobNameVerdict::Unchanged)
        return;
    if (check.Verdict != TJobNameVerdict::Accepted) {
        TMessageBox::Error(m_window, check.Message);
        return;
    }
    m_scheduler.ReleaseIdleJobLocks();
    if (!m_locks.Acquire(*job)) {
        TMessageBox::Warning(m_window, JobNotIdleText());
        return;
    }
    const QString oldName = job->stJobName;
    bool renamed = false;
    {
        const TBusyCursor busy;
        renamed = ChangeName(m_context.Jobs(), *job, check.Name); // saves the jobs list
    }
    m_locks.Release(*job);
    if (!renamed) {
        TMessageBox::Error(m_window,
                           Tr(u"Unable to rename the job. Please learn last error messages in the Events log."));
    } else {
        if (m_files)
            m_files->Adopt(*job);
        AddToEventsLog(QStringLiteral("Job \"%s\" is renamed to \"%s\"."), {oldName, check.Name});
    }
    m_hooks.Refresh();
}

void TJobActions::RemoveJobRecord(TJob* job) {
    m_locks.Release(*job);
    m_context.RemoveJobLocally(job);
    m_hooks.ListChanged();
    m_hooks.Refresh();
}

void TJobActions::Remove() {
    TJob* job = IdleSelectedJob(true);
    if (!job)
        return;
    if (!TMessageBox::AskYesNo(m_window, TrFormat(u"Remove the record for backup job %s?", {Quoted(job->stJobName)}),
                               TMessageBox::qtDestructive))
        return;
    // The scheduler may have started the job while the question was open.
    m_scheduler.ReleaseIdleJobLocks();
    if (job->JobStatus != jsNone || !m_locks.Acquire(*job)) {
        TMessageBox::Warning(m_window, JobNotIdleText());
        return;
    }
    const bool withFolder =
        TMessageBox::AskYesNo(m_window, Tr(u"Do you want also to remove the backup folder with all its contents?"),
                              TMessageBox::qtDestructive);
    if (job->JobStatus != jsNone) {
        m_locks.Release(*job);
        TMessageBox::Warning(m_window, JobNotIdleText());
        return;
    }
    if (withFolder)
        RemoveWithBackupFolder(job);
    else
        RemoveJobRecord(job);
}

void TJobActions::RemoveWithBackupFolder(TJob* job) {
    bool removed = false;
    {
        const TBusyCursor busy;
        removed = job->Remove();
    }
    if (removed)
        AddToEventsLog(QStringLiteral("The backup folder has been removed successfully on the storage device."));
    else
        TMessageBox::Error(m_window, Tr(u"Unable to remove the backup folder.") + QStringLiteral("\n\n") +
                                         Tr(u"Make sure the storage device is connected. Then remove it manually"));
    RemoveJobRecord(job);
}

void TJobActions::BackupJob(TJob* job) {
    if (job->Kind() == TJobKind::AppsData &&
        !TMessageBox::AskOkCancel(
            m_window, TMessageBox::mbWarning,
            Tr(u"Make sure the related applications are not running. Then click \"OK\" to continue.")))
        return;
    // The next tick starts it; the scheduler holds the job's lock while it runs.
    job->JobStatus = jsWaiting;
    job->RequestRepaint();
    m_hooks.Refresh();
}

void TJobActions::Backup() {
    if (TJob* job = IdleSelectedJob(true))
        BackupJob(job);
}

void TJobActions::RestoreJob(TJob* job) {
    if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(job)) {
        m_scheduler.ReleaseIdleJobLocks();
        if (!m_locks.Acquire(*job)) {
            TMessageBox::Warning(m_window, JobNotIdleText());
            return;
        }
        auto* flow = new TFilesRestoreFlow(*files, m_window);
        connect(flow, &TFilesRestoreFlow::Finished, this, [this, name = job->stJobName](bool restoreStarted) {
            m_hooks.Refresh();
            if (restoreStarted)
                WatchRestoreEnd(name);
        });
        flow->Start();
        return;
    }
    if (job->Kind() == TJobKind::DriveImage) {
        if (m_context.AnyJobActive())
            TMessageBox::Warning(m_window, Tr(u"Some jobs are currently running."));
        else
            ShowNotice(Tr(u"Restoring this kind of job is not available in this version yet."));
        return;
    }
    const QString warning =
        Tr(u"Make sure the related applications are already installed. You need to run them at least once so that "
           u"they create all the necessary directories.") +
        u'\n' + Tr(u"If the applications support cloud synchronization, please disable it.") + QStringLiteral("\n\n") +
        Tr(u"If this is done, then close all running applications, and click OK to start the restore procedure.");
    if (!TMessageBox::AskOkCancel(m_window, TMessageBox::mbWarning, warning))
        return;
    if (!App().IsElevatedInstance && m_context.AnyJobActive()) {
        TMessageBox::Warning(m_window, Tr(u"Some jobs are currently running."));
        return;
    }
    auto* apps = dynamic_cast<TJob_AppsData*>(job);
    if (!apps)
        return;
    // The job may have started while the warning was open.
    m_scheduler.ReleaseIdleJobLocks();
    if (apps->JobStatus != jsNone || !m_locks.Acquire(*apps)) {
        TMessageBox::Warning(m_window, JobNotIdleText());
        return;
    }
    auto* flow = new TAppsRestoreFlow(*apps, m_window);
    connect(flow, &TAppsRestoreFlow::Finished, this, [this] { m_hooks.Refresh(); });
    flow->Start();
}

void TJobActions::WatchRestoreEnd(const QString& name) {
    // One watch per job: a new restore's replaces one that never saw its run end.
    delete m_restoreWatches.take(name);
    auto* timer = new QTimer(this);
    m_restoreWatches.insert(name, timer);
    timer->setInterval(RestoreWatchIntervalMs);
    // By name: once the run has saved the job file, a tick may read it into a new job object.
    connect(timer, &QTimer::timeout, this, [this, timer, name] {
        TJob* current = m_context.Jobs().Find(name);
        if (current != nullptr && current->JobStatus != jsNone)
            return;
        m_restoreWatches.remove(name);
        timer->deleteLater();
        if (current == nullptr || current->LastJobResult.ErrorsCount == 0)
            return;
        // The worker is done with the job (jsNone): its log may be read, or the stored one when
        // the job was read again from its file.
        QStringList lines = current->LastJobResult.Log;
        if (lines.isEmpty()) {
            const TLogFileLookup log = LastLogFile(*current, App().Options.Logging.PathForLogFiles);
            QFile file(log.Path);
            if (log.Result == TLogFileLookup::Open && file.open(QIODevice::ReadOnly))
                lines = QString::fromUtf8(file.readAll()).split(u'\n');
        }
        const QString errorMark = Tr(u"ERROR:") + u' ';
        QString reason;
        for (const QString& line : std::as_const(lines)) {
            const qsizetype at = line.indexOf(errorMark);
            if (at >= 0) {
                reason = line.mid(at + errorMark.size()).trimmed();
                break;
            }
        }
        QString text = TrFormat(u"The restore of %s ended with errors.", {Quoted(name)});
        if (!reason.isEmpty())
            text += QStringLiteral("\n\n") + reason;
        TMessageBox::Error(m_window, text);
    });
    timer->start();
}

void TJobActions::Restore() {
    if (TJob* job = IdleSelectedJob(true))
        RestoreJob(job);
}

void TJobActions::PauseOrResume() {
    TJob* job = m_hooks.SelectedJob();
    if (!job || RefuseWhileTickBusy())
        return;
    if (job->JobStatus == jsPaused)
        job->Resume();
    else
        job->Pause();
    m_hooks.Refresh();
}

void TJobActions::CancelJob() {
    TJob* job = m_hooks.SelectedJob();
    if (!job || RefuseWhileTickBusy())
        return;
    job->Cancel();
    m_hooks.Refresh();
}

void TJobActions::PauseAll() {
    if (m_scheduler.TickBusy())
        return;
    const TJobList& jobs = m_context.Jobs();
    for (int i = 0; i < jobs.Count(); ++i)
        jobs.At(i)->Pause();
    m_hooks.Refresh();
}

void TJobActions::CancelAll() {
    if (m_scheduler.TickBusy())
        return;
    const TJobList& jobs = m_context.Jobs();
    for (int i = 0; i < jobs.Count(); ++i)
        jobs.At(i)->Cancel();
    m_hooks.Refresh();
}

void TJobActions::ShowNotice(const QString& text) {
    TMessageBox::Information(m_window, text);
}

void TJobActions::SaveJobFile(TJob& job) {
    job.SaveLocalJobFile(job.LocalJobFilePath());
    if (m_files)
        m_files->Adopt(job);
}
