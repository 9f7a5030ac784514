#include "ui/TFilesRestoreFlow.h"

#include "ui/TFileDialog.h"
#include "ui/TInputBox.h"
#include "ui/TMessageBox.h"
#include "ui/TfrmRestoreList.h"
#include "ui/UiTr.h"

#include "jobs/files/RestorePoints.h"

#include <QDir>
#include <QThread>

TFilesRestoreFlow::TFilesRestoreFlow(TJob_FilesAndFolders& job, QWidget* parent)
    : QObject(parent)
    , m_job(job)
    , m_parent(parent)
    , m_dialog(new TfrmRestoreList(parent)) {
    connect(m_dialog, &TfrmRestoreList::Chosen, this, &TFilesRestoreFlow::OnChosen);
    connect(m_dialog, &TfrmRestoreList::Cancelled, this, &TFilesRestoreFlow::OnCancelled);
    connect(m_dialog, &TfrmRestoreList::CancelWhileLoading, this, [this] {
        m_cancelRequested = true;
        m_job.Cancel();
    });
}

TFilesRestoreFlow::~TFilesRestoreFlow() {
    // The reader touches the job: it must have ended before the flow goes.
    if (m_reader) {
        m_reader->wait();
        delete m_reader;
    }
    delete m_dialog;
}

void TFilesRestoreFlow::Start() {
    // The job is busy from here on: the scheduler leaves it alone and the card says so.
    m_job.JobStatus = jsRunning;
    m_job.JobOperation = joReadRestorePoints;
    m_job.RequestRepaint();
    m_output = TFileDialog::GetExistingDirectory(m_parent, Tr(u"Choose an output directory"), QDir::homePath());
    if (m_output.isEmpty()) {
        m_job.JobStatus = jsNone;
        m_job.RequestRepaint();
        Finish();
        return;
    }
    m_dialog->ShowLoading();
    m_reader = QThread::create([this] { m_listing = m_job.ReadRestorePoints(); });
    connect(m_reader, &QThread::finished, this, &TFilesRestoreFlow::OnListed, Qt::QueuedConnection);
    m_reader->start();
}

void TFilesRestoreFlow::OnListed() {
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
    if (m_listing.Mirror) {
        // A mirror is restored whole: there is nothing to choose.
        m_dialog->CloseWithoutChoice();
        m_job.StartRestore(m_output, QString(), -1);
        Finish(true);
        return;
    }
    m_dialog->ShowChoice(m_listing.Points);
}

void TFilesRestoreFlow::OnChosen(int index) {
    QString password;
    if (RestorePointNeedsPassword(m_listing.Points.at(index))) {
        // A cancelled box gives an empty password: an encrypted archive then fails and the
        // restore ends cancelled.
        if (!TInputBox::GetText(m_parent, Tr(u"Enter the Password"),
                                TrFormat(u"Password for ZIP archives of backup %s:", {m_job.stJobName}), password,
                                true))
            password.clear();
    }
    m_job.StartRestore(m_output, password, index);
    Finish(true);
}

void TFilesRestoreFlow::OnCancelled() {
    m_job.CancelRestore();
    Finish();
}

void TFilesRestoreFlow::Finish(bool restoreStarted) {
    if (m_finished)
        return;
    m_finished = true;
    m_job.RequestRepaint();
    Q_EMIT Finished(restoreStarted);
    deleteLater();
}
