#pragma once

#include "jobs/files/TStringTable.h"

#include <cstdint>
#include <vector>

// Finds a text's first position in a TStringTable by hashing. Lookups compare exactly: names that
// differ only in letter case are different files on this platform. Built once, then only read.
class TStringIndex {
public:
    void Build(const TStringTable& table);
    void Clear();

    // Position of the first occurrence, or -1.
    qsizetype IndexOf(QStringView text) const;
    // Whether some text occurs more than once.
    bool HasDuplicates() const { return m_duplicates; }

private:
    struct TSlot {
        uint32_t Hash;
        int32_t Index; // -1: empty
    };

    const TStringTable* m_table = nullptr;
    std::vector<TSlot> m_slots;
    size_t m_mask = 0;
    bool m_duplicates = false;
};
