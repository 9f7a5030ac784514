#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

// The program-wide events log. Any thread appends to a pending buffer under the one lock, held
// only for the append; the interface thread moves pending lines into the visible list once per
// scheduler tick.
class TEventsLog {
public:
    // Appends date-time + ": " + text to the pending buffer.
    void AddToEventsLog(const QString& text);
    // Moves pending lines to the visible list and trims it to maxLines (oldest dropped).
    // Returns the lines that were moved.
    QStringList FlushEventsLog(int maxLines);

    // Takes the pending lines out of the buffer (for a view that keeps its own visible list).
    QStringList TakePending();

    QStringList VisibleLines() const { return m_visible; }
    QStringList PendingLines() const;
    void Clear();

    // Called (on the adding thread, outside the lock) for every line added; lets the command-line
    // program echo events as they happen.
    void SetListener(std::function<void(const QString& line)> listener);

private:
    mutable std::mutex m_lock;
    QStringList m_pending;
    QStringList m_visible; // interface thread only
    std::function<void(const QString&)> m_listener;
};
