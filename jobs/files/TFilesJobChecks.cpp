#include "jobs/files/TFilesJobChecks.h"

#include "core/settings/TAppGlobals.h"

namespace TFilesJobChecks {

bool CheckExtensionList(QString& extensions, QString* message) {
    QString text = extensions;
    text.remove(u' ');
    text = text.toLower();
    if (text.startsWith(u';'))
        text.remove(0, 1);
    if (text.endsWith(u';'))
        text.chop(1);
    extensions = text;
    const QString example = TranslateText(QStringLiteral("Please specify extensions separated by ;")) +
                            QStringLiteral("\r\n") + TranslateText(QStringLiteral("Example:")) +
                            QStringLiteral(" txt;doc;exe");
    if (text.isEmpty()) {
        if (message)
            *message = example;
        return false;
    }
    for (QChar forbidden : {u'*', u'/', u'\\', u',', u'.'}) {
        if (text.contains(forbidden)) {
            if (message)
                *message = TranslateText(QStringLiteral("Characters * . , \\ / are not allowed.")) +
                           QStringLiteral("\r\n\r\n") + example;
            return false;
        }
    }
    return true;
}

QString DuplicatedNamesOfFoldersOrFiles(const QStringList& sources) {
    QStringList folderNames, folderPaths, fileNames, filePaths;
    for (const QString& entry : sources) {
        const bool folder = entry.endsWith(u'*');
        QString path = entry;
        if (folder) {
            path.chop(1);
            if (path.endsWith(u'/') && path.size() > 1)
                path.chop(1);
        }
        const QString name = path.mid(path.lastIndexOf(u'/') + 1);
        if (name.isEmpty())
            continue; // a whole volume
        QStringList& names = folder ? folderNames : fileNames;
        QStringList& paths = folder ? folderPaths : filePaths;
        for (qsizetype i = 0; i < names.size(); ++i)
            if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
                return path + QStringLiteral("\r\n") + paths.at(i);
        names.append(name);
        paths.append(path);
    }
    return {};
}

QString DuplicateSourcesMessage(const QString& duplicates) {
    return TranslateText(QStringLiteral("Among the items there are files or folders having the same name, therefore "
                                        "they could be overwritten by each other and you could have incorrect "
                                        "backups.")) +
           QStringLiteral("\r\n\r\n") + TranslateText(QStringLiteral("Example:")) + QStringLiteral("\r\n") + duplicates;
}

bool AddTimeTableEntry(QStringList& timeTable, const QString& entry) {
    if (timeTable.contains(entry))
        return false;
    qsizetype at = 0;
    while (at < timeTable.size() && timeTable.at(at) < entry)
        ++at;
    timeTable.insert(at, entry);
    return true;
}

} // namespace TFilesJobChecks
