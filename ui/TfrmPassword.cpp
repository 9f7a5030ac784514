#include "ui/TfrmPassword.h"

#include "ui/TMessageBox.h"
#include "ui/UiTr.h"

#include "core/settings/OptionsChecks.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmPassword::TfrmPassword(QWidget* parent)
    : QDialog(parent)
    , m_passwordLabel(new QLabel(this))
    , m_confirmationLabel(new QLabel(this))
    , m_password(new QLineEdit(this))
    , m_confirmation(new QLineEdit(this))
    , m_show(new QCheckBox(this)) {
    setObjectName(QStringLiteral("frmPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_confirmation->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(m_passwordLabel, m_password);
    form->addRow(m_confirmationLabel, m_confirmation);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_cancel = buttons->button(QDialogButtonBox::Cancel);
    // Enter acts as OK.
    m_ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmPassword::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TfrmPassword::reject);
    connect(m_show, &QCheckBox::toggled, this, [this](bool shown) {
        const QLineEdit::EchoMode mode = shown ? QLineEdit::Normal : QLineEdit::Password;
        m_password->setEchoMode(mode);
        m_confirmation->setEchoMode(mode);
    });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_show);
    layout->addWidget(buttons);
    Retranslate();
}

void TfrmPassword::Retranslate() {
    setWindowTitle(Tr(u"Set Password"));
    m_passwordLabel->setText(Tr(u"Password:"));
    m_confirmationLabel->setText(Tr(u"Confirm password"));
    m_show->setText(Tr(u"Show password"));
    m_ok->setText(Tr(u"OK"));
    m_cancel->setText(Tr(u"Cancel"));
}

void TfrmPassword::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}

void TfrmPassword::accept() {
    QString accepted;
    const QString error = CheckPasswordPair(m_password->text(), m_confirmation->text(), &accepted);
    if (!error.isEmpty()) {
        TMessageBox::Error(this, error);
        return;
    }
    m_accepted = accepted;
    QDialog::accept();
}
