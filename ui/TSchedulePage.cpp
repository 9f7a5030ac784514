#include "ui/TSchedulePage.h"

#include "ui/TMessageBox.h"
#include "ui/TfrmAddTime.h"
#include "ui/UiTr.h"

#include "core/base/OleDate.h"
#include "jobs/files/TFilesJobChecks.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char16_t* const WeekDays[] = {u"Monday", u"Tuesday",  u"Wednesday", u"Thursday",
                                    u"Friday", u"Saturday", u"Sunday"};

QListWidget* CheckList(QWidget* parent, const QString& name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    return list;
}

void AddCheckItem(QListWidget* list, const QString& text) {
    auto* item = new QListWidgetItem(text, list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
}

void Untick(QListWidget* list) {
    for (int row = 0; row < list->count(); ++row)
        list->item(row)->setCheckState(Qt::Unchecked);
}

bool AnyTicked(const QListWidget* list) {
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->checkState() == Qt::Checked)
            return true;
    return false;
}

} // namespace

TSchedulePage::TSchedulePage(QWidget* parent)
    : QWidget(parent)
    , m_weekBox(new QCheckBox(this))
    , m_monthBox(new QCheckBox(this))
    , m_weekList(CheckList(this, QStringLiteral("lbDaysOfWeek")))
    , m_monthList(CheckList(this, QStringLiteral("lbDaysOfMonth")))
    , m_timeTableLabel(new QLabel(this))
    , m_timeTable(new QListWidget(this))
    , m_add(new QToolButton(this))
    , m_remove(new QToolButton(this))
    , m_catchUp(new QCheckBox(this))
    , m_shutdown(new QCheckBox(this))
    , m_timeDialog(new TfrmAddTime(this)) {
    setObjectName(QStringLiteral("SchedulePage"));
    m_weekBox->setObjectName(QStringLiteral("cbDaysOfWeek"));
    m_monthBox->setObjectName(QStringLiteral("cbDaysOfMonth"));
    m_timeTable->setObjectName(QStringLiteral("lbTimeTable"));
    m_add->setObjectName(QStringLiteral("btnAddTime"));
    m_remove->setObjectName(QStringLiteral("btnRemoveTime"));
    m_catchUp->setObjectName(QStringLiteral("cbRunMissed"));
    m_shutdown->setObjectName(QStringLiteral("cbShutdown"));
    m_add->setText(QStringLiteral("+"));
    m_remove->setText(QStringLiteral("-"));
    for (int day = 0; day < 7; ++day)
        AddCheckItem(m_weekList, QString());
    for (int day = 1; day <= 31; ++day)
        AddCheckItem(m_monthList, QString::number(day));
    m_monthList->setViewMode(QListView::IconMode);
    m_monthList->setFlow(QListView::LeftToRight);
    m_monthList->setWrapping(true);
    m_monthList->setGridSize(QSize(52, 22));
    m_monthList->setMovement(QListView::Static);

    auto* timeButtons = new QVBoxLayout;
    timeButtons->addWidget(m_add);
    timeButtons->addWidget(m_remove);
    timeButtons->addStretch(1);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(m_timeTable, 1);
    timeRow->addLayout(timeButtons);
    auto* grid = new QGridLayout;
    grid->addWidget(m_weekBox, 0, 0);
    grid->addWidget(m_monthBox, 0, 1);
    grid->addWidget(m_timeTableLabel, 0, 2);
    grid->addWidget(m_weekList, 1, 0);
    grid->addWidget(m_monthList, 1, 1);
    grid->addLayout(timeRow, 1, 2);
    grid->setColumnStretch(1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(grid, 1);
    layout->addWidget(m_catchUp);
    layout->addWidget(m_shutdown);

    connect(m_weekBox, &QCheckBox::clicked, this, [this] { ScheduleBoxClicked(m_weekBox); });
    connect(m_monthBox, &QCheckBox::clicked, this, [this] { ScheduleBoxClicked(m_monthBox); });
    connect(m_add, &QToolButton::clicked, this, &TSchedulePage::AddTime);
    connect(m_remove, &QToolButton::clicked, this, &TSchedulePage::RemoveTime);
    Retranslate();
    Clear();
}

void TSchedulePage::Retranslate() {
    m_weekBox->setText(Tr(u"Days of the week:"));
    m_monthBox->setText(Tr(u"Days of the month:"));
    m_timeTableLabel->setText(Tr(u"Timetable:"));
    m_catchUp->setText(Tr(u"Run job as soon as possible after a scheduled start is missed"));
    m_shutdown->setText(Tr(u"Shut down PC in the end"));
    for (int day = 0; day < 7; ++day)
        m_weekList->item(day)->setText(Tr(WeekDays[day]));
}

void TSchedulePage::ScheduleBoxClicked(QCheckBox* box) {
    if (SkipClickEvent)
        return;
    SkipClickEvent = true;
    QCheckBox* other = box == m_weekBox ? m_monthBox : m_weekBox;
    if (box->isChecked())
        other->setChecked(false);
    SkipClickEvent = false;
    UpdateEnabled();
}

void TSchedulePage::UpdateEnabled() {
    const bool week = m_weekBox->isChecked();
    const bool month = m_monthBox->isChecked();
    const bool any = week || month;
    m_weekList->setEnabled(week);
    m_monthList->setEnabled(month);
    for (QWidget* widget :
         {static_cast<QWidget*>(m_timeTableLabel), static_cast<QWidget*>(m_timeTable), static_cast<QWidget*>(m_add),
          static_cast<QWidget*>(m_remove), static_cast<QWidget*>(m_catchUp), static_cast<QWidget*>(m_shutdown)})
        widget->setEnabled(any);
}

void TSchedulePage::Clear() {
    m_weekBox->setChecked(false);
    m_monthBox->setChecked(false);
    Untick(m_weekList);
    Untick(m_monthList);
    m_timeTable->clear();
    m_catchUp->setChecked(true);
    m_shutdown->setChecked(false);
    m_timeDialog->Reset();
    UpdateEnabled();
}

void TSchedulePage::Load(const TSchedulingSettings& settings) {
    m_weekBox->setChecked(settings.SchedulingType == stDaysOfWeek);
    m_monthBox->setChecked(settings.SchedulingType == stDaysOfMonth);
    for (int day = 1; day <= 7; ++day)
        m_weekList->item(day - 1)->setCheckState(settings.DaysOfWeek.at(size_t(day)) ? Qt::Checked : Qt::Unchecked);
    for (int day = 1; day <= 31; ++day)
        m_monthList->item(day - 1)->setCheckState(settings.DaysOfMonth.at(size_t(day)) ? Qt::Checked : Qt::Unchecked);
    m_timeTable->clear();
    m_timeTable->addItems(settings.TimeTable);
    m_catchUp->setChecked(settings.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed);
    m_shutdown->setChecked(settings.ShutdownPCInTheEnd);
    m_timeDialog->Reset();
    UpdateEnabled();
}

QStringList TSchedulePage::TimeTable() const {
    QStringList entries;
    for (int row = 0; row < m_timeTable->count(); ++row)
        entries.append(m_timeTable->item(row)->text());
    return entries;
}

void TSchedulePage::Store(TSchedulingSettings& settings) const {
    settings.SchedulingType =
        m_weekBox->isChecked() ? stDaysOfWeek : (m_monthBox->isChecked() ? stDaysOfMonth : stDisabled);
    for (int day = 1; day <= 7; ++day)
        settings.DaysOfWeek.at(size_t(day)) = m_weekList->item(day - 1)->checkState() == Qt::Checked;
    for (int day = 1; day <= 31; ++day)
        settings.DaysOfMonth.at(size_t(day)) = m_monthList->item(day - 1)->checkState() == Qt::Checked;
    settings.TimeTable = TimeTable();
    settings.LastModificationDateTime = OleDate::Now();
    settings.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed = m_catchUp->isChecked();
    settings.ShutdownPCInTheEnd = m_shutdown->isChecked();
}

bool TSchedulePage::Validate() {
    if (!m_weekBox->isChecked() && !m_monthBox->isChecked())
        return true;
    if (!AnyTicked(m_weekBox->isChecked() ? m_weekList : m_monthList)) {
        TMessageBox::Warning(this, Tr(u"Please specify at least one day."));
        return false;
    }
    if (m_timeTable->count() == 0) {
        TMessageBox::Warning(this, Tr(u"Please add at least one record to the timetable."));
        return false;
    }
    return true;
}

void TSchedulePage::AddTime() {
    // Just below the add button, right-aligned with it.
    const QPoint below = m_add->mapToGlobal(QPoint(m_add->width(), m_add->height()));
    m_timeDialog->adjustSize();
    m_timeDialog->move(below.x() - m_timeDialog->width(), below.y());
    const int result = DialogRunner ? DialogRunner(*m_timeDialog) : m_timeDialog->exec();
    if (result != QDialog::Accepted)
        return;
    AddTimeEntry(m_timeDialog->EntryText());
}

bool TSchedulePage::AddTimeEntry(const QString& entry) {
    QStringList entries = TimeTable();
    if (!TFilesJobChecks::AddTimeTableEntry(entries, entry)) {
        TMessageBox::Warning(this, Tr(u"Record already exists"));
        return false;
    }
    m_timeTable->insertItem(int(entries.indexOf(entry)), entry);
    return true;
}

void TSchedulePage::RemoveTime() {
    const int row = m_timeTable->currentRow();
    if (row >= 0)
        delete m_timeTable->takeItem(row);
}
