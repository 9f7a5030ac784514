#include "ui/TfrmOptions.h"

#include "ui/TFileDialog.h"
#include "ui/TMessageBox.h"
#include "ui/TProductSite.h"
#include "ui/TfrmPassword.h"
#include "ui/UiTr.h"

#include "core/settings/OptionsChecks.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <climits>

namespace {

template <class T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QSpinBox* NewSpin(QWidget* parent, const char* name) {
    auto* spin = Named(new QSpinBox(parent), name);
    // The options take any count; only negative ones would make no sense.
    spin->setRange(0, INT_MAX);
    return spin;
}

QHBoxLayout* PathRow(QLineEdit* edit, QPushButton* browse) {
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse);
    return row;
}

QHBoxLayout* PasswordRow(QPushButton* button, QLabel* state) {
    auto* row = new QHBoxLayout;
    row->addWidget(button);
    row->addWidget(state, 1);
    return row;
}

void SetComboItems(QComboBox* combo, const QStringList& items) {
    const int index = combo->currentIndex();
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(qMax(0, index));
}

QString PasswordState(const QString& password) {
    return password.isEmpty() ? Tr(u"Password is not set") : Tr(u"Password is set");
}

} // namespace

TfrmOptions::TfrmOptions(QWidget* parent)
    : QDialog(parent)
    , m_tabs(Named(new QTabWidget(this), "tabsOptions")) {
    setObjectName(QStringLiteral("frmOptions"));
    m_tabs->addTab(BuildGeneralTab(), QString());
    m_tabs->addTab(BuildLoggingTab(), QString());
    m_tabs->addTab(BuildBackupTab(), QString());
    m_tabs->addTab(BuildExclusionsTab(), QString());
    m_tabs->addTab(BuildReportTab(), QString());
    m_tabs->addTab(BuildProxyTab(), QString());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = Named(buttons->button(QDialogButtonBox::Ok), "btnOK");
    m_cancel = Named(buttons->button(QDialogButtonBox::Cancel), "btnCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmOptions::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TfrmOptions::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);

    for (QCheckBox* box : {m_protect, m_sendEmail, m_proxyEnabled})
        connect(box, &QCheckBox::toggled, this, &TfrmOptions::UpdateEnabledStates);
    Retranslate();
    Load(TOptions());
}

QWidget* TfrmOptions::BuildGeneralTab() {
    auto* tab = Named(new QWidget(this), "tabGeneral");
    m_runAtLogon = Named(new QCheckBox(tab), "cbRunProgramAtLogon");
    m_blockSleep = Named(new QCheckBox(tab), "cbBlockSleepMode");
    m_desktopNotifications = Named(new QCheckBox(tab), "cbDesktopNotifications");
    m_desktopNotifications->setChecked(true);
    m_protect = Named(new QCheckBox(tab), "cbProtectConfiguration");
    m_setConfigPassword = Named(new QPushButton(tab), "btnSetConfigurationPassword");
    m_configPasswordState = Named(new QLabel(tab), "lblConfigurationPassword");
    m_priorityLabel = new QLabel(tab);
    m_priority = Named(new QComboBox(tab), "cbProcessPriority");
    m_priority->addItems({QString(), QString(), QString(), QString()});
    m_tempLabel = new QLabel(tab);
    m_tempPath = Named(new QLineEdit(tab), "edPathForTempFiles");
    m_tempBrowse = Named(new QPushButton(QStringLiteral("..."), tab), "btnBrowseTemp");
    connect(m_tempBrowse, &QPushButton::clicked, this, [this] { ChooseFolder(m_tempPath); });
    connect(m_setConfigPassword, &QPushButton::clicked, this, [this] {
        if (AskPassword(m_options.General.strProtectConfiguration_Password))
            UpdatePasswordLabels();
    });

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(m_runAtLogon);
    layout->addWidget(m_blockSleep);
    layout->addWidget(m_desktopNotifications);
    layout->addWidget(m_protect);
    layout->addLayout(PasswordRow(m_setConfigPassword, m_configPasswordState));
    auto* form = new QFormLayout;
    form->addRow(m_priorityLabel, m_priority);
    form->addRow(m_tempLabel, PathRow(m_tempPath, m_tempBrowse));
    layout->addLayout(form);
    layout->addStretch(1);
    return tab;
}

QWidget* TfrmOptions::BuildLoggingTab() {
    auto* tab = Named(new QWidget(this), "tabLogging");
    m_maxLogsLabel = new QLabel(tab);
    m_maxLogs = NewSpin(tab, "seMaxNumberOfLogsForEachJob");
    m_maxHistoryLabel = new QLabel(tab);
    m_maxHistory = NewSpin(tab, "seMaxNumberOfLinesInHistory");
    m_maxEventsLabel = new QLabel(tab);
    m_maxEvents = NewSpin(tab, "seMaxNumberOfLinesInEventsLog");
    m_dontLogInternal = Named(new QCheckBox(tab), "cbDontLogCopyingInternalFiles");
    m_logLabel = new QLabel(tab);
    m_logPath = Named(new QLineEdit(tab), "edPathForLogFiles");
    m_logBrowse = Named(new QPushButton(QStringLiteral("..."), tab), "btnBrowseLogs");
    connect(m_logBrowse, &QPushButton::clicked, this, [this] { ChooseFolder(m_logPath); });

    auto* form = new QFormLayout;
    form->addRow(m_maxLogsLabel, m_maxLogs);
    form->addRow(m_maxHistoryLabel, m_maxHistory);
    form->addRow(m_maxEventsLabel, m_maxEvents);
    auto* layout = new QVBoxLayout(tab);
    layout->addLayout(form);
    layout->addWidget(m_dontLogInternal);
    auto* pathForm = new QFormLayout;
    pathForm->addRow(m_logLabel, PathRow(m_logPath, m_logBrowse));
    layout->addLayout(pathForm);
    layout->addStretch(1);
    return tab;
}

QWidget* TfrmOptions::BuildBackupTab() {
    auto* tab = Named(new QWidget(this), "tabBackup");
    m_oneJobAtATime = Named(new QCheckBox(tab), "cbRunOnlyOneJobAtATime");
    m_unavailableGroup = new QGroupBox(tab);
    m_retryLabel = new QLabel(m_unavailableGroup);
    m_retryTimes = NewSpin(m_unavailableGroup, "seRetryTimes");
    m_waitLabel = new QLabel(m_unavailableGroup);
    m_waitSeconds = NewSpin(m_unavailableGroup, "seWaitSeconds");
    m_thenLabel = new QLabel(m_unavailableGroup);
    m_then = Named(new QComboBox(m_unavailableGroup), "cbThen");
    m_then->addItems({QString(), QString()});
    auto* groupForm = new QFormLayout(m_unavailableGroup);
    groupForm->addRow(m_retryLabel, m_retryTimes);
    groupForm->addRow(m_waitLabel, m_waitSeconds);
    groupForm->addRow(m_thenLabel, m_then);
    m_preventWriting = Named(new QCheckBox(tab), "cbPreventOtherAppsFromWriting");
    m_removeIfCancelled = Named(new QCheckBox(tab), "cbRemovePreviousBackupIfCancelled");
    m_noBuffering = Named(new QCheckBox(tab), "cbDontUseBuffering");
    m_skipHidden = Named(new QCheckBox(tab), "cbSkipHiddenSystemFiles");
    m_skipLocked = Named(new QCheckBox(tab), "cbSkipLockedFiles");

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(m_oneJobAtATime);
    layout->addWidget(m_unavailableGroup);
    for (QCheckBox* box : {m_preventWriting, m_removeIfCancelled, m_noBuffering, m_skipHidden, m_skipLocked})
        layout->addWidget(box);
    layout->addStretch(1);
    return tab;
}

QWidget* TfrmOptions::BuildExclusionsTab() {
    auto* tab = Named(new QWidget(this), "tabExclusions");
    m_excludedLabel = new QLabel(tab);
    m_excluded = Named(new QListWidget(tab), "lbExcludedDirs");
    m_addExcluded = Named(new QPushButton(tab), "btnAddExcluded");
    m_removeExcluded = Named(new QPushButton(tab), "btnRemoveExcluded");
    connect(m_addExcluded, &QPushButton::clicked, this, [this] {
        const QString folder = TFileDialog::GetExistingDirectory(this, Tr(u"Choose a folder"), QDir::homePath());
        if (!folder.isEmpty() && m_excluded->findItems(folder, Qt::MatchExactly).isEmpty())
            m_excluded->addItem(folder);
    });
    connect(m_removeExcluded, &QPushButton::clicked, this, [this] { delete m_excluded->currentItem(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_addExcluded);
    buttons->addWidget(m_removeExcluded);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(m_excludedLabel);
    layout->addWidget(m_excluded, 1);
    layout->addLayout(buttons);
    return tab;
}

QWidget* TfrmOptions::BuildReportTab() {
    auto* tab = Named(new QWidget(this), "tabReportDelivery");
    m_sendEmail = Named(new QCheckBox(tab), "cbSendEmailNotification");
    m_onlyIfCancelled = Named(new QCheckBox(tab), "cbSendOnlyIfCancelled");
    m_recipientLabel = new QLabel(tab);
    m_recipient = Named(new QLineEdit(tab), "edRecipient");
    m_smtpHostLabel = new QLabel(tab);
    m_smtpHost = Named(new QLineEdit(tab), "edSMTPHost");
    m_smtpPortLabel = new QLabel(tab);
    m_smtpPort = Named(new QLineEdit(tab), "edSMTPPort");
    m_smtpUserLabel = new QLabel(tab);
    m_smtpUser = Named(new QLineEdit(tab), "edSMTPUsername");
    m_setSmtpPassword = Named(new QPushButton(tab), "btnSetSMTPPassword");
    m_smtpPasswordState = Named(new QLabel(tab), "lblSMTPPassword");
    m_securityLabel = new QLabel(tab);
    m_security = Named(new QComboBox(tab), "cbSecurity");
    m_security->addItems({QString(), QStringLiteral("SSL"), QStringLiteral("TLS")});
    m_sendTest = Named(new QPushButton(tab), "btnSendTest");
    m_proxySettings = Named(new QPushButton(tab), "btnProxySettings");
    connect(m_setSmtpPassword, &QPushButton::clicked, this, [this] {
        if (AskPassword(m_options.Email.Password))
            UpdatePasswordLabels();
    });
    connect(m_sendTest, &QPushButton::clicked, this, &TfrmOptions::SendTestMessage);
    connect(m_proxySettings, &QPushButton::clicked, this, [this] { m_tabs->setCurrentWidget(m_proxyTab); });

    auto* form = new QFormLayout;
    form->addRow(m_recipientLabel, m_recipient);
    form->addRow(m_smtpHostLabel, m_smtpHost);
    form->addRow(m_smtpPortLabel, m_smtpPort);
    form->addRow(m_smtpUserLabel, m_smtpUser);
    form->addRow(QString(), PasswordRow(m_setSmtpPassword, m_smtpPasswordState));
    form->addRow(m_securityLabel, m_security);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_sendTest);
    buttons->addWidget(m_proxySettings);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(m_sendEmail);
    layout->addWidget(m_onlyIfCancelled);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addStretch(1);
    return tab;
}

QWidget* TfrmOptions::BuildProxyTab() {
    m_proxyTab = Named(new QWidget(this), "tabProxy");
    QWidget* tab = m_proxyTab;
    m_proxyEnabled = Named(new QCheckBox(tab), "cbProxyEnabled");
    m_proxyTypeLabel = new QLabel(tab);
    m_proxyType = Named(new QComboBox(tab), "cbProxyType");
    m_proxyType->addItems({QString(), QString(), QString()});
    m_proxyHostLabel = new QLabel(tab);
    m_proxyHost = Named(new QLineEdit(tab), "edProxyHost");
    m_proxyPortLabel = new QLabel(tab);
    m_proxyPort = Named(new QLineEdit(tab), "edProxyPort");
    m_proxyUserLabel = new QLabel(tab);
    m_proxyUser = Named(new QLineEdit(tab), "edProxyUsername");
    m_setProxyPassword = Named(new QPushButton(tab), "btnSetProxyPassword");
    m_proxyPasswordState = Named(new QLabel(tab), "lblProxyPassword");
    connect(m_setProxyPassword, &QPushButton::clicked, this, [this] {
        if (AskPassword(m_options.Proxy.Password))
            UpdatePasswordLabels();
    });
    auto* form = new QFormLayout;
    form->addRow(m_proxyTypeLabel, m_proxyType);
    form->addRow(m_proxyHostLabel, m_proxyHost);
    form->addRow(m_proxyPortLabel, m_proxyPort);
    form->addRow(m_proxyUserLabel, m_proxyUser);
    form->addRow(QString(), PasswordRow(m_setProxyPassword, m_proxyPasswordState));
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(m_proxyEnabled);
    layout->addLayout(form);
    layout->addStretch(1);
    return tab;
}

void TfrmOptions::Retranslate() {
    setWindowTitle(Tr(u"Options"));
    m_tabs->setTabText(0, Tr(u"General"));
    m_tabs->setTabText(1, Tr(u"Logging"));
    m_tabs->setTabText(2, Tr(u"Backup"));
    m_tabs->setTabText(3, Tr(u"Exclusions"));
    m_tabs->setTabText(4, Tr(u"Report Delivery"));
    m_tabs->setTabText(5, Tr(u"Proxy"));
    m_ok->setText(Tr(u"OK"));
    m_cancel->setText(Tr(u"Cancel"));

    m_runAtLogon->setText(Tr(u"Run the program at user logon"));
    m_blockSleep->setText(Tr(u"Do not let the computer sleep when a job is scheduled for today or tomorrow"));
    m_desktopNotifications->setText(
        Tr(u"Show a desktop notification when a job ends with errors, is cancelled or cannot start"));
    m_protect->setText(Tr(u"Protect the configuration by password"));
    m_priorityLabel->setText(Tr(u"Process priority:"));
    SetComboItems(m_priority, {Tr(u"Idle"), Tr(u"Normal"), Tr(u"High"), Tr(u"Real-time")});
    m_tempLabel->setText(Tr(u"Path for temporary files:"));

    m_maxLogsLabel->setText(Tr(u"Maximum number of logs for each job:"));
    m_maxHistoryLabel->setText(Tr(u"Maximum number of lines in the history:"));
    m_maxEventsLabel->setText(Tr(u"Maximum number of lines in the events log:"));
    m_dontLogInternal->setText(DontLogInternalFilesCaption());
    m_logLabel->setText(Tr(u"Path for log files:"));

    m_oneJobAtATime->setText(Tr(u"Run only one job at a time"));
    m_unavailableGroup->setTitle(Tr(u"If the destination is not available:"));
    m_retryLabel->setText(Tr(u"Number of retries:"));
    m_waitLabel->setText(Tr(u"Seconds between attempts:"));
    m_thenLabel->setText(Tr(u"Then:"));
    SetComboItems(m_then, {Tr(u"Cancel the job"), Tr(u"Pause and wait for your action")});
    m_preventWriting->setText(Tr(u"Prevent other applications from writing to files while they are being compressed"));
    m_removeIfCancelled->setText(Tr(u"Remove the unfinished backup if the job is cancelled"));
    m_noBuffering->setText(Tr(u"Do not use buffering for copy operations"));
    m_skipHidden->setText(Tr(u"Skip hidden and system files"));
    m_skipLocked->setText(Tr(u"Skip locked files"));

    m_excludedLabel->setText(Tr(u"Folders that are never backed up:"));
    m_addExcluded->setText(Tr(u"Add..."));
    m_removeExcluded->setText(Tr(u"Remove"));

    m_sendEmail->setText(Tr(u"Send an e-mail notification that the backup has finished"));
    m_onlyIfCancelled->setText(Tr(u"Send only if the job is cancelled due to errors"));
    m_recipientLabel->setText(Tr(u"Recipient:"));
    m_smtpHostLabel->setText(Tr(u"SMTP Server:"));
    m_smtpPortLabel->setText(Tr(u"Port:"));
    m_smtpUserLabel->setText(Tr(u"Username:"));
    m_securityLabel->setText(Tr(u"Security:"));
    m_security->setItemText(0, Tr(u"None"));
    m_sendTest->setText(Tr(u"Send Test"));
    m_proxySettings->setText(Tr(u"Proxy Settings..."));

    m_proxyEnabled->setText(Tr(u"Enabled"));
    m_proxyTypeLabel->setText(Tr(u"Type:"));
    SetComboItems(m_proxyType, {Tr(u"HTTP Proxy"), Tr(u"Socks 4 Proxy"), Tr(u"Socks 5 Proxy")});
    m_proxyHostLabel->setText(Tr(u"Host:"));
    m_proxyPortLabel->setText(Tr(u"Port:"));
    m_proxyUserLabel->setText(Tr(u"Username:"));

    for (QPushButton* button : {m_setConfigPassword, m_setSmtpPassword, m_setProxyPassword})
        button->setText(Tr(u"Set Password"));
    UpdatePasswordLabels();
}

void TfrmOptions::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}

void TfrmOptions::Load(const TOptions& options) {
    m_options = options;
    const TGeneralOptions& general = options.General;
    m_runAtLogon->setChecked(general.RunProgramAtLogon);
    m_blockSleep->setChecked(general.BlockSleepModeifJobIsScheduled);
    m_protect->setChecked(general.ProtectConfigurationbyPassword);
    m_priority->setCurrentIndex(std::clamp(general.ProcessPriority, 0, 3));
    m_tempPath->setText(general.PathForTempFiles);

    const TLoggingOptions& logging = options.Logging;
    m_maxLogs->setValue(logging.MaxNumberOfLogsForEachJob);
    m_maxHistory->setValue(logging.MaxNumberOfLinesInHistory);
    m_maxEvents->setValue(logging.MaxNumberOfLinesInEventsLog);
    m_dontLogInternal->setChecked(logging.DontLogCopyingInternalFiles);
    m_logPath->setText(logging.PathForLogFiles);

    const TProcessingOptions& processing = options.Processing;
    m_oneJobAtATime->setChecked(processing.RunOnlyOneJobAtATime);
    m_retryTimes->setValue(processing.IfDestinationNotAvailable_Retry_Times);
    m_waitSeconds->setValue(processing.IfDestinationNotAvailable_Wait_Sec);
    m_then->setCurrentIndex(std::clamp(processing.IfDestinationNotAvailable_Then, 0, 1));
    m_preventWriting->setChecked(processing.PreventOtherAppsFromWritingDuringZipping);
    m_removeIfCancelled->setChecked(processing.RemovePreviousBackupIfCancelled);
    m_noBuffering->setChecked(processing.DontUseBufferingForCopyOperations);
    m_skipHidden->setChecked(processing.SkipHiddenSystemFiles);
    m_skipLocked->setChecked(processing.SkipLockedFiles);

    m_excluded->clear();
    m_excluded->addItems(options.ExcludedDirs);

    const TEmailOptions& email = options.Email;
    m_sendEmail->setChecked(email.SendEmailNotificationWhenFinishedBackup);
    m_onlyIfCancelled->setChecked(email.SendOnlyIfJobIscancelledDueToErrors);
    m_recipient->setText(email.RecipientEmail);
    m_smtpHost->setText(email.SMTPHost);
    m_smtpPort->setText(email.SMTPPort);
    m_smtpUser->setText(email.Username);
    m_security->setCurrentIndex(std::clamp(email.Security, 0, 2));

    const TProxyOptions& proxy = options.Proxy;
    m_proxyEnabled->setChecked(proxy.Enabled);
    m_proxyType->setCurrentIndex(std::clamp(proxy.PrType, 0, 2));
    m_proxyHost->setText(proxy.Host);
    m_proxyPort->setText(proxy.Port);
    m_proxyUser->setText(proxy.Username);

    UpdatePasswordLabels();
    UpdateEnabledStates();
}

TOptions TfrmOptions::Edited() const {
    TOptions options = m_options;
    TGeneralOptions& general = options.General;
    general.RunProgramAtLogon = m_runAtLogon->isChecked();
    general.BlockSleepModeifJobIsScheduled = m_blockSleep->isChecked();
    general.ProtectConfigurationbyPassword = m_protect->isChecked();
    general.ProcessPriority = m_priority->currentIndex();
    general.PathForTempFiles = m_tempPath->text();

    TLoggingOptions& logging = options.Logging;
    logging.MaxNumberOfLogsForEachJob = m_maxLogs->value();
    logging.MaxNumberOfLinesInHistory = m_maxHistory->value();
    logging.MaxNumberOfLinesInEventsLog = m_maxEvents->value();
    logging.DontLogCopyingInternalFiles = m_dontLogInternal->isChecked();
    logging.PathForLogFiles = m_logPath->text();

    TProcessingOptions& processing = options.Processing;
    processing.RunOnlyOneJobAtATime = m_oneJobAtATime->isChecked();
    processing.IfDestinationNotAvailable_Retry_Times = m_retryTimes->value();
    processing.IfDestinationNotAvailable_Wait_Sec = m_waitSeconds->value();
    processing.IfDestinationNotAvailable_Then = m_then->currentIndex();
    processing.PreventOtherAppsFromWritingDuringZipping = m_preventWriting->isChecked();
    processing.RemovePreviousBackupIfCancelled = m_removeIfCancelled->isChecked();
    processing.DontUseBufferingForCopyOperations = m_noBuffering->isChecked();
    processing.SkipHiddenSystemFiles = m_skipHidden->isChecked();
    processing.SkipLockedFiles = m_skipLocked->isChecked();

    options.ExcludedDirs.clear();
    for (int row = 0; row < m_excluded->count(); ++row)
        options.ExcludedDirs.append(m_excluded->item(row)->text());

    options.Email = EnteredEmail();
    options.Proxy = EnteredProxy();
    return options;
}

void TfrmOptions::SetDesktopNotifications(bool on) {
    m_desktopNotifications->setChecked(on);
}

bool TfrmOptions::DesktopNotifications() const {
    return m_desktopNotifications->isChecked();
}

TEmailOptions TfrmOptions::EnteredEmail() const {
    TEmailOptions email = m_options.Email;
    email.SendEmailNotificationWhenFinishedBackup = m_sendEmail->isChecked();
    email.SendOnlyIfJobIscancelledDueToErrors = m_onlyIfCancelled->isChecked();
    email.RecipientEmail = m_recipient->text();
    email.SMTPHost = m_smtpHost->text();
    email.SMTPPort = m_smtpPort->text();
    email.Username = m_smtpUser->text();
    email.Security = m_security->currentIndex();
    return email;
}

TProxyOptions TfrmOptions::EnteredProxy() const {
    TProxyOptions proxy = m_options.Proxy;
    proxy.Enabled = m_proxyEnabled->isChecked();
    proxy.PrType = m_proxyType->currentIndex();
    proxy.Host = m_proxyHost->text();
    proxy.Port = m_proxyPort->text();
    proxy.Username = m_proxyUser->text();
    return proxy;
}

void TfrmOptions::UpdateEnabledStates() {
    m_setConfigPassword->setEnabled(m_protect->isChecked());
    const bool email = m_sendEmail->isChecked();
    for (QWidget* widget :
         std::initializer_list<QWidget*>{m_onlyIfCancelled, m_recipientLabel, m_recipient, m_smtpHostLabel, m_smtpHost,
                                         m_smtpPortLabel, m_smtpPort, m_smtpUserLabel, m_smtpUser, m_setSmtpPassword,
                                         m_smtpPasswordState, m_securityLabel, m_security, m_sendTest, m_proxySettings})
        widget->setEnabled(email);
    const bool proxy = m_proxyEnabled->isChecked();
    for (QWidget* widget : std::initializer_list<QWidget*>{m_proxyTypeLabel, m_proxyType, m_proxyHostLabel, m_proxyHost,
                                                           m_proxyPortLabel, m_proxyPort, m_proxyUserLabel, m_proxyUser,
                                                           m_setProxyPassword, m_proxyPasswordState})
        widget->setEnabled(proxy);
}

void TfrmOptions::UpdatePasswordLabels() {
    m_configPasswordState->setText(PasswordState(m_options.General.strProtectConfiguration_Password));
    m_smtpPasswordState->setText(PasswordState(m_options.Email.Password));
    m_proxyPasswordState->setText(PasswordState(m_options.Proxy.Password));
}

bool TfrmOptions::AskPassword(QString& password) {
    TfrmPassword dialog(this);
    if ((DialogRunner ? DialogRunner(dialog) : dialog.exec()) != QDialog::Accepted)
        return false;
    password = dialog.Password();
    return true;
}

void TfrmOptions::ChooseFolder(QLineEdit* edit) {
    const QString start = QFileInfo(edit->text()).isDir() ? edit->text() : QDir::homePath();
    const QString folder = TFileDialog::GetExistingDirectory(this, Tr(u"Choose a folder"), start);
    if (!folder.isEmpty())
        edit->setText(folder);
}

void TfrmOptions::accept() {
    const QString error = CheckOptionsForOK(Edited());
    if (!error.isEmpty()) {
        TMessageBox::Error(this, error);
        return;
    }
    QDialog::accept();
}

void TfrmOptions::SendTestMessage() {
    const TEmailOptions email = EnteredEmail();
    QString errorText;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const TTestEmailResult result = SendTest(email, EnteredProxy(), errorText);
    QApplication::restoreOverrideCursor();
    switch (result) {
    case terSent:
        TMessageBox::Information(this, Tr(u"Email has been sent successfully!"));
        return;
    case terInvalidPort:
        TMessageBox::Error(this, Tr(u"Please verify SMTP and proxy settings."));
        return;
    case terFailed:
        break;
    }
    TMessageBox::Error(this, TrFormat(u"Failed to send email to %s", {email.RecipientEmail}) + u'\n' + errorText);
    if (!email.SMTPHost.toLower().contains(QStringLiteral(".gmail.")))
        return;
    const QString hint =
        Tr(u"It looks like Google is your email provider. By default, Google blocks access to email account from "
           u"desktop applications.") +
        QStringLiteral("\n\n") +
        Tr(u"You must generate a special App Password in your Google Account, and use it here instead of your "
           u"actual gmail password.") +
        QStringLiteral("\n\n") + Tr(u"Click \"OK\" and learn the instruction.");
    if (TMessageBox::AskOkCancel(this, TMessageBox::mbWarning, hint))
        TProductSite::Open(TProductSite::AppPasswordHelp());
}
