#pragma once

// The ui room: the windows and dialogs of the windowed program. It may use every engine room and
// Qt Widgets; no engine room includes anything from ui/.

#include "ui/JobFilter.h"
#include "ui/TFilterTree.h"
#include "ui/TJobCard.h"
#include "ui/TJobLockKeeper.h"
#include "ui/TNotificationArea.h"

#include "core/model/TJobTypes.h"

#include <QDateTime>
#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>

class QAction;
class QActionGroup;
class QDialog;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;
class QSplitter;
class QSystemTrayIcon;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TApplicationContext;
class TJob;
class TJobListModel;
class TJobListView;
class TJobActions;
class TJobFileSync;
class TJobWizard;
class TScheduler;
class TStatusPanels;
class TfrmShutdown;
class TfrmWelcome;
struct TLogFileLookup;

// The main window: the job list as cards or a table with its filters and search, every user
// action on a job, the events log, the status bar and the notification-area icon. It reads and
// writes job records and calls the engines; it never waits for a worker. Workers ask for a repaint
// through App().RepaintRequested, which the window looks at every 100 ms. The scheduler's
// one-second tick runs through the window's hooks: the filters, the panels, the display and the
// shutdown dialog.
class TfrmMainVaultora : public QMainWindow {
    Q_OBJECT
public:
    TfrmMainVaultora(TApplicationContext& context, TScheduler& scheduler, QWidget* parent = nullptr);
    ~TfrmMainVaultora() override;

    // ---- Set-up ----
    // After the program started on its data folder: the list, the Language menu, the captions
    // and the saved window state.
    void AfterStart();
    // Every caption again in the current language.
    void Retranslate();
    void SaveWindowState() const;
    void RestoreWindowState();
    void SetWizard(TJobKind kind, TJobWizard* wizard);
    // The scheduler's clock, which the schedule filters follow.
    QDateTime Now() const;
    // Runs the window's modal dialogs (options, kind chooser, log viewer, properties); tests
    // replace it to work the dialog instead of waiting for a user.
    std::function<int(QDialog&)> DialogRunner;

    // ---- Scheduler ----
    void StartSchedulerTimer();
    bool SchedulerTimerActive() const;
    // One tick of the one-second timer.
    void Tick();
    bool TickBusy() const;
    // The tick's display hooks: visibility by filter or search, the header and the centred
    // panel, and the rest of the display (list, actions, status bar).
    bool JobIsVisible(const TJob& job) const;
    void ApplyFilter(const TJob& job);
    void ApplyFilterAndSearch();
    void UpdateHeaderAndEmptyPanel();
    void RefreshDisplay();
    // The 100 ms look at the workers' repaint requests.
    void ProcessRepaintRequest();
    // Job files that other processes (vaultora-cli) changed are read again; not while a dialog
    // holds on to a job.
    void SyncJobFiles();
    // The day's last run is over: the shutdown dialog over the scheduler's countdown.
    void ShowShutdownDialog();

    // ---- Window ----
    // Shows the hidden window, after the configuration password when it is protected; false
    // when the password was refused or the prompt cancelled.
    bool ShowFromNotificationArea();
    void HideToNotificationArea();
    bool FirstShowDone() const { return m_firstShowDone; }
    // The window closed while jobs were still running after the wait: they are abandoned.
    bool JobsAbandoned() const { return m_jobsAbandoned; }

    // ---- Actions ----
    // The actions on jobs (new, properties, rename, remove, backup, restore, pause, cancel).
    TJobActions& Actions() const { return *m_actions; }
    void Minimize();
    void Quit();
    void SetCardView(bool cards);
    void SetFiltersVisible(bool visible);
    void SetEventsVisible(bool visible);
    void Options();
    void FtpClient();
    void CloudClient();
    void SelectLanguage(int column);
    void AddLanguage();
    void UserGuide();
    void Support();
    void ContactUs();
    void About();
    void History();
    void ViewLog();
    void ViewLogOfMenu(const QString& caption);
    void MoveUp();
    void MoveDown();
    void SaveEventsLog();
    // The search box confirmed.
    void Search(const QString& text);
    void SelectFilter(TJobFilter filter);
    // A link of a card.
    void RunCardAction(TJob* job, TJobCard::TAction action);
    // The first show of the window (once per process): the command line's job actions, the
    // scheduler timer and the Welcome dialog.
    void RunFirstShowActions();

    // ---- What tests and the scheduler look at ----
    TJobListView* JobsView() const { return m_jobsView; }
    TJobListModel* Model() const { return m_model; }
    // The selected job when its row is visible.
    TJob* SelectedJob() const;
    void SelectJob(const TJob* job);
    QAction* Action(const QString& objectName) const;
    QLabel* HeaderLabel() const { return m_header; }
    QLabel* EmptyPanel() const { return m_emptyPanel; }
    QLineEdit* SearchBox() const { return m_search; }
    QTreeWidget* FilterTree() const { return m_filterTree->Tree(); }
    QListView* EventsList() const { return m_eventsList; }
    QMenu* LogMenu() const { return m_logMenu; }
    QMenu* LanguageMenu() const { return m_languageMenu; }
    QToolButton* MoveUpButton() const { return m_moveUp; }
    QToolButton* MoveDownButton() const { return m_moveDown; }
    QStringList StatusPanelTexts() const;
    // The context menu the list shows for the selected job, or null.
    QMenu* ContextMenuForSelection() const;
    bool Searching() const { return !m_searched.isEmpty(); }
    QString SearchedString() const { return m_searched; }
    TJobFilter CurrentFilter() const { return m_filter; }
    QSystemTrayIcon* TrayIcon() const { return m_tray->Icon(); }
    TfrmWelcome* WelcomeDialog() const { return m_welcome; }
    TfrmShutdown* ShutdownDialog() const { return m_shutdownDialog; }
    const TJobLockKeeper& Locks() const { return m_locks; }

Q_SIGNALS:
    // The window closed for good (the program is quitting).
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildActions();
    void BuildMenus();
    void BuildToolbar();
    void BuildCentre();
    void RebuildLanguageMenu();
    void UpdateActions();
    void UpdateStatusBar();
    void RefreshAfterAction();
    void PlaceEmptyPanel();
    void ShowContextMenu(const QPoint& globalPos);
    void FillLogMenu();
    void ShowLogLookup(const TLogFileLookup& lookup, bool counters);
    void ShowWelcome();
    void FillSchedulerHooks();
    int RunDialog(QDialog& dialog);
    // The Options dialog on one of its pages, above parent.
    void ShowOptions(QWidget* parent, int page);

    void MoveSelected(int delta);

    TApplicationContext& m_context;
    TScheduler& m_scheduler;
    TJobLockKeeper m_locks;
    std::unique_ptr<TJobFileSync> m_files;
    TJobActions* m_actions = nullptr;

    TJobListModel* m_model;
    TJobListView* m_jobsView;
    QLabel* m_header = nullptr;
    QLabel* m_emptyPanel = nullptr;
    QLineEdit* m_search = nullptr;
    TFilterTree* m_filterTree = nullptr;
    QWidget* m_filtersPanel = nullptr;
    QWidget* m_eventsPanel = nullptr;
    QSplitter* m_filtersSplitter = nullptr;
    QSplitter* m_eventsSplitter = nullptr;
    QListView* m_eventsList = nullptr;
    QPushButton* m_saveEvents = nullptr;
    QToolButton* m_moveUp = nullptr;
    QToolButton* m_moveDown = nullptr;
    QToolButton* m_viewLogButton = nullptr;
    TStatusPanels* m_statusPanels = nullptr;
    TNotificationArea* m_tray = nullptr;
    QTimer* m_repaintTimer;
    TfrmWelcome* m_welcome = nullptr;
    TfrmShutdown* m_shutdownDialog = nullptr;

    QMenu* m_fileMenu = nullptr;
    QMenu* m_editMenu = nullptr;
    QMenu* m_viewMenu = nullptr;
    QMenu* m_listMenu = nullptr;
    QMenu* m_runMenu = nullptr;
    QMenu* m_toolsMenu = nullptr;
    QMenu* m_languageMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QMenu* m_idleMenu = nullptr;
    QMenu* m_runningMenu = nullptr;
    QMenu* m_logMenu = nullptr;
    QActionGroup* m_languageGroup = nullptr;
    QActionGroup* m_viewGroup = nullptr;

    QAction* m_actNewJob = nullptr;
    QAction* m_actOpen = nullptr;
    QAction* m_actMinimize = nullptr;
    QAction* m_actQuit = nullptr;
    QAction* m_actProperties = nullptr;
    QAction* m_actRename = nullptr;
    QAction* m_actDuplicate = nullptr;
    QAction* m_actRemove = nullptr;
    QAction* m_actViewCards = nullptr;
    QAction* m_actViewTable = nullptr;
    QAction* m_actFilters = nullptr;
    QAction* m_actEvents = nullptr;
    QAction* m_actBackup = nullptr;
    QAction* m_actRestore = nullptr;
    QAction* m_actPause = nullptr;
    QAction* m_actCancel = nullptr;
    QAction* m_actPauseAll = nullptr;
    QAction* m_actCancelAll = nullptr;
    QAction* m_actOptions = nullptr;
    QAction* m_actFtpClient = nullptr;
    QAction* m_actCloudClient = nullptr;
    QAction* m_actAddLanguage = nullptr;
    QAction* m_actUserGuide = nullptr;
    QAction* m_actSupport = nullptr;
    QAction* m_actContactUs = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actHistory = nullptr;
    QAction* m_actViewLog = nullptr;
    QAction* m_actFind = nullptr;
    QAction* m_actTrayOpen = nullptr;

    TJobFilter m_filter = jfJobs;
    QString m_searched;
    bool m_firstShowDone = false;
    bool m_closing = false;
    bool m_jobsAbandoned = false;
};
