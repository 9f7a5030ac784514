// open: re-creates a job from the stored job file its backups left at the destination.

#include "app/cli/Commands.h"
#include "app/cli/TCliContext.h"

#include "core/model/TJob.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/OpenStoredJob.h"
#include "storage/SharePath.h"

namespace {

// The destination forms of "new --to" (ParseDestination), here naming a file instead of a folder:
// the kind of storage and, for FTP and cloud, the account or service with the path below it.
bool ParseLocation(TCliContext& context, const QString& text, TStoredJobLocation& location) {
    TDestinationSettings parsed;
    if (text.startsWith(QStringLiteral("ftp://"), Qt::CaseInsensitive)) {
        if (!ParseFtpDestination(context, text, parsed))
            return false;
        location.Type = dtFTP;
        location.AccountID = parsed.FTP.AccountID;
        location.Path = parsed.FTP.Subfolder;
        return true;
    }
    if (text.startsWith(QStringLiteral("cloud:"))) {
        if (!ParseCloudDestination(context, text, parsed))
            return false;
        location.Type = dtCloud;
        location.ServiceName = parsed.Cloud.ServiceName;
        location.Path = parsed.Cloud.Subfolder;
        return true;
    }
    if (text.startsWith(QStringLiteral("smb://"), Qt::CaseInsensitive) || text.startsWith(QStringLiteral("//")) ||
        text.startsWith(QStringLiteral("\\\\"))) {
        const QString path = text.trimmed();
        const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
        TSharePath share;
        if (!ParseSharePath(path.left(slash), share)) {
            context.Err << "vaultora-cli: not a file on a network share: " << text
                        << " (smb://server[:port]/share/path/FILE, //server/share/path/FILE or "
                           "\\\\server\\share\\path\\FILE)"
                        << Qt::endl;
            return false;
        }
        location.Type = dtNetwork;
        location.Path = path;
        return true;
    }
    location.Type = dtLocalOrExternalDrive;
    location.Path = text;
    return true;
}

} // namespace

int CommandOpen(TCliContext& context) {
    QString user, sharePasswordFile;
    const bool hasUser = context.TakeOption(QStringLiteral("--user"), &user);
    const bool hasSharePassword = context.TakeOption(QStringLiteral("--share-password-file"), &sharePasswordFile);
    if (context.Args.size() != 1)
        return context.Usage(QStringLiteral("usage: open FILE|SHARE/FILE|ftp://ACCOUNT/PATH|cloud:SERVICE/PATH "
                                            "[--user USER [--share-password-file FILE]]"));
    const QString path = context.Args.first();
    TStoredJobLocation location;
    if (!ParseLocation(context, path, location))
        return ceUsage;
    if ((hasUser || hasSharePassword) && location.Type != dtNetwork)
        return context.Usage(QStringLiteral("--user and --share-password-file are for a network share"));
    if (hasSharePassword && !hasUser)
        return context.Usage(QStringLiteral("--share-password-file needs --user"));
    location.Username = user;
    if (hasSharePassword && !ReadPasswordFile(context, sharePasswordFile, location.Password))
        return ceUsage;

    App().EventsLog.SetListener([&context](const QString& line) { context.Err << line << Qt::endl; });
    const TOpenJobResult result = OpenStoredJob(context.Jobs(), location);
    App().EventsLog.SetListener(nullptr);
    if (!result.Job) {
        context.Err << "vaultora-cli: " << result.Error << Qt::endl;
        return ceErrors;
    }
    context.Out << "Opened job \"" << result.Job->stJobName << "\"." << Qt::endl;
    return result.JobsListNotSaved ? ceErrors : ceOk;
}
