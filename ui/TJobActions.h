#pragma once

#include "core/model/TJobTypes.h"
#include "storage/TStorageOperations.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <map>

class QDialog;
class QTimer;
class QWidget;
class TApplicationContext;
class TJob;
class TJobFileSync;
class TJobLockKeeper;
class TJobWizard;
class TScheduler;
struct TStoredJobLocation;

// What the user can do to jobs from the main window, with the refusals that guard each action
// (no job selected, the job not idle, a scheduler tick in progress, a lock held elsewhere). It
// reads and writes job records and calls the engines; the window gives it the selection and is
// told when the list or the display must change.
class TJobActions : public QObject {
    Q_OBJECT
public:
    // What the actions need from the window.
    struct THooks {
        // The selected job when its row is visible, or null.
        std::function<TJob*()> SelectedJob;
        std::function<void(const TJob*)> SelectJob;
        // Runs a modal dialog (tests work the dialog instead of waiting for a user).
        std::function<int(QDialog&)> RunDialog;
        // Jobs were added or removed: the list shows the job list again.
        std::function<void()> ListChanged;
        // After every action: the actions, panels and status bar again.
        std::function<void()> Refresh;
    };

    TJobActions(TApplicationContext& context, TScheduler& scheduler, TJobLockKeeper& locks, QWidget* window,
                THooks hooks);

    void SetWizard(TJobKind kind, TJobWizard* wizard);
    // The storage branches of the Open action (tests reach stand-in destinations); empty: the
    // real ones.
    TStorageOperations::TBranchFactory StorageBranches;
    // The job-file sync, once the program has started on its data folder; may stay null.
    void SetFileSync(TJobFileSync* files) { m_files = files; }

    void NewJob();
    void Duplicate();
    void Properties();
    // The Open dialog (its local path preset with path), then the opening from the place chosen.
    void OpenJob(const QString& path = QString());
    // Opens the stored job file at location and adds its job; the job, or null after the error
    // box.
    TJob* OpenJobFrom(const TStoredJobLocation& location);
    void Rename();
    void Remove();
    void Backup();
    void Restore();
    void PauseOrResume();
    void CancelJob();
    void PauseAll();
    void CancelAll();

    // The same actions on a given job (command line, cards).
    void BackupJob(TJob* job);
    void RestoreJob(TJob* job);
    // Deletes the job's folder at its destination, reports the outcome and removes the job's record.
    void RemoveWithBackupFolder(TJob* job);

    // The selected job when it is idle, after the refusal message otherwise; with
    // refusedWhileTickBusy also refused while a scheduler tick is in progress.
    TJob* IdleSelectedJob(bool refusedWhileTickBusy);
    // Writes the job's local job file, which the job-file sync then takes as the job's own.
    void SaveJobFile(TJob& job);
    void ShowNotice(const QString& text);

private:
    bool RefuseWhileTickBusy();
    // Once a restore started from the window ends, a failure is told in a message box with its
    // reason (the first error of the run), not only on the card.
    void WatchRestoreEnd(const QString& name);
    void RemoveJobRecord(TJob* job);
    // The checked name of a new job, or empty after a refusal.
    QString AskNewJobName(const QString& caption, const QString& prompt, const QString& suggestion);
    void CreateJobWithWizard(int kind, const QString& name, const TJob* source);
    TJobWizard* WizardFor(TJobKind kind) const;
    int RunDialog(QDialog& dialog);

    TApplicationContext& m_context;
    TScheduler& m_scheduler;
    TJobLockKeeper& m_locks;
    QWidget* m_window;
    THooks m_hooks;
    TJobFileSync* m_files = nullptr;
    std::map<TJobKind, TJobWizard*> m_wizards;
    QHash<QString, QTimer*> m_restoreWatches;
};
