#include "jobs/files/TPathList.h"

void TPathList::AddToIndex(const QString& path, qsizetype position) {
    // The index names the first occurrence, as a front-to-back search would find it.
    if (!m_index.contains(path))
        m_index.insert(path, position);
}

void TPathList::Assign(const QStringList& paths) {
    m_items = paths;
    m_index.clear();
    m_index.reserve(paths.size());
    for (qsizetype i = 0; i < paths.size(); ++i)
        AddToIndex(paths.at(i), i);
}

void TPathList::Append(const QString& path) {
    AddToIndex(path, m_items.size());
    m_items.append(path);
}

void TPathList::RemoveLast() {
    if (m_items.isEmpty())
        return;
    const qsizetype last = m_items.size() - 1;
    auto it = m_index.find(m_items.at(last));
    if (it != m_index.end() && it.value() == last)
        m_index.erase(it);
    m_items.removeLast();
}

void TPathList::Clear() {
    m_items.clear();
    m_index.clear();
}

qsizetype TPathList::IndexOf(const QString& path) const {
    const auto it = m_index.constFind(path);
    return it == m_index.cend() ? -1 : it.value();
}
