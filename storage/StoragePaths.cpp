#include "storage/StoragePaths.h"

#include "core/base/DirectoryTree.h"

#include <cerrno>
#include <sys/stat.h>

QString JoinPath(const QString& a, const QString& b) {
    qsizetype start = 0;
    while (start < b.size() && b.at(start) == u'/')
        ++start;
    if (start == b.size())
        return a;
    qsizetype end = a.size();
    while (end > 0 && a.at(end - 1) == u'/')
        --end;
    return a.left(end) + u'/' + b.mid(start);
}

QString ToLongPath(const QString& path) {
    return path;
}

QString LastPathComponent(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString FolderPart(const QString& path) {
    return path.left(path.lastIndexOf(u'/') + 1);
}

QString WithoutLineBreaks(const QString& text) {
    QString result = text;
    result.remove(u'\r');
    result.replace(u'\n', u' ');
    return result.trimmed();
}

bool IsInternalFile(const QString& path, const QString& remoteJobFileExtension) {
    const QString name = LastPathComponent(path);
    return (!remoteJobFileExtension.isEmpty() && name.endsWith(remoteJobFileExtension, Qt::CaseInsensitive)) ||
           name.endsWith(QStringLiteral(".vll"), Qt::CaseInsensitive);
}

bool LocalPathIsMissing(const QString& path) {
    TFileDescriptor parent;
    QByteArray leaf;
    struct stat st;
    if (OpenParentFolder(path, parent, leaf) &&
        ::fstatat(parent.Get(), leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return false;
    return errno == ENOENT || errno == ENOTDIR;
}
