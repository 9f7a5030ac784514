#pragma once

#include "core/settings/TOptions.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "FTP Settings": one FTP account's fields, a password set through the password dialog (never
// shown), "Proxy Settings..." and a connection "Test". OK needs a name and a port from 1 to
// 65535; the caller copies Account() into the options.
class TFrmFTPSettings : public QDialog {
    Q_OBJECT
public:
    explicit TFrmFTPSettings(QWidget* parent = nullptr);

    // The state for a new account: port 21, no password, passive mode on, FTPS off.
    void Clear();
    void Load(const TFTPAccount& account);
    // The fields as an account (ID 0); valid after OK, when the port is a number.
    TFTPAccount Account() const;

    // "Test": connects with the current fields and the proxy of the program options.
    void Test();
    void SetPassword();
    void OpenProxySettings();

    // Runs the dialogs it opens (password, options); tests replace it to fill them in.
    std::function<int(QDialog&)> DialogRunner;
    // Opens the program options on a page (the main window installs its own Options flow, which
    // applies and saves what was edited); without one, the dialog opens the options itself and
    // takes only the proxy page.
    static void SetOptionsOpener(std::function<void(QWidget* parent, int page)> opener);

    QLineEdit* NameEdit() const { return m_name; }
    QLineEdit* HostEdit() const { return m_host; }
    QLineEdit* PortEdit() const { return m_port; }
    QLineEdit* UserEdit() const { return m_user; }
    QLabel* PasswordState() const { return m_passwordState; }
    QCheckBox* PassiveBox() const { return m_passive; }
    QCheckBox* FtpsBox() const { return m_ftps; }
    QPushButton* TestButton() const { return m_test; }
    QPushButton* OkButton() const { return m_ok; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Retranslate();
    // The port field as a number from 1 to 65535; false when it is none.
    bool Port(int& port) const;

    QLabel* m_nameLabel;
    QLabel* m_hostLabel;
    QLabel* m_portLabel;
    QLabel* m_userLabel;
    QLabel* m_passwordLabel;
    QLineEdit* m_name;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_user;
    QLabel* m_passwordState;
    QPushButton* m_setPassword;
    QCheckBox* m_passive;
    QCheckBox* m_ftps;
    QPushButton* m_proxy;
    QPushButton* m_test;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QString m_password;
};
