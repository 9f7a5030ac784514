#include "core/settings/TEventsLogModel.h"

#include "core/base/TextFile.h"
#include "core/settings/TEventsLog.h"

TEventsLogModel::TEventsLogModel(TEventsLog& log, QObject* parent)
    : QAbstractListModel(parent)
    , m_log(log) {}

int TEventsLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant TEventsLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_lines.size() || role != Qt::DisplayRole)
        return {};
    return m_lines.at(index.row());
}

bool TEventsLogModel::FlushEventsLog(int maxLines) {
    const QStringList pending = m_log.TakePending();
    if (!pending.isEmpty()) {
        beginInsertRows(QModelIndex(), int(m_lines.size()), int(m_lines.size() + pending.size() - 1));
        m_lines.append(pending);
        endInsertRows();
    }
    const qsizetype limit = std::max(0, maxLines);
    if (m_lines.size() > limit) {
        const qsizetype excess = m_lines.size() - limit;
        beginRemoveRows(QModelIndex(), 0, int(excess - 1));
        m_lines.remove(0, excess);
        endRemoveRows();
    }
    return !pending.isEmpty();
}

bool TEventsLogModel::SaveToFile(const QString& path, QString* errorText) const {
    return WriteTextFileLines(path, m_lines, 0644, errorText);
}
