#pragma once

#include "core/base/TFileDescriptor.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// Keeps the folders of the last few files copied open, so that a run copying one folder's files
// after another resolves each folder path once, not several times per file. The descriptors stay
// owned by the cache; one stays valid until four other folders were opened after it or Clear.
class TParentFolderCache {
public:
    // As OpenParentFolder: the O_PATH descriptor of the folder holding path's last component, and
    // that component in leaf. False with errno set.
    bool Open(const QString& path, int& parent, QByteArray& leaf);
    // Forgets every folder (after anything that may rename or remove one).
    void Clear();

private:
    struct TItem {
        QByteArray Folder;
        TFileDescriptor Descriptor;
        uint64_t LastUse = 0;
    };

    std::array<TItem, 4> m_items;
    uint64_t m_uses = 0;
};
