#include "ui/TAppsRestoreFlow.h"

#include "ui/TMessageBox.h"
#include "ui/TfrmRestoreList_AppsData.h"

#include <QThread>

TAppsRestoreFlow::TAppsRestoreFlow(TJob_AppsData& job, QWidget* parent)
    : QObject(parent)
    , m_job(job)
    , m_parent(parent)
    , m_dialog(new TfrmRestoreList_AppsData(parent)) {
    connect(m_dialog, &TfrmRestoreList_AppsData::Chosen, this, &TAppsRestoreFlow::OnChosen);
    connect(m_dialog, &TfrmRestoreList_AppsData::Cancelled, this, &TAppsRestoreFlow::OnCancelled);
    connect(m_dialog, &TfrmRestoreList_AppsData::CancelWhileLoading, this, [this] {
        m_cancelRequested = true;
        m_job.Cancel();
    });
}

TAppsRestoreFlow::~TAppsRestoreFlow() {
    // The reader touches the job: it must have ended before the flow goes.
    if (m_reader) {
        m_reader->wait();
        delete m_reader;
    }
    delete m_dialog;
}

void TAppsRestoreFlow::Start() {
    // The job is busy from here on: the scheduler leaves it alone and the card says so.
    m_job.JobStatus = jsRunning;
    m_job.JobOperation = joReadRestorePoints;
    m_job.RequestRepaint();
    m_dialog->ShowLoading();
    m_reader = QThread::create([this] { m_listing = m_job.ReadBackup(); });
    connect(m_reader, &QThread::finished, this, &TAppsRestoreFlow::OnListed, Qt::QueuedConnection);
    m_reader->start();
}

void TAppsRestoreFlow::OnListed() {
    m_reader->wait();
    delete m_reader;
    m_reader = nullptr;
    m_job.RequestRepaint();

    if (m_cancelRequested || m_job.JobStatus == jsCancelling) {
        m_dialog->CloseWithoutChoice();
        if (m_listing.Ok)
            m_job.CancelRestore();
        else
            m_job.JobStatus = jsNone;
        Finish();
        return;
    }
    if (!m_listing.Ok) {
        m_dialog->CloseWithoutChoice();
        TMessageBox::Error(m_parent, m_listing.Error);
        m_job.JobStatus = jsNone;
        Finish();
        return;
    }
    m_dialog->ShowChoice(m_listing.AppNames);
}

void TAppsRestoreFlow::OnChosen(const QStringList& names) {
    m_job.StartRestore(names);
    Finish();
}

void TAppsRestoreFlow::OnCancelled() {
    m_job.CancelRestore();
    Finish();
}

void TAppsRestoreFlow::Finish() {
    if (m_finished)
        return;
    m_finished = true;
    m_job.RequestRepaint();
    Q_EMIT Finished();
    deleteLater();
}
