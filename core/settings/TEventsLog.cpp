#include "core/settings/TEventsLog.h"

#include "core/base/TextFormat.h"

void TEventsLog::AddToEventsLog(const QString& text) {
    const QString line = DateTimeText(QDateTime::currentDateTime()) + QStringLiteral(": ") + text;
    std::function<void(const QString&)> listener;
    {
        std::lock_guard guard(m_lock);
        m_pending.append(line);
        listener = m_listener;
    }
    if (listener)
        listener(line);
}

QStringList TEventsLog::FlushEventsLog(int maxLines) {
    QStringList moved;
    {
        std::lock_guard guard(m_lock);
        moved.swap(m_pending);
    }
    m_visible.append(moved);
    const int limit = std::max(0, maxLines);
    if (m_visible.size() > limit)
        m_visible.remove(0, m_visible.size() - limit);
    return moved;
}

QStringList TEventsLog::TakePending() {
    QStringList taken;
    std::lock_guard guard(m_lock);
    taken.swap(m_pending);
    return taken;
}

QStringList TEventsLog::PendingLines() const {
    std::lock_guard guard(m_lock);
    return m_pending;
}

void TEventsLog::Clear() {
    std::lock_guard guard(m_lock);
    m_pending.clear();
    m_visible.clear();
}

void TEventsLog::SetListener(std::function<void(const QString&)> listener) {
    std::lock_guard guard(m_lock);
    m_listener = std::move(listener);
}
