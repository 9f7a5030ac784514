#include "ui/TfrmCloudClient.h"

#include "ui/CloudSignIn.h"
#include "ui/TFileDialog.h"
#include "ui/TInputBox.h"
#include "ui/TMessageBox.h"
#include "ui/TProductSite.h"
#include "ui/UiTr.h"

#include "core/base/TextFormat.h"

#include <QCloseEvent>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSplitter>
#include <QStyle>
#include <QTime>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int NameRole = Qt::UserRole;
constexpr int FolderRole = Qt::UserRole + 1;

std::function<int(TfrmCloudClient&)>& ChooserRunner() {
    static std::function<int(TfrmCloudClient&)> runner;
    return runner;
}

QPushButton* MakeButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QString JoinPath(const QString& folder, const QString& name) {
    return folder.endsWith(u'/') ? QString(folder + name) : QString(folder + u'/' + name);
}

QString ParentPath(const QString& path) {
    const qsizetype at = path.lastIndexOf(u'/');
    return at <= 0 ? QStringLiteral("/") : path.left(at);
}

// "/a//b/" -> "/a/b"; every path the window keeps has this form.
QString CleanPath(const QString& path) {
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    return u'/' + parts.join(u'/');
}

// A name the service gave that can be one part of a path here and a file name on this computer.
bool SafeItemName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0));
}

// The token endpoint refused the refresh token (an "HTTP 4xx" answer of RequestToken): the user
// has to sign in again. Transport failures and server errors are no reason to.
bool RefusedTokenText(const QString& error) {
    static const QRegularExpression refused(QStringLiteral("\\bHTTP 4\\d\\d\\b"));
    return refused.match(error).hasMatch();
}

QString LocalDateTime(const QDateTime& utc) {
    if (!utc.isValid())
        return QString();
    const QDateTime local = utc.toLocalTime();
    const QLocale locale;
    return locale.toString(local.date(), QLocale::ShortFormat) + u' ' +
           locale.toString(local.time(), QLocale::ShortFormat);
}

// One piece of a folder transfer: a folder to make or a file to move.
struct TTransferItem {
    QString Remote;
    QString Local;
    bool IsDir = false;
    int64_t Size = 0;
};

} // namespace

TfrmCloudClient::TfrmCloudClient(QWidget* parent)
    : QDialog(parent)
    , m_connect(MakeButton(this, "btConnect"))
    , m_resetAccess(MakeButton(this, "btResetAccess"))
    , m_help(MakeButton(this, "btHelp"))
    , m_tools(new QWidget(this))
    , m_createFolder(MakeButton(m_tools, "btCreateDir"))
    , m_remove(MakeButton(m_tools, "btRemove"))
    , m_rename(MakeButton(m_tools, "btRename"))
    , m_download(MakeButton(m_tools, "btDownload"))
    , m_upload(MakeButton(m_tools, "btUpload"))
    , m_uploadFolder(MakeButton(m_tools, "btUploadFolder"))
    , m_up(MakeButton(this, "btUp"))
    , m_back(MakeButton(this, "btBack"))
    , m_path(new QLineEdit(this))
    , m_list(new QTreeWidget(this))
    , m_details(new QGroupBox(this))
    , m_nameCaption(new QLabel(m_details))
    , m_dateCaption(new QLabel(m_details))
    , m_sizeCaption(new QLabel(m_details))
    , m_fileName(new QLabel(m_details))
    , m_created(new QLabel(m_details))
    , m_size(new QLabel(m_details))
    , m_log(new QListWidget(this))
    , m_status(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_cancelTransfer(MakeButton(this, "btCancelTransfer"))
    , m_bottom(new QWidget(this))
    , m_select(MakeButton(m_bottom, "btSelect"))
    , m_cancelButton(MakeButton(m_bottom, "Button2")) {
    setObjectName(QStringLiteral("frmCloudClient"));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    m_path->setObjectName(QStringLiteral("edSubpath"));
    m_path->setReadOnly(true);
    m_list->setObjectName(QStringLiteral("FilesTV"));
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(3);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_details->setObjectName(QStringLiteral("GroupBox1"));
    m_fileName->setObjectName(QStringLiteral("FileName"));
    m_created->setObjectName(QStringLiteral("Created"));
    m_size->setObjectName(QStringLiteral("Size"));
    m_fileName->setWordWrap(true);
    m_log->setObjectName(QStringLiteral("lbStatus"));
    m_status->setObjectName(QStringLiteral("sbMain"));
    m_progress->setObjectName(QStringLiteral("pbProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setVisible(false);
    m_cancelTransfer->setVisible(false);
    QFont bold = m_select->font();
    bold.setBold(true);
    m_select->setFont(bold);

    auto* top = new QHBoxLayout;
    top->addWidget(m_connect);
    top->addWidget(m_resetAccess);
    top->addStretch(1);
    top->addWidget(m_help);
    auto* tools = new QHBoxLayout(m_tools);
    tools->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* button : {m_createFolder, m_remove, m_rename, m_download, m_upload, m_uploadFolder})
        tools->addWidget(button);
    tools->addStretch(1);
    auto* pathBar = new QHBoxLayout;
    pathBar->addWidget(m_up);
    pathBar->addWidget(m_back);
    pathBar->addWidget(m_path, 1);
    auto* details = new QGridLayout(m_details);
    details->addWidget(m_nameCaption, 0, 0, Qt::AlignTop);
    details->addWidget(m_fileName, 0, 1, Qt::AlignTop);
    details->addWidget(m_dateCaption, 1, 0);
    details->addWidget(m_created, 1, 1);
    details->addWidget(m_sizeCaption, 2, 0);
    details->addWidget(m_size, 2, 1);
    details->setRowStretch(3, 1);
    m_details->setMinimumWidth(240);
    auto* centre = new QHBoxLayout;
    centre->addWidget(m_list, 1);
    centre->addWidget(m_details);
    auto* centreWidget = new QWidget(this);
    centreWidget->setLayout(centre);
    centre->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("Splitter2"));
    splitter->addWidget(centreWidget);
    splitter->addWidget(m_log);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    auto* status = new QHBoxLayout;
    status->addWidget(m_status);
    status->addWidget(m_progress, 1);
    status->addWidget(m_cancelTransfer);
    status->addStretch(0);
    auto* bottom = new QHBoxLayout(m_bottom);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addStretch(1);
    bottom->addWidget(m_select);
    bottom->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_tools);
    layout->addLayout(pathBar);
    layout->addWidget(splitter, 1);
    layout->addLayout(status);
    layout->addWidget(m_bottom);
    resize(760, 540);

    connect(m_connect, &QPushButton::clicked, this, &TfrmCloudClient::ConnectClicked);
    connect(m_resetAccess, &QPushButton::clicked, this, &TfrmCloudClient::ResetAccessClicked);
    connect(m_help, &QPushButton::clicked, this, &TfrmCloudClient::HelpClicked);
    connect(m_createFolder, &QPushButton::clicked, this, &TfrmCloudClient::CreateFolderClicked);
    connect(m_remove, &QPushButton::clicked, this, &TfrmCloudClient::RemoveClicked);
    connect(m_rename, &QPushButton::clicked, this, &TfrmCloudClient::RenameClicked);
    connect(m_download, &QPushButton::clicked, this, &TfrmCloudClient::DownloadClicked);
    connect(m_upload, &QPushButton::clicked, this, &TfrmCloudClient::UploadClicked);
    connect(m_uploadFolder, &QPushButton::clicked, this, &TfrmCloudClient::UploadFolderClicked);
    connect(m_up, &QPushButton::clicked, this, &TfrmCloudClient::UpClicked);
    connect(m_back, &QPushButton::clicked, this, &TfrmCloudClient::BackClicked);
    connect(m_cancelTransfer, &QPushButton::clicked, this, &TfrmCloudClient::CancelTransferClicked);
    connect(m_select, &QPushButton::clicked, this, &TfrmCloudClient::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &TfrmCloudClient::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &TfrmCloudClient::Activate);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &TfrmCloudClient::UpdateSelection);

    const TCloudEndpoints endpoints = LoadCloudEndpoints();
    for (const TCloudService service : {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive}) {
        std::unique_ptr<TCloudDrive> drive = MakeCloudDrive(service, endpoints);
        if (drive) {
            m_savedTokens.at(size_t(service)) = LoadRefreshToken(service);
            drive->SetRefreshToken(m_savedTokens.at(size_t(service)));
        }
        m_drives.at(size_t(service)) = std::move(drive);
    }
    m_worker = std::thread([this] { WorkerLoop(); });
    Retranslate();
    SetControls();
}

TfrmCloudClient::~TfrmCloudClient() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_cancel = true;
    m_wake.notify_all();
    m_worker.join();
    SaveChangedTokens();
}

QPushButton* TfrmCloudClient::Button(const char* objectName) const {
    return findChild<QPushButton*>(QString::fromLatin1(objectName));
}

void TfrmCloudClient::Retranslate() {
    m_connect->setText(Tr(u"Connect"));
    m_resetAccess->setText(Tr(u"Reset Access"));
    m_help->setText(Tr(u"Help"));
    m_createFolder->setText(Tr(u"Create Folder"));
    m_remove->setText(Tr(u"Remove"));
    m_rename->setText(Tr(u"Rename"));
    m_download->setText(Tr(u"Download"));
    m_upload->setText(Tr(u"Upload"));
    m_uploadFolder->setText(Tr(u"Upload Folder"));
    m_createFolder->setToolTip(Tr(u"Create Folder"));
    m_remove->setToolTip(Tr(u"Remove"));
    m_download->setToolTip(Tr(u"Download"));
    m_upload->setToolTip(Tr(u"Upload"));
    m_up->setText(Tr(u"Up"));
    m_back->setText(Tr(u"Back"));
    m_details->setTitle(Tr(u"Details"));
    m_nameCaption->setText(Tr(u"Name:"));
    m_dateCaption->setText(Tr(u"Date:"));
    m_sizeCaption->setText(Tr(u"Size:"));
    m_log->setToolTip(Tr(u"Transaction Log"));
    m_cancelTransfer->setText(Tr(u"Cancel"));
    m_select->setText(Tr(u"Select"));
    m_cancelButton->setText(Tr(u"Cancel"));
    m_list->setHeaderLabels({Tr(u"Name"), Tr(u"Size"), Tr(u"Last Modified")});
}

void TfrmCloudClient::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_opened) {
        m_opened = true;
        Opening();
    }
}

void TfrmCloudClient::Opening() {
    setResult(0);
    m_path->setText(QStringLiteral("/"));
    m_list->clear();
    m_log->clear();
    m_backStack.clear();
    m_currentPath = QStringLiteral("/");
    Retranslate();
    m_connected = false;
    m_bottom->setVisible(InitialCloudServiceInd >= 0);
    m_details->setVisible(ShowSelectedFileInPath);
    SetControls();
    UpdateSelection();
    if (InitialCloudServiceInd >= 0)
        ConnectCloud(InitialCloudServiceInd);
}

void TfrmCloudClient::closeEvent(QCloseEvent* event) {
    if (m_busy) {
        // The work is asked to stop; the window closes when the worker is done with it.
        m_cancel = true;
        m_closeResult = QDialog::Rejected;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmCloudClient::done(int result) {
    if (m_busy) {
        m_cancel = true;
        m_closeResult = result;
        return;
    }
    SaveChangedTokens();
    QDialog::done(result);
}

void TfrmCloudClient::Log(const QString& message) {
    auto* item = new QListWidgetItem(
        QLocale().toString(QTime::currentTime(), QLocale::ShortFormat) + QStringLiteral(": ") + message, m_log);
    m_log->setCurrentItem(item);
    m_log->scrollToItem(item);
}

TCloudDrive* TfrmCloudClient::Current() const {
    if (CloudServiceInd < 0 || CloudServiceInd >= int(m_drives.size()))
        return nullptr;
    return m_drives.at(size_t(CloudServiceInd)).get();
}

QTreeWidgetItem* TfrmCloudClient::Selected() const {
    const QList<QTreeWidgetItem*> items = m_list->selectedItems();
    return items.isEmpty() ? nullptr : items.first();
}

bool TfrmCloudClient::IsFolder(const QTreeWidgetItem* item) const {
    return item && item->data(0, FolderRole).toBool();
}

QString TfrmCloudClient::ItemPath(const QString& name) const {
    return JoinPath(m_currentPath, name);
}

bool TfrmCloudClient::SelectName(const QString& name) {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->data(0, NameRole).toString() == name) {
            m_list->setCurrentItem(item);
            item->setSelected(true);
            return true;
        }
    }
    return false;
}

void TfrmCloudClient::SetControls() {
    const bool idle = !m_busy;
    const bool ready = idle && m_connected;
    const QTreeWidgetItem* item = Selected();
    m_status->setText(m_connected ? Tr(u"Connected") : Tr(u"Disconnected"));
    m_connect->setEnabled(idle);
    m_resetAccess->setEnabled(idle);
    m_help->setEnabled(true);
    for (QPushButton* button : {m_createFolder, m_upload, m_uploadFolder})
        button->setEnabled(ready);
    for (QPushButton* button : {m_remove, m_rename, m_download})
        button->setEnabled(ready && item != nullptr);
    m_up->setEnabled(ready && m_currentPath != u"/");
    m_back->setEnabled(ready && !m_backStack.isEmpty());
    m_list->setEnabled(idle);
    // A file chooser returns a file: a folder path is not one.
    m_select->setEnabled(ready && (!PickFile || (item && !IsFolder(item))));
    m_cancelButton->setEnabled(true);
    m_cancelTransfer->setVisible(m_busy && m_progress->isVisible());
}

void TfrmCloudClient::UpdateSelection() {
    const QTreeWidgetItem* item = Selected();
    if (item && (ShowSelectedFileInPath || IsFolder(item)))
        m_path->setText(ItemPath(item->data(0, NameRole).toString()));
    else
        m_path->setText(m_currentPath);
    if (!m_connected) {
        m_fileName->clear();
        m_created->clear();
        m_size->clear();
    } else if (!item) {
        m_fileName->setText(m_currentPath == u"/" ? m_currentPath
                                                  : m_currentPath.mid(m_currentPath.lastIndexOf(u'/') + 1));
        m_created->setText(QStringLiteral("-"));
        m_size->setText(QStringLiteral("-"));
    } else {
        m_fileName->setText(item->data(0, NameRole).toString());
        m_created->setText(IsFolder(item) ? QStringLiteral("-") : item->text(2));
        m_size->setText(IsFolder(item) ? QStringLiteral("-") : item->text(1));
    }
    SetControls();
}

// ---- the worker ------------------------------------------------------------------------------

void TfrmCloudClient::WorkerLoop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        task();
    }
}

bool TfrmCloudClient::ReportProgress(int64_t done, int64_t total) {
    if (WorkerProgressHook)
        WorkerProgressHook(done, total);
    if (m_cancel)
        return false;
    const int64_t all = m_progressTotal > 0 ? m_progressTotal : total;
    const int64_t at = std::min(m_progressBase + done, all);
    const int permille = all > 0 ? int(at * 1000 / all) : 0;
    if (permille != m_lastPermille) {
        m_lastPermille = permille;
        QMetaObject::invokeMethod(
            this,
            [this, permille] {
                if (m_busy)
                    m_progress->setValue(permille);
            },
            Qt::QueuedConnection);
    }
    return !m_cancel;
}

void TfrmCloudClient::Run(TWork work, TDone finish, bool transfer, bool signInRetry) {
    TCloudDrive* drive = Current();
    if (!drive || m_busy)
        return;
    m_busy = true;
    m_cancel = false;
    if (transfer) {
        m_progress->setValue(0);
        m_progress->setVisible(true);
    }
    SetControls();
    auto task = [this, drive, work, finish, transfer, signInRetry] {
        bool askedForCode = false;
        // Work never opens a browser: a service that wants a new sign-in ends it, and the window
        // signs in on its own thread.
        drive->OnAuthorizationCodeRequest = [&askedForCode](const QString&) {
            askedForCode = true;
            return TCodeAnswer{QString(), QStringLiteral("The service asks for a new sign-in.")};
        };
        const auto progress = [this](int64_t d, int64_t t) { return ReportProgress(d, t); };
        drive->OnUploadProgress = progress;
        drive->OnDownloadProgress = progress;
        m_lastPermille = -1;
        m_progressBase = 0;
        m_progressTotal = 0;
        TOutcome outcome;
        outcome.Ok = work(*drive, outcome);
        if (!outcome.Ok) {
            if (outcome.Error.isEmpty())
                outcome.Error = drive->ErrorText();
            outcome.Cancelled = m_cancel || drive->WasCancelled();
            outcome.SignIn = askedForCode || (!drive->HasAccessToken() && RefusedTokenText(drive->ErrorText()));
        }
        drive->OnAuthorizationCodeRequest = nullptr;
        drive->OnUploadProgress = nullptr;
        drive->OnDownloadProgress = nullptr;
        QMetaObject::invokeMethod(
            this,
            [this, drive, outcome, work, finish, transfer, signInRetry] {
                m_busy = false;
                m_progress->setVisible(false);
                if (!outcome.Ok && outcome.SignIn && signInRetry && m_closeResult < 0) {
                    Log(Tr(u"Please authorize the app."));
                    m_busy = true;
                    SetControls();
                    const bool signedIn = SignInToCloud(this, *drive, SignInPort);
                    m_busy = false;
                    if (signedIn) {
                        m_savedTokens.at(size_t(drive->Service())) = drive->RefreshToken();
                        Run(work, finish, transfer, false);
                        return;
                    }
                }
                SaveChangedTokens();
                if (m_closeResult >= 0) {
                    // The user closed the window meanwhile: the outcome no longer matters.
                    const int result = m_closeResult;
                    m_closeResult = -1;
                    SetControls();
                    Q_EMIT Idle();
                    QDialog::done(result);
                    return;
                }
                finish(outcome);
                SetControls();
                if (!m_busy)
                    Q_EMIT Idle();
            },
            Qt::QueuedConnection);
    };
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void TfrmCloudClient::SaveChangedTokens() {
    // Only with the worker idle. Services renew refresh tokens; every client used keeps its newest.
    for (const TCloudService service : {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive}) {
        const TCloudDrive* drive = m_drives.at(size_t(service)).get();
        QString& saved = m_savedTokens.at(size_t(service));
        if (!drive || drive->RefreshToken().isEmpty() || drive->RefreshToken() == saved)
            continue;
        if (SaveRefreshToken(service, drive->RefreshToken()))
            saved = drive->RefreshToken();
        else
            Log(Tr(u"Unable to save the file: ") + TokenFilePath(service));
    }
}

void TfrmCloudClient::Failed(const TOutcome& outcome) {
    if (outcome.Cancelled) {
        Log(Tr(u"The transfer was cancelled."));
        return;
    }
    Log(outcome.Error);
    TMessageBox::Error(this, outcome.Error);
}

// ---- connecting and browsing -------------------------------------------------------------------

void TfrmCloudClient::ConnectClicked() {
    if (m_busy)
        return;
    if (InitialCloudServiceInd >= 0) {
        ConnectCloud(InitialCloudServiceInd);
        return;
    }
    // The service names are the same in every language.
    QMenu menu(this);
    for (const TCloudService service : {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive})
        menu.addAction(CloudServiceName(service))->setData(int(service));
    QAction* chosen = MenuRunner ? MenuRunner(menu) : menu.exec(m_connect->mapToGlobal(QPoint(0, m_connect->height())));
    if (chosen)
        ConnectCloud(chosen->data().toInt());
}

void TfrmCloudClient::ConnectCloud(int acind) {
    if (m_busy || acind < 0 || acind >= int(m_drives.size()))
        return;
    CloudServiceInd = acind;
    m_connected = false;
    m_list->clear();
    m_backStack.clear();
    m_currentPath = QStringLiteral("/");
    UpdateSelection();
    TCloudDrive* drive = Current();
    if (!drive) {
        Log(Tr(u"Please authorize the app."));
        return;
    }
    drive->Http().Proxy = App().Options.Proxy;
    const TCloudService service = drive->Service();
    const QString start = InitialCloudServiceInd >= 0 ? CleanPath(StartPath) : QStringLiteral("/");
    Run(
        [start](TCloudDrive& d, TOutcome& o) {
            QString folder = start;
            // A chooser may start at a file: its folder is listed and the file selected.
            TCloudItem item;
            if (start != u"/" && d.StatItem(start, item) && !item.IsDir) {
                folder = ParentPath(start);
                o.Select = start.mid(start.lastIndexOf(u'/') + 1);
            }
            if (!d.ListItems(folder, o.Items)) {
                if (folder == u"/" || d.LastFailure() != TCloudFailure::NotFound)
                    return false;
                folder = QStringLiteral("/");
                o.Select.clear();
                o.Items.clear();
                if (!d.ListItems(folder, o.Items))
                    return false;
            }
            o.Text = folder;
            return true;
        },
        [this, service](const TOutcome& o) {
            if (!o.Ok) {
                Log(o.SignIn ? Tr(u"Please authorize the app.") : o.Error);
                return;
            }
            m_connected = true;
            m_currentPath = o.Text;
            setWindowTitle(Tr(u"Cloud Client") + QStringLiteral(" - ") + CloudServiceName(service));
            Fill(o.Items, o.Select);
            m_list->setFocus();
            Log(Tr(u"Connected to the cloud."));
        });
}

void TfrmCloudClient::Fill(const QList<TCloudItem>& items, const QString& select) {
    QList<TCloudItem> shown;
    for (const TCloudItem& item : items) {
        if (!item.IsDir && !ShowSelectedFileInPath)
            continue;
        // A name that cannot be one part of a path would address another item.
        if (!SafeItemName(item.Name)) {
            Log(Tr(u"Skipped an item whose name cannot be used:") + u' ' + EscapeControlCharacters(item.Name));
            continue;
        }
        shown.append(item);
    }
    std::sort(shown.begin(), shown.end(), [](const TCloudItem& a, const TCloudItem& b) {
        if (a.IsDir != b.IsDir)
            return a.IsDir;
        return QString::compare(a.Name, b.Name, Qt::CaseInsensitive) < 0;
    });
    m_list->clear();
    const QStyle* style = this->style();
    for (const TCloudItem& entry : shown) {
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, entry.Name);
        row->setData(0, NameRole, entry.Name);
        row->setData(0, FolderRole, entry.IsDir);
        row->setIcon(0, style->standardIcon(entry.IsDir ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
        if (!entry.IsDir) {
            row->setText(1, FormatSize(int64_t(entry.Size)));
            row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            row->setText(2, LocalDateTime(entry.Modified));
        }
    }
    if (!select.isEmpty())
        SelectName(select);
    UpdateSelection();
}

void TfrmCloudClient::ListFolder(const QString& path, bool pushBack, const QString& select,
                                 const std::function<void(bool)>& after) {
    Run([path](TCloudDrive& d, TOutcome& o) { return d.ListItems(path, o.Items); },
        [this, path, pushBack, select, after](const TOutcome& o) {
            if (!o.Ok) {
                Failed(o);
                if (after)
                    after(false);
                return;
            }
            if (pushBack && m_currentPath != path)
                m_backStack.append(m_currentPath);
            m_currentPath = path;
            Fill(o.Items, select);
            if (after)
                after(true);
        });
}

void TfrmCloudClient::Activate(QTreeWidgetItem* item) {
    if (IsFolder(item) && !m_busy)
        ListFolder(ItemPath(item->data(0, NameRole).toString()), true);
}

void TfrmCloudClient::UpClicked() {
    if (m_currentPath == u"/" || m_busy)
        return;
    const QString left = m_currentPath.mid(m_currentPath.lastIndexOf(u'/') + 1);
    ListFolder(ParentPath(m_currentPath), true, left);
}

void TfrmCloudClient::BackClicked() {
    if (m_backStack.isEmpty() || m_busy)
        return;
    const QString target = m_backStack.takeLast();
    const QString left = m_currentPath;
    ListFolder(target, false, ParentPath(left) == target ? left.mid(left.lastIndexOf(u'/') + 1) : QString());
}

// ---- the item buttons --------------------------------------------------------------------------

bool TfrmCloudClient::UsableName(const QString& name) {
    if (SafeItemName(name) && name.trimmed() == name)
        return true;
    TMessageBox::Warning(this, Tr(u"Not a valid name:") + u' ' + EscapeControlCharacters(name));
    return false;
}

void TfrmCloudClient::CreateFolderClicked() {
    if (!m_connected || m_busy)
        return;
    QString name;
    if (!TInputBox::GetText(this, Tr(u"Name"), Tr(u"Name for new folder"), name))
        return;
    name = name.trimmed();
    if (!UsableName(name))
        return;
    const QString path = ItemPath(name);
    Run([path](TCloudDrive& d, TOutcome&) { return d.MakeFolder(path); },
        [this, name](const TOutcome& o) {
            if (!o.Ok) {
                Failed(o);
                return;
            }
            Log(TrFormat(u"Operation is complete: \"%s\" is created.", {name}));
            ListFolder(m_currentPath, false, name);
        });
}

void TfrmCloudClient::RemoveClicked() {
    const QTreeWidgetItem* item = Selected();
    if (!item || m_busy)
        return;
    const QString name = item->data(0, NameRole).toString();
    if (!TMessageBox::AskYesNo(this, TrFormat(u"Are you sure to delete the item \"%s\"?", {name})))
        return;
    const QString path = ItemPath(name);
    Run([path](TCloudDrive& d, TOutcome&) { return d.DeleteItem(path); },
        [this](const TOutcome& o) {
            if (!o.Ok)
                Failed(o);
            ListFolder(m_currentPath, false);
        });
}

void TfrmCloudClient::RenameClicked() {
    const QTreeWidgetItem* item = Selected();
    if (!item || m_busy)
        return;
    const QString name = item->data(0, NameRole).toString();
    QString newName = name;
    if (!TInputBox::GetText(this, Tr(u"Rename"), Tr(u"New name:"), newName))
        return;
    newName = newName.trimmed();
    if (newName == name || !UsableName(newName))
        return;
    const QString path = ItemPath(name);
    Run([path, newName](TCloudDrive& d, TOutcome&) { return d.RenameItem(path, newName); },
        [this, name, newName](const TOutcome& o) {
            if (!o.Ok) {
                Failed(o);
                ListFolder(m_currentPath, false, name);
                return;
            }
            ListFolder(m_currentPath, false, newName);
        });
}

void TfrmCloudClient::CancelTransferClicked() {
    m_cancel = true;
}

void TfrmCloudClient::DownloadClicked() {
    const QTreeWidgetItem* row = Selected();
    if (!row || m_busy)
        return;
    const QString name = row->data(0, NameRole).toString();
    const QString remote = ItemPath(name);
    if (!IsFolder(row)) {
        const QString local =
            TFileDialog::GetSaveFileName(this, Tr(u"Download"), name, Tr(u"All Files") + QStringLiteral(" (*)"));
        if (local.isEmpty())
            return;
        const QString cannotSave = Tr(u"Unable to save the file: ") + local;
        Run(
            [remote, local, cannotSave](TCloudDrive& d, TOutcome& o) {
                // The file there is replaced only by a complete download.
                QSaveFile file(local);
                if (!file.open(QIODevice::WriteOnly)) {
                    o.Error = cannotSave;
                    return false;
                }
                if (!d.DownloadFile(remote, file)) {
                    file.cancelWriting();
                    return false;
                }
                if (!file.commit()) {
                    o.Error = cannotSave;
                    return false;
                }
                return true;
            },
            [this, local](const TOutcome& o) {
                if (!o.Ok) {
                    Failed(o);
                    return;
                }
                Log(TrFormat(u"Operation is complete: \"%s\" is downloaded.", {QFileInfo(local).fileName()}));
            },
            true);
        return;
    }
    const QString into = TFileDialog::GetExistingDirectory(this, Tr(u"Download"), QString());
    if (into.isEmpty())
        return;
    const QString target = QDir(into).filePath(name);
    const QString cannotSave = Tr(u"Unable to save the file: ");
    const QString unusable = Tr(u"Skipped an item whose name cannot be used:") + u' ';
    Run(
        [this, remote, target, cannotSave, unusable](TCloudDrive& d, TOutcome& o) {
            // First the whole tree, so that the progress knows its total; then the bytes.
            QList<TTransferItem> plan{{remote, target, true, 0}};
            for (qsizetype i = 0; i < plan.size(); ++i) {
                if (!plan.at(i).IsDir)
                    continue;
                if (m_cancel)
                    return false;
                QList<TCloudItem> items;
                if (!d.ListItems(plan.at(i).Remote, items))
                    return false;
                const TTransferItem folder = plan.at(i);
                for (const TCloudItem& item : items) {
                    // A name never leads out of the chosen folder.
                    if (!SafeItemName(item.Name)) {
                        o.Error = unusable + EscapeControlCharacters(item.Name);
                        return false;
                    }
                    plan.append({JoinPath(folder.Remote, item.Name), QDir(folder.Local).filePath(item.Name), item.IsDir,
                                 int64_t(item.Size)});
                }
            }
            for (const TTransferItem& item : std::as_const(plan))
                m_progressTotal += item.Size;
            for (const TTransferItem& item : std::as_const(plan)) {
                if (m_cancel)
                    return false;
                if (item.IsDir) {
                    if (!QDir().mkpath(item.Local)) {
                        o.Error = cannotSave + item.Local;
                        return false;
                    }
                    continue;
                }
                QSaveFile file(item.Local);
                if (!file.open(QIODevice::WriteOnly)) {
                    o.Error = cannotSave + item.Local;
                    return false;
                }
                if (!d.DownloadFile(item.Remote, file)) {
                    file.cancelWriting();
                    return false;
                }
                if (!file.commit()) {
                    o.Error = cannotSave + item.Local;
                    return false;
                }
                m_progressBase += item.Size;
            }
            return true;
        },
        [this, name](const TOutcome& o) {
            if (!o.Ok) {
                Failed(o);
                return;
            }
            Log(TrFormat(u"Operation is complete: \"%s\" is downloaded.", {name}));
        },
        true);
}

void TfrmCloudClient::UploadClicked() {
    if (!m_connected || m_busy)
        return;
    const QString local = TFileDialog::GetOpenFileName(this, Tr(u"Upload"), QString());
    if (local.isEmpty())
        return;
    const QString name = QFileInfo(local).fileName();
    const QString remote = ItemPath(name);
    const QString cannotRead = TrFormat(u"Cannot open file \"%s\"", {local});
    Run(
        [local, remote, cannotRead](TCloudDrive& d, TOutcome& o) {
            QFile file(local);
            if (!file.open(QIODevice::ReadOnly)) {
                o.Error = cannotRead;
                return false;
            }
            return d.UploadFile(file, remote, 0);
        },
        [this, local, name](const TOutcome& o) {
            if (!o.Ok) {
                Failed(o);
                ListFolder(m_currentPath, false);
                return;
            }
            Log(TrFormat(u"Operation is complete: \"%s\" is uploaded.", {local}));
            ListFolder(m_currentPath, false, name);
        },
        true);
}

void TfrmCloudClient::UploadFolderClicked() {
    if (!m_connected || m_busy)
        return;
    const QString local = TFileDialog::GetExistingDirectory(this, Tr(u"Upload Folder"), QString());
    if (local.isEmpty())
        return;
    const QString name = QDir(local).dirName();
    if (!UsableName(name))
        return;
    const QString remote = ItemPath(name);
    const QString cannotRead = Tr(u"Cannot open file \"%s\"");
    Run(
        [this, local, remote, cannotRead](TCloudDrive& d, TOutcome& o) {
            // Links are not followed: a link to a parent folder would never end.
            QList<TTransferItem> plan{{remote, local, true, 0}};
            QDirIterator it(local, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QFileInfo info = it.nextFileInfo();
                if (info.isSymLink() || (!info.isDir() && !info.isFile()))
                    continue;
                const QString relative = QDir(local).relativeFilePath(info.filePath());
                plan.append(
                    {JoinPath(remote, relative), info.filePath(), info.isDir(), info.isDir() ? 0 : info.size()});
            }
            // Parents before their children.
            std::sort(plan.begin() + 1, plan.end(),
                      [](const TTransferItem& a, const TTransferItem& b) { return a.Remote < b.Remote; });
            for (const TTransferItem& item : std::as_const(plan))
                m_progressTotal += item.Size;
            for (const TTransferItem& item : std::as_const(plan)) {
                if (m_cancel)
                    return false;
                if (item.IsDir) {
                    if (!d.MakeFolder(item.Remote) && d.LastFailure() != TCloudFailure::FolderExists)
                        return false;
                    continue;
                }
                QFile file(item.Local);
                if (!file.open(QIODevice::ReadOnly)) {
                    o.Error = FormatText(cannotRead, {item.Local});
                    return false;
                }
                if (!d.UploadFile(file, item.Remote, 0))
                    return false;
                m_progressBase += item.Size;
            }
            return true;
        },
        [this, local, name](const TOutcome& o) {
            if (!o.Ok)
                Failed(o);
            else
                Log(TrFormat(u"Operation is complete: \"%s\" is uploaded.", {local}));
            ListFolder(m_currentPath, false, name);
        },
        true);
}

void TfrmCloudClient::ResetAccessClicked() {
    if (m_busy)
        return;
    int service = CloudServiceInd >= 0 ? CloudServiceInd : InitialCloudServiceInd;
    if (service < 0) {
        QMenu menu(this);
        for (const TCloudService each : {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive})
            menu.addAction(CloudServiceName(each))->setData(int(each));
        QAction* chosen =
            MenuRunner ? MenuRunner(menu) : menu.exec(m_resetAccess->mapToGlobal(QPoint(0, m_resetAccess->height())));
        if (!chosen)
            return;
        service = chosen->data().toInt();
    }
    ResetCloudAccess(this, TCloudService(service), m_drives.at(size_t(service)).get());
    m_savedTokens.at(size_t(service)).clear();
    if (service == CloudServiceInd) {
        m_connected = false;
        m_list->clear();
        m_backStack.clear();
        m_currentPath = QStringLiteral("/");
        UpdateSelection();
    }
}

void TfrmCloudClient::HelpClicked() {
    QUrl url(TProductSite::Address() + QStringLiteral("/manual/cloud-client.html"));
    url.setScheme(QStringLiteral("https"));
    TProductSite::Open(url);
}

// ---- the chooser -------------------------------------------------------------------------------

void TfrmCloudClient::SetChooserRunnerForTesting(std::function<int(TfrmCloudClient&)> runner) {
    ChooserRunner() = std::move(runner);
}

QString TfrmCloudClient::PickPath(QWidget* parent, TCloudService service, const QString& startPath, bool pickFile) {
    TfrmCloudClient dialog(parent);
    dialog.InitialCloudServiceInd = int(service);
    dialog.ShowSelectedFileInPath = pickFile;
    dialog.PickFile = pickFile;
    dialog.StartPath = startPath;
    dialog.setWindowTitle(Tr(u"Cloud Client") + QStringLiteral(" - ") + CloudServiceName(service));
    const int result = ChooserRunner() ? ChooserRunner()(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return QString();
    return dialog.PathEdit()->text();
}
