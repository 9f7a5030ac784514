#include "core/startup/TApplicationContext.h"

#include "core/base/AppFolders.h"
#include "core/base/AtomicFile.h"
#include "core/base/TextFormat.h"
#include "core/format/CloudAppCredentials.h"
#include "core/format/OptionsFile.h"
#include "core/settings/Autorun.h"
#include "core/settings/TAppGlobals.h"
#include "core/settings/Translations.h"
#include "platform/TAutostart.h"
#include "platform/TProcessPriority.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <chrono>

namespace {

QString DirectoryErrorBox(const QString& failedText, const QString& path) {
    return failedText + u' ' + path + QStringLiteral("\n\n") +
           TranslateText(QStringLiteral("Please make sure the directory is accessible, and restart the program."));
}

void AddErrorEvent(const QString& text) {
    App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("ERROR:")) + u' ' + text);
}

} // namespace

TQuitWaiter TQuitWaiter::Sleeping() {
    return {[] {
                return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
            },
            [](int ms) { QThread::msleep(ulong(ms)); }};
}

TApplicationContext::TApplicationContext(TJobList::TJobFactory factory, TAutostart& autostart,
                                         TProcessPriority& priority)
    : m_jobs(std::move(factory))
    , m_eventsLog(App().EventsLog)
    , m_autostart(autostart)
    , m_priority(priority) {}

TStartupReport TApplicationContext::Start(const TStartupSettings& settings) {
    TAppGlobals& app = App();
    TStartupReport report;
    m_commandLine = settings.CommandLine;
    m_jobs.Clear();
    app.IsElevatedInstance = m_commandLine.IsElevatedInstance();
    app.ApplicationDirectory = QDir::cleanPath(QDir(settings.ApplicationDirectory).absolutePath());
    app.ProgramDataDirectory = settings.ProgramDataDirectory;
    app.Options = TOptions();

    // The data folder holds passwords and tokens: only its owner may enter it.
    const QString& folder = app.ApplicationDirectory;
    if (!QFileInfo(folder).isDir()) {
        if (CreateFolderPath(folder, 0700)) {
            app.EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Application directory is created:")) + u' ' +
                                         folder);
        } else {
            const QString failed = TranslateText(QStringLiteral("Unable to create application directory:"));
            AddErrorEvent(failed + u' ' + folder);
            report.ErrorBoxes.append(DirectoryErrorBox(failed, folder));
            report.Fatal = true;
            app.IsQuitting = true;
            // Nothing below can work without the folder; the program ends once its windows exist.
            return report;
        }
    }

    app.JobsListFileName = JobsListFileNameFor(folder);
    app.RemoteJobFileExtension = RemoteJobFileExtensionFor(folder);

    if (!LoadOptions()) {
        const TDefaultOptionsSources sources =
            settings.DefaultSources ? *settings.DefaultSources : SystemDefaultOptionsSources(app.ProgramDataDirectory);
        SetDefaultOptions(app.Options, sources, m_autostart, settings.RegisterAutorunWithDefaults);
    }

    LoadCloudAppCredentials();

    LoadTranslations(app.Options.Language, app.ProgramDataDirectory + QStringLiteral("/transl.dt"));

    // The temporary folder holds copies of the user's files on their way to the destination.
    CreateWorkFolder(app.Options.General.PathForTempFiles, 0700,
                     TranslateText(QStringLiteral("Temporary directory is created:")),
                     TranslateText(QStringLiteral("Unable to create temporary directory:")), report);
    CreateWorkFolder(app.Options.Logging.PathForLogFiles, 0755,
                     TranslateText(QStringLiteral("Log directory is created:")),
                     TranslateText(QStringLiteral("Unable to create log directory:")), report);

    m_priority.SetPriorityClass(app.Options.General.ProcessPriority);

    if (m_jobs.LoadJobsListAndJobs())
        AddToEventsLog(QStringLiteral("Backup jobs are loaded."));
    return report;
}

bool TApplicationContext::CreateWorkFolder(const QString& path, mode_t mode, const QString& createdText,
                                           const QString& failedText, TStartupReport& report) {
    if (!path.isEmpty() && QFileInfo(path).isDir())
        return true;
    if (!path.isEmpty() && CreateFolderPath(path, mode)) {
        App().EventsLog.AddToEventsLog(createdText + u' ' + path);
        return true;
    }
    AddErrorEvent(failedText + u' ' + path);
    report.ErrorBoxes.append(DirectoryErrorBox(failedText, path));
    return false;
}

bool TApplicationContext::FlushEventsLog() {
    return m_eventsLog.FlushEventsLog(App().Options.Logging.MaxNumberOfLinesInEventsLog);
}

bool TApplicationContext::SaveOptions() {
    return ::SaveOptions();
}

QString TApplicationContext::ApplyEditedOptions(const TOptions& edited) {
    TOptions& current = App().Options;
    TOptions next = edited;
    // The language belongs to the Language menu and the FTP accounts to their own list; both
    // are saved when they change.
    next.Language = current.Language;
    next.FTPAccounts = current.FTPAccounts;
    next.LastFTPAccountID = current.LastFTPAccountID;
    QString error;
    if (next.General.RunProgramAtLogon != current.General.RunProgramAtLogon &&
        !SetAutorun(next.General.RunProgramAtLogon, m_autostart)) {
        next.General.RunProgramAtLogon = current.General.RunProgramAtLogon;
        error = AutorunChangeFailedText(m_autostart);
    }
    const bool priorityChanged = next.General.ProcessPriority != current.General.ProcessPriority;
    current = next;
    if (priorityChanged)
        m_priority.SetPriorityClass(current.General.ProcessPriority);
    // A failed save is silent: the options stay in memory for the session.
    SaveOptions();
    return error;
}

bool TApplicationContext::SelectLanguage(int column) {
    if (!::SelectLanguage(App().Options.Language, column))
        return false;
    SaveOptions();
    return true;
}

QList<TJob*> TApplicationContext::JobsNamedOnCommandLine() const {
    QList<TJob*> named;
    if (m_commandLine.JobName.isEmpty())
        return named;
    for (int i = 0; i < m_jobs.Count(); ++i)
        if (m_jobs.At(i)->stJobName == m_commandLine.JobName)
            named.append(m_jobs.At(i));
    return named;
}

int TApplicationContext::SetCommandLineJobsWaiting() {
    int count = 0;
    for (TJob* job : JobsNamedOnCommandLine()) {
        if (job->JobStatus == jsNone) {
            job->JobStatus = jsWaiting;
            ++count;
        }
    }
    return count;
}

bool TApplicationContext::RemoveJobLocally(TJob* job) {
    const int index = m_jobs.IndexOf(job);
    if (index < 0)
        return false;
    const QString path = job->LocalJobFilePath();
    if (QFileInfo::exists(path) && !QFile::remove(path))
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Error: unable to remove the file:")) + path);
    m_jobs.Take(index);
    if (!m_jobs.SaveJobsList()) {
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Error: unable to save the jobs list:")) +
                                       m_jobs.JobsListPath());
        return false;
    }
    AddToEventsLog(QStringLiteral("Job is removed."));
    return true;
}

bool TApplicationContext::ShouldShowWelcome() const {
    return m_jobs.Count() == 0 && !QFileInfo(App().ApplicationDirectory + QStringLiteral("/~dsdd")).isDir();
}

bool TApplicationContext::SuppressWelcome() {
    return QDir().mkpath(App().ApplicationDirectory + QStringLiteral("/~dsdd"));
}

bool TApplicationContext::AnyJobActive() const {
    for (int i = 0; i < m_jobs.Count(); ++i)
        if (m_jobs.At(i)->IsActive())
            return true;
    return false;
}

QString TApplicationContext::QuitQuestionText() const {
    if (AnyJobActive())
        return TranslateText(QStringLiteral("Some jobs are currently running.")) + u'\n' +
               TranslateText(QStringLiteral("Do you want to cancel them and quit?"));
    return FormatText(TranslateText(QStringLiteral("Quit %s?")), {QString::fromUtf16(TAppGlobals::ApplicationTitle)});
}

void TApplicationContext::ConfirmQuit() {
    if (AnyJobActive())
        App().EventsLog.AddToEventsLog(QuitQuestionText());
    App().IsQuitting = true;
}

bool TApplicationContext::CancelAllAndWait(const TQuitWaiter& waiter) {
    if (!AnyJobActive())
        return true;
    for (int i = 0; i < m_jobs.Count(); ++i)
        m_jobs.At(i)->Cancel();
    const qint64 start = waiter.NowMs();
    while (AnyJobActive() && waiter.NowMs() - start < QuitWaitLimitMs)
        waiter.Sleep(QuitWaitStepMs);
    return !AnyJobActive();
}
