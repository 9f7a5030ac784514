#include "jobs/files/TStringIndex.h"

#include <QHashFunctions>

#include <stdexcept>

namespace {

uint32_t HashOf(QStringView text) {
    return uint32_t(qHash(text, size_t(0x9E3779B9)));
}

} // namespace

void TStringIndex::Build(const TStringTable& table) {
    m_table = &table;
    m_duplicates = false;
    if (table.Size() > INT32_MAX / 2)
        throw std::length_error("too many texts to index");
    size_t capacity = 16;
    while (capacity < size_t(table.Size()) * 2)
        capacity *= 2;
    m_slots.assign(capacity, TSlot{0, -1});
    m_mask = capacity - 1;
    for (qsizetype i = 0; i < table.Size(); ++i) {
        const QStringView text = table.At(i);
        const uint32_t hash = HashOf(text);
        for (size_t slot = hash & m_mask;; slot = (slot + 1) & m_mask) {
            TSlot& at = m_slots[slot];
            if (at.Index < 0) {
                at = {hash, int32_t(i)};
                break;
            }
            // The first occurrence stays, as a front-to-back search would find it.
            if (at.Hash == hash && table.At(at.Index) == text) {
                m_duplicates = true;
                break;
            }
        }
    }
}

void TStringIndex::Clear() {
    m_table = nullptr;
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_mask = 0;
    m_duplicates = false;
}

qsizetype TStringIndex::IndexOf(QStringView text) const {
    if (!m_table || m_slots.empty())
        return -1;
    const uint32_t hash = HashOf(text);
    for (size_t slot = hash & m_mask;; slot = (slot + 1) & m_mask) {
        const TSlot& at = m_slots[slot];
        if (at.Index < 0)
            return -1;
        if (at.Hash == hash && m_table->At(at.Index) == text)
            return at.Index;
    }
}
