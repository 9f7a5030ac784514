#pragma once

// Room core/startup/: the start-up both executables share and the command line. May use the core
// rooms below it and platform/.

#include "core/model/TJobList.h"
#include "core/settings/DefaultOptions.h"
#include "core/settings/TEventsLogModel.h"
#include "core/startup/TCommandLine.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <sys/types.h>

class TAutostart;
class TProcessPriority;

// What the program starts with.
struct TStartupSettings {
    TCommandLine CommandLine;
    QString ApplicationDirectory; // --data-dir, or DefaultApplicationDirectory()
    QString ProgramDataDirectory; // transl.dt, mcs.dt, excluded-directories.txt
    // The windowed program registers itself at logon when it applies the defaults; vaultora-cli
    // is no logon program and leaves the entry alone.
    bool RegisterAutorunWithDefaults = true;
    // The defaults' folders, language and environment; this desktop's when not given.
    std::optional<TDefaultOptionsSources> DefaultSources;
};

// What start-up leaves for the window to show.
struct TStartupReport {
    // The application directory could not be created: IsQuitting is set and the program ends
    // once its windows exist.
    bool Fatal = false;
    // Texts of the error boxes to show, in order.
    QStringList ErrorBoxes;
};

// How the quitting program waits for cancelled jobs: a monotonic clock in milliseconds and a
// sleep, during which the window processes its messages.
struct TQuitWaiter {
    std::function<qint64()> NowMs;
    std::function<void(int ms)> Sleep;
    // steady_clock and a plain sleep.
    static TQuitWaiter Sleeping();
};

// The program without its windows: start-up from the data folder to the loaded jobs, the
// options as the dialogs change them, the command-line actions of the first show, and the quit
// rule. The window and vaultora-cli each own one; interface thread only.
class TApplicationContext {
public:
    static constexpr int QuitWaitLimitMs = 5000;
    static constexpr int QuitWaitStepMs = 10;

    TApplicationContext(TJobList::TJobFactory factory, TAutostart& autostart, TProcessPriority& priority);

    // The steps between the single-instance check and the window's own set-up, in order: the
    // application directory, the jobs-list names, the options (defaults when there are none),
    // the cloud application credentials, the translation table, the temporary and log folders,
    // the process priority, the jobs.
    TStartupReport Start(const TStartupSettings& settings);

    const TCommandLine& CommandLine() const { return m_commandLine; }
    TJobList& Jobs() { return m_jobs; }
    TAutostart& Autostart() { return m_autostart; }

    // ---- Events log ----
    // The visible events log the window shows.
    TEventsLogModel& EventsLog() { return m_eventsLog; }
    // Once per scheduler tick: the pending lines move in, trimmed to MaxNumberOfLinesInEventsLog.
    // True when lines were added.
    bool FlushEventsLog();

    // ---- Options ----
    bool SaveOptions();
    // After the Options dialog's OK: takes the edited record (language and FTP accounts stay as
    // their own menu and list left them), changes the autostart entry when RunProgramAtLogon
    // changed (restoring the old value when that fails), applies a changed priority and saves.
    // Returns the text of the error box to show, or an empty text.
    QString ApplyEditedOptions(const TOptions& edited);
    // The Language menu: chooses a column and saves the options. False for no such column.
    bool SelectLanguage(int column);

    // ---- The first show of the main window ----
    // Jobs named exactly by the second argument.
    QList<TJob*> JobsNamedOnCommandLine() const;
    // "/backup": the named idle jobs become waiting; the first scheduler tick starts them.
    // Returns how many.
    int SetCommandLineJobsWaiting();
    // "/remove", after the job's backup folder was removed at its destination (or not): deletes
    // the local job file, takes the job out of the list and saves the list, each step reported
    // in the events log. False when the list could not be saved.
    bool RemoveJobLocally(TJob* job);
    // The Welcome dialog shows while there is no job and the user has not turned it off.
    bool ShouldShowWelcome() const;
    // "Do not show this dialog again".
    bool SuppressWelcome();

    // ---- Quitting ----
    bool AnyJobActive() const;
    // The question of the Quit action.
    QString QuitQuestionText() const;
    // The user said Yes: with active jobs the question goes to the events log; IsQuitting is set.
    void ConfirmQuit();
    // The window closes with IsQuitting set: when jobs are active, cancel all of them and wait
    // until none is active or QuitWaitLimitMs have passed. True when none is active any more.
    bool CancelAllAndWait(const TQuitWaiter& waiter);

private:
    bool CreateWorkFolder(const QString& path, mode_t mode, const QString& createdText, const QString& failedText,
                          TStartupReport& report);

    TJobList m_jobs;
    TEventsLogModel m_eventsLog;
    TAutostart& m_autostart;
    TProcessPriority& m_priority;
    TCommandLine m_commandLine;
};
