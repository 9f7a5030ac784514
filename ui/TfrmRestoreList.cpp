#include "ui/TfrmRestoreList.h"

#include "ui/UiTr.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
constexpr int ListPanel = 0;
constexpr int LoadingPanel = 1;
} // namespace

TfrmRestoreList::TfrmRestoreList(QWidget* parent)
    : QDialog(parent)
    , m_panels(new QStackedWidget(this))
    , m_prompt(new QLabel(this))
    , m_loading(new QLabel(this))
    , m_list(new QListWidget(this)) {
    setObjectName(QStringLiteral("frmRestoreList"));
    m_list->setObjectName(QStringLiteral("lbRestorePoints"));
    m_loading->setAlignment(Qt::AlignCenter);
    m_panels->insertWidget(ListPanel, m_list);
    m_panels->insertWidget(LoadingPanel, m_loading);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_cancel = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmRestoreList::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TfrmRestoreList::reject);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &TfrmRestoreList::UpdateOk);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &TfrmRestoreList::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_panels, 1);
    layout->addWidget(buttons);
    resize(460, 360);
}

void TfrmRestoreList::Retranslate() {
    setWindowTitle(u' ' + Tr(u"Restore"));
    m_prompt->setText(Tr(u"Please choose a restore point:"));
    m_loading->setText(Tr(u"Loading the list of backups..."));
    m_ok->setText(Tr(u"OK"));
    m_cancel->setText(Tr(u"Cancel"));
}

void TfrmRestoreList::ShowLoading() {
    Retranslate();
    m_list->clear();
    m_panels->setCurrentIndex(LoadingPanel);
    m_prompt->hide();
    m_cancel->setEnabled(true);
    setCursor(Qt::WaitCursor);
    UpdateOk();
    setWindowModality(Qt::WindowModal);
    show();
}

void TfrmRestoreList::ShowChoice(const QStringList& points) {
    Retranslate();
    m_list->clear();
    m_list->addItems(points);
    m_panels->setCurrentIndex(ListPanel);
    m_prompt->show();
    m_cancel->setEnabled(true);
    unsetCursor();
    UpdateOk();
    show();
}

bool TfrmRestoreList::IsLoading() const {
    return m_panels->currentIndex() == LoadingPanel;
}

int TfrmRestoreList::SelectedIndex() const {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : m_list->row(selected.first());
}

void TfrmRestoreList::UpdateOk() {
    m_ok->setEnabled(!IsLoading() && SelectedIndex() >= 0);
}

void TfrmRestoreList::EndShowing() {
    m_panels->setCurrentIndex(ListPanel);
    m_prompt->show();
    unsetCursor();
}

void TfrmRestoreList::CloseWithoutChoice() {
    EndShowing();
    QDialog::done(QDialog::Rejected);
}

void TfrmRestoreList::accept() {
    const int index = SelectedIndex();
    if (IsLoading() || index < 0)
        return;
    EndShowing();
    QDialog::accept();
    Q_EMIT Chosen(index);
}

void TfrmRestoreList::reject() {
    if (IsLoading()) {
        // The reading cannot be dropped half-way; it is told to stop and the dialog closes
        // when it has.
        m_cancel->setEnabled(false);
        Q_EMIT CancelWhileLoading();
        return;
    }
    EndShowing();
    QDialog::reject();
    Q_EMIT Cancelled();
}
