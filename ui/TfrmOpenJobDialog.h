#pragma once

#include "jobs/OpenStoredJob.h"

#include <QDialog>
#include <QString>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

// "Open": where a stored job file lies, on a drive, a network share, an FTP account or a cloud
// service. "Continue..." closes it (Tag 1) only for a path that names a stored job file; the
// opening itself is the caller's (OpenStoredJob).
class TfrmOpenJobDialog : public QDialog {
    Q_OBJECT
public:
    // The pages of the storage combo, in its order.
    enum TPage { pgLocal = 0, pgNetwork = 1, pgFtp = 2, pgCloud = 3 };

    explicit TfrmOpenJobDialog(QWidget* parent = nullptr);

    // A local path preset by the caller: the local page's path when the dialog is shown.
    QString DefaultPath;
    // 1 after "Continue...", 0 otherwise.
    int Tag() const { return m_tag; }
    // The place the user chose, valid when Tag() is 1.
    TStoredJobLocation Location() const;

    void Browse();
    void AddAccount();
    void EditAccount();
    void RemoveAccount();
    void Continue();

    // Runs the FTP settings dialog of "Add..." and "Edit..." (tests fill it in); empty: modally.
    std::function<int(QDialog&)> DialogRunner;

    QComboBox* StorageCombo() const { return m_storage; }
    QStackedWidget* Pages() const { return m_pages; }
    QLineEdit* PathEdit(TPage page) const { return m_path[page]; }
    QPushButton* BrowseButton(TPage page) const { return m_browse[page]; }
    QLineEdit* UserEdit() const { return m_user; }
    QLineEdit* PasswordEdit() const { return m_password; }
    QComboBox* AccountCombo() const { return m_account; }
    QPushButton* AddButton() const { return m_add; }
    QPushButton* EditButton() const { return m_edit; }
    QPushButton* RemoveButton() const { return m_remove; }
    QComboBox* ServiceCombo() const { return m_service; }
    QPushButton* ResetAccessButton() const { return m_resetAccess; }
    QPushButton* ContinueButton() const { return m_continue; }
    QLabel* Explanation() const { return m_explanation; }

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void Retranslate();
    void FillAccounts(int select);
    void UpdateFtpControls();
    TPage CurrentPage() const;

    int m_tag = 0;
    QLabel* m_explanation;
    QLabel* m_storageLabel;
    QComboBox* m_storage;
    QStackedWidget* m_pages;
    QLabel* m_pathLabel[4];
    QLineEdit* m_path[4];
    QPushButton* m_browse[4];
    QLabel* m_userLabel;
    QLineEdit* m_user;
    QLabel* m_passwordLabel;
    QLineEdit* m_password;
    QLabel* m_accountLabel;
    QComboBox* m_account;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_edit;
    QLabel* m_serviceLabel;
    QComboBox* m_service;
    QPushButton* m_resetAccess;
    QPushButton* m_continue;
    QPushButton* m_cancel;
};
