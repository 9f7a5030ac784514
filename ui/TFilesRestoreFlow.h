#pragma once

#include "jobs/files/TJob_FilesAndFolders.h"

#include <QObject>
#include <QString>

class QThread;
class QWidget;
class TfrmRestoreList;

// The dialogs of a files-and-folders restore, in order: the output folder, the restore points
// (read from the destination on a thread of their own while the dialog shows its loading panel,
// so the window keeps repainting), the choice, the ZIP password when the point is protected;
// then the job's restore worker starts. Every other way out leaves the job idle. The flow
// deletes itself when it ends.
class TFilesRestoreFlow : public QObject {
    Q_OBJECT
public:
    TFilesRestoreFlow(TJob_FilesAndFolders& job, QWidget* parent);
    ~TFilesRestoreFlow() override;

    void Start();

    TJob_FilesAndFolders& Job() const { return m_job; }
    TfrmRestoreList* Dialog() const { return m_dialog; }

Q_SIGNALS:
    // The restore worker runs (restoreStarted), or the job is idle again.
    void Finished(bool restoreStarted);

private:
    void OnListed();
    void OnChosen(int index);
    void OnCancelled();
    void Finish(bool restoreStarted = false);

    TJob_FilesAndFolders& m_job;
    QWidget* m_parent;
    TfrmRestoreList* m_dialog;
    QThread* m_reader = nullptr;
    QString m_output;
    TRestoreListing m_listing;
    bool m_cancelRequested = false;
    bool m_finished = false;
};
