#include "storage/TParentFolderCache.h"

#include "core/base/DirectoryTree.h"

#include <algorithm>
#include <cerrno>

bool TParentFolderCache::Open(const QString& path, int& parent, QByteArray& leaf) {
    QByteArray folder;
    if (!SplitParentPath(path, folder, leaf))
        return false;
    if (folder.isEmpty()) {
        parent = AT_FDCWD; // relative to the working folder
        return true;
    }
    for (TItem& item : m_items) {
        if (item.Descriptor.IsOpen() && item.Folder == folder) {
            item.LastUse = ++m_uses;
            parent = item.Descriptor.Get();
            return true;
        }
    }
    TFileDescriptor opened;
    if (!OpenFolderPath(folder, O_PATH, opened))
        return false;
    TItem& slot = *std::min_element(m_items.begin(), m_items.end(),
                                    [](const TItem& a, const TItem& b) { return a.LastUse < b.LastUse; });
    slot.Folder = folder;
    slot.Descriptor = std::move(opened);
    slot.LastUse = ++m_uses;
    parent = slot.Descriptor.Get();
    return true;
}

void TParentFolderCache::Clear() {
    for (TItem& item : m_items) {
        item.Folder.clear();
        item.Descriptor.Reset();
        item.LastUse = 0;
    }
}
