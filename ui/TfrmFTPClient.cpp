#include "ui/TfrmFTPClient.h"

#include "ui/TFileDialog.h"
#include "ui/TInputBox.h"
#include "ui/TMessageBox.h"
#include "ui/TProductSite.h"
#include "ui/TfrmFTPAccountsList.h"
#include "ui/UiTr.h"

#include "core/base/TextFormat.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int NameRole = Qt::UserRole;
constexpr int FolderRole = Qt::UserRole + 1;

std::function<int(TfrmFTPClient&)>& ChooserRunner() {
    static std::function<int(TfrmFTPClient&)> runner;
    return runner;
}

bool HasControlCharacters(const QString& text) {
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return true;
    return false;
}

// Shows the wait cursor for the length of a blocking call.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

QPushButton* MakeButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

} // namespace

TfrmFTPClient::TfrmFTPClient(QWidget* parent)
    : QDialog(parent)
    , m_connect(MakeButton(this, "btnConnect"))
    , m_disconnect(MakeButton(this, "btnDisconnect"))
    , m_settings(MakeButton(this, "btnSettings"))
    , m_help(MakeButton(this, "btnHelp"))
    , m_path(new QLineEdit(this))
    , m_tools(new QWidget(this))
    , m_createFolder(MakeButton(m_tools, "btnCreateFolder"))
    , m_remove(MakeButton(m_tools, "btnRemove"))
    , m_rename(MakeButton(m_tools, "btnRename"))
    , m_download(MakeButton(m_tools, "btnDownload"))
    , m_upload(MakeButton(m_tools, "btnUpload"))
    , m_up(MakeButton(this, "btnUp"))
    , m_back(MakeButton(this, "btnBack"))
    , m_home(MakeButton(this, "btnHome"))
    , m_list(new QTreeWidget(this))
    , m_log(new QListWidget(this))
    , m_online(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_cancelTransferButton(MakeButton(this, "btnCancelTransfer"))
    , m_bottom(new QWidget(this))
    , m_select(MakeButton(m_bottom, "btnSelect"))
    , m_cancel(MakeButton(m_bottom, "btnCancel")) {
    setObjectName(QStringLiteral("frmFTPClient"));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    m_path->setObjectName(QStringLiteral("edSubpath"));
    m_path->setReadOnly(true);
    m_list->setObjectName(QStringLiteral("lvFoldersAndFiles"));
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(3);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_log->setObjectName(QStringLiteral("lbStatus"));
    m_online->setObjectName(QStringLiteral("lblOnline"));
    m_progress->setObjectName(QStringLiteral("pbProgress"));
    m_progress->setVisible(false);
    m_cancelTransferButton->setVisible(false);

    auto* top = new QHBoxLayout;
    for (QPushButton* button : {m_connect, m_disconnect, m_settings, m_help})
        top->addWidget(button);
    top->addStretch(1);
    auto* tools = new QHBoxLayout(m_tools);
    tools->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* button : {m_createFolder, m_remove, m_rename, m_download, m_upload})
        tools->addWidget(button);
    auto* pathBar = new QHBoxLayout;
    pathBar->addWidget(m_path, 1);
    pathBar->addWidget(m_tools);
    for (QPushButton* button : {m_up, m_back, m_home})
        pathBar->addWidget(button);
    auto* status = new QHBoxLayout;
    status->addWidget(m_online);
    status->addWidget(m_progress, 1);
    status->addWidget(m_cancelTransferButton);
    auto* bottom = new QHBoxLayout(m_bottom);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addStretch(1);
    bottom->addWidget(m_select);
    bottom->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(pathBar);
    layout->addWidget(m_list, 3);
    layout->addWidget(m_log, 1);
    layout->addLayout(status);
    layout->addWidget(m_bottom);
    resize(720, 540);

    connect(m_connect, &QPushButton::clicked, this, &TfrmFTPClient::ConnectClicked);
    connect(m_disconnect, &QPushButton::clicked, this, &TfrmFTPClient::DisconnectClicked);
    connect(m_settings, &QPushButton::clicked, this, &TfrmFTPClient::SettingsClicked);
    connect(m_help, &QPushButton::clicked, this, &TfrmFTPClient::HelpClicked);
    connect(m_createFolder, &QPushButton::clicked, this, &TfrmFTPClient::CreateFolderClicked);
    connect(m_remove, &QPushButton::clicked, this, &TfrmFTPClient::RemoveClicked);
    connect(m_rename, &QPushButton::clicked, this, &TfrmFTPClient::RenameClicked);
    connect(m_download, &QPushButton::clicked, this, &TfrmFTPClient::DownloadClicked);
    connect(m_upload, &QPushButton::clicked, this, &TfrmFTPClient::UploadClicked);
    connect(m_up, &QPushButton::clicked, this, &TfrmFTPClient::UpClicked);
    connect(m_back, &QPushButton::clicked, this, &TfrmFTPClient::BackClicked);
    connect(m_home, &QPushButton::clicked, this, &TfrmFTPClient::HomeClicked);
    connect(m_cancelTransferButton, &QPushButton::clicked, this, &TfrmFTPClient::CancelTransferClicked);
    connect(m_select, &QPushButton::clicked, this, &TfrmFTPClient::accept);
    connect(m_cancel, &QPushButton::clicked, this, &TfrmFTPClient::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &TfrmFTPClient::Activate);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &TfrmFTPClient::UpdatePath);
    Retranslate();
}

TfrmFTPClient::~TfrmFTPClient() {
    Disconnect();
}

QPushButton* TfrmFTPClient::Button(const char* objectName) const {
    return findChild<QPushButton*>(QString::fromLatin1(objectName));
}

void TfrmFTPClient::Retranslate() {
    m_connect->setText(Tr(u"Connect"));
    m_disconnect->setText(Tr(u"Disconnect"));
    m_settings->setText(Tr(u"Settings"));
    m_help->setText(Tr(u"Help"));
    m_createFolder->setText(Tr(u"Create Folder"));
    m_remove->setText(Tr(u"Remove"));
    m_rename->setText(Tr(u"Rename"));
    m_download->setText(Tr(u"Download"));
    m_upload->setText(Tr(u"Upload"));
    m_up->setText(Tr(u"Up"));
    m_back->setText(Tr(u"Back"));
    m_home->setText(Tr(u"Home"));
    m_cancelTransferButton->setText(Tr(u"Cancel"));
    m_select->setText(Tr(u"Select"));
    m_cancel->setText(Tr(u"Cancel"));
    m_up->setToolTip(Tr(u"Up"));
    m_back->setToolTip(Tr(u"Back"));
    m_home->setToolTip(Tr(u"Home"));
    m_list->setHeaderLabels({Tr(u"File"), Tr(u"Size"), Tr(u"Last Modified")});
}

void TfrmFTPClient::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_opened) {
        m_opened = true;
        Opening();
    }
}

void TfrmFTPClient::Opening() {
    setResult(0);
    FLastDirStack.clear();
    CurrentDir.clear();
    m_path->setText(QStringLiteral("/"));
    m_list->clear();
    m_log->clear();
    Retranslate();
    const bool chooser = InitialFTPAccountInd >= 0;
    m_bottom->setVisible(chooser);
    m_tools->setVisible(!chooser);
    m_settings->setVisible(!chooser);
    SetControls();
    if (chooser)
        ConnectFTP(InitialFTPAccountInd);
}

void TfrmFTPClient::closeEvent(QCloseEvent* event) {
    // The transfer's call is still on the stack: it is asked to stop, and the window stays.
    if (m_busy) {
        m_cancelTransfer = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmFTPClient::done(int result) {
    if (m_busy) {
        m_cancelTransfer = true;
        return;
    }
    Disconnect();
    QDialog::done(result);
}

void TfrmFTPClient::Log(const QString& message, const QColor& color) {
    auto* item = new QListWidgetItem(message, m_log);
    item->setForeground(color);
    m_log->scrollToItem(item);
}

void TfrmFTPClient::SetControls() {
    const bool connected = m_connection && m_connection->Connected();
    const bool idle = !m_busy;
    m_online->setText(connected ? Tr(u"Online") : Tr(u"Offline"));
    m_connect->setEnabled(idle && !connected && !App().Options.FTPAccounts.isEmpty());
    for (QPushButton* button : {m_disconnect, m_up, m_home, m_remove, m_rename, m_createFolder, m_download, m_upload})
        button->setEnabled(idle && connected);
    m_back->setEnabled(idle && connected && !FLastDirStack.isEmpty());
    for (QPushButton* button : {m_settings, m_help, m_select, m_cancel})
        button->setEnabled(idle);
    m_list->setEnabled(idle);
    m_cancelTransferButton->setVisible(m_busy);
}

void TfrmFTPClient::ConnectClicked() {
    const QList<TFTPAccount>& accounts = App().Options.FTPAccounts;
    if (InitialFTPAccountInd >= 0) {
        if (!accounts.isEmpty())
            ConnectFTP(InitialFTPAccountInd);
        return;
    }
    QMenu menu(this);
    for (qsizetype i = 0; i < accounts.size(); ++i)
        menu.addAction(accounts.at(i).AccName)->setData(int(i));
    QAction* chosen = MenuRunner ? MenuRunner(menu) : menu.exec(m_connect->mapToGlobal(QPoint(0, m_connect->height())));
    if (chosen)
        ConnectFTP(chosen->data().toInt());
}

void TfrmFTPClient::ConnectFTP(int acind) {
    const QList<TFTPAccount>& accounts = App().Options.FTPAccounts;
    if (acind < 0 || acind >= accounts.size())
        return;
    Disconnect();
    const TFTPAccount account = accounts.at(acind);
    setWindowTitle(Tr(u"FTP Client") + QStringLiteral(" - ") + account.AccName);
    m_connection = MakeFtpConnection(TFtpConnectSettings::From(account, App().Options.Proxy));
    m_connection->OnStatus = [this](const QString& line) { Log(line, Qt::black); };
    m_connection->OnProgress = [this](int64_t done, int64_t total) { return OnProgress(done, total); };
    bool connected = false;
    {
        const TWaitCursor wait;
        connected = m_connection->Connect();
    }
    if (!connected) {
        Log(Tr(u"Connection failed: ") + m_connection->ErrorText(), Qt::red);
        Disconnect();
        SetControls();
        return;
    }
    DisplayFTP();
    QString root;
    if (m_connection->CurrentFolder(root))
        FRootDir = root;
    SetControls();
}

void TfrmFTPClient::Disconnect() {
    if (m_connection && m_connection->Connected())
        m_connection->Disconnect();
}

void TfrmFTPClient::DisconnectClicked() {
    Disconnect();
    m_list->clear();
    m_path->setText(QStringLiteral("/"));
    SetControls();
}

void TfrmFTPClient::DisplayFTP() {
    if (!m_connection)
        return;
    m_list->setEnabled(false);
    {
        const TWaitCursor wait;
        QString current;
        QStringList names;
        if (!m_connection->CurrentFolder(current) || !m_connection->NameList(current, names)) {
            Failed(QString());
        } else {
            CurrentDir = current;
            m_path->setText(current);
            m_list->clear();
            m_progress->setRange(0, int(names.size()));
            m_progress->setValue(0);
            m_progress->setVisible(true);
            const QStyle* style = this->style();
            for (qsizetype i = 0; i < names.size(); ++i) {
                const QString& name = names.at(i);
                m_progress->setValue(int(i) + 1);
                // A name with a line break would end the command it goes into and start another.
                if (HasControlCharacters(name)) {
                    Log(Tr(u"Skipped a name with control characters:") + u' ' + EscapeControlCharacters(name), Qt::red);
                    continue;
                }
                auto* item = new QTreeWidgetItem(m_list);
                item->setText(0, name);
                item->setData(0, NameRole, name);
                int64_t size = 0;
                // A server that answers SIZE only for files tells folders apart this way.
                const bool folder = !m_connection->Size(ServerPath(name), size);
                item->setData(0, FolderRole, folder);
                item->setIcon(0, style->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
                if (!folder) {
                    item->setText(1, FormatSize(size));
                    QDateTime modified;
                    if (m_connection->ModifiedTime(ServerPath(name), modified))
                        item->setText(2, QLocale().toString(modified.toLocalTime(), QLocale::ShortFormat));
                }
            }
        }
    }
    m_list->setEnabled(true);
    m_progress->setVisible(false);
    UpdatePath();
    SetControls();
}

QString TfrmFTPClient::ServerPath(const QString& name) const {
    if (CurrentDir.isEmpty())
        return name;
    if (CurrentDir.endsWith(u'/'))
        return CurrentDir + name;
    return CurrentDir + u'/' + name;
}

QTreeWidgetItem* TfrmFTPClient::Selected() const {
    const QList<QTreeWidgetItem*> items = m_list->selectedItems();
    return items.isEmpty() ? nullptr : items.first();
}

bool TfrmFTPClient::IsFolder(const QTreeWidgetItem* item) const {
    return item && item->data(0, FolderRole).toBool();
}

void TfrmFTPClient::UpdatePath() {
    const QTreeWidgetItem* item = Selected();
    if (item && (ShowSelectedFileInPath || IsFolder(item)))
        m_path->setText(ServerPath(item->data(0, NameRole).toString()));
    else
        m_path->setText(CurrentDir.isEmpty() ? QStringLiteral("/") : CurrentDir);
}

void TfrmFTPClient::Failed(const QString& what) {
    const QString error = m_connection ? m_connection->ErrorText() : QString();
    Log(what.isEmpty() ? error : QString(what + u' ' + error), Qt::red);
    SetControls();
}

bool TfrmFTPClient::UsableName(const QString& name) {
    if (!name.isEmpty() && !HasControlCharacters(name))
        return true;
    TMessageBox::Warning(this, Tr(u"The name holds characters an FTP server cannot take:") + u' ' +
                                   EscapeControlCharacters(name));
    return false;
}

bool TfrmFTPClient::EnterFolder(const QString& path) {
    if (!m_connection)
        return false;
    QString current;
    if (!m_connection->CurrentFolder(current) || !m_connection->ChangeFolder(path)) {
        Failed(QString());
        return false;
    }
    FLastDirStack.append(current);
    DisplayFTP();
    return true;
}

void TfrmFTPClient::Activate(QTreeWidgetItem* item) {
    if (IsFolder(item))
        EnterFolder(item->data(0, NameRole).toString());
}

void TfrmFTPClient::UpClicked() {
    if (!m_connection)
        return;
    if (!m_connection->ChangeToParent()) {
        Failed(QString());
        return;
    }
    DisplayFTP();
}

void TfrmFTPClient::BackClicked() {
    if (FLastDirStack.isEmpty())
        return;
    const qsizetype before = FLastDirStack.size();
    // The folder entered pushes the one left; both it and the one used go.
    if (EnterFolder(FLastDirStack.last()))
        FLastDirStack.remove(before - 1, 2);
    else
        FLastDirStack.removeLast();
    SetControls();
}

void TfrmFTPClient::HomeClicked() {
    EnterFolder(FRootDir);
}

void TfrmFTPClient::CreateFolderClicked() {
    if (!m_connection)
        return;
    QString name = Tr(u"New Folder");
    if (!TInputBox::GetText(this, u' ' + Tr(u"New folder"), Tr(u"New folder name:"), name))
        return;
    name = name.trimmed();
    if (!UsableName(name))
        return;
    if (!m_connection->MakeFolder(ServerPath(name))) {
        Failed(QString());
        return;
    }
    EnterFolder(ServerPath(name));
}

void TfrmFTPClient::RemoveClicked() {
    const QTreeWidgetItem* item = Selected();
    if (!m_connection)
        return;
    if (!item) {
        TMessageBox::Warning(this, Tr(u"You must first select a file or folder to delete from the site."));
        return;
    }
    const QString name = item->data(0, NameRole).toString();
    if (!TMessageBox::AskYesNo(this, TrFormat(u"Are you sure you want to delete %s?", {name})))
        return;
    const QString path = ServerPath(name);
    int64_t size = 0;
    const bool removed =
        m_connection->Size(path, size) ? m_connection->RemoveFile(path) : m_connection->RemoveFolder(path);
    if (!removed)
        Failed(QString());
    DisplayFTP();
}

void TfrmFTPClient::RenameClicked() {
    const QTreeWidgetItem* item = Selected();
    if (!m_connection)
        return;
    if (!item) {
        TMessageBox::Warning(this, Tr(u"You must first select a file or folder to rename."));
        return;
    }
    const QString name = item->data(0, NameRole).toString();
    QString newName = name;
    if (!TInputBox::GetText(this, u' ' + Tr(u"Rename"), Tr(u"New name:"), newName))
        return;
    newName = newName.trimmed();
    if (newName == name || !UsableName(newName))
        return;
    if (newName.contains(u'/')) {
        TMessageBox::Warning(this, Tr(u"The name holds characters an FTP server cannot take:") + u' ' + newName);
        return;
    }
    if (!m_connection->Rename(ServerPath(name), ServerPath(newName)))
        Failed(QString());
    DisplayFTP();
}

bool TfrmFTPClient::OnProgress(int64_t done, int64_t total) {
    if (m_cancelTransfer)
        return false;
    if (!m_workBegun) {
        m_workBegun = true;
        m_workTenth = 0;
        Log(TrFormat(u"Beginning work: %s", {QString::number(total)}), Qt::darkMagenta);
        m_progress->setRange(0, 1000);
        m_progress->setValue(0);
        m_progress->setVisible(true);
    }
    // The bar follows every event; the log gets a line per tenth, not one per network packet.
    const int permille = total > 0 ? int(std::min<int64_t>(done, total) * 1000 / total) : 0;
    m_progress->setValue(permille);
    if (total > 0 && permille / 100 > m_workTenth) {
        m_workTenth = permille / 100;
        Log(TrFormat(u"Working: %s", {QString::number(done)}), Qt::darkMagenta);
    }
    // Lets the window repaint and its Cancel button be clicked; everything else is disabled.
    QCoreApplication::processEvents();
    return !m_cancelTransfer;
}

bool TfrmFTPClient::Transfer(const std::function<bool()>& call) {
    m_busy = true;
    m_cancelTransfer = false;
    m_workBegun = false;
    SetControls();
    const bool ok = call();
    m_busy = false;
    m_progress->setVisible(false);
    Log(Tr(u"Work end"), Qt::darkMagenta);
    if (!ok && m_connection->Aborted())
        Log(Tr(u"The transfer was cancelled."), Qt::red);
    else if (!ok)
        Failed(QString());
    SetControls();
    return ok;
}

void TfrmFTPClient::CancelTransferClicked() {
    m_cancelTransfer = true;
}

void TfrmFTPClient::DownloadClicked() {
    const QTreeWidgetItem* item = Selected();
    if (!m_connection)
        return;
    if (!item) {
        TMessageBox::Warning(this, Tr(u"You must first select a file to download from the site."));
        return;
    }
    const QString name = item->data(0, NameRole).toString();
    if (IsFolder(item)) {
        EnterFolder(name);
        return;
    }
    const QString extension = QFileInfo(name).suffix();
    QString filter = Tr(u"All Files") + QStringLiteral(" (*)");
    if (!extension.isEmpty())
        filter.prepend(extension + u' ' + Tr(u"files") + QStringLiteral(" (*.") + extension + QStringLiteral(");;"));
    // A server's name never chooses the folder: only its last part is offered.
    const QString local = TFileDialog::GetSaveFileName(this, Tr(u"Download"), QFileInfo(name).fileName(), filter);
    if (local.isEmpty())
        return;
    if (QFileInfo::exists(local) && TMessageBox::AskYesNo(this, Tr(u"File exists overwrite?")))
        QFile::remove(local);
    const QString remote = ServerPath(name);
    // An existing local file that was kept is continued where the server can resume.
    Transfer([&] { return m_connection->Download(remote, local, true); });
}

void TfrmFTPClient::UploadClicked() {
    if (!m_connection)
        return;
    const QString local = TFileDialog::GetOpenFileName(this, Tr(u"Upload"), QString());
    if (local.isEmpty())
        return;
    const QString name = QFileInfo(local).fileName();
    if (!UsableName(name))
        return;
    const QString remote = ServerPath(name);
    Transfer([&] { return m_connection->Upload(local, remote); });
    DisplayFTP();
}

void TfrmFTPClient::SettingsClicked() {
    TfrmFTPAccountsList list(this);
    list.Refill();
    if (DialogRunner)
        DialogRunner(list);
    else
        list.exec();
    SetControls();
}

void TfrmFTPClient::HelpClicked() {
    TProductSite::Open(TProductSite::FtpClientHelp());
}

void TfrmFTPClient::SetChooserRunnerForTesting(std::function<int(TfrmFTPClient&)> runner) {
    ChooserRunner() = std::move(runner);
}

bool TfrmFTPClient::PickFtpPath(QWidget* parent, int accountIndex, bool files, QString& path) {
    const QList<TFTPAccount>& accounts = App().Options.FTPAccounts;
    if (accountIndex < 0 || accountIndex >= accounts.size())
        return false;
    TfrmFTPClient dialog(parent);
    dialog.InitialFTPAccountInd = accountIndex;
    dialog.ShowSelectedFileInPath = files;
    dialog.setWindowTitle(Tr(u"FTP Client") + QStringLiteral(" - ") + accounts.at(accountIndex).AccName);
    const int result = ChooserRunner() ? ChooserRunner()(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return false;
    path = dialog.PathEdit()->text();
    return true;
}
