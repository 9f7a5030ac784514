#pragma once

#include "core/settings/DefaultOptions.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QWidget;
class TApplicationContext;
class TAutostart;
class TClock;
class TDesktopNotifier;
class TJobNotices;
class TPowerOff;
class TProcessPriority;
class TScheduler;
class TSessionEnd;
class TSleepInhibitor;
class TSingleInstance;
class TAppsDataWizard;
class TFilesBackupWizard;
class TfrmMainVaultora;

// What the windowed program is started with besides its command line. Tests give their own
// autostart entry, priority, clock, sleep blocking, power-off, notifier, runtime folder and default
// folders; the program takes this desktop's.
struct TProgramEnvironment {
    TAutostart* Autostart = nullptr;           // null: the XDG autostart entry of this executable
    TProcessPriority* Priority = nullptr;      // null: the process's own priority
    TClock* Clock = nullptr;                   // null: the system clock
    TSleepInhibitor* SleepInhibitor = nullptr; // null: logind
    TPowerOff* PowerOff = nullptr;             // null: logind
    TDesktopNotifier* Notifier = nullptr;      // null: the desktop's notification service
    QString RuntimeDirectory;                  // single-instance lock and socket; empty: the user's
    QString ProgramDataDirectory;              // transl.dt and the rest; empty: beside the executable
    std::optional<TDefaultOptionsSources> DefaultSources;
};

// The windowed program from its command line to its end: the single instance and its hand-over,
// the start-up on the data folder, the main window, the password and new-version gates, "/hide",
// the session end and the quit.
class TVaultoraProgram : public QObject {
    Q_OBJECT
public:
    explicit TVaultoraProgram(TProgramEnvironment environment = {});
    ~TVaultoraProgram() override;

    static constexpr int RunEventLoop = -1;

    // Returns RunEventLoop when the program is to run, or the exit code to end with at once
    // (another instance took the request, the data folder cannot be used, the password was
    // refused, ...).
    int Start(const QStringList& arguments);

    // The new-version check of the interactive start against the product web site: true to go
    // on. Tests replace it.
    std::function<bool(QWidget* parent)> NewVersionGate;

    TfrmMainVaultora* MainWindow() const { return m_window.get(); }
    TScheduler& Scheduler() const { return *m_scheduler; }
    TApplicationContext& Context() const { return *m_context; }
    TSingleInstance* Instance() const { return m_instance.get(); }
    // Jobs still ran when the window closed: the process must end without waiting for them.
    bool JobsAbandoned() const;

    // The desktop session ends: quit without questions.
    void EndSession();

private:
    bool PasswordGate();

    TProgramEnvironment m_environment;
    std::unique_ptr<TAutostart> m_ownAutostart;
    std::unique_ptr<TProcessPriority> m_ownPriority;
    std::unique_ptr<TSleepInhibitor> m_ownSleepInhibitor;
    std::unique_ptr<TPowerOff> m_ownPowerOff;
    std::unique_ptr<TDesktopNotifier> m_ownNotifier;
    std::unique_ptr<TJobNotices> m_notices;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TScheduler> m_scheduler;
    std::unique_ptr<TSingleInstance> m_instance;
    std::unique_ptr<TfrmMainVaultora> m_window;
    std::unique_ptr<TFilesBackupWizard> m_filesWizard;
    std::unique_ptr<TAppsDataWizard> m_appsWizard;
    TSessionEnd* m_sessionEnd = nullptr;
};
