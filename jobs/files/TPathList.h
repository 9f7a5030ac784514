#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// An ordered list of relative paths with an index for lookups. Lookups compare exactly: names that
// differ only in letter case are different files on this platform. A run over hundreds of
// thousands of files looks every one of them up, so the index keeps that linear.
class TPathList {
public:
    TPathList() = default;
    explicit TPathList(const QStringList& paths) { Assign(paths); }

    void Assign(const QStringList& paths);
    void Append(const QString& path);
    void RemoveLast();
    void Clear();

    // Position of the first occurrence, or -1.
    qsizetype IndexOf(const QString& path) const;
    bool Contains(const QString& path) const { return IndexOf(path) >= 0; }

    const QStringList& Items() const { return m_items; }
    qsizetype Size() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.isEmpty(); }
    const QString& At(qsizetype index) const { return m_items.at(index); }

private:
    void AddToIndex(const QString& path, qsizetype position);

    QStringList m_items;
    QHash<QString, qsizetype> m_index; // first occurrence
};
