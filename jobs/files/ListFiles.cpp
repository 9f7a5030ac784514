#include "jobs/files/ListFiles.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

bool SaveListFile(const QString& path, const QStringList& lines, QString* error) {
    QByteArray data("\xEF\xBB\xBF");
    qsizetype size = 3;
    for (const QString& line : lines)
        size += line.size() * 3 + 2;
    data.reserve(size);
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

bool LoadListFile(const QString& path, QStringList& lines) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray data = file.readAll();
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
        // Only the file's own mark is dropped: QString::fromUtf8 would also drop a U+FEFF that
        // begins an entry (a name may begin with one).
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
        lines.append(decoder(QByteArrayView(data.constData() + start, stop - start)));
        start = end + 1;
    }
    return true;
}
