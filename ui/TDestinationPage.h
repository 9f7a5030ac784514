#pragma once

#include "cloud/CloudServices.h"
#include "core/model/TJobTypes.h"

#include <QWidget>

#include <functional>

class QButtonGroup;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;
class TDriveCombo;

// The "Where to store your backup?" page every job wizard shares: a local or external disk, a
// network share, an FTP account's folder or a cloud service's folder. It reads and writes a job's
// destination settings, edits the program's FTP accounts and checks cloud access.
class TDestinationPage : public QWidget {
    Q_OBJECT
public:
    explicit TDestinationPage(QWidget* parent = nullptr);

    // A new job: local disk (none chosen yet), subfolders "/", no share, the last FTP account,
    // the first cloud service.
    void Clear();
    void Load(const TDestinationSettings& settings);
    // Writes the chosen kind and its own fields; the other kinds' fields keep their values.
    void Store(TDestinationSettings& settings) const;
    // Next: false after the message when the destination cannot be used.
    bool Validate();

    void SetDestinationType(TDestinationType type);
    TDestinationType DestinationType() const;

    // The buttons' work (also called by tests).
    void ChooseLocalFolder();
    void ChooseNetworkFolder();
    void SetNetworkPassword();
    void AddFtpAccount();
    void EditFtpAccount();
    void RemoveFtpAccount();
    void ChooseFtpFolder();
    void ResetCloudAccessClicked();
    void ChooseCloudFolder();
    // "Edit...", "Remove", the account combo, "Subfolder:", its edit and "Choose..." need an account.
    void UpdateFTPTabControls();

    // Runs the dialogs the page opens (password, FTP settings); tests fill them in.
    std::function<int(QDialog&)> DialogRunner;
    // The cloud access test of Next (signs in where there is no token, then one listing); tests
    // replace it. False after the message.
    std::function<bool(QWidget* parent, TCloudService service)> CloudAccessCheck;

    QToolButton* DestinationButton(TDestinationType type) const;
    TDriveCombo* DriveCombo() const { return m_drive; }
    QLineEdit* LocalSubfolderEdit() const { return m_localSubfolder; }
    QLabel* OpticalWarning() const { return m_opticalWarning; }
    QLineEdit* UserEdit() const { return m_user; }
    QLabel* NetworkPasswordState() const { return m_networkPasswordState; }
    QLineEdit* UncEdit() const { return m_unc; }
    QComboBox* FtpAccountCombo() const { return m_ftpAccount; }
    QLineEdit* FtpSubfolderEdit() const { return m_ftpSubfolder; }
    QPushButton* FtpEditButton() const { return m_ftpEdit; }
    QPushButton* FtpRemoveButton() const { return m_ftpRemove; }
    QPushButton* FtpChooseButton() const { return m_ftpChoose; }
    QComboBox* ServiceCombo() const { return m_service; }
    QLineEdit* CloudSubfolderEdit() const { return m_cloudSubfolder; }
    QLabel* OneDriveWarning() const { return m_oneDriveWarning; }
    QString NetworkPassword() const { return strNetworkPassword; }

    void Retranslate();

private:
    QWidget* LocalPage();
    QWidget* NetworkPage();
    QWidget* FtpPage();
    QWidget* CloudPage();
    // Fills the account combo from the options and selects the account with that ID (the last
    // account when none has it).
    void RefillFtpAccounts(int32_t id);
    void UpdatePasswordState();
    int RunDialog(QDialog& dialog);
    bool ValidateCloud();

    QButtonGroup* bgDestination;
    QToolButton* m_buttons[4];
    QStackedWidget* m_pages;
    QLabel* m_titles[4];
    QLabel* m_diskLabel;
    TDriveCombo* m_drive;
    QLabel* m_localSubfolderLabel;
    QLineEdit* m_localSubfolder;
    QPushButton* m_localChoose;
    QLabel* m_localNote;
    QLabel* m_opticalWarning;
    QLabel* m_userLabel;
    QLineEdit* m_user;
    QLabel* m_passwordLabel;
    QPushButton* m_setPassword;
    QLabel* m_networkPasswordState;
    QLabel* m_uncLabel;
    QLineEdit* m_unc;
    QPushButton* m_networkChoose;
    QLabel* m_ftpAccountLabel;
    QComboBox* m_ftpAccount;
    QPushButton* m_ftpAdd;
    QPushButton* m_ftpRemove;
    QPushButton* m_ftpEdit;
    QLabel* m_ftpSubfolderLabel;
    QLineEdit* m_ftpSubfolder;
    QPushButton* m_ftpChoose;
    QLabel* m_serviceLabel;
    QComboBox* m_service;
    QPushButton* m_resetAccess;
    QLabel* m_cloudSubfolderLabel;
    QLineEdit* m_cloudSubfolder;
    QPushButton* m_cloudChoose;
    QLabel* m_oneDriveWarning;
    QString strNetworkPassword;
};

// A Linux desktop's mounted share folder (the gvfs mount ".../smb-share:server=S,share=N/path")
// as the share path "//S/N/path"; other paths unchanged.
QString SharePathOfMountedFolder(const QString& folder);
// The check of a share path typed or chosen for a network destination.
bool IsUsableSharePath(const QString& text);
