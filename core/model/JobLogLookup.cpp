#include "core/model/JobLogLookup.h"

#include "core/model/TJob.h"
#include "core/settings/TAppGlobals.h"

#include <QFileInfo>

namespace {

TLogFileLookup Refused(const QString& text) {
    return {TLogFileLookup::Refused, QString(), text};
}

TLogFileLookup LookUp(const QString& path) {
    if (QFileInfo(path).isFile())
        return {TLogFileLookup::Open, path, QString()};
    return {TLogFileLookup::Missing, path, TranslateText(QStringLiteral("Log file does not exist:")) + u' ' + path};
}

} // namespace

QString JobNotIdleText() {
    return TranslateText(
        QStringLiteral("Unable to complete the action at the moment. Please try again in several seconds."));
}

TLogFileLookup LastLogFile(const TJob& job, const QString& pathForLogFiles) {
    if (job.JobStatus != jsNone)
        return Refused(JobNotIdleText());
    const QString folder = job.LogFolderIn(pathForLogFiles);
    // A job that has no stored log yet: the message names its log folder.
    if (job.LogList.isEmpty())
        return {TLogFileLookup::Missing, folder,
                TranslateText(QStringLiteral("Log file does not exist:")) + u' ' + folder};
    return LookUp(folder + u'/' + job.LogList.last() + QStringLiteral(".txt"));
}

QList<TLogMenuEntry> LogMenuEntries(const TJob& job) {
    QList<TLogMenuEntry> entries;
    const qsizetype first = std::max<qsizetype>(0, job.LogList.size() - MaxLogMenuEntries);
    for (qsizetype i = first; i < job.LogList.size(); ++i) {
        QString caption = job.LogList.at(i);
        caption.replace(u';', u':');
        entries.append({caption, job.LogList.at(i)});
    }
    return entries;
}

TLogFileLookup LogFileForMenuCaption(const TJob& job, const QString& pathForLogFiles, const QString& caption) {
    if (job.JobStatus != jsNone)
        return Refused(JobNotIdleText());
    QString stamp = caption;
    stamp.replace(u':', u';');
    return LookUp(job.LogFolderIn(pathForLogFiles) + u'/' + stamp + QStringLiteral(".txt"));
}

TLogFileLookup HistoryFile(const TJob& job, const QString& pathForLogFiles) {
    if (job.JobStatus != jsNone)
        return Refused(JobNotIdleText());
    QString error;
    const QString path = job.ExportHistory(pathForLogFiles, &error);
    if (path.isEmpty())
        return Refused(TranslateText(QStringLiteral("Unable to write the file:")) + u' ' + pathForLogFiles +
                       QStringLiteral("/history - ") + job.stJobName + QStringLiteral(".txt (") + error + u')');
    return {TLogFileLookup::Open, path, QString()};
}
