#pragma once

#include "core/model/TJobTypes.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QDialog;
class QLabel;
class QListWidget;
class QToolButton;
class TfrmAddTime;

// The "When to start backup?" page every job wizard shares: days of the week or of the month, the
// timetable and the two options below it. It reads and writes a job's scheduling settings.
class TSchedulePage : public QWidget {
    Q_OBJECT
public:
    explicit TSchedulePage(QWidget* parent = nullptr);

    // A new job: no schedule, catch-up ticked, no shut-down, empty timetable.
    void Clear();
    void Load(const TSchedulingSettings& settings);
    // Writes the page into settings; LastModificationDateTime becomes now.
    void Store(TSchedulingSettings& settings) const;
    // The check before saving: false after the message when a ticked schedule lacks a day or a time.
    bool Validate();

    // "+": asks for a time and adds it in order; refused when it is there already.
    void AddTime();
    // "-": removes the selected entry.
    void RemoveTime();
    // Adds an entry as the time dialog would; false after "Record already exists".
    bool AddTimeEntry(const QString& entry);

    // Runs the time dialog (tests fill it in); empty runs it modally.
    std::function<int(QDialog&)> DialogRunner;

    QCheckBox* DaysOfWeekBox() const { return m_weekBox; }
    QCheckBox* DaysOfMonthBox() const { return m_monthBox; }
    QListWidget* DaysOfWeekList() const { return m_weekList; }
    QListWidget* DaysOfMonthList() const { return m_monthList; }
    QListWidget* TimeTableList() const { return m_timeTable; }
    QToolButton* AddButton() const { return m_add; }
    QToolButton* RemoveButton() const { return m_remove; }
    QCheckBox* CatchUpBox() const { return m_catchUp; }
    QCheckBox* ShutdownBox() const { return m_shutdown; }
    TfrmAddTime* TimeDialog() const { return m_timeDialog; }
    QStringList TimeTable() const;

    void Retranslate();

private:
    void ScheduleBoxClicked(QCheckBox* box);
    void UpdateEnabled();

    QCheckBox* m_weekBox;
    QCheckBox* m_monthBox;
    QListWidget* m_weekList;
    QListWidget* m_monthList;
    QLabel* m_timeTableLabel;
    QListWidget* m_timeTable;
    QToolButton* m_add;
    QToolButton* m_remove;
    QCheckBox* m_catchUp;
    QCheckBox* m_shutdown;
    TfrmAddTime* m_timeDialog;
    bool SkipClickEvent = false;
};
