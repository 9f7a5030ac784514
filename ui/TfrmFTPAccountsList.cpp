#include "ui/TfrmFTPAccountsList.h"

#include "ui/TFrmFTPSettings.h"
#include "ui/TMessageBox.h"
#include "ui/UiTr.h"

#include "core/format/OptionsFile.h"
#include "core/settings/FTPAccounts.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

int RunSettings(TFrmFTPSettings& dialog, const TfrmFTPAccountsList::TDialogRunner& runner) {
    return runner ? runner(dialog) : dialog.exec();
}

void SaveOrSay(QWidget* parent) {
    if (!SaveOptions())
        TMessageBox::Error(parent, Tr(u"Unable to save the options:") + u' ' + OptionsFilePath());
}

} // namespace

TfrmFTPAccountsList::TfrmFTPAccountsList(QWidget* parent)
    : QDialog(parent)
    , m_list(new QListWidget(this))
    , m_add(new QPushButton(this))
    , m_remove(new QPushButton(this))
    , m_edit(new QPushButton(this))
    , m_close(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmFTPAccountsList"));
    m_list->setObjectName(QStringLiteral("lbFTPAccounts"));
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addWidget(m_edit);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    connect(m_add, &QPushButton::clicked, this, &TfrmFTPAccountsList::Add);
    connect(m_remove, &QPushButton::clicked, this, &TfrmFTPAccountsList::Remove);
    connect(m_edit, &QPushButton::clicked, this, &TfrmFTPAccountsList::Edit);
    connect(m_close, &QPushButton::clicked, this, &TfrmFTPAccountsList::accept);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &TfrmFTPAccountsList::Edit);
    connect(m_list, &QListWidget::currentRowChanged, this, &TfrmFTPAccountsList::UpdateButtons);
    Retranslate();
    Refill();
}

void TfrmFTPAccountsList::Retranslate() {
    setWindowTitle(u' ' + Tr(u"FTP Accounts"));
    m_add->setText(Tr(u"Add..."));
    m_remove->setText(Tr(u"Remove"));
    m_edit->setText(Tr(u"Edit..."));
    m_close->setText(Tr(u"Close"));
}

void TfrmFTPAccountsList::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}

void TfrmFTPAccountsList::UpdateButtons() {
    const bool selected = m_list->currentRow() >= 0;
    m_remove->setEnabled(selected);
    m_edit->setEnabled(selected);
}

void TfrmFTPAccountsList::Refill() {
    m_list->clear();
    for (const TFTPAccount& account : App().Options.FTPAccounts)
        m_list->addItem(account.AccName);
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);
    UpdateButtons();
}

int TfrmFTPAccountsList::AddAccount(QWidget* parent, const TDialogRunner& runner) {
    TFrmFTPSettings dialog(parent);
    dialog.Clear();
    if (RunSettings(dialog, runner) != QDialog::Accepted)
        return -1;
    TOptions& options = App().Options;
    if (AddFTPAccount(options, dialog.Account()) < 0)
        return -1;
    SaveOrSay(parent);
    return int(options.FTPAccounts.size()) - 1;
}

bool TfrmFTPAccountsList::EditAccount(QWidget* parent, int index, const TDialogRunner& runner) {
    TOptions& options = App().Options;
    if (index < 0 || index >= options.FTPAccounts.size())
        return false;
    TFrmFTPSettings dialog(parent);
    dialog.Load(options.FTPAccounts.at(index));
    if (RunSettings(dialog, runner) != QDialog::Accepted)
        return false;
    const int32_t id = options.FTPAccounts.at(index).ID;
    EditFTPAccount(options, id, dialog.Account());
    SaveOrSay(parent);
    return true;
}

int TfrmFTPAccountsList::RemoveAccount(QWidget* parent, int index) {
    TOptions& options = App().Options;
    if (index < 0 || index >= options.FTPAccounts.size())
        return -2;
    if (TMessageBox::Show(parent, TMessageBox::mbConfirmation, Tr(u"Remove this FTP account from the list?"),
                          QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel) != QMessageBox::Yes)
        return -2;
    const int next = RemoveFTPAccount(options, index);
    SaveOrSay(parent);
    return next;
}

void TfrmFTPAccountsList::Add() {
    const int index = AddAccount(this, DialogRunner);
    if (index < 0)
        return;
    m_list->addItem(App().Options.FTPAccounts.at(index).AccName);
    m_list->setCurrentRow(index);
    UpdateButtons();
}

void TfrmFTPAccountsList::Edit() {
    const int index = m_list->currentRow();
    if (!EditAccount(this, index, DialogRunner))
        return;
    m_list->item(index)->setText(App().Options.FTPAccounts.at(index).AccName);
    m_list->setCurrentRow(index);
}

void TfrmFTPAccountsList::Remove() {
    const int index = m_list->currentRow();
    const int next = RemoveAccount(this, index);
    if (next == -2)
        return;
    delete m_list->takeItem(index);
    m_list->setCurrentRow(next);
    UpdateButtons();
}
