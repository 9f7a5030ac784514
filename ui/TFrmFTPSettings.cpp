#include "ui/TFrmFTPSettings.h"

#include "ui/TMessageBox.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmPassword.h"
#include "ui/UiTr.h"

#include "core/format/OptionsFile.h"
#include "net/TFtpConnection.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

std::function<void(QWidget*, int)>& OptionsOpener() {
    static std::function<void(QWidget*, int)> opener;
    return opener;
}

// The proxy page of the Options dialog.
constexpr int ProxyPage = 5;

} // namespace

TFrmFTPSettings::TFrmFTPSettings(QWidget* parent)
    : QDialog(parent)
    , m_nameLabel(new QLabel(this))
    , m_hostLabel(new QLabel(this))
    , m_portLabel(new QLabel(this))
    , m_userLabel(new QLabel(this))
    , m_passwordLabel(new QLabel(this))
    , m_name(new QLineEdit(this))
    , m_host(new QLineEdit(this))
    , m_port(new QLineEdit(this))
    , m_user(new QLineEdit(this))
    , m_passwordState(new QLabel(this))
    , m_setPassword(new QPushButton(this))
    , m_passive(new QCheckBox(this))
    , m_ftps(new QCheckBox(this))
    , m_proxy(new QPushButton(this))
    , m_test(new QPushButton(this))
    , m_ok(new QPushButton(this))
    , m_cancel(new QPushButton(this)) {
    setObjectName(QStringLiteral("FrmFTPSettings"));
    m_name->setObjectName(QStringLiteral("edFTPAccountName"));
    m_host->setObjectName(QStringLiteral("edFTPHost"));
    m_port->setObjectName(QStringLiteral("edFTPServerPort"));
    m_user->setObjectName(QStringLiteral("edFTPUsername"));
    m_passive->setObjectName(QStringLiteral("chPassiveMode"));
    m_ftps->setObjectName(QStringLiteral("chFTPS_SSL"));
    m_port->setMaxLength(5);

    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(m_passwordState, 1);
    passwordRow->addWidget(m_setPassword);
    auto* form = new QFormLayout;
    form->addRow(m_nameLabel, m_name);
    form->addRow(m_hostLabel, m_host);
    form->addRow(m_portLabel, m_port);
    form->addRow(m_userLabel, m_user);
    form->addRow(m_passwordLabel, passwordRow);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_proxy);
    buttons->addWidget(m_test);
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_passive);
    layout->addWidget(m_ftps);
    layout->addLayout(buttons);

    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &TFrmFTPSettings::accept);
    connect(m_cancel, &QPushButton::clicked, this, &TFrmFTPSettings::reject);
    connect(m_setPassword, &QPushButton::clicked, this, &TFrmFTPSettings::SetPassword);
    connect(m_proxy, &QPushButton::clicked, this, &TFrmFTPSettings::OpenProxySettings);
    connect(m_test, &QPushButton::clicked, this, &TFrmFTPSettings::Test);
    Clear();
    Retranslate();
}

void TFrmFTPSettings::Retranslate() {
    setWindowTitle(u' ' + Tr(u"FTP Settings"));
    m_nameLabel->setText(Tr(u"Name:"));
    m_hostLabel->setText(Tr(u"FTP Host:"));
    m_portLabel->setText(Tr(u"Port:"));
    m_userLabel->setText(Tr(u"Username:"));
    m_passwordLabel->setText(Tr(u"Password:"));
    m_passwordState->setText(m_password.isEmpty() ? Tr(u"Password is not set") : Tr(u"Password is set"));
    m_setPassword->setText(Tr(u"Set password..."));
    m_passive->setText(Tr(u"Passive mode"));
    m_ftps->setText(Tr(u"FTPS-SSL"));
    m_proxy->setText(Tr(u"Proxy Settings..."));
    m_test->setText(Tr(u"Test"));
    m_ok->setText(Tr(u"OK"));
    m_cancel->setText(Tr(u"Cancel"));
}

void TFrmFTPSettings::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}

void TFrmFTPSettings::Clear() {
    Load(TFTPAccount());
}

void TFrmFTPSettings::Load(const TFTPAccount& account) {
    m_name->setText(account.AccName);
    m_host->setText(account.Host);
    m_port->setText(QString::number(account.Port));
    m_user->setText(account.Username);
    m_password = account.Password;
    m_passive->setChecked(account.PassiveMode);
    m_ftps->setChecked(account.FTPS);
    Retranslate();
}

bool TFrmFTPSettings::Port(int& port) const {
    bool ok = false;
    port = m_port->text().trimmed().toInt(&ok);
    return ok && port >= 1 && port <= 65535;
}

TFTPAccount TFrmFTPSettings::Account() const {
    TFTPAccount account;
    account.AccName = m_name->text().trimmed();
    account.Host = m_host->text().trimmed();
    int port = 0;
    account.Port = Port(port) ? port : 21;
    account.Username = m_user->text();
    account.Password = m_password;
    account.PassiveMode = m_passive->isChecked();
    account.FTPS = m_ftps->isChecked();
    return account;
}

void TFrmFTPSettings::accept() {
    if (m_name->text().trimmed().isEmpty()) {
        TMessageBox::Error(this, Tr(u"Please specify FTP Account Name"));
        m_name->setFocus();
        return;
    }
    // Refused here rather than when the fields are copied, so no account is half filled.
    int port = 0;
    if (!Port(port)) {
        TMessageBox::Error(this, Tr(u"Please specify a port from 1 to 65535"));
        m_port->setFocus();
        return;
    }
    QDialog::accept();
}

void TFrmFTPSettings::SetPassword() {
    TfrmPassword dialog(this);
    if ((DialogRunner ? DialogRunner(dialog) : dialog.exec()) != QDialog::Accepted)
        return;
    m_password = dialog.Password();
    Retranslate();
}

void TFrmFTPSettings::SetOptionsOpener(std::function<void(QWidget*, int)> opener) {
    OptionsOpener() = std::move(opener);
}

void TFrmFTPSettings::OpenProxySettings() {
    if (OptionsOpener()) {
        OptionsOpener()(this, ProxyPage);
        return;
    }
    TfrmOptions dialog(this);
    dialog.Load(App().Options);
    dialog.Tabs()->setCurrentIndex(ProxyPage);
    if ((DialogRunner ? DialogRunner(dialog) : dialog.exec()) != QDialog::Accepted)
        return;
    App().Options.Proxy = dialog.Edited().Proxy;
    SaveOptions();
}

void TFrmFTPSettings::Test() {
    int port = 0;
    if (!Port(port)) {
        TMessageBox::Error(this, Tr(u"Connection failed: ") + Tr(u"Please specify a port from 1 to 65535"));
        return;
    }
    TFTPAccount account = Account();
    account.Port = port;
    const std::unique_ptr<TFtpConnection> connection =
        MakeFtpConnection(TFtpConnectSettings::From(account, App().Options.Proxy));
    // The test runs on the window's thread as a modal wait; the transport's own time-outs end it.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool connected = connection->Connect();
    const QString error = connected ? QString() : connection->ErrorText();
    if (connection->Connected())
        connection->Disconnect();
    QApplication::restoreOverrideCursor();
    if (connected)
        TMessageBox::Information(this, Tr(u"Successfully tested."));
    else
        TMessageBox::Error(this, Tr(u"Connection failed: ") + error);
}
