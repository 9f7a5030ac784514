#include "ui/TVaultoraProgram.h"

#include "ui/TInputBox.h"
#include "ui/TJobActions.h"
#include "ui/TMessageBox.h"
#include "ui/TProductSite.h"
#include "ui/TSessionEnd.h"
#include "ui/TfrmMainVaultora.h"
#include "ui/TfrmNewVersion.h"
#include "ui/TfrmWizard_AppsDataBackup.h"
#include "ui/TfrmWizard_FilesBackup.h"
#include "ui/UiTr.h"

#include "core/base/AppFolders.h"
#include "core/base/TClock.h"
#include "core/schedule/TJobNotices.h"
#include "core/schedule/TScheduler.h"
#include "core/settings/OptionsChecks.h"
#include "core/startup/TApplicationContext.h"
#include "jobs/JobKinds.h"
#include "platform/TDBusDesktopNotifier.h"
#include "platform/TLinuxProcessPriority.h"
#include "platform/TLogindPowerOff.h"
#include "platform/TLogindSleepInhibitor.h"
#include "platform/TSingleInstance.h"
#include "platform/TXdgAutostart.h"
#include "storage/ChangeName.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QSettings>

#include <cstdio>

TVaultoraProgram::TVaultoraProgram(TProgramEnvironment environment)
    : NewVersionGate(
          [](QWidget* parent) { return RunNewVersionCheck(parent, TProductSite::Address(), ProgramVersionNumber()); })
    , m_environment(std::move(environment)) {
    if (!m_environment.Autostart) {
        m_ownAutostart = std::make_unique<TXdgAutostart>(QCoreApplication::applicationFilePath());
        m_environment.Autostart = m_ownAutostart.get();
    }
    if (!m_environment.Priority) {
        m_ownPriority = std::make_unique<TLinuxProcessPriority>();
        m_environment.Priority = m_ownPriority.get();
    }
    if (!m_environment.Clock)
        m_environment.Clock = &TClock::System();
    if (!m_environment.SleepInhibitor) {
        m_ownSleepInhibitor = std::make_unique<TLogindSleepInhibitor>();
        m_environment.SleepInhibitor = m_ownSleepInhibitor.get();
    }
    if (!m_environment.PowerOff) {
        m_ownPowerOff = std::make_unique<TLogindPowerOff>();
        m_environment.PowerOff = m_ownPowerOff.get();
    }
    if (!m_environment.Notifier) {
        m_ownNotifier = std::make_unique<TDBusDesktopNotifier>();
        m_environment.Notifier = m_ownNotifier.get();
    }
    m_context =
        std::make_unique<TApplicationContext>(&CreateJobOfKind, *m_environment.Autostart, *m_environment.Priority);
    m_scheduler = std::make_unique<TScheduler>(*m_context, *m_environment.Clock, *m_environment.SleepInhibitor,
                                               *m_environment.PowerOff);
    m_notices = std::make_unique<TJobNotices>(*m_environment.Notifier);
    m_notices->Attach(*m_scheduler);
}

TVaultoraProgram::~TVaultoraProgram() {
    // The window goes before the scheduler it drives and the jobs it shows.
    m_window.reset();
    m_scheduler.reset();
}

bool TVaultoraProgram::JobsAbandoned() const {
    return m_window && m_window->JobsAbandoned();
}

int TVaultoraProgram::Start(const QStringList& arguments) {
    TStartupSettings settings;
    QString error;
    if (!settings.CommandLine.Parse(arguments, &error)) {
        std::fprintf(stderr, "vaultora: %s\n", qPrintable(error));
        return 64;
    }
    const TCommandLine& commandLine = settings.CommandLine;
    settings.ApplicationDirectory =
        commandLine.DataDirectory.isEmpty() ? DefaultApplicationDirectory() : commandLine.DataDirectory;
    settings.ApplicationDirectory = QDir::cleanPath(QDir(settings.ApplicationDirectory).absolutePath());

    // One instance per user and data folder: a second start hands its request over and ends.
    m_instance = std::make_unique<TSingleInstance>(settings.ApplicationDirectory, m_environment.RuntimeDirectory);
    const QString handOver =
        commandLine.JobFileToHandOver(RemoteJobFileExtensionFor(settings.ApplicationDirectory), QDir::currentPath());
    const QString request =
        handOver.isEmpty() ? TSingleInstance::ShowRequest() : TSingleInstance::OpenRequest(handOver);
    switch (m_instance->Start(commandLine.IsElevatedInstance(), request)) {
    case TSingleInstance::TRole::Primary:
    case TSingleInstance::TRole::Independent:
        break;
    case TSingleInstance::TRole::HandedOver:
        return 0;
    case TSingleInstance::TRole::Failed:
        std::fprintf(stderr, "vaultora: %s\n", qPrintable(m_instance->ErrorText()));
        return 1;
    }

    settings.ProgramDataDirectory = m_environment.ProgramDataDirectory.isEmpty() ? DefaultProgramDataDirectory()
                                                                                 : m_environment.ProgramDataDirectory;
    settings.RegisterAutorunWithDefaults = true;
    settings.DefaultSources = m_environment.DefaultSources;

    m_window = std::make_unique<TfrmMainVaultora>(*m_context, *m_scheduler);
    m_filesWizard = std::make_unique<TFilesBackupWizard>();
    m_window->SetWizard(TJobKind::FilesAndFolders, m_filesWizard.get());
    m_appsWizard = std::make_unique<TAppsDataWizard>();
    m_window->SetWizard(TJobKind::AppsData, m_appsWizard.get());
    const TStartupReport report = m_context->Start(settings);
    if (!report.Fatal)
        CompleteInterruptedRenames(m_context->Jobs()); // a rename that a stopped process left half done
    const QString site =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vaultora"), QStringLiteral("Vaultora"))
            .value(QStringLiteral("product_site"))
            .toString();
    if (!site.isEmpty())
        TProductSite::SetAddress(site);
    m_window->AfterStart();
    for (const QString& text : report.ErrorBoxes)
        TMessageBox::Error(nullptr, text);
    if (report.Fatal)
        return 1;

    connect(m_instance.get(), &TSingleInstance::ShowRequested, m_window.get(),
            [this] { m_window->ShowFromNotificationArea(); });
    connect(m_instance.get(), &TSingleInstance::OpenRequested, m_window.get(), [this](const QString& path) {
        if (m_window->ShowFromNotificationArea() && TCommandLine::FileExtension(path) == App().RemoteJobFileExtension)
            m_window->Actions().OpenJob(path);
    });
    connect(m_window.get(), &TfrmMainVaultora::Closed, this, [] { QCoreApplication::quit(); });
    m_sessionEnd = new TSessionEnd(this);
    connect(m_sessionEnd, &TSessionEnd::Ended, this, &TVaultoraProgram::EndSession);
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        gui->setQuitOnLastWindowClosed(false);
        // The session manager asks before the session ends: the program quits without questions.
        connect(gui, &QGuiApplication::commitDataRequest, this, &TVaultoraProgram::EndSession);
    }

    if (commandLine.Hide) {
        // Started at logon: the program sits in the notification area and runs jobs at once.
        m_window->StartSchedulerTimer();
        return RunEventLoop;
    }
    if (!PasswordGate())
        return 0;
    if (!NewVersionGate(m_window.get()))
        return 0;
    m_window->show();
    return RunEventLoop;
}

bool TVaultoraProgram::PasswordGate() {
    const TOptions& options = App().Options;
    if (!options.General.ProtectConfigurationbyPassword)
        return true;
    QString typed;
    if (!TInputBox::GetText(nullptr, Tr(u"Enter Password"), Tr(u"Password:"), typed, true))
        return false;
    if (ConfigurationPasswordMatches(options, typed))
        return true;
    TMessageBox::Error(nullptr, Tr(u"Invalid password"));
    return false;
}

void TVaultoraProgram::EndSession() {
    App().IsQuitting = true;
    if (m_window)
        m_window->close();
}
