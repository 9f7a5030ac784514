#include "storage/TStorageBranch.h"

#include "core/model/TJob.h"
#include "core/settings/TAppGlobals.h"
#include "storage/StoragePaths.h"

#include <algorithm>

TStorageBranch::TStorageBranch(TJob& job)
    : m_job(job) {}

TStorageBranch::~TStorageBranch() = default;

void TStorageBranch::LogPathLine(const QString& message, const QString& path) {
    m_job.AddLogLine(Tr(message) + u' ' + path);
}

void TStorageBranch::LogTransferLine(const QString& message, const QString& path) {
    if (m_job.JobOptions.Logging.DontLogCopyingInternalFiles && IsInternalFile(path, App().RemoteJobFileExtension))
        return;
    LogPathLine(message, path);
}

void TStorageBranch::ReportProgress(int64_t done, int64_t total) {
    const int32_t percent = total > 0 ? int32_t((done * 100 + total / 2) / total) : 0;
    m_job.CurrentFileOperationProgress = std::min<int32_t>(percent, 100);
    m_job.RequestRepaint();
    if (OnProgress)
        OnProgress(done, total);
}

bool TStorageBranch::CancelRequested() const {
    return m_job.CancelCurrentFileOperation != 0;
}

QString TStorageBranch::Tr(const QString& text) const {
    return m_job.Tr(text);
}
