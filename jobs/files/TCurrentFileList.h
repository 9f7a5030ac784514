#pragma once

#include "jobs/files/TStringTable.h"

#include <cstdint>
#include <vector>

// The files one run sees, in walk order, with their stamps. A file whose path or stamp equals an
// entry of the run compared against refers to that entry's text instead of copying it, so a run
// over an unchanged tree copies no texts at all.
class TCurrentFileList {
public:
    // The previous run's lists the entries may refer to; both must outlive this list.
    void SetPrevious(const TStringTable* files, const TStringTable* times);

    // The previous run's entry index, path and stamp alike.
    void AppendPrevious(qsizetype index);
    void Append(QStringView path, QStringView stamp);
    // Gives the last entry the stamp of the previous run's entry index.
    void SetLastStampToPrevious(qsizetype index);
    void RemoveLast();
    void Clear();

    qsizetype Size() const { return qsizetype(m_paths.size()); }
    QStringView Path(qsizetype index) const { return Resolve(m_paths[size_t(index)], m_previousFiles, m_newPaths); }
    QStringView Stamp(qsizetype index) const { return Resolve(m_stamps[size_t(index)], m_previousTimes, m_newStamps); }
    TStringSequence Paths() const;
    TStringSequence Stamps() const;

private:
    // Below the tag: an entry of the previous run; with it: a text of this run's own table.
    static constexpr uint32_t OwnText = 0x80000000u;

    static QStringView Resolve(uint32_t reference, const TStringTable* previous, const TStringTable& own) {
        return (reference & OwnText) ? own.At(qsizetype(reference & ~OwnText)) : previous->At(qsizetype(reference));
    }
    static uint32_t Own(const TStringTable& table) { return uint32_t(table.Size() - 1) | OwnText; }

    const TStringTable* m_previousFiles = nullptr;
    const TStringTable* m_previousTimes = nullptr;
    TStringTable m_newPaths;
    TStringTable m_newStamps;
    std::vector<uint32_t> m_paths;
    std::vector<uint32_t> m_stamps;
};
