#include "ui/TJobListModel.h"

#include "ui/TJobCard.h"
#include "ui/TJobIcons.h"
#include "ui/UiTr.h"

#include "core/model/JobTexts.h"
#include "core/model/TJobList.h"
#include "core/settings/TAppGlobals.h"

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QRect>
#include <QStringList>

namespace {

// A status colour as readable on the view's ground: kept on a light one, lightened on a dark one.
QColor OnGround(const QColor& colour) {
    return TJobCard::Readable(colour, QGuiApplication::palette().color(QPalette::Base));
}

// The colour of the "Last Result" column, by the same rule as its text.
QVariant LastResultColour(const TJob& job) {
    if (job.JobStatus != jsNone)
        return {};
    const TJobResult& result = job.LastJobResult;
    if (result.StartTime == 0 && result.EndTime == 0)
        return {};
    if (result.Cancelled)
        return OnGround(QColor::fromRgb(TJobCard::CancelledColour));
    if (result.ErrorsCount > 0 || result.WarningsCount > 0)
        return OnGround(QColor::fromRgb(TJobCard::WarningColour));
    return OnGround(QColor::fromRgb(TJobCard::FinishedColour));
}

} // namespace

QString TJobListModel::AccessibleText(const TJob& job) {
    // What a card shows, in the order it is read: name, destination or current work, result.
    const TJobCard card(job, App().Options, QRect(0, 0, 600, TJobCard::ItemHeight), QFont());
    QStringList parts{card.Name()};
    if (!card.SecondLine().isEmpty())
        parts.append(card.SecondLine());
    if (card.ShowsProgress())
        parts.append(QString::number(card.Progress()) + u'%');
    if (!card.StatusText().isEmpty())
        parts.append(card.StatusText());
    if (!card.ResultLinkText().isEmpty())
        parts.append(card.ResultLinkText());
    return parts.join(QStringLiteral(", "));
}

QString TJobListModel::AccessibleDescription(const TJob& job) {
    const TJobCard card(job, App().Options, QRect(0, 0, 600, TJobCard::ItemHeight), QFont());
    QStringList links;
    for (TJobCard::TAction action : {card.Link1(), card.Link2()})
        if (action != TJobCard::caNone)
            links.append(TJobCard::LinkCaption(action));
    return links.join(QStringLiteral(", "));
}

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
        if (role == Qt::AccessibleTextRole)
            return AccessibleText(*job);
        if (role == Qt::AccessibleDescriptionRole)
            return AccessibleDescription(*job);
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
            return OnGround(QColor(Qt::darkBlue));
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
