#include "ui/TJobListModel.h"

#include "ui/TJobCard.h"
#include "ui/TJobIcons.h"
#include "ui/UiTr.h"

#include "core/model/JobTexts.h"
#include "core/model/TJobList.h"

#include <QColor>

namespace {

// The colour of the "Last Result" column, by the same rule as its text.
QVariant LastResultColour(const TJob& job) {
    if (job.JobStatus != jsNone)
        return {};
    const TJobResult& result = job.LastJobResult;
    if (result.StartTime == 0 && result.EndTime == 0)
        return {};
    if (result.Cancelled)
        return QColor::fromRgb(TJobCard::CancelledColour);
    if (result.ErrorsCount > 0 || result.WarningsCount > 0)
        return QColor::fromRgb(TJobCard::WarningColour);
    return QColor::fromRgb(TJobCard::FinishedColour);
}

} // namespace

TJobListModel::TJobListModel(TJobList& jobs, QObject* parent)
    : QAbstractTableModel(parent)
    , m_jobs(jobs) {}

int TJobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_jobs.Count();
}

int TJobListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(ColumnCount);
}

TJob* TJobListModel::JobAt(int row) const {
    return row >= 0 && row < m_jobs.Count() ? m_jobs.At(row) : nullptr;
}

TJob* TJobListModel::JobOf(const QModelIndex& index) {
    return index.isValid() ? reinterpret_cast<TJob*>(index.data(JobRole).value<quintptr>()) : nullptr;
}

QVariant TJobListModel::data(const QModelIndex& index, int role) const {
    const TJob* job = index.isValid() ? JobAt(index.row()) : nullptr;
    if (!job)
        return {};
    if (role == JobRole)
        return QVariant::fromValue(reinterpret_cast<quintptr>(job));
    switch (index.column()) {
    case colTitle:
        if (role == Qt::DisplayRole)
            return job->stJobName;
        if (role == Qt::DecorationRole)
            return TJobIcons::Job(job->IconName(), 16);
        break;
    case colType:
        if (role == Qt::DisplayRole)
            return KindText(job->Kind());
        break;
    case colStorage:
        if (role == Qt::DisplayRole)
            return StorageText(job->DestinationSettings.DestinationType);
        break;
    case colStatus: {
        const TJobStatus status = job->JobStatus;
        if (role == Qt::DisplayRole)
            return StatusText(status);
        if (role == Qt::ForegroundRole && status != jsNone)
            return QColor(Qt::darkBlue);
        break;
    }
    case colLastResult:
        if (role == Qt::DisplayRole)
            return LastResultText(*job);
        if (role == Qt::ForegroundRole)
            return LastResultColour(*job);
        break;
    default:
        break;
    }
    return {};
}

QVariant TJobListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case colTitle:
        return Tr(u"Title");
    case colType:
        return Tr(u"Type");
    case colStorage:
        return Tr(u"Storage");
    case colStatus:
        return Tr(u"Status");
    case colLastResult:
        return Tr(u"Last Result");
    default:
        return {};
    }
}

void TJobListModel::Reload() {
    beginResetModel();
    endResetModel();
}

void TJobListModel::Refresh() {
    if (m_jobs.Count() > 0)
        Q_EMIT dataChanged(index(0, 0), index(m_jobs.Count() - 1, ColumnCount - 1));
}

void TJobListModel::Retranslate() {
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    Refresh();
}
