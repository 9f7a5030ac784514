#pragma once

#include "core/settings/TOptions.h"
#include "net/EmailNotification.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTabWidget;

// The Options dialog: the program options in six tabs. It edits a copy of the record; OK runs the
// checks (an error box names the first failure and the dialog stays open) and the caller applies
// Edited(). Passwords are never shown: each has a "Set Password" button and a label that says
// whether one is set.
class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(QWidget* parent = nullptr);

    void Load(const TOptions& options);
    // The loaded record with the controls' values.
    TOptions Edited() const;
    // The desktop notifications switch: a setting of the window settings, not of the options
    // record, so the caller loads and stores it.
    void SetDesktopNotifications(bool on);
    bool DesktopNotifications() const;

    // Runs the password dialog; tests replace it to type into the dialog.
    std::function<int(QDialog&)> DialogRunner;
    // Sends the test message; tests replace the network.
    std::function<TTestEmailResult(const TEmailOptions&, const TProxyOptions&, QString&)> SendTest = SendTestEmail;

    // The Report Delivery page's "Send Test".
    void SendTestMessage();

    QTabWidget* Tabs() const { return m_tabs; }
    QPushButton* OkButton() const { return m_ok; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* BuildGeneralTab();
    QWidget* BuildLoggingTab();
    QWidget* BuildBackupTab();
    QWidget* BuildExclusionsTab();
    QWidget* BuildReportTab();
    QWidget* BuildProxyTab();
    void Retranslate();
    void UpdateEnabledStates();
    void UpdatePasswordLabels();
    void ChooseFolder(QLineEdit* edit);
    // Asks for a new password; false when the dialog was cancelled.
    bool AskPassword(QString& password);
    TEmailOptions EnteredEmail() const;
    TProxyOptions EnteredProxy() const;

    TOptions m_options;
    QTabWidget* m_tabs;
    QPushButton* m_ok;
    QPushButton* m_cancel;

    // General
    QCheckBox* m_runAtLogon;
    QCheckBox* m_blockSleep;
    QCheckBox* m_desktopNotifications;
    QCheckBox* m_protect;
    QPushButton* m_setConfigPassword;
    QLabel* m_configPasswordState;
    QLabel* m_priorityLabel;
    QComboBox* m_priority;
    QLabel* m_tempLabel;
    QLineEdit* m_tempPath;
    QPushButton* m_tempBrowse;

    // Logging
    QLabel* m_maxLogsLabel;
    QSpinBox* m_maxLogs;
    QLabel* m_maxHistoryLabel;
    QSpinBox* m_maxHistory;
    QLabel* m_maxEventsLabel;
    QSpinBox* m_maxEvents;
    QCheckBox* m_dontLogInternal;
    QLabel* m_logLabel;
    QLineEdit* m_logPath;
    QPushButton* m_logBrowse;

    // Backup
    QCheckBox* m_oneJobAtATime;
    QGroupBox* m_unavailableGroup;
    QLabel* m_retryLabel;
    QSpinBox* m_retryTimes;
    QLabel* m_waitLabel;
    QSpinBox* m_waitSeconds;
    QLabel* m_thenLabel;
    QComboBox* m_then;
    QCheckBox* m_preventWriting;
    QCheckBox* m_removeIfCancelled;
    QCheckBox* m_noBuffering;
    QCheckBox* m_skipHidden;
    QCheckBox* m_skipLocked;

    // Exclusions
    QLabel* m_excludedLabel;
    QListWidget* m_excluded;
    QPushButton* m_addExcluded;
    QPushButton* m_removeExcluded;

    // Report Delivery
    QCheckBox* m_sendEmail;
    QCheckBox* m_onlyIfCancelled;
    QLabel* m_recipientLabel;
    QLineEdit* m_recipient;
    QLabel* m_smtpHostLabel;
    QLineEdit* m_smtpHost;
    QLabel* m_smtpPortLabel;
    QLineEdit* m_smtpPort;
    QLabel* m_smtpUserLabel;
    QLineEdit* m_smtpUser;
    QPushButton* m_setSmtpPassword;
    QLabel* m_smtpPasswordState;
    QLabel* m_securityLabel;
    QComboBox* m_security;
    QPushButton* m_sendTest;
    QPushButton* m_proxySettings;

    // Proxy
    QWidget* m_proxyTab;
    QCheckBox* m_proxyEnabled;
    QLabel* m_proxyTypeLabel;
    QComboBox* m_proxyType;
    QLabel* m_proxyHostLabel;
    QLineEdit* m_proxyHost;
    QLabel* m_proxyPortLabel;
    QLineEdit* m_proxyPort;
    QLabel* m_proxyUserLabel;
    QLineEdit* m_proxyUser;
    QPushButton* m_setProxyPassword;
    QLabel* m_proxyPasswordState;
};
