#include "core/model/JobTexts.h"

#include "core/base/OleDate.h"
#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"

QString KindText(TJobKind kind) {
    switch (kind) {
    case TJobKind::FilesAndFolders:
        return TranslateText(QStringLiteral("Files and Folders Backup"));
    case TJobKind::DriveImage:
        return TranslateText(QStringLiteral("Drive Image Backup"));
    case TJobKind::AppsData:
        return TranslateText(QStringLiteral("Application Data Backup"));
    }
    return {};
}

QString StorageText(TDestinationType type) {
    switch (type) {
    case dtLocalOrExternalDrive:
        return TranslateText(QStringLiteral("Drive"));
    case dtNetwork:
        return TranslateText(QStringLiteral("Network"));
    case dtFTP:
        return TranslateText(QStringLiteral("FTP"));
    case dtCloud:
        return TranslateText(QStringLiteral("Cloud"));
    }
    return {};
}

QString StatusText(TJobStatus status) {
    switch (status) {
    case jsNone:
        return TranslateText(QStringLiteral("Ready"));
    case jsWaiting:
        return TranslateText(QStringLiteral("Waiting"));
    case jsRunning:
        return TranslateText(QStringLiteral("Running"));
    case jsCancelling:
        return TranslateText(QStringLiteral("Cancelling"));
    case jsPaused:
        return TranslateText(QStringLiteral("Paused"));
    }
    return {};
}

QString LastResultText(const TJob& job) {
    if (job.JobStatus != jsNone)
        return QStringLiteral("-");
    return ResultText(job.LastJobResult);
}

QString ResultText(const TJobResult& result) {
    if (result.StartTime == 0 && result.EndTime == 0)
        return TranslateText(QStringLiteral("Never started"));
    const QString when = DateTimeText(OleDate::ToDateTime(result.EndTime));
    if (result.Cancelled)
        return FormatText(TranslateText(QStringLiteral("Cancelled on %s")), {when});
    if (result.ErrorsCount > 0)
        return FormatText(TranslateText(QStringLiteral("Finished with errors on %s")), {when});
    if (result.WarningsCount > 0)
        return FormatText(TranslateText(QStringLiteral("Finished with warnings on %s")), {when});
    return FormatText(TranslateText(QStringLiteral("Finished on %s")), {when});
}

QString DestinationText(const TJob& job, const TOptions& options) {
    const TDestinationSettings& d = job.DestinationSettings;
    switch (d.DestinationType) {
    case dtLocalOrExternalDrive: {
        QString path = d.LocalOrExternalDrive.Disk + d.LocalOrExternalDrive.Subfolder;
        while (path.contains(QStringLiteral("//")))
            path.replace(QStringLiteral("//"), QStringLiteral("/"));
        return TranslateText(QStringLiteral("Backup to drive:")) + u' ' + path;
    }
    case dtNetwork:
        return TranslateText(QStringLiteral("Backup to network:")) + u' ' + d.Network.UNCPath;
    case dtFTP: {
        const TFTPAccount* account = nullptr;
        for (const TFTPAccount& candidate : options.FTPAccounts)
            if (candidate.ID == d.FTP.AccountID)
                account = &candidate;
        if (!account)
            return {};
        return FormatText(TranslateText(QStringLiteral("Backup to FTP (%s):")), {account->AccName}) + u' ' +
               d.FTP.Subfolder;
    }
    case dtCloud:
        return FormatText(TranslateText(QStringLiteral("Backup to cloud (%s):")), {d.Cloud.ServiceName}) + u' ' +
               d.Cloud.Subfolder;
    }
    return {};
}
