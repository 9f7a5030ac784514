#include "jobs/files/TCurrentFileList.h"

#include <stdexcept>

void TCurrentFileList::SetPrevious(const TStringTable* files, const TStringTable* times) {
    m_previousFiles = files;
    m_previousTimes = times;
}

void TCurrentFileList::AppendPrevious(qsizetype index) {
    m_paths.push_back(uint32_t(index));
    m_stamps.push_back(uint32_t(index));
}

void TCurrentFileList::Append(QStringView path, QStringView stamp) {
    if (m_newPaths.Size() >= qsizetype(OwnText) - 1)
        throw std::length_error("too many files in one run");
    m_newPaths.Append(path);
    m_newStamps.Append(stamp);
    m_paths.push_back(Own(m_newPaths));
    m_stamps.push_back(Own(m_newStamps));
}

void TCurrentFileList::SetLastStampToPrevious(qsizetype index) {
    if (m_stamps.empty())
        return;
    if (m_stamps.back() & OwnText)
        m_newStamps.RemoveLast();
    m_stamps.back() = uint32_t(index);
}

void TCurrentFileList::RemoveLast() {
    if (m_paths.empty())
        return;
    if (m_paths.back() & OwnText)
        m_newPaths.RemoveLast();
    if (m_stamps.back() & OwnText)
        m_newStamps.RemoveLast();
    m_paths.pop_back();
    m_stamps.pop_back();
}

void TCurrentFileList::Clear() {
    m_newPaths.Clear();
    m_newStamps.Clear();
    m_paths.clear();
    m_stamps.clear();
}

TStringSequence TCurrentFileList::Paths() const {
    return {Size(), [this](qsizetype index) { return Path(index); }};
}

TStringSequence TCurrentFileList::Stamps() const {
    return {Size(), [this](qsizetype index) { return Stamp(index); }};
}
