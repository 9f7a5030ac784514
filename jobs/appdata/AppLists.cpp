#include "jobs/appdata/AppLists.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

bool SaveAppList(const QString& path, const QStringList& lines, QString* error) {
    QByteArray data("\xEF\xBB\xBF");
    for (const QString& line : lines) {
        data += line.toUtf8();
        data += "\r\n";
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool LoadAppList(const QString& path, QStringList& lines) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    qsizetype start = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    lines.clear();
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        qsizetype stop = end;
        if (stop > start && data.at(stop - 1) == '\r')
            --stop;
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
        lines.append(decoder(QByteArrayView(data.constData() + start, stop - start)));
        start = end + 1;
    }
    return true;
}

QString AppFileStamp(const QString& path) {
    const QDateTime modified = QFileInfo(path).fileTime(QFileDevice::FileModificationTime);
    return modified.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz"));
}

bool IsContainedRelativePath(const QString& path) {
    if (path.isEmpty() || path.startsWith(u'/'))
        return false;
    for (const QStringView part : QStringView(path).split(u'/'))
        if (part.isEmpty() || part == u"." || part == u"..")
            return false;
    return true;
}

bool IsUsableAppFolderName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\\');
}
