#include "ui/TDestinationPage.h"

#include "ui/CloudSignIn.h"
#include "ui/PickCloudPath.h"
#include "ui/TDriveCombo.h"
#include "ui/TFileDialog.h"
#include "ui/TMessageBox.h"
#include "ui/TfrmFTPAccountsList.h"
#include "ui/TfrmFTPClient.h"
#include "ui/TfrmPassword.h"
#include "ui/UiTr.h"

#include "cloud/TCloudDrive.h"
#include "storage/SharePath.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const TCloudService Services[] = {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive};

QLabel* TitleLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    label->setFont(font);
    return label;
}

QLineEdit* Edit(QWidget* parent, const QString& name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QPushButton* Button(QWidget* parent, const QString& name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    return button;
}

// The real access test: the stored refresh token (a sign-in when there is none), the program's
// proxy, one listing of the root; the renewed token is written back.
bool TestCloudAccess(QWidget* parent, TCloudService service) {
    std::unique_ptr<TCloudDrive> drive = MakeCloudDrive(service, LoadCloudEndpoints());
    if (!drive) {
        TMessageBox::Error(parent, TrFormat(u"Destinations of the type \"%s\" are not available in this build.",
                                            {CloudServiceName(service)}));
        return false;
    }
    drive->SetRefreshToken(LoadRefreshToken(service));
    drive->Http().Proxy = App().Options.Proxy;
    if (drive->RefreshToken().isEmpty() && !SignInToCloud(parent, *drive))
        return false;
    QList<TCloudItem> items;
    if (!drive->ListItems(QStringLiteral("/"), items)) {
        TMessageBox::Error(parent, drive->ErrorText());
        return false;
    }
    if (!SaveRefreshToken(service, drive->RefreshToken())) {
        TMessageBox::Error(parent, Tr(u"Unable to save the file: ") + TokenFilePath(service));
        return false;
    }
    return true;
}

} // namespace

QString SharePathOfMountedFolder(const QString& folder) {
    static const QRegularExpression Gvfs(QStringLiteral("/smb-share:([^/]*)(/.*)?$"));
    const QRegularExpressionMatch match = Gvfs.match(folder);
    if (!match.hasMatch())
        return folder;
    QString server, share;
    for (const QString& pair : match.captured(1).split(u',')) {
        if (pair.startsWith(QStringLiteral("server=")))
            server = pair.mid(7);
        else if (pair.startsWith(QStringLiteral("share=")))
            share = pair.mid(6);
    }
    if (server.isEmpty() || share.isEmpty())
        return folder;
    return QStringLiteral("//") + server + u'/' + share + match.captured(2);
}

bool IsUsableSharePath(const QString& text) {
    TSharePath path;
    return text.trimmed().size() >= 2 && ParseSharePath(text.trimmed(), path);
}

TDestinationPage::TDestinationPage(QWidget* parent)
    : QWidget(parent)
    , CloudAccessCheck(&TestCloudAccess)
    , bgDestination(new QButtonGroup(this))
    , m_pages(new QStackedWidget(this)) {
    setObjectName(QStringLiteral("DestinationPage"));
    const char16_t* const names[] = {u"btnLocal", u"btnNetwork", u"btnFTP", u"btnCloud"};
    auto* buttons = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        m_buttons[i] = new QToolButton(this);
        m_buttons[i]->setObjectName(QString::fromUtf16(names[i]));
        m_buttons[i]->setCheckable(true);
        m_buttons[i]->setAutoRaise(true);
        m_buttons[i]->setMinimumSize(110, 48);
        m_buttons[i]->setToolButtonStyle(Qt::ToolButtonTextOnly);
        bgDestination->addButton(m_buttons[i], i);
        buttons->addWidget(m_buttons[i]);
        m_titles[i] = TitleLabel(this);
    }
    buttons->addStretch(1);
    m_pages->addWidget(LocalPage());
    m_pages->addWidget(NetworkPage());
    m_pages->addWidget(FtpPage());
    m_pages->addWidget(CloudPage());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(m_pages, 1);
    connect(bgDestination, &QButtonGroup::idClicked, this,
            [this](int id) { SetDestinationType(TDestinationType(id)); });
    Retranslate();
    Clear();
}

QWidget* TDestinationPage::LocalPage() {
    auto* page = new QWidget(this);
    m_diskLabel = new QLabel(page);
    m_drive = new TDriveCombo(page);
    m_localSubfolderLabel = new QLabel(page);
    m_localSubfolder = Edit(page, QStringLiteral("edLocalSubfolder"));
    m_localChoose = Button(page, QStringLiteral("btnLocalChoose"));
    m_localNote = new QLabel(page);
    m_opticalWarning = new QLabel(page);
    m_opticalWarning->setObjectName(QStringLiteral("lblUDFWarning"));
    m_opticalWarning->setStyleSheet(QStringLiteral("color: red"));
    auto* grid = new QGridLayout(page);
    grid->addWidget(m_titles[0], 0, 0, 1, 3);
    grid->addWidget(m_diskLabel, 1, 0);
    grid->addWidget(m_drive, 1, 1, 1, 2);
    grid->addWidget(m_localSubfolderLabel, 2, 0);
    grid->addWidget(m_localSubfolder, 2, 1);
    grid->addWidget(m_localChoose, 2, 2);
    grid->addWidget(m_localNote, 3, 1, 1, 2);
    grid->addWidget(m_opticalWarning, 4, 1, 1, 2);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(1, 1);
    connect(m_drive, &QComboBox::currentIndexChanged, this,
            [this] { m_opticalWarning->setVisible(m_drive->SelectedIsOptical()); });
    connect(m_localChoose, &QPushButton::clicked, this, &TDestinationPage::ChooseLocalFolder);
    return page;
}

QWidget* TDestinationPage::NetworkPage() {
    auto* page = new QWidget(this);
    m_userLabel = new QLabel(page);
    m_user = Edit(page, QStringLiteral("edNetworkUser"));
    m_passwordLabel = new QLabel(page);
    m_setPassword = Button(page, QStringLiteral("btnNetworkPassword"));
    m_networkPasswordState = new QLabel(page);
    m_networkPasswordState->setObjectName(QStringLiteral("lblNetworkPassword"));
    m_uncLabel = new QLabel(page);
    m_unc = Edit(page, QStringLiteral("edUNCPath"));
    m_networkChoose = Button(page, QStringLiteral("btnNetworkChoose"));
    auto* password = new QHBoxLayout;
    password->addWidget(m_setPassword);
    password->addWidget(m_networkPasswordState, 1);
    auto* grid = new QGridLayout(page);
    grid->addWidget(m_titles[1], 0, 0, 1, 3);
    grid->addWidget(m_userLabel, 1, 0);
    grid->addWidget(m_user, 1, 1, 1, 2);
    grid->addWidget(m_passwordLabel, 2, 0);
    grid->addLayout(password, 2, 1, 1, 2);
    grid->addWidget(m_uncLabel, 3, 0);
    grid->addWidget(m_unc, 3, 1);
    grid->addWidget(m_networkChoose, 3, 2);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(1, 1);
    connect(m_setPassword, &QPushButton::clicked, this, &TDestinationPage::SetNetworkPassword);
    connect(m_networkChoose, &QPushButton::clicked, this, &TDestinationPage::ChooseNetworkFolder);
    return page;
}

QWidget* TDestinationPage::FtpPage() {
    auto* page = new QWidget(this);
    m_ftpAccountLabel = new QLabel(page);
    m_ftpAccount = new QComboBox(page);
    m_ftpAccount->setObjectName(QStringLiteral("cmbFTPAccount"));
    m_ftpAdd = Button(page, QStringLiteral("btnFTPAdd"));
    m_ftpRemove = Button(page, QStringLiteral("btnFTPRemove"));
    m_ftpEdit = Button(page, QStringLiteral("btnFTPEdit"));
    m_ftpSubfolderLabel = new QLabel(page);
    m_ftpSubfolder = Edit(page, QStringLiteral("edFTPSubfolder"));
    m_ftpChoose = Button(page, QStringLiteral("btnFTPChoose"));
    auto* accountButtons = new QHBoxLayout;
    accountButtons->addWidget(m_ftpAdd);
    accountButtons->addWidget(m_ftpRemove);
    accountButtons->addWidget(m_ftpEdit);
    accountButtons->addStretch(1);
    auto* grid = new QGridLayout(page);
    grid->addWidget(m_titles[2], 0, 0, 1, 3);
    grid->addWidget(m_ftpAccountLabel, 1, 0);
    grid->addWidget(m_ftpAccount, 1, 1, 1, 2);
    grid->addLayout(accountButtons, 2, 1, 1, 2);
    grid->addWidget(m_ftpSubfolderLabel, 3, 0);
    grid->addWidget(m_ftpSubfolder, 3, 1);
    grid->addWidget(m_ftpChoose, 3, 2);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(1, 1);
    connect(m_ftpAdd, &QPushButton::clicked, this, &TDestinationPage::AddFtpAccount);
    connect(m_ftpRemove, &QPushButton::clicked, this, &TDestinationPage::RemoveFtpAccount);
    connect(m_ftpEdit, &QPushButton::clicked, this, &TDestinationPage::EditFtpAccount);
    connect(m_ftpChoose, &QPushButton::clicked, this, &TDestinationPage::ChooseFtpFolder);
    connect(m_ftpAccount, &QComboBox::activated, this, [this] { m_ftpSubfolder->setText(QStringLiteral("/")); });
    return page;
}

QWidget* TDestinationPage::CloudPage() {
    auto* page = new QWidget(this);
    m_serviceLabel = new QLabel(page);
    m_service = new QComboBox(page);
    m_service->setObjectName(QStringLiteral("cmbCloudService"));
    for (TCloudService service : Services)
        m_service->addItem(CloudServiceName(service));
    m_resetAccess = Button(page, QStringLiteral("btnResetAccess"));
    m_cloudSubfolderLabel = new QLabel(page);
    m_cloudSubfolder = Edit(page, QStringLiteral("edCloudSubfolder"));
    m_cloudChoose = Button(page, QStringLiteral("btnCloudChoose"));
    m_oneDriveWarning = new QLabel(page);
    m_oneDriveWarning->setObjectName(QStringLiteral("lblOneDriveWarning"));
    m_oneDriveWarning->setStyleSheet(QStringLiteral("color: red"));
    m_oneDriveWarning->setWordWrap(true);
    auto* grid = new QGridLayout(page);
    grid->addWidget(m_titles[3], 0, 0, 1, 3);
    grid->addWidget(m_serviceLabel, 1, 0);
    grid->addWidget(m_service, 1, 1);
    grid->addWidget(m_resetAccess, 1, 2);
    grid->addWidget(m_cloudSubfolderLabel, 2, 0);
    grid->addWidget(m_cloudSubfolder, 2, 1);
    grid->addWidget(m_cloudChoose, 2, 2);
    grid->addWidget(m_oneDriveWarning, 3, 1, 1, 2);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(1, 1);
    connect(m_service, &QComboBox::activated, this, [this] { m_cloudSubfolder->setText(QStringLiteral("/")); });
    connect(m_service, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_oneDriveWarning->setVisible(index >= 0 && Services[index] == TCloudService::OneDrive);
    });
    connect(m_resetAccess, &QPushButton::clicked, this, &TDestinationPage::ResetCloudAccessClicked);
    connect(m_cloudChoose, &QPushButton::clicked, this, &TDestinationPage::ChooseCloudFolder);
    return page;
}

void TDestinationPage::Retranslate() {
    const char16_t* const hints[] = {u"Local or External Disk", u"Network", u"FTP", u"Cloud"};
    for (int i = 0; i < 4; ++i) {
        m_buttons[i]->setText(Tr(hints[i]));
        m_buttons[i]->setToolTip(Tr(hints[i]));
        m_titles[i]->setText(QStringLiteral("  ") + Tr(hints[i]));
    }
    m_diskLabel->setText(Tr(u"Disk:"));
    m_localSubfolderLabel->setText(Tr(u"Subfolder:"));
    m_localChoose->setText(Tr(u"Choose..."));
    m_localNote->setText(Tr(u"Local or external HDD, Flash drive, DVD/Blue-ray etc."));
    m_opticalWarning->setText(Tr(u"Warning!  You have to format your CD/DVD in UDF format before to run backup."));
    m_userLabel->setText(Tr(u"Username:"));
    m_passwordLabel->setText(Tr(u"Password:"));
    m_setPassword->setText(Tr(u"Set Password") + QStringLiteral("..."));
    m_uncLabel->setText(Tr(u"UNC - path:"));
    m_networkChoose->setText(Tr(u"Choose..."));
    m_ftpAccountLabel->setText(Tr(u"Account:"));
    m_ftpAdd->setText(Tr(u"Add..."));
    m_ftpRemove->setText(Tr(u"Remove"));
    m_ftpEdit->setText(Tr(u"Edit..."));
    m_ftpSubfolderLabel->setText(Tr(u"Subfolder:"));
    m_ftpChoose->setText(Tr(u"Choose..."));
    m_serviceLabel->setText(Tr(u"Service:"));
    m_resetAccess->setText(Tr(u"Reset Access"));
    m_cloudSubfolderLabel->setText(Tr(u"Subfolder:"));
    m_cloudChoose->setText(Tr(u"Choose..."));
    m_oneDriveWarning->setText(
        Tr(u"Warning! OneDrive does not allow the following characters in the names of files and folders:") +
        QStringLiteral("\r\n") + QStringLiteral("~ \" # % & * : < > ? / \\ { | }"));
    UpdatePasswordState();
}

QToolButton* TDestinationPage::DestinationButton(TDestinationType type) const {
    return m_buttons[int(type)];
}

void TDestinationPage::SetDestinationType(TDestinationType type) {
    m_buttons[int(type)]->setChecked(true);
    m_pages->setCurrentIndex(int(type));
}

TDestinationType TDestinationPage::DestinationType() const {
    return TDestinationType(m_pages->currentIndex());
}

int TDestinationPage::RunDialog(QDialog& dialog) {
    return DialogRunner ? DialogRunner(dialog) : dialog.exec();
}

void TDestinationPage::UpdatePasswordState() {
    m_networkPasswordState->setText(strNetworkPassword.isEmpty() ? Tr(u"Password is not set") : Tr(u"Password is set"));
}

void TDestinationPage::Clear() {
    SetDestinationType(dtLocalOrExternalDrive);
    m_drive->Refill();
    m_drive->SelectDisk(QString());
    m_opticalWarning->setVisible(false);
    m_localSubfolder->setText(QStringLiteral("/"));
    m_user->clear();
    m_unc->clear();
    strNetworkPassword.clear();
    UpdatePasswordState();
    RefillFtpAccounts(App().Options.FTPAccounts.isEmpty() ? -1 : App().Options.FTPAccounts.last().ID);
    m_ftpSubfolder->setText(QStringLiteral("/"));
    m_service->setCurrentIndex(0);
    m_cloudSubfolder->setText(QStringLiteral("/"));
}

void TDestinationPage::Load(const TDestinationSettings& settings) {
    SetDestinationType(settings.DestinationType);
    m_drive->Refill();
    m_drive->SelectDisk(settings.LocalOrExternalDrive.Disk);
    m_opticalWarning->setVisible(m_drive->SelectedIsOptical());
    m_localSubfolder->setText(settings.LocalOrExternalDrive.Subfolder);
    m_user->setText(settings.Network.Username);
    strNetworkPassword = settings.Network.Password;
    UpdatePasswordState();
    m_unc->setText(settings.Network.UNCPath);
    RefillFtpAccounts(settings.FTP.AccountID);
    // A job's FTP account that is gone is not replaced unseen by another: the user chooses one.
    if (settings.DestinationType == dtFTP && m_ftpAccount->currentData().toInt() != settings.FTP.AccountID)
        m_ftpAccount->setCurrentIndex(-1);
    m_ftpSubfolder->setText(settings.FTP.Subfolder);
    TCloudService service{};
    if (CloudServiceFromName(settings.Cloud.ServiceName, service))
        m_service->setCurrentIndex(int(service));
    else
        m_service->setCurrentIndex(settings.DestinationType == dtCloud ? -1 : 0);
    m_cloudSubfolder->setText(settings.Cloud.Subfolder);
}

void TDestinationPage::Store(TDestinationSettings& settings) const {
    settings.DestinationType = DestinationType();
    switch (settings.DestinationType) {
    case dtLocalOrExternalDrive:
        settings.LocalOrExternalDrive.Disk = m_drive->Disk();
        settings.LocalOrExternalDrive.Subfolder = m_localSubfolder->text();
        break;
    case dtNetwork:
        settings.Network.Username = m_user->text();
        settings.Network.Password = strNetworkPassword;
        settings.Network.UNCPath = m_unc->text().trimmed();
        break;
    case dtFTP:
        if (m_ftpAccount->currentIndex() >= 0) {
            settings.FTP.AccountID = m_ftpAccount->currentData().toInt();
            settings.FTP.Subfolder = m_ftpSubfolder->text();
        } else {
            settings.FTP.AccountID = -1;
            settings.FTP.Subfolder = QStringLiteral("/");
        }
        break;
    case dtCloud:
        settings.Cloud.ServiceName = m_service->currentText();
        settings.Cloud.Subfolder = m_cloudSubfolder->text();
        break;
    }
}

bool TDestinationPage::Validate() {
    switch (DestinationType()) {
    case dtLocalOrExternalDrive: {
        const QString disk = m_drive->Disk();
        if (disk.isEmpty()) {
            TMessageBox::Warning(this, Tr(u"Please choose a disk"));
            return false;
        }
        QString subfolder = m_localSubfolder->text();
        if (subfolder.startsWith(u'/'))
            subfolder.remove(0, 1);
        const QString path = QDir(disk).filePath(subfolder);
        if (!QFileInfo(path).isDir())
            TMessageBox::Warning(this, Tr(u"The directory does not exist:") + QStringLiteral("\r\n") + path);
        return true;
    }
    case dtNetwork:
        if (!IsUsableSharePath(m_unc->text())) {
            TMessageBox::Warning(this, Tr(u"Please choose correct UNC-path"));
            return false;
        }
        return true;
    case dtFTP:
        if (m_ftpAccount->currentIndex() < 0) {
            TMessageBox::Warning(this, Tr(u"Please add FTP account"));
            return false;
        }
        if (m_ftpSubfolder->text().contains(u'\\')) {
            TMessageBox::Error(this, Tr(u"The path cannot contain the \\ character."));
            return false;
        }
        return true;
    case dtCloud:
        return ValidateCloud();
    }
    return true;
}

bool TDestinationPage::ValidateCloud() {
    const int index = m_service->currentIndex();
    if (index < 0) {
        TMessageBox::Warning(this, Tr(u"Please choose a cloud service"));
        return false;
    }
    if (m_cloudSubfolder->text().contains(u'\\')) {
        TMessageBox::Error(this, Tr(u"The path cannot contain the \\ character."));
        return false;
    }
    return CloudAccessCheck(this, Services[index]);
}

void TDestinationPage::ChooseLocalFolder() {
    QString start = m_drive->Disk();
    if (start.isEmpty())
        start = QStringLiteral("/");
    const QString chosen = TFileDialog::GetExistingDirectory(this, Tr(u"Choose a subfolder"), start);
    if (chosen.isEmpty() || !QFileInfo(chosen).isDir())
        return;
    const QString folder = QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
    QString disk = m_drive->DiskOf(folder);
    if (disk.isEmpty())
        disk = QStringLiteral("/");
    m_drive->SelectDisk(disk);
    QString relative = folder.mid(disk.size());
    if (!relative.startsWith(u'/'))
        relative.prepend(u'/');
    m_localSubfolder->setText(relative);
}

void TDestinationPage::ChooseNetworkFolder() {
    const QString gvfs = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/gvfs");
    const QString chosen = TFileDialog::GetExistingDirectory(this, Tr(u"Choose a Network folder"),
                                                             QFileInfo(gvfs).isDir() ? gvfs : QDir::homePath());
    if (!chosen.isEmpty())
        m_unc->setText(SharePathOfMountedFolder(chosen));
}

void TDestinationPage::SetNetworkPassword() {
    TfrmPassword dialog(this);
    if (RunDialog(dialog) != QDialog::Accepted)
        return;
    strNetworkPassword = dialog.Password();
    UpdatePasswordState();
}

void TDestinationPage::RefillFtpAccounts(int32_t id) {
    m_ftpAccount->clear();
    for (const TFTPAccount& account : App().Options.FTPAccounts)
        m_ftpAccount->addItem(account.AccName, account.ID);
    int index = m_ftpAccount->findData(id);
    if (index < 0)
        index = m_ftpAccount->count() - 1;
    m_ftpAccount->setCurrentIndex(index);
    UpdateFTPTabControls();
}

void TDestinationPage::UpdateFTPTabControls() {
    const bool any = m_ftpAccount->count() > 0;
    for (QWidget* widget : {static_cast<QWidget*>(m_ftpEdit), static_cast<QWidget*>(m_ftpRemove),
                            static_cast<QWidget*>(m_ftpAccount), static_cast<QWidget*>(m_ftpSubfolderLabel),
                            static_cast<QWidget*>(m_ftpSubfolder), static_cast<QWidget*>(m_ftpChoose)})
        widget->setEnabled(any);
}

void TDestinationPage::AddFtpAccount() {
    const int index = TfrmFTPAccountsList::AddAccount(this, DialogRunner);
    if (index < 0)
        return;
    RefillFtpAccounts(App().Options.FTPAccounts.at(index).ID);
    m_ftpSubfolder->setText(QStringLiteral("/"));
}

void TDestinationPage::EditFtpAccount() {
    const int index = m_ftpAccount->currentIndex();
    if (index < 0 || !TfrmFTPAccountsList::EditAccount(this, index, DialogRunner))
        return;
    RefillFtpAccounts(App().Options.FTPAccounts.at(index).ID);
}

void TDestinationPage::RemoveFtpAccount() {
    const int next = TfrmFTPAccountsList::RemoveAccount(this, m_ftpAccount->currentIndex());
    if (next == -2)
        return;
    const auto& accounts = App().Options.FTPAccounts;
    RefillFtpAccounts(next >= 0 && next < accounts.size() ? accounts.at(next).ID : -1);
}

void TDestinationPage::ChooseFtpFolder() {
    QString path = m_ftpSubfolder->text();
    if (m_ftpAccount->currentIndex() >= 0 &&
        TfrmFTPClient::PickFtpPath(this, m_ftpAccount->currentIndex(), false, path))
        m_ftpSubfolder->setText(path);
}

void TDestinationPage::ResetCloudAccessClicked() {
    const int index = m_service->currentIndex();
    if (index >= 0)
        ResetCloudAccess(this, Services[index]);
}

void TDestinationPage::ChooseCloudFolder() {
    const int index = m_service->currentIndex();
    if (index < 0)
        return;
    const QString path = PickCloudPath(this, Services[index], m_cloudSubfolder->text());
    if (!path.isEmpty())
        m_cloudSubfolder->setText(path);
}
