#include "ui/TfrmOpenJobDialog.h"

#include "ui/TFileDialog.h"
#include "ui/TMessageBox.h"
#include "ui/TfrmCloudClient.h"
#include "ui/TfrmFTPAccountsList.h"
#include "ui/TfrmFTPClient.h"
#include "ui/UiTr.h"

#include "cloud/CloudServices.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QString Extension() {
    return App().RemoteJobFileExtension;
}

} // namespace

TfrmOpenJobDialog::TfrmOpenJobDialog(QWidget* parent)
    : QDialog(parent)
    , m_explanation(new QLabel(this))
    , m_storageLabel(new QLabel(this))
    , m_storage(new QComboBox(this))
    , m_pages(new QStackedWidget(this))
    , m_userLabel(new QLabel(this))
    , m_user(new QLineEdit(this))
    , m_passwordLabel(new QLabel(this))
    , m_password(new QLineEdit(this))
    , m_accountLabel(new QLabel(this))
    , m_account(new QComboBox(this))
    , m_add(new QPushButton(this))
    , m_remove(new QPushButton(this))
    , m_edit(new QPushButton(this))
    , m_serviceLabel(new QLabel(this))
    , m_service(new QComboBox(this))
    , m_resetAccess(new QPushButton(this))
    , m_continue(new QPushButton(this))
    , m_cancel(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmOpenJobDialog"));
    m_explanation->setWordWrap(true);
    m_password->setEchoMode(QLineEdit::Password);
    for (int i = 0; i < 4; ++i)
        m_storage->addItem(QString());
    for (const TCloudService service : {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive})
        m_service->addItem(CloudServiceName(service));

    QGridLayout* grids[4];
    for (int page = 0; page < 4; ++page) {
        auto* widget = new QWidget(m_pages);
        grids[page] = new QGridLayout(widget);
        grids[page]->setContentsMargins(0, 0, 0, 0);
        m_pathLabel[page] = new QLabel(widget);
        m_path[page] = new QLineEdit(widget);
        m_browse[page] = new QPushButton(widget);
        m_pages->addWidget(widget);
        connect(m_browse[page], &QPushButton::clicked, this, &TfrmOpenJobDialog::Browse);
    }
    auto pathRow = [&](int page, int row) {
        grids[page]->addWidget(m_pathLabel[page], row, 0);
        grids[page]->addWidget(m_path[page], row, 1);
        grids[page]->addWidget(m_browse[page], row, 2);
    };
    pathRow(pgLocal, 0);
    pathRow(pgNetwork, 0);
    grids[pgNetwork]->addWidget(m_userLabel, 1, 0);
    grids[pgNetwork]->addWidget(m_user, 1, 1);
    grids[pgNetwork]->addWidget(m_passwordLabel, 2, 0);
    grids[pgNetwork]->addWidget(m_password, 2, 1);
    auto* accountButtons = new QHBoxLayout;
    accountButtons->addWidget(m_add);
    accountButtons->addWidget(m_remove);
    accountButtons->addWidget(m_edit);
    grids[pgFtp]->addWidget(m_accountLabel, 0, 0);
    grids[pgFtp]->addWidget(m_account, 0, 1);
    grids[pgFtp]->addLayout(accountButtons, 1, 1);
    pathRow(pgFtp, 2);
    grids[pgCloud]->addWidget(m_serviceLabel, 0, 0);
    grids[pgCloud]->addWidget(m_service, 0, 1);
    grids[pgCloud]->addWidget(m_resetAccess, 0, 2);
    pathRow(pgCloud, 1);
    for (QGridLayout* grid : grids)
        grid->setRowStretch(grid->rowCount(), 1);

    connect(m_storage, &QComboBox::currentIndexChanged, m_pages, &QStackedWidget::setCurrentIndex);
    connect(m_add, &QPushButton::clicked, this, &TfrmOpenJobDialog::AddAccount);
    connect(m_edit, &QPushButton::clicked, this, &TfrmOpenJobDialog::EditAccount);
    connect(m_remove, &QPushButton::clicked, this, &TfrmOpenJobDialog::RemoveAccount);
    connect(m_continue, &QPushButton::clicked, this, &TfrmOpenJobDialog::Continue);
    connect(m_cancel, &QPushButton::clicked, this, &TfrmOpenJobDialog::reject);
    m_continue->setDefault(true);

    auto* storageRow = new QHBoxLayout;
    storageRow->addWidget(m_storageLabel);
    storageRow->addWidget(m_storage, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_continue);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_explanation);
    layout->addLayout(storageRow);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);
    resize(560, 260);
    FillAccounts(0);
}

void TfrmOpenJobDialog::Retranslate() {
    setWindowTitle(u' ' + Tr(u"Open"));
    m_explanation->setText(
        Tr(u"You can open job directly from the storage.") + u' ' +
        TrFormat(u"Click \"Browse...\" and find the job file (%s) on your storage.", {u'*' + Extension()}));
    m_storageLabel->setText(Tr(u"Storage:"));
    m_storage->setItemText(pgLocal, Tr(u"Local or External Drive"));
    m_storage->setItemText(pgNetwork, Tr(u"Network"));
    m_storage->setItemText(pgFtp, Tr(u"FTP"));
    m_storage->setItemText(pgCloud, Tr(u"Cloud"));
    for (int page = 0; page < 4; ++page) {
        m_pathLabel[page]->setText(Tr(u"Job File:"));
        m_browse[page]->setText(Tr(u"Browse..."));
    }
    m_userLabel->setText(Tr(u"Username:"));
    m_passwordLabel->setText(Tr(u"Password:"));
    m_accountLabel->setText(Tr(u"FTP Account") + u':');
    m_add->setText(Tr(u"Add..."));
    m_remove->setText(Tr(u"Remove"));
    m_edit->setText(Tr(u"Edit..."));
    m_serviceLabel->setText(Tr(u"Cloud Service:"));
    m_resetAccess->setText(Tr(u"Reset Access"));
    m_continue->setText(Tr(u"Continue..."));
    m_cancel->setText(Tr(u"Cancel"));
}

void TfrmOpenJobDialog::showEvent(QShowEvent* event) {
    Retranslate();
    m_tag = 0;
    for (QLineEdit* path : m_path)
        path->clear();
    m_path[pgLocal]->setText(DefaultPath);
    m_storage->setCurrentIndex(pgLocal);
    m_pages->setCurrentIndex(pgLocal);
    // Browsing and continuing on the cloud page need a service: the first is chosen to start.
    m_service->setCurrentIndex(0);
    FillAccounts(0);
    QDialog::showEvent(event);
}

void TfrmOpenJobDialog::done(int result) {
    DefaultPath.clear();
    QDialog::done(result);
}

void TfrmOpenJobDialog::FillAccounts(int select) {
    m_account->clear();
    for (const TFTPAccount& account : App().Options.FTPAccounts)
        m_account->addItem(account.AccName);
    if (select >= 0 && select < m_account->count())
        m_account->setCurrentIndex(select);
    UpdateFtpControls();
}

void TfrmOpenJobDialog::UpdateFtpControls() {
    const bool any = m_account->count() > 0;
    for (QWidget* control : std::initializer_list<QWidget*>{m_edit, m_remove, m_account, m_accountLabel,
                                                            m_pathLabel[pgFtp], m_path[pgFtp], m_browse[pgFtp]})
        control->setEnabled(any);
}

TfrmOpenJobDialog::TPage TfrmOpenJobDialog::CurrentPage() const {
    return TPage(m_storage->currentIndex() < 0 ? 0 : m_storage->currentIndex());
}

void TfrmOpenJobDialog::Browse() {
    const TPage page = CurrentPage();
    QLineEdit* edit = m_path[page];
    switch (page) {
    case pgLocal:
    case pgNetwork: {
        const QString mask = u'*' + Extension();
        const QString chosen =
            TFileDialog::GetOpenFileName(this, Tr(u"Open"), edit->text(), mask + QStringLiteral(" (") + mask + u')');
        if (!chosen.isEmpty())
            edit->setText(chosen);
        break;
    }
    case pgFtp: {
        QString path;
        if (TfrmFTPClient::PickFtpPath(this, m_account->currentIndex(), true, path))
            edit->setText(path);
        break;
    }
    case pgCloud: {
        // The Cloud Client as a chooser of the stored job file.
        TCloudService service;
        if (!CloudServiceFromName(m_service->currentText(), service))
            break;
        const QString start = edit->text().trimmed().isEmpty() ? QStringLiteral("/") : edit->text().trimmed();
        const QString chosen = TfrmCloudClient::PickPath(this, service, start, true);
        if (!chosen.isEmpty())
            edit->setText(chosen);
        break;
    }
    }
}

void TfrmOpenJobDialog::AddAccount() {
    const int index = TfrmFTPAccountsList::AddAccount(this, DialogRunner);
    if (index < 0)
        return;
    m_path[pgFtp]->clear();
    FillAccounts(index);
}

void TfrmOpenJobDialog::EditAccount() {
    const int index = m_account->currentIndex();
    if (TfrmFTPAccountsList::EditAccount(this, index, DialogRunner))
        FillAccounts(index);
}

void TfrmOpenJobDialog::RemoveAccount() {
    const int next = TfrmFTPAccountsList::RemoveAccount(this, m_account->currentIndex());
    if (next == -2)
        return;
    FillAccounts(next < 0 ? 0 : next);
}

void TfrmOpenJobDialog::Continue() {
    const TPage page = CurrentPage();
    const QString path = m_path[page]->text().trimmed();
    if ((page == pgFtp || page == pgCloud) && path.contains(u'\\')) {
        TMessageBox::Error(this, Tr(u"The path cannot contain the \\ character."));
        return;
    }
    const qsizetype slash =
        page == pgNetwork ? std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\')) : path.lastIndexOf(u'/');
    const QString fileName = path.mid(slash + 1);
    // A bare extension names no job.
    if (!fileName.endsWith(Extension()) || fileName.size() == Extension().size() ||
        (page == pgFtp && m_account->currentIndex() < 0)) {
        TMessageBox::Error(this, TrFormat(u"Click \"Browse...\" and find the job file %s.", {u'*' + Extension()}));
        return;
    }
    m_tag = 1;
    accept();
}

TStoredJobLocation TfrmOpenJobDialog::Location() const {
    TStoredJobLocation location;
    const TPage page = CurrentPage();
    location.Path = m_path[page]->text().trimmed();
    switch (page) {
    case pgLocal:
        location.Type = dtLocalOrExternalDrive;
        break;
    case pgNetwork:
        location.Type = dtNetwork;
        location.Username = m_user->text();
        location.Password = m_password->text();
        break;
    case pgFtp: {
        location.Type = dtFTP;
        const QList<TFTPAccount>& accounts = App().Options.FTPAccounts;
        const int index = m_account->currentIndex();
        if (index >= 0 && index < accounts.size())
            location.AccountID = accounts.at(index).ID;
        break;
    }
    case pgCloud:
        location.Type = dtCloud;
        location.ServiceName = m_service->currentText();
        break;
    }
    return location;
}
