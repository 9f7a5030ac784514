#pragma once

#include <QAbstractListModel>
#include <QStringList>

class TEventsLog;

// The visible events log of the main window (lbCommonLog) as a list model: once per scheduler
// tick the interface thread moves the pending lines in and drops the oldest lines beyond the
// limit. Interface thread only; workers reach the log through TEventsLog.
class TEventsLogModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TEventsLogModel(TEventsLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Appends the pending lines in order, then deletes first lines while more than maxLines are
    // shown. True when lines were added (the view then scrolls to the bottom unless it has the
    // keyboard focus).
    bool FlushEventsLog(int maxLines);
    QStringList Lines() const { return m_lines; }
    // "Save to file...": the visible lines as a text file.
    bool SaveToFile(const QString& path, QString* errorText = nullptr) const;

private:
    TEventsLog& m_log;
    QStringList m_lines;
};
