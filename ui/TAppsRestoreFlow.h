#pragma once

#include "jobs/appdata/TJob_AppsData.h"

#include <QObject>

class QThread;
class QWidget;
class TfrmRestoreList_AppsData;

// The dialogs of an application data restore: the backup is read from the destination on a
// thread of its own while the dialog shows its loading panel, then the user ticks the
// applications and the job's restore worker starts. Every other way out leaves the job idle.
// The flow deletes itself when it ends.
class TAppsRestoreFlow : public QObject {
    Q_OBJECT
public:
    TAppsRestoreFlow(TJob_AppsData& job, QWidget* parent);
    ~TAppsRestoreFlow() override;

    void Start();

    TJob_AppsData& Job() const { return m_job; }
    TfrmRestoreList_AppsData* Dialog() const { return m_dialog; }

Q_SIGNALS:
    // The restore worker runs, or the job is idle again.
    void Finished();

private:
    void OnListed();
    void OnChosen(const QStringList& names);
    void OnCancelled();
    void Finish();

    TJob_AppsData& m_job;
    QWidget* m_parent;
    TfrmRestoreList_AppsData* m_dialog;
    QThread* m_reader = nullptr;
    TAppsRestoreListing m_listing;
    bool m_cancelRequested = false;
    bool m_finished = false;
};
