#include "ui/TfrmRestoreList_AppsData.h"

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

TfrmRestoreList_AppsData::TfrmRestoreList_AppsData(QWidget* parent)
    : QDialog(parent)
    , m_panels(new QStackedWidget(this))
    , m_prompt(new QLabel(this))
    , m_loading(new QLabel(this))
    , m_list(new QListWidget(this)) {
    setObjectName(QStringLiteral("frmRestoreList_AppsData"));
    m_list->setObjectName(QStringLiteral("lbApplications"));
    m_loading->setAlignment(Qt::AlignCenter);
    m_panels->insertWidget(ListPanel, m_list);
    m_panels->insertWidget(LoadingPanel, m_loading);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_cancel = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmRestoreList_AppsData::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TfrmRestoreList_AppsData::reject);
    connect(m_list, &QListWidget::itemChanged, this, &TfrmRestoreList_AppsData::UpdateOk);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_panels, 1);
    layout->addWidget(buttons);
    resize(460, 360);
}

void TfrmRestoreList_AppsData::Retranslate() {
    setWindowTitle(u' ' + Tr(u"Restore"));
    m_prompt->setText(Tr(u"Please choose the applications you want to restore:"));
    m_loading->setText(Tr(u"Loading the list of backups..."));
    m_ok->setText(Tr(u"OK"));
    m_cancel->setText(Tr(u"Cancel"));
}

void TfrmRestoreList_AppsData::ShowLoading() {
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

void TfrmRestoreList_AppsData::ShowChoice(const QStringList& names) {
    Retranslate();
    {
        const QSignalBlocker quiet(m_list);
        m_list->clear();
        for (const QString& name : names) {
            auto* item = new QListWidgetItem(name, m_list);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
            item->setCheckState(Qt::Unchecked);
        }
    }
    m_panels->setCurrentIndex(ListPanel);
    m_prompt->show();
    m_cancel->setEnabled(true);
    unsetCursor();
    UpdateOk();
    show();
}

bool TfrmRestoreList_AppsData::IsLoading() const {
    return m_panels->currentIndex() == LoadingPanel;
}

QStringList TfrmRestoreList_AppsData::Ticked() const {
    QStringList names;
    for (int row = 0; row < m_list->count(); ++row)
        if (m_list->item(row)->checkState() == Qt::Checked)
            names.append(m_list->item(row)->text());
    return names;
}

void TfrmRestoreList_AppsData::UpdateOk() {
    m_ok->setEnabled(!IsLoading() && !Ticked().isEmpty());
}

void TfrmRestoreList_AppsData::EndShowing() {
    m_panels->setCurrentIndex(ListPanel);
    m_prompt->show();
    unsetCursor();
}

void TfrmRestoreList_AppsData::CloseWithoutChoice() {
    EndShowing();
    QDialog::done(QDialog::Rejected);
}

void TfrmRestoreList_AppsData::accept() {
    const QStringList names = Ticked();
    if (IsLoading() || names.isEmpty())
        return;
    EndShowing();
    QDialog::accept();
    Q_EMIT Chosen(names);
}

void TfrmRestoreList_AppsData::reject() {
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
