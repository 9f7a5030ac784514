#include "ui/TfrmMainVaultora.h"

#include "ui/TFileDialog.h"
#include "ui/TFilterTree.h"
#include "ui/TFrmFTPSettings.h"
#include "ui/TInputBox.h"
#include "ui/TJobActions.h"
#include "ui/TJobIcons.h"
#include "ui/TJobListModel.h"
#include "ui/TJobListView.h"
#include "ui/TJobWizard.h"
#include "ui/TMessageBox.h"
#include "ui/TNotificationArea.h"
#include "ui/TProductSite.h"
#include "ui/TStatusPanels.h"
#include "ui/TfrmCloudClient.h"
#include "ui/TfrmFTPClient.h"
#include "ui/TfrmLog.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmShutdown.h"
#include "ui/TfrmWelcome.h"
#include "ui/UiTr.h"

#include "core/model/JobLogLookup.h"
#include "core/model/TJobList.h"
#include "core/schedule/TJobFileSync.h"
#include "core/schedule/TJobNotices.h"
#include "core/schedule/TScheduler.h"
#include "core/schedule/TShutdownCountdown.h"
#include "core/settings/OptionsChecks.h"
#include "core/settings/Translations.h"
#include "core/startup/TApplicationContext.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>

#ifndef VAULTORA_VERSION
#define VAULTORA_VERSION "0.0.0"
#endif

namespace {

constexpr int RepaintIntervalMs = 100;

QSettings WindowSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vaultora"),
                     QStringLiteral("Vaultora"));
}

void SetTextIfChanged(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

} // namespace

TfrmMainVaultora::TfrmMainVaultora(TApplicationContext& context, TScheduler& scheduler, QWidget* parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_scheduler(scheduler)
    , m_model(new TJobListModel(context.Jobs(), this))
    , m_jobsView(new TJobListView(this))
    , m_repaintTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("TfrmMainVaultora"));
    setWindowIcon(TJobIcons::Application());
    m_jobsView->setModel(m_model);
    TJobActions::THooks hooks;
    hooks.SelectedJob = [this] { return SelectedJob(); };
    hooks.SelectJob = [this](const TJob* job) { SelectJob(job); };
    hooks.RunDialog = [this](QDialog& dialog) { return RunDialog(dialog); };
    hooks.ListChanged = [this] { m_model->Reload(); };
    hooks.Refresh = [this] { RefreshAfterAction(); };
    m_actions = new TJobActions(context, scheduler, m_locks, this, std::move(hooks));
    BuildActions();
    BuildMenus();
    BuildToolbar();
    BuildCentre();
    for (QAction* action : {m_actProperties, m_actRemove}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_jobsView->addAction(action);
    }
    connect(m_actFind, &QAction::triggered, this, [this] { m_search->setFocus(Qt::ShortcutFocusReason); });
    m_statusPanels = new TStatusPanels(statusBar());
    m_tray = new TNotificationArea(m_actTrayOpen, m_actQuit, this);
    connect(m_tray, &TNotificationArea::OpenRequested, this, [this] { ShowFromNotificationArea(); });
    m_jobsView->SetCardView(true);
    resize(1000, 700);

    FillSchedulerHooks();
    m_repaintTimer->setInterval(RepaintIntervalMs);
    connect(m_repaintTimer, &QTimer::timeout, this, &TfrmMainVaultora::ProcessRepaintRequest);
    m_repaintTimer->start();

    connect(m_jobsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmMainVaultora::UpdateActions);
    connect(m_jobsView, &TJobListView::LinkActivated, this, &TfrmMainVaultora::RunCardAction);
    connect(m_jobsView, &TJobListView::ContextMenuWanted, this, &TfrmMainVaultora::ShowContextMenu);
    connect(m_jobsView, &TJobListView::JobDoubleClicked, this, [this](TJob* job) {
        SelectJob(job);
        m_actions->Properties();
    });
    // "Proxy Settings..." of the FTP account dialog goes through the Options flow of this window.
    TFrmFTPSettings::SetOptionsOpener([this](QWidget* above, int page) { ShowOptions(above, page); });
    Retranslate();
}

TfrmMainVaultora::~TfrmMainVaultora() {
    TFrmFTPSettings::SetOptionsOpener(nullptr);
    m_scheduler.Stop();
    // The hooks call into this window.
    m_scheduler.Hooks = TScheduler::THooks();
    m_repaintTimer->stop();
}

void TfrmMainVaultora::FillSchedulerHooks() {
    TScheduler::THooks& hooks = m_scheduler.Hooks;
    hooks.BeforeTick = [this] { SyncJobFiles(); };
    hooks.ApplyFilter = [this](TJob& job) { ApplyFilter(job); };
    hooks.UpdatePanels = [this](const TSchedulerTickCounts&) { UpdateHeaderAndEmptyPanel(); };
    hooks.Refresh = [this](const TSchedulerTickCounts&) { RefreshDisplay(); };
    hooks.ShowShutdownDialog = [this] { ShowShutdownDialog(); };
    // A job whose file another process has just changed starts once it has been read again.
    hooks.MayStart = [this](TJob& job) { return !m_files || m_files->IsCurrent(job); };
}

// ---- Building ----

void TfrmMainVaultora::BuildActions() {
    // Icons by their freedesktop names: the desktop's theme first, the program's own pictures
    // where the theme has none.
    auto add = [this](const char* name, const char* icon, auto* receiver, auto slot) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(name));
        if (icon != nullptr)
            action->setIcon(TJobIcons::Themed(QString::fromLatin1(icon)));
        connect(action, &QAction::triggered, receiver, slot);
        return action;
    };
    m_actNewJob = add("actNewJob", "document-new", m_actions, &TJobActions::NewJob);
    m_actOpen = add("actOpen", "document-open", m_actions, [this] { m_actions->OpenJob(); });
    m_actMinimize = add("actMinimize", "window-minimize", this, &TfrmMainVaultora::Minimize);
    m_actQuit = add("actQuit", "application-exit", this, &TfrmMainVaultora::Quit);
    m_actProperties = add("actProperties", "document-properties", m_actions, &TJobActions::Properties);
    m_actRename = add("actRename", "edit-rename", m_actions, &TJobActions::Rename);
    m_actDuplicate = add("actDuplicate", "edit-copy", m_actions, &TJobActions::Duplicate);
    m_actRemove = add("actRemove", "edit-delete", m_actions, &TJobActions::Remove);
    m_actBackup = add("actBackup", "media-playback-start", m_actions, &TJobActions::Backup);
    m_actRestore = add("actRestore", "document-revert", m_actions, &TJobActions::Restore);
    m_actPause = add("actPause", "media-playback-pause", m_actions, &TJobActions::PauseOrResume);
    m_actCancel = add("actCancel", "process-stop", m_actions, &TJobActions::CancelJob);
    m_actPauseAll = add("actPauseAll", nullptr, m_actions, &TJobActions::PauseAll);
    m_actCancelAll = add("actCancelAll", nullptr, m_actions, &TJobActions::CancelAll);
    m_actOptions = add("actOptions", "configure", this, &TfrmMainVaultora::Options);
    m_actFtpClient = add("actFtpClient", "network-server", this, &TfrmMainVaultora::FtpClient);
    m_actCloudClient = add("actCloudClient", "folder-remote", this, &TfrmMainVaultora::CloudClient);
    m_actAddLanguage = add("actAddLanguage", nullptr, this, &TfrmMainVaultora::AddLanguage);
    m_actUserGuide = add("actUserGuide", "help-contents", this, &TfrmMainVaultora::UserGuide);
    m_actSupport = add("actSupport", nullptr, this, &TfrmMainVaultora::Support);
    m_actContactUs = add("actContactUs", nullptr, this, &TfrmMainVaultora::ContactUs);
    m_actAbout = add("actAbout", "help-about", this, &TfrmMainVaultora::About);
    m_actHistory = add("actHistory", "view-history", this, &TfrmMainVaultora::History);
    m_actViewLog = add("actViewLog", "text-x-generic", this, &TfrmMainVaultora::ViewLog);
    // The desktop's standard keys; Enter and Delete act on the job list only, so that they keep
    // their meaning in the search box.
    m_actNewJob->setShortcut(QKeySequence::New);
    m_actOpen->setShortcut(QKeySequence::Open);
    m_actQuit->setShortcut(QKeySequence::Quit);
    m_actBackup->setShortcut(QKeySequence(Qt::Key_F5));
    m_actUserGuide->setShortcut(QKeySequence::HelpContents);
    m_actProperties->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    m_actRemove->setShortcut(QKeySequence::Delete);
    m_actViewLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    m_actFind = new QAction(this);
    m_actFind->setObjectName(QStringLiteral("actFind"));
    m_actFind->setShortcut(QKeySequence::Find);
    addAction(m_actFind);
    m_actTrayOpen = new QAction(this);
    m_actTrayOpen->setObjectName(QStringLiteral("actTrayOpen"));
    connect(m_actTrayOpen, &QAction::triggered, this, [this] { ShowFromNotificationArea(); });

    m_actViewCards = new QAction(this);
    m_actViewCards->setObjectName(QStringLiteral("actViewCards"));
    m_actViewTable = new QAction(this);
    m_actViewTable->setObjectName(QStringLiteral("actViewTable"));
    m_viewGroup = new QActionGroup(this);
    for (QAction* action : {m_actViewCards, m_actViewTable}) {
        action->setCheckable(true);
        m_viewGroup->addAction(action);
    }
    m_actViewCards->setChecked(true);
    connect(m_actViewCards, &QAction::triggered, this, [this] { SetCardView(true); });
    connect(m_actViewTable, &QAction::triggered, this, [this] { SetCardView(false); });
    m_actFilters = new QAction(this);
    m_actFilters->setObjectName(QStringLiteral("actFilters"));
    m_actEvents = new QAction(this);
    m_actEvents->setObjectName(QStringLiteral("actEvents"));
    for (QAction* action : {m_actFilters, m_actEvents}) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    connect(m_actFilters, &QAction::triggered, this, &TfrmMainVaultora::SetFiltersVisible);
    connect(m_actEvents, &QAction::triggered, this, &TfrmMainVaultora::SetEventsVisible);
}

void TfrmMainVaultora::BuildMenus() {
    m_fileMenu = menuBar()->addMenu(QString());
    m_fileMenu->addActions({m_actNewJob, m_actOpen});
    m_fileMenu->addSeparator();
    m_fileMenu->addActions({m_actMinimize, m_actQuit});
    m_editMenu = menuBar()->addMenu(QString());
    m_editMenu->addActions({m_actProperties, m_actRename, m_actDuplicate, m_actRemove});
    m_viewMenu = menuBar()->addMenu(QString());
    m_listMenu = m_viewMenu->addMenu(QString());
    m_listMenu->addActions({m_actViewCards, m_actViewTable});
    m_viewMenu->addActions({m_actFilters, m_actEvents});
    m_runMenu = menuBar()->addMenu(QString());
    m_runMenu->addActions({m_actBackup, m_actRestore, m_actPause, m_actCancel});
    m_runMenu->addSeparator();
    m_runMenu->addActions({m_actPauseAll, m_actCancelAll});
    m_toolsMenu = menuBar()->addMenu(QString());
    m_toolsMenu->addAction(m_actOptions);
    m_toolsMenu->addSeparator();
    m_toolsMenu->addActions({m_actFtpClient, m_actCloudClient});
    m_toolsMenu->addSeparator();
    m_languageMenu = m_toolsMenu->addMenu(QString());
    m_languageMenu->setObjectName(QStringLiteral("mnuLanguage"));
    m_toolsMenu->addAction(m_actAddLanguage);
    m_helpMenu = menuBar()->addMenu(QString());
    m_helpMenu->addActions({m_actUserGuide, m_actSupport, m_actContactUs});
    m_helpMenu->addSeparator();
    m_helpMenu->addAction(m_actAbout);

    m_idleMenu = new QMenu(this);
    m_idleMenu->setObjectName(QStringLiteral("mnuIdleJob"));
    m_idleMenu->addActions({m_actProperties, m_actDuplicate, m_actRename, m_actRemove});
    m_idleMenu->addSeparator();
    m_idleMenu->addActions({m_actBackup, m_actRestore, m_actViewLog});
    m_runningMenu = new QMenu(this);
    m_runningMenu->setObjectName(QStringLiteral("mnuRunningJob"));
    m_runningMenu->addActions({m_actPause, m_actCancel});
    m_runningMenu->addSeparator();
    m_runningMenu->addActions({m_actPauseAll, m_actCancelAll});
}

void TfrmMainVaultora::BuildToolbar() {
    QToolBar* toolbar = addToolBar(QString());
    toolbar->setObjectName(QStringLiteral("tbMain"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->setIconSize(QSize(24, 24));
    toolbar->addActions({m_actNewJob, m_actProperties, m_actOpen, m_actDuplicate, m_actRename, m_actRemove});
    toolbar->addSeparator();
    toolbar->addActions({m_actBackup, m_actRestore});
    toolbar->addSeparator();
    toolbar->addAction(m_actHistory);
    m_logMenu = new QMenu(this);
    m_logMenu->setObjectName(QStringLiteral("mnuLogs"));
    connect(m_logMenu, &QMenu::aboutToShow, this, &TfrmMainVaultora::FillLogMenu);
    m_viewLogButton = new QToolButton(toolbar);
    m_viewLogButton->setObjectName(QStringLiteral("btnViewLog"));
    m_viewLogButton->setDefaultAction(m_actViewLog);
    m_viewLogButton->setMenu(m_logMenu);
    m_viewLogButton->setPopupMode(QToolButton::MenuButtonPopup);
    m_viewLogButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_viewLogButton->setIconSize(toolbar->iconSize());
    toolbar->addWidget(m_viewLogButton);
    toolbar->addSeparator();
    toolbar->addAction(m_actOptions);
}

void TfrmMainVaultora::BuildCentre() {
    // Left: the search box over the filter tree.
    m_filtersPanel = new QWidget(this);
    m_filtersPanel->setObjectName(QStringLiteral("pnlFilters"));
    m_search = new QLineEdit(m_filtersPanel);
    m_search->setObjectName(QStringLiteral("edSearch"));
    m_search->setClearButtonEnabled(false);
    m_search->installEventFilter(this);
    connect(m_search, &QLineEdit::returnPressed, this, [this] { Search(m_search->text()); });
    m_filterTree = new TFilterTree(m_filtersPanel);
    connect(m_filterTree, &TFilterTree::FilterChosen, this, &TfrmMainVaultora::SelectFilter);
    connect(m_filterTree, &TFilterTree::NodeClicked, this, [this](TJobFilter filter) {
        if (Searching())
            SelectFilter(filter);
    });
    auto* filtersLayout = new QVBoxLayout(m_filtersPanel);
    filtersLayout->setContentsMargins(0, 0, 0, 0);
    filtersLayout->addWidget(m_search);
    filtersLayout->addWidget(m_filterTree->Tree(), 1);

    // Middle: the header, the list with its move buttons, and the panel shown over an empty list.
    auto* jobsPanel = new QWidget(this);
    m_header = new QLabel(jobsPanel);
    m_header->setObjectName(QStringLiteral("lblHeader"));
    QFont headerFont = m_header->font();
    headerFont.setPointSizeF(headerFont.pointSizeF() * 1.3);
    headerFont.setBold(true);
    m_header->setFont(headerFont);
    m_emptyPanel = new QLabel(m_jobsView->viewport());
    m_emptyPanel->setObjectName(QStringLiteral("pnlEmpty"));
    m_emptyPanel->setAlignment(Qt::AlignCenter);
    m_emptyPanel->setWordWrap(true);
    m_emptyPanel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_emptyPanel->setStyleSheet(QStringLiteral("color: #808080;"));
    m_jobsView->viewport()->installEventFilter(this);
    m_moveUp = new QToolButton(jobsPanel);
    m_moveUp->setObjectName(QStringLiteral("btnMoveUp"));
    m_moveUp->setArrowType(Qt::UpArrow);
    m_moveDown = new QToolButton(jobsPanel);
    m_moveDown->setObjectName(QStringLiteral("btnMoveDown"));
    m_moveDown->setArrowType(Qt::DownArrow);
    connect(m_moveUp, &QToolButton::clicked, this, &TfrmMainVaultora::MoveUp);
    connect(m_moveDown, &QToolButton::clicked, this, &TfrmMainVaultora::MoveDown);
    auto* moveButtons = new QVBoxLayout;
    moveButtons->addWidget(m_moveUp);
    moveButtons->addWidget(m_moveDown);
    moveButtons->addStretch(1);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_jobsView, 1);
    listRow->addLayout(moveButtons);
    auto* jobsLayout = new QVBoxLayout(jobsPanel);
    jobsLayout->setContentsMargins(0, 0, 0, 0);
    jobsLayout->addWidget(m_header);
    jobsLayout->addLayout(listRow, 1);

    // Below: the events log.
    m_eventsPanel = new QWidget(this);
    m_eventsPanel->setObjectName(QStringLiteral("pnlEvents"));
    m_eventsList = new QListView(m_eventsPanel);
    m_eventsList->setObjectName(QStringLiteral("lbCommonLog"));
    m_eventsList->setModel(&m_context.EventsLog());
    m_eventsList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_eventsList->setUniformItemSizes(true);
    connect(&m_context.EventsLog(), &QAbstractItemModel::rowsInserted, this, [this] {
        if (!m_eventsList->hasFocus())
            m_eventsList->scrollToBottom();
    });
    m_saveEvents = new QPushButton(m_eventsPanel);
    m_saveEvents->setObjectName(QStringLiteral("btnSaveEvents"));
    connect(m_saveEvents, &QPushButton::clicked, this, &TfrmMainVaultora::SaveEventsLog);
    auto* eventsButtons = new QHBoxLayout;
    eventsButtons->addStretch(1);
    eventsButtons->addWidget(m_saveEvents);
    auto* eventsLayout = new QVBoxLayout(m_eventsPanel);
    eventsLayout->setContentsMargins(0, 0, 0, 0);
    eventsLayout->addWidget(m_eventsList, 1);
    eventsLayout->addLayout(eventsButtons);

    m_eventsSplitter = new QSplitter(Qt::Vertical, this);
    m_eventsSplitter->setObjectName(QStringLiteral("splEvents"));
    m_eventsSplitter->addWidget(jobsPanel);
    m_eventsSplitter->addWidget(m_eventsPanel);
    m_eventsSplitter->setStretchFactor(0, 1);
    m_eventsSplitter->setSizes({500, 150});
    m_filtersSplitter = new QSplitter(Qt::Horizontal, this);
    m_filtersSplitter->setObjectName(QStringLiteral("splFilters"));
    m_filtersSplitter->addWidget(m_filtersPanel);
    m_filtersSplitter->addWidget(m_eventsSplitter);
    m_filtersSplitter->setStretchFactor(1, 1);
    m_filtersSplitter->setSizes({200, 800});
    setCentralWidget(m_filtersSplitter);
}

// ---- Captions ----

void TfrmMainVaultora::Retranslate() {
    setWindowTitle(QString::fromUtf16(TAppGlobals::ApplicationTitle));
    m_fileMenu->setTitle(Tr(u"File"));
    m_editMenu->setTitle(Tr(u"Edit"));
    m_viewMenu->setTitle(Tr(u"View"));
    m_listMenu->setTitle(Tr(u"List"));
    m_runMenu->setTitle(Tr(u"Run"));
    m_toolsMenu->setTitle(Tr(u"Tools"));
    m_languageMenu->setTitle(Tr(u"Language"));
    m_helpMenu->setTitle(Tr(u"Help"));

    m_actNewJob->setText(Tr(u"New Job"));
    m_actNewJob->setIconText(Tr(u"New"));
    m_actOpen->setText(Tr(u"Open"));
    m_actMinimize->setText(Tr(u"Minimize"));
    m_actQuit->setText(Tr(u"Quit"));
    m_actProperties->setText(Tr(u"Properties"));
    m_actRename->setText(Tr(u"Rename"));
    m_actDuplicate->setText(Tr(u"Duplicate"));
    m_actRemove->setText(Tr(u"Remove"));
    m_actViewCards->setText(Tr(u"View as Cards"));
    m_actViewTable->setText(Tr(u"View as Table"));
    m_actFilters->setText(Tr(u"Filters"));
    m_actEvents->setText(Tr(u"Events"));
    m_actBackup->setText(Tr(u"Backup"));
    m_actRestore->setText(Tr(u"Restore"));
    m_actCancel->setText(Tr(u"Cancel"));
    m_actPauseAll->setText(Tr(u"Pause All"));
    m_actCancelAll->setText(Tr(u"Cancel All"));
    m_actOptions->setText(Tr(u"Options"));
    m_actFtpClient->setText(Tr(u"FTP Client"));
    m_actCloudClient->setText(Tr(u"Cloud Client"));
    m_actAddLanguage->setText(Tr(u"Add Language..."));
    m_actUserGuide->setText(Tr(u"User Guide"));
    m_actSupport->setText(Tr(u"Support"));
    m_actContactUs->setText(Tr(u"Contact Us"));
    m_actAbout->setText(Tr(u"About Program"));
    m_actHistory->setText(Tr(u"History"));
    m_actViewLog->setText(Tr(u"View Log"));
    m_actTrayOpen->setText(Tr(u"Open"));

    m_search->setPlaceholderText(Tr(u"Find jobs..."));
    m_actFind->setText(Tr(u"Find jobs..."));
    m_filterTree->Retranslate();
    m_saveEvents->setText(Tr(u"Save to file..."));
    m_moveUp->setToolTip(Tr(u"Move up"));
    m_moveDown->setToolTip(Tr(u"Move down"));
    m_tray->SetToolTip(QString::fromUtf16(TAppGlobals::ApplicationTitle));
    m_model->Retranslate();
    UpdateHeaderAndEmptyPanel();
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMainVaultora::RebuildLanguageMenu() {
    m_languageMenu->clear();
    delete m_languageGroup;
    m_languageGroup = new QActionGroup(this);
    const QList<TLanguageMenuItem> items = LanguageMenuItems(App().Options.Language);
    for (qsizetype column = 0; column < items.size(); ++column) {
        QAction* action = m_languageMenu->addAction(items.at(column).Name);
        action->setObjectName(QStringLiteral("actLanguage_") + items.at(column).Code);
        action->setCheckable(true);
        action->setChecked(items.at(column).Checked);
        m_languageGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, column] { SelectLanguage(int(column)); });
    }
}

void TfrmMainVaultora::AfterStart() {
    m_files = std::make_unique<TJobFileSync>(m_context.Jobs());
    m_actions->SetFileSync(m_files.get());
    m_model->Reload();
    RebuildLanguageMenu();
    Retranslate();
    RestoreWindowState();
    ApplyFilterAndSearch();
    UpdateHeaderAndEmptyPanel();
    RefreshDisplay();
}

void TfrmMainVaultora::SetWizard(TJobKind kind, TJobWizard* wizard) {
    m_actions->SetWizard(kind, wizard);
}

// ---- Window state ----

void TfrmMainVaultora::SaveWindowState() const {
    QSettings settings = WindowSettings();
    const QRect geometry = isMaximized() ? normalGeometry() : this->geometry();
    settings.setValue(QStringLiteral("window_x"), geometry.x());
    settings.setValue(QStringLiteral("window_y"), geometry.y());
    settings.setValue(QStringLiteral("window_w"), geometry.width());
    settings.setValue(QStringLiteral("window_h"), geometry.height());
    settings.setValue(QStringLiteral("window_m"), isMaximized() ? 1 : 0);
    settings.setValue(QStringLiteral("view_as_cards"), m_jobsView->IsCardView() ? 1 : 0);
    settings.setValue(QStringLiteral("filters_visible"), m_actFilters->isChecked() ? 1 : 0);
    settings.setValue(QStringLiteral("events_visible"), m_actEvents->isChecked() ? 1 : 0);
    // A hidden panel keeps the size it had when it was shown.
    if (m_actFilters->isChecked())
        settings.setValue(QStringLiteral("filters_width"), m_filtersSplitter->sizes().value(0));
    if (m_actEvents->isChecked())
        settings.setValue(QStringLiteral("events_height"), m_eventsSplitter->sizes().value(1));
}

void TfrmMainVaultora::RestoreWindowState() {
    const QSettings settings = WindowSettings();
    auto value = [&settings](const char* name, int& target) {
        bool ok = false;
        const int read = settings.value(QString::fromLatin1(name)).toInt(&ok);
        if (ok)
            target = read;
        return ok;
    };
    QRect geometry = this->geometry();
    int x = geometry.x(), y = geometry.y(), w = geometry.width(), h = geometry.height();
    // Both values are read even when the first is missing.
    const bool hasX = value("window_x", x);
    const bool hasY = value("window_y", y);
    const bool placed = hasX && hasY;
    value("window_w", w);
    value("window_h", h);
    resize(qMax(320, w), qMax(240, h));
    if (placed)
        move(x, y);
    int maximized = 0;
    if (value("window_m", maximized))
        setWindowState(maximized == 1 ? windowState() | Qt::WindowMaximized : windowState() & ~Qt::WindowMaximized);
    int cards = 1;
    value("view_as_cards", cards);
    m_jobsView->SetCardView(cards != 0);
    (cards != 0 ? m_actViewCards : m_actViewTable)->setChecked(true);
    int filtersWidth = 0, eventsHeight = 0;
    if (value("filters_width", filtersWidth) && filtersWidth > 0) {
        const QList<int> sizes = m_filtersSplitter->sizes();
        m_filtersSplitter->setSizes({filtersWidth, qMax(1, sizes.value(0) + sizes.value(1) - filtersWidth)});
    }
    if (value("events_height", eventsHeight) && eventsHeight > 0) {
        const QList<int> sizes = m_eventsSplitter->sizes();
        m_eventsSplitter->setSizes({qMax(1, sizes.value(0) + sizes.value(1) - eventsHeight), eventsHeight});
    }
    int filters = 1, events = 1;
    value("filters_visible", filters);
    value("events_visible", events);
    m_actFilters->setChecked(filters != 0);
    m_filtersPanel->setVisible(filters != 0);
    m_actEvents->setChecked(events != 0);
    m_eventsPanel->setVisible(events != 0);
}

// ---- Scheduler and display ----

void TfrmMainVaultora::StartSchedulerTimer() {
    m_scheduler.Start();
}

bool TfrmMainVaultora::SchedulerTimerActive() const {
    return m_scheduler.IsRunning();
}

void TfrmMainVaultora::Tick() {
    m_scheduler.Tick();
}

bool TfrmMainVaultora::TickBusy() const {
    return m_scheduler.TickBusy();
}

QDateTime TfrmMainVaultora::Now() const {
    return m_scheduler.Now();
}

void TfrmMainVaultora::SyncJobFiles() {
    // A dialog may hold a job that a reload would replace.
    if (!m_files || QApplication::activeModalWidget())
        return;
    // The selection stays on its job by name, also while the filter hides the job.
    const TJob* selected = m_jobsView->CurrentJob();
    const QString selectedName = selected ? selected->stJobName : QString();
    if (!m_files->Refresh())
        return;
    m_model->Reload();
    ApplyFilterAndSearch();
    if (!selectedName.isEmpty())
        SelectJob(m_context.Jobs().Find(selectedName));
}

void TfrmMainVaultora::ShowShutdownDialog() {
    TShutdownCountdown& countdown = m_scheduler.ShutdownCountdown();
    if (!m_shutdownDialog) {
        m_shutdownDialog = new TfrmShutdown(this);
        connect(m_shutdownDialog, &TfrmShutdown::ShutdownClicked, &countdown, &TShutdownCountdown::ShutdownNow);
        connect(m_shutdownDialog, &TfrmShutdown::CancelClicked, &countdown, &TShutdownCountdown::Cancel);
        connect(&countdown, &TShutdownCountdown::Changed, m_shutdownDialog,
                [this, &countdown] { m_shutdownDialog->SetText(countdown.Text()); });
        connect(&countdown, &TShutdownCountdown::Cancelled, m_shutdownDialog,
                [this] { m_shutdownDialog->done(QDialog::Rejected); });
        // The countdown has set IsQuitting: the window closes for good while the system goes down.
        connect(&countdown, &TShutdownCountdown::PoweringOff, this, [this] {
            m_shutdownDialog->done(QDialog::Accepted);
            close();
        });
    }
    m_shutdownDialog->SetText(countdown.Text());
    m_shutdownDialog->show();
    m_shutdownDialog->raise();
    m_shutdownDialog->activateWindow();
}

bool TfrmMainVaultora::JobIsVisible(const TJob& job) const {
    if (Searching())
        return JobMatchesSearch(job, m_searched);
    return JobMatchesFilter(job, m_filter, Now());
}

void TfrmMainVaultora::ApplyFilter(const TJob& job) {
    const int row = m_context.Jobs().IndexOf(&job);
    const bool hidden = !JobIsVisible(job);
    if (row >= 0 && m_jobsView->isRowHidden(row, QModelIndex()) != hidden)
        m_jobsView->setRowHidden(row, QModelIndex(), hidden);
}

void TfrmMainVaultora::ApplyFilterAndSearch() {
    TJobList& jobs = m_context.Jobs();
    for (int row = 0; row < jobs.Count(); ++row)
        ApplyFilter(*jobs.At(row));
}

void TfrmMainVaultora::UpdateHeaderAndEmptyPanel() {
    QString header;
    QString empty;
    if (Searching()) {
        header = Tr(u"Search results");
        empty = Tr(u"No items match your search");
    } else {
        header = JobFilterPath(m_filter);
        empty = TrFormat(u"No items found in category \"%s\"", {header});
    }
    SetTextIfChanged(m_header, header);
    SetTextIfChanged(m_emptyPanel, empty);
    bool anyVisible = false;
    for (int row = 0; row < m_model->rowCount() && !anyVisible; ++row)
        anyVisible = !m_jobsView->isRowHidden(row, QModelIndex());
    m_emptyPanel->setVisible(!anyVisible);
    PlaceEmptyPanel();
}

void TfrmMainVaultora::PlaceEmptyPanel() {
    m_emptyPanel->setGeometry(m_jobsView->viewport()->rect().adjusted(20, 20, -20, -20));
}

void TfrmMainVaultora::RefreshDisplay() {
    // Started at logon, the program may come up before the desktop's notification area.
    if (!m_closing)
        m_tray->ShowWhenAvailable();
    m_locks.ReleaseIdle(m_context.Jobs());
    m_model->Refresh();
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMainVaultora::ProcessRepaintRequest() {
    if (!App().RepaintRequested.exchange(false, std::memory_order_relaxed))
        return;
    m_locks.ReleaseIdle(m_context.Jobs());
    m_model->Refresh();
    UpdateActions();
    UpdateStatusBar();
}

void TfrmMainVaultora::RefreshAfterAction() {
    // What the action reported shows at once.
    m_context.FlushEventsLog();
    ApplyFilterAndSearch();
    UpdateHeaderAndEmptyPanel();
    RefreshDisplay();
}

void TfrmMainVaultora::UpdateActions() {
    const TJob* job = SelectedJob();
    const TJobStatus status = job ? TJobStatus(job->JobStatus) : jsNone;
    const bool idle = job && status == jsNone;
    for (QAction* action : {m_actBackup, m_actRestore, m_actRemove, m_actProperties, m_actRename, m_actDuplicate,
                            m_actHistory, m_actViewLog})
        action->setEnabled(idle);
    m_editMenu->menuAction()->setEnabled(idle);
    const bool paused = job && status == jsPaused;
    m_actPause->setText(paused ? Tr(u"Resume") : Tr(u"Pause"));
    m_actPause->setEnabled(job && (paused || ((status == jsRunning || status == jsWaiting) && job->CanPause)));
    m_actCancel->setEnabled(job && (status == jsWaiting || status == jsRunning || status == jsPaused));
    const int row = m_jobsView->CurrentRow();
    m_moveUp->setEnabled(job && row > 0);
    m_moveDown->setEnabled(job && row + 1 < m_model->rowCount());
}

void TfrmMainVaultora::UpdateStatusBar() {
    m_statusPanels->Update(m_context.Jobs());
}

QStringList TfrmMainVaultora::StatusPanelTexts() const {
    return m_statusPanels->Texts();
}

// ---- Selection ----

TJob* TfrmMainVaultora::SelectedJob() const {
    const int row = m_jobsView->CurrentRow();
    if (row < 0 || m_jobsView->isRowHidden(row, QModelIndex()))
        return nullptr;
    return m_model->JobAt(row);
}

void TfrmMainVaultora::SelectJob(const TJob* job) {
    m_jobsView->SelectRow(job ? m_context.Jobs().IndexOf(job) : -1);
    UpdateActions();
}

QAction* TfrmMainVaultora::Action(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

QMenu* TfrmMainVaultora::ContextMenuForSelection() const {
    const TJob* job = SelectedJob();
    if (!job)
        return nullptr;
    return job->JobStatus == jsNone ? m_idleMenu : m_runningMenu;
}

void TfrmMainVaultora::ShowContextMenu(const QPoint& globalPos) {
    UpdateActions();
    if (QMenu* menu = ContextMenuForSelection())
        menu->popup(globalPos);
}

// ---- Window events ----

void TfrmMainVaultora::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_firstShowDone) {
        m_firstShowDone = true;
        // After the window has painted itself.
        QTimer::singleShot(0, this, &TfrmMainVaultora::RunFirstShowActions);
    }
}

void TfrmMainVaultora::closeEvent(QCloseEvent* event) {
    SaveWindowState();
    if (!App().IsQuitting) {
        event->ignore();
        HideToNotificationArea();
        return;
    }
    if (m_closing) {
        event->accept();
        return;
    }
    m_closing = true;
    m_scheduler.Stop();
    m_repaintTimer->stop();
    // The window keeps answering while cancelled jobs wind down.
    TQuitWaiter waiter = TQuitWaiter::Sleeping();
    waiter.Sleep = [](int ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
        QThread::msleep(ulong(ms));
    };
    m_jobsAbandoned = !m_context.CancelAllAndWait(waiter);
    m_tray->Hide();
    if (m_welcome)
        m_welcome->close();
    event->accept();
    Q_EMIT Closed();
}

void TfrmMainVaultora::HideToNotificationArea() {
    SaveWindowState();
    // Without a notification area a hidden window could not be found again.
    if (m_tray->Visible())
        hide();
    else
        showMinimized();
}

bool TfrmMainVaultora::ShowFromNotificationArea() {
    if (isVisible() && !isMinimized()) {
        raise();
        activateWindow();
        return true;
    }
    const TGeneralOptions& general = App().Options.General;
    if (general.ProtectConfigurationbyPassword) {
        QString typed;
        if (!TInputBox::GetText(this, Tr(u"Enter Password"), Tr(u"Password:"), typed, true))
            return false;
        if (!ConfigurationPasswordMatches(App().Options, typed)) {
            TMessageBox::Error(this, Tr(u"Invalid password"));
            return false;
        }
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    return true;
}

bool TfrmMainVaultora::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_search) {
        // The box shows its placeholder unless the user is typing a search.
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            m_search->clear();
    } else if (watched == m_jobsView->viewport() && event->type() == QEvent::Resize) {
        PlaceEmptyPanel();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMainVaultora::RunFirstShowActions() {
    const TCommandLine& commandLine = m_context.CommandLine();
    if (commandLine.Restore) {
        for (TJob* job : m_context.JobsNamedOnCommandLine())
            m_actions->RestoreJob(job);
    } else if (commandLine.Backup) {
        m_context.SetCommandLineJobsWaiting();
    } else if (commandLine.Remove) {
        const QList<TJob*> named = m_context.JobsNamedOnCommandLine();
        if (!named.isEmpty())
            m_actions->RemoveWithBackupFolder(named.first());
    } else {
        const QString path = commandLine.JobFileToOpen(App().RemoteJobFileExtension);
        if (!path.isEmpty())
            m_actions->OpenJob(path);
    }
    StartSchedulerTimer();
    if (m_context.ShouldShowWelcome())
        ShowWelcome();
    RefreshAfterAction();
}

void TfrmMainVaultora::ShowWelcome() {
    if (!m_welcome) {
        m_welcome = new TfrmWelcome(this);
        connect(m_welcome, &TfrmWelcome::finished, this, [this] {
            if (m_welcome->DoNotShowAgain())
                m_context.SuppressWelcome();
        });
        connect(m_welcome, &TfrmWelcome::NewJobClicked, m_actions, &TJobActions::NewJob);
        connect(m_welcome, &TfrmWelcome::OpenJobClicked, m_actions, [this] { m_actions->OpenJob(); });
        connect(m_welcome, &TfrmWelcome::UserGuideClicked, this, &TfrmMainVaultora::UserGuide);
    }
    m_welcome->show();
}

// ---- Actions ----

int TfrmMainVaultora::RunDialog(QDialog& dialog) {
    return DialogRunner ? DialogRunner(dialog) : dialog.exec();
}

void TfrmMainVaultora::Minimize() {
    HideToNotificationArea();
}

void TfrmMainVaultora::Quit() {
    // A dialog in progress (a restore being chosen) is finished first.
    if (QApplication::activeModalWidget()) {
        ShowFromNotificationArea();
        return;
    }
    if (!TMessageBox::AskYesNo(isVisible() ? this : nullptr, m_context.QuitQuestionText()))
        return;
    m_context.ConfirmQuit();
    close();
}

void TfrmMainVaultora::SetCardView(bool cards) {
    m_jobsView->SetCardView(cards);
    (cards ? m_actViewCards : m_actViewTable)->setChecked(true);
    SaveWindowState();
}

void TfrmMainVaultora::SetFiltersVisible(bool visible) {
    m_actFilters->setChecked(visible);
    m_filtersPanel->setVisible(visible);
    SaveWindowState();
}

void TfrmMainVaultora::SetEventsVisible(bool visible) {
    m_actEvents->setChecked(visible);
    m_eventsPanel->setVisible(visible);
    SaveWindowState();
}

void TfrmMainVaultora::RunCardAction(TJob* job, TJobCard::TAction action) {
    SelectJob(job);
    switch (action) {
    case TJobCard::caBackup:
        m_actions->Backup();
        break;
    case TJobCard::caRestore:
        m_actions->Restore();
        break;
    case TJobCard::caPause:
    case TJobCard::caResume:
        m_actions->PauseOrResume();
        break;
    case TJobCard::caCancel:
        m_actions->CancelJob();
        break;
    case TJobCard::caViewLog:
        ViewLog();
        break;
    case TJobCard::caNone:
        break;
    }
}

void TfrmMainVaultora::Options() {
    ShowOptions(this, 0);
}

void TfrmMainVaultora::ShowOptions(QWidget* parent, int page) {
    TfrmOptions dialog(parent);
    dialog.Load(App().Options);
    dialog.SetDesktopNotifications(TJobNotices::SwitchedOn());
    dialog.Tabs()->setCurrentIndex(page);
    if (RunDialog(dialog) != QDialog::Accepted)
        return;
    TJobNotices::SetSwitchedOn(dialog.DesktopNotifications());
    const QString error = m_context.ApplyEditedOptions(dialog.Edited());
    if (!error.isEmpty())
        TMessageBox::Error(this, error);
    RefreshAfterAction();
}

void TfrmMainVaultora::FtpClient() {
    TfrmFTPClient dialog(this);
    dialog.InitialFTPAccountInd = -1;
    dialog.ShowSelectedFileInPath = true;
    dialog.setWindowTitle(Tr(u"FTP Client"));
    RunDialog(dialog);
}

void TfrmMainVaultora::CloudClient() {
    TfrmCloudClient dialog(this);
    dialog.InitialCloudServiceInd = -1;
    dialog.ShowSelectedFileInPath = true;
    dialog.setWindowTitle(Tr(u"Cloud Client"));
    RunDialog(dialog);
}

void TfrmMainVaultora::SelectLanguage(int column) {
    if (!m_context.SelectLanguage(column))
        return;
    RebuildLanguageMenu();
    Retranslate();
    m_model->Refresh();
}

void TfrmMainVaultora::AddLanguage() {
    TMessageBox::Information(this, AddLanguageInfoText());
}

void TfrmMainVaultora::UserGuide() {
    TProductSite::Open(TProductSite::UserGuide());
}

void TfrmMainVaultora::Support() {
    TProductSite::Open(TProductSite::Support(App().Options.Language.LanguageOfInterface));
}

void TfrmMainVaultora::ContactUs() {
    TProductSite::Open(TProductSite::Contact(App().Options.Language.LanguageOfInterface));
}

void TfrmMainVaultora::About() {
    const QString title = QString::fromUtf16(TAppGlobals::ApplicationTitle);
    TMessageBox::Information(
        this, title + u' ' + QStringLiteral(VAULTORA_VERSION) + QStringLiteral("\n\n") +
                  Tr(u"Backups of files and folders, drive images and application data, on schedule or on demand.") +
                  QStringLiteral("\n\n") +
                  TProductSite::Website(App().Options.Language.LanguageOfInterface).toString());
}

void TfrmMainVaultora::ShowLogLookup(const TLogFileLookup& lookup, bool counters) {
    switch (lookup.Result) {
    case TLogFileLookup::Open: {
        TfrmLog viewer(this);
        viewer.Load(lookup.Path, counters);
        RunDialog(viewer);
        break;
    }
    case TLogFileLookup::Missing:
        TMessageBox::Error(this, lookup.MessageText);
        break;
    case TLogFileLookup::Refused:
        TMessageBox::Warning(this, lookup.MessageText);
        break;
    }
}

void TfrmMainVaultora::History() {
    if (const TJob* job = m_actions->IdleSelectedJob(false))
        ShowLogLookup(HistoryFile(*job, App().Options.Logging.PathForLogFiles), false);
}

void TfrmMainVaultora::ViewLog() {
    if (const TJob* job = m_actions->IdleSelectedJob(false))
        ShowLogLookup(LastLogFile(*job, App().Options.Logging.PathForLogFiles), true);
}

void TfrmMainVaultora::ViewLogOfMenu(const QString& caption) {
    if (const TJob* job = m_actions->IdleSelectedJob(false))
        ShowLogLookup(LogFileForMenuCaption(*job, App().Options.Logging.PathForLogFiles, caption), true);
}

void TfrmMainVaultora::FillLogMenu() {
    m_logMenu->clear();
    const TJob* job = SelectedJob();
    if (!job || job->JobStatus != jsNone)
        return;
    for (const TLogMenuEntry& entry : LogMenuEntries(*job)) {
        QAction* action = m_logMenu->addAction(entry.Caption);
        const QString caption = entry.Caption;
        connect(action, &QAction::triggered, this, [this, caption] { ViewLogOfMenu(caption); });
    }
}

void TfrmMainVaultora::MoveSelected(int delta) {
    TJob* job = SelectedJob();
    if (!job)
        return;
    TJobList& jobs = m_context.Jobs();
    if (!jobs.Move(jobs.IndexOf(job), delta))
        return;
    if (!jobs.SaveJobsList())
        App().EventsLog.AddToEventsLog(Tr(u"Error: unable to save the jobs list:") + jobs.JobsListPath());
    m_model->Reload();
    ApplyFilterAndSearch();
    SelectJob(job);
    RefreshAfterAction();
}

void TfrmMainVaultora::MoveUp() {
    MoveSelected(-1);
}

void TfrmMainVaultora::MoveDown() {
    MoveSelected(+1);
}

void TfrmMainVaultora::SaveEventsLog() {
    const QString path = TFileDialog::GetSaveFileName(this, Tr(u"Save to file..."), QDir::homePath(),
                                                      Tr(u"Text Files") + QStringLiteral(" (*.txt)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!m_context.EventsLog().SaveToFile(path, &error))
        TMessageBox::Error(this, Tr(u"Unable to write the file:") + u' ' + path + QStringLiteral(" (") + error + u')');
}

void TfrmMainVaultora::Search(const QString& text) {
    m_searched = text;
    if (!text.isEmpty())
        m_filterTree->ClearCurrent();
    else if (!m_filterTree->HasCurrent())
        m_filterTree->ChooseCurrent(m_filter);
    RefreshAfterAction();
}

void TfrmMainVaultora::SelectFilter(TJobFilter filter) {
    m_searched.clear();
    m_filter = filter;
    m_filterTree->MarkCurrent(filter);
    RefreshAfterAction();
}
