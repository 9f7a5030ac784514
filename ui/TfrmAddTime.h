#pragma once

#include <QDialog>
#include <QTime>

class QPushButton;
class QTimeEdit;

// "Add...": one time of day (hours, minutes, seconds) for a job's timetable. Enter confirms.
class TfrmAddTime : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAddTime(QWidget* parent = nullptr);

    // Back to 00:00:00.
    void Reset();
    QTime Time() const;
    void SetTime(const QTime& time);
    // The time as a timetable entry, "HH:MM:SS".
    QString EntryText() const;

    QTimeEdit* TimeEdit() const { return m_time; }
    QPushButton* OkButton() const { return m_ok; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTimeEdit* m_time;
    QPushButton* m_ok;
};
