#include "storage/TParentFolderCache.h"

#include "core/DirectoryTree.h"

#include <QFile>

#include <algorithm>
#include <cerrno>

bool TParentFolderCache::Open(const QString& path, int& parent, QByteArray& leaf) {
    // The same split as OpenParentFolder.
    QByteArray native = QFile::encodeName(path);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    const qsizetype slash = native.lastIndexOf('/');
    leaf = native.mid(slash + 1);
    if (leaf.isEmpty() || leaf == "." || leaf == "..") {
        errno = EINVAL;
        return false;
    }
    if (slash < 0) {
        parent = AT_FDCWD; // relative to the working folder
        return true;
    }
    const QByteArray folder = slash == 0 ? QByteArray("/") : native.left(slash);
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
