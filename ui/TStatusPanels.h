#pragma once

#include <QObject>
#include <QStringList>

class QLabel;
class QStatusBar;
class TJobList;

// The main window's status bar panels: the number of jobs, of running jobs and of jobs whose last
// run was cancelled, and the program's version.
class TStatusPanels : public QObject {
    Q_OBJECT
public:
    explicit TStatusPanels(QStatusBar* bar);

    // The counts again; a panel is only set when its text changed, so the bar does not flicker.
    void Update(const TJobList& jobs);
    QStringList Texts() const;

private:
    QLabel* m_jobs;
    QLabel* m_running;
    QLabel* m_cancelled;
    QLabel* m_version;
};
