#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Set Password": a password typed twice. OK takes it only when both entries are equal after
// trimming blanks; the trimmed text is the new password, and an empty one clears it. The stored
// password is never shown: the fields start empty.
class TfrmPassword : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPassword(QWidget* parent = nullptr);

    // The accepted password (trimmed); valid after the dialog was accepted.
    QString Password() const { return m_accepted; }

    QLineEdit* PasswordEdit() const { return m_password; }
    QLineEdit* ConfirmationEdit() const { return m_confirmation; }
    QCheckBox* ShowPasswordBox() const { return m_show; }
    QPushButton* OkButton() const { return m_ok; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Retranslate();

    QLabel* m_passwordLabel;
    QLabel* m_confirmationLabel;
    QLineEdit* m_password;
    QLineEdit* m_confirmation;
    QCheckBox* m_show;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QString m_accepted;
};
