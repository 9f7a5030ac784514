#pragma once

#include <QAbstractTableModel>
#include <QString>

class TJob;
class TJobList;

// The job list as rows of the main window's list, in the order of the jobs list file. The table
// view shows its five columns; the card view draws column 0 from the job itself (JobRole).
// Interface thread; the data is read from the jobs at paint time, so a repaint shows the
// workers' latest progress.
class TJobListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { colTitle, colType, colStorage, colStatus, colLastResult, ColumnCount };
    static constexpr int JobRole = Qt::UserRole + 1;

    explicit TJobListModel(TJobList& jobs, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // What a screen reader says for a job's row or card: its name, destination or current work,
    // and last result; the description names the card's links.
    static QString AccessibleText(const TJob& job);
    static QString AccessibleDescription(const TJob& job);

    TJob* JobAt(int row) const;
    static TJob* JobOf(const QModelIndex& index);

    // Jobs were added, removed or moved.
    void Reload();
    // Jobs' fields changed: every row is drawn again.
    void Refresh();
    // The language changed.
    void Retranslate();

private:
    TJobList& m_jobs;
};
