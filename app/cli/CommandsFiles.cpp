// Commands of files-and-folders jobs: new, backup, points, restore, log, remove.

#include "app/cli/Commands.h"
#include "app/cli/ScheduleFlags.h"
#include "app/cli/TCliContext.h"
#include "app/cli/TCliRunner.h"

#include "core/base/OleDate.h"
#include "core/base/TextFormat.h"
#include "core/model/JobNameCheck.h"
#include "core/model/TJobLock.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/files/TFilesJobChecks.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "storage/SharePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

// Reads a password from the first line of a file (never from the command line, where other users
// could see it).
bool ReadPasswordFile(TCliContext& context, const QString& path, QString& password) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        context.Err << "vaultora-cli: cannot read the password file " << path << ": " << file.errorString() << Qt::endl;
        return false;
    }
    // Only the first line counts and a password is short: an endless file (/dev/zero) or a huge one
    // is never read whole.
    constexpr qint64 MaxPasswordLine = 4096;
    QByteArray line = file.readLine(MaxPasswordLine + 3); // the line, CR LF, and one byte to tell
    const bool ended = line.endsWith('\n') || file.atEnd();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (!ended || line.size() > MaxPasswordLine) {
        context.Err << "vaultora-cli: the first line of the password file " << path << " is longer than "
                    << MaxPasswordLine << " bytes" << Qt::endl;
        return false;
    }
    password = QString::fromUtf8(line);
    return true;
}

// Fills the destination from --to: an FTP account's folder (ftp://ACCOUNT/path), a share
// (smb://server[:port]/share/path, //server/share/path or \\server\share\path) or a local folder.
// Cloud (cloud:SERVICE/path) destinations are refused until their branch exists.
bool ParseDestination(TCliContext& context, const QString& text, TDestinationSettings& destination) {
    if (text.startsWith(QStringLiteral("ftp://"), Qt::CaseInsensitive))
        return ParseFtpDestination(context, text, destination);
    if (text.startsWith(QStringLiteral("cloud:")))
        return ParseCloudDestination(context, text, destination);
    if (text.startsWith(QStringLiteral("smb://"), Qt::CaseInsensitive) || text.startsWith(QStringLiteral("//")) ||
        text.startsWith(QStringLiteral("\\\\"))) {
        TSharePath share;
        if (!ParseSharePath(text, share)) {
            context.Err << "vaultora-cli: not a network share path: " << text
                        << " (smb://server[:port]/share/path, //server/share/path or \\\\server\\share\\path)"
                        << Qt::endl;
            return false;
        }
        destination.DestinationType = dtNetwork;
        destination.Network.UNCPath = text.trimmed();
        return true;
    }
    const QFileInfo info(text);
    if (!info.isDir()) {
        context.Err << "vaultora-cli: " << TranslateText(QStringLiteral("The directory does not exist:")) << ' ' << text
                    << Qt::endl;
        return false;
    }
    const QString folder = QDir::cleanPath(info.absoluteFilePath());
    // The volume's mount point is the "disk", the rest the subfolder, as the wizard records them.
    QString root = QStorageInfo(folder).rootPath();
    if (root.isEmpty() || !folder.startsWith(root))
        root = QStringLiteral("/");
    destination.DestinationType = dtLocalOrExternalDrive;
    destination.LocalOrExternalDrive.Disk = root;
    QString subfolder = folder.mid(root.size());
    if (!subfolder.startsWith(u'/'))
        subfolder.prepend(u'/');
    destination.LocalOrExternalDrive.Subfolder = subfolder;
    return true;
}

int ExitCodeOf(const TJob& job) {
    if (job.LastJobResult.Cancelled)
        return ceCancelled;
    if (job.LastJobResult.ErrorsCount > 0)
        return ceErrors;
    if (job.LastJobResult.WarningsCount > 0)
        return ceWarnings;
    return ceOk;
}

namespace {

TJob_FilesAndFolders* RequireFilesJob(TCliContext& context, const QString& name) {
    TJob* job = context.RequireJob(name);
    if (!job)
        return nullptr;
    auto* files = dynamic_cast<TJob_FilesAndFolders*>(job);
    if (!files)
        context.Err << "vaultora-cli: \"" << name << "\" is not a files-and-folders job" << Qt::endl;
    return files;
}

} // namespace

int CommandNew(TCliContext& context) {
    QStringList images;
    for (QString image; context.TakeOption(QStringLiteral("--image"), &image);)
        images.append(image);
    if (!images.isEmpty())
        return CommandNewImage(context, images);
    QString apps;
    if (context.TakeOption(QStringLiteral("--apps"), &apps))
        return CommandNewApps(context, apps);
    QStringList sources;
    QString value;
    while (context.TakeOption(QStringLiteral("--source"), &value))
        sources.append(value);
    QString to, type = QStringLiteral("incremental"), fullEvery, fullOver, keep, include, exclude, level, noCompress,
                encrypt, passwordFile, user, sharePasswordFile;
    const bool hasTo = context.TakeOption(QStringLiteral("--to"), &to);
    context.TakeOption(QStringLiteral("--type"), &type);
    const bool hasEvery = context.TakeOption(QStringLiteral("--full-every"), &fullEvery);
    const bool hasOver = context.TakeOption(QStringLiteral("--full-over-percent"), &fullOver);
    const bool hasKeep = context.TakeOption(QStringLiteral("--keep"), &keep);
    const bool pruneFirst = context.TakeSwitch(QStringLiteral("--prune-first"));
    const bool hasInclude = context.TakeOption(QStringLiteral("--include"), &include);
    const bool hasExclude = context.TakeOption(QStringLiteral("--exclude"), &exclude);
    const bool zip = context.TakeSwitch(QStringLiteral("--zip"));
    const bool perFile = context.TakeSwitch(QStringLiteral("--per-file"));
    const bool hasLevel = context.TakeOption(QStringLiteral("--level"), &level);
    const bool hasNoCompress = context.TakeOption(QStringLiteral("--no-compress"), &noCompress);
    const bool hasEncrypt = context.TakeOption(QStringLiteral("--encrypt"), &encrypt);
    const bool hasPasswordFile = context.TakeOption(QStringLiteral("--password-file"), &passwordFile);
    const bool hasUser = context.TakeOption(QStringLiteral("--user"), &user);
    const bool hasSharePassword = context.TakeOption(QStringLiteral("--share-password-file"), &sharePasswordFile);
    TSchedulingSettings schedule;
    QString scheduleMessage;
    if (TakeScheduleFlags(context, schedule, scheduleMessage) == TScheduleFlags::Invalid)
        return context.Usage(scheduleMessage);
    if (context.Args.size() != 1 || sources.isEmpty() || !hasTo)
        return context.Usage(
            QStringLiteral(
                "usage: new NAME --source PATH [--source PATH]... --to FOLDER|SHARE|ftp://ACCOUNT/PATH [--user USER "
                "[--share-password-file FILE]] [--type "
                "incremental|differential|full|mirror] "
                "[--full-every N | --full-over-percent P] [--keep N] [--prune-first] [--include EXTS "
                "| --exclude EXTS] "
                "[--zip [--per-file] [--level fastest|normal|max|none] [--no-compress EXTS] "
                "[--encrypt aes128|aes192|aes256|zipcrypto --password-file FILE]] ") +
            ScheduleFlagsUsage());
    if (hasEvery && hasOver)
        return context.Usage(QStringLiteral("--full-every and --full-over-percent exclude each other"));
    if (hasInclude && hasExclude)
        return context.Usage(QStringLiteral("--include and --exclude exclude each other"));
    if (!zip && (perFile || hasLevel || hasNoCompress || hasEncrypt))
        return context.Usage(QStringLiteral("--per-file, --level, --no-compress and --encrypt need --zip"));
    if (hasEncrypt != hasPasswordFile)
        return context.Usage(QStringLiteral("--encrypt and --password-file go together"));

    TJobList& jobs = context.Jobs();
    const TJobNameCheck check = CheckJobName(context.Args.first(), jobs);
    if (check.Verdict != TJobNameVerdict::Accepted)
        return context.Usage(check.Message.isEmpty() ? QStringLiteral("that name cannot be used") : check.Message);

    auto job = std::make_unique<TJob_FilesAndFolders>(check.Name);
    TSpecificSettings& s = job->Settings;
    for (const QString& source : std::as_const(sources)) {
        const QFileInfo info(source);
        if (!info.exists() && !info.isSymLink())
            return context.Usage(TranslateText(QStringLiteral("The source does not exist:")) + u' ' + source);
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir())
            s.Sources.List.append(path == QStringLiteral("/") ? QStringLiteral("/*") : path + QStringLiteral("/*"));
        else
            s.Sources.List.append(path);
    }
    const QString duplicates = TFilesJobChecks::DuplicatedNamesOfFoldersOrFiles(s.Sources.List);
    if (!duplicates.isEmpty())
        return context.Usage(TFilesJobChecks::DuplicateSourcesMessage(duplicates));
    if (s.Sources.List.contains(QStringLiteral("/*")))
        context.Err << "vaultora-cli: warning: "
                    << TranslateText(QStringLiteral("Please note that only the files and folders will be copied. You "
                                                    "will not be able to restore the entire operating system from this "
                                                    "backup."))
                    << Qt::endl;
    QString message;
    if (hasInclude || hasExclude) {
        QString extensions = hasInclude ? include : exclude;
        if (!TFilesJobChecks::CheckExtensionList(extensions, &message))
            return context.Usage(message);
        s.Sources.FilterType = hasInclude ? ftIncludeOnly : ftExclude;
        s.Sources.Extensions = extensions;
    } else {
        s.Sources.Extensions = QStringLiteral("txt;doc;exe");
    }
    if (!ParseDestination(context, to, job->DestinationSettings))
        return ceUsage;
    if ((hasUser || hasSharePassword) && job->DestinationSettings.DestinationType != dtNetwork)
        return context.Usage(QStringLiteral("--user and --share-password-file are for a network share"));
    if (hasSharePassword && !hasUser)
        return context.Usage(QStringLiteral("--share-password-file needs --user"));
    job->DestinationSettings.Network.Username = user;
    if (hasSharePassword && !ReadPasswordFile(context, sharePasswordFile, job->DestinationSettings.Network.Password))
        return ceUsage;

    static const QStringList Types{QStringLiteral("incremental"), QStringLiteral("differential"),
                                   QStringLiteral("full"), QStringLiteral("mirror")};
    const qsizetype typeIndex = Types.indexOf(type.toLower());
    if (typeIndex < 0)
        return context.Usage(QStringLiteral("unknown backup type: ") + type);
    job->SetBackupType(TBackupType(typeIndex));
    bool ok = true;
    if (hasEvery) {
        s.Backup.PerformFullBackup_Condition = bcEveryCopies;
        s.Backup.PerformFullBackup_EveryCopies = fullEvery.toInt(&ok);
    } else if (hasOver) {
        s.Backup.PerformFullBackup_Condition = bcSumExceedsPercentOfFullBackup;
        s.Backup.PerformFullBackup_SumExceedsPercentOfFullBackup = fullOver.toInt(&ok);
    }
    if (ok && hasKeep)
        s.Backup.NumberFullCopiesToKeep = keep.toInt(&ok);
    if (!ok)
        return context.Usage(QStringLiteral("--full-every, --full-over-percent and --keep take whole numbers"));
    s.Backup.RemoveOldBackupsBeforeStartingNewBackup = pruneFirst;

    s.Compression.NoCompressionExtensions =
        QStringLiteral("zip;rar;7z;cab;mp3;jpg;gif;ace;jar;gz;tar;chm;png;sit;sitx;rpm");
    if (zip && s.Backup.BackupType == btSynchronization) {
        context.Err << "vaultora-cli: "
                    << TranslateText(QStringLiteral("Compression is not supported for Mirror type. Alternatively you "
                                                    "can switch to Full backup, and set the option to keep only one "
                                                    "backup in destination."))
                    << Qt::endl;
        return ceUsage;
    }
    if (zip) {
        s.Compression.Enabled = true;
        s.Compression.CreateIndividualZipForEachItem = perFile;
        static const QStringList Levels{QStringLiteral("fastest"), QStringLiteral("max"), QStringLiteral("none"),
                                        QStringLiteral("normal")};
        if (hasLevel) {
            const qsizetype levelIndex = Levels.indexOf(level.toLower());
            if (levelIndex < 0)
                return context.Usage(QStringLiteral("unknown compression level: ") + level);
            s.Compression.CompressionLevel = uint8_t(levelIndex);
        }
        if (hasNoCompress) {
            if (!noCompress.trimmed().isEmpty() && !TFilesJobChecks::CheckExtensionList(noCompress, &message))
                return context.Usage(message);
            s.Compression.NoCompressionExtensions = noCompress.trimmed();
        }
        if (hasEncrypt) {
            static const QStringList Methods{QStringLiteral("aes128"), QStringLiteral("aes192"),
                                             QStringLiteral("aes256"), QStringLiteral("zipcrypto")};
            const qsizetype method = Methods.indexOf(encrypt.toLower());
            if (method < 0)
                return context.Usage(QStringLiteral("unknown encryption: ") + encrypt);
            QString password;
            if (!ReadPasswordFile(context, passwordFile, password))
                return ceUsage;
            if (password.isEmpty())
                return context.Usage(TranslateText(QStringLiteral("Password is not set")));
            s.Compression.ProtectWithPassword = true;
            s.Compression.EncryptionMethod = uint8_t(method);
            s.Compression.Password = password;
        }
    }
    // As the wizard saves a new job: the schedule counts from now on.
    job->SchedulingSettings = schedule;
    job->SchedulingSettings.LastModificationDateTime = OleDate::Now();

    if (!job->SaveLocalJobFile(job->LocalJobFilePath()))
        return context.Usage(QStringLiteral("cannot save the job file ") + job->LocalJobFilePath());
    const QString name = job->stJobName;
    jobs.Append(std::move(job));
    if (!jobs.SaveJobsList()) {
        context.Err << TranslateText(QStringLiteral("Error: unable to save the jobs list:")) << jobs.JobsListPath()
                    << Qt::endl;
        return ceErrors;
    }
    AddToEventsLog(QStringLiteral("Created new job: \"%s\"."), name);
    context.Out << "Created job \"" << name << "\"." << Qt::endl;
    return ceOk;
}

int CommandBackup(TCliContext& context) {
    if (context.Args.size() != 1)
        return context.Usage(QStringLiteral("usage: backup NAME"));
    TJobLock lock;
    TJob* job = context.RequireLockedJob(context.Args.first(), lock);
    if (!job)
        return ceUsage;
    TCliRunner runner(context, *job);
    job->Backup();
    runner.WaitUntilIdle();
    return ExitCodeOf(*job);
}

int CommandPoints(TCliContext& context) {
    if (context.Args.size() != 1)
        return context.Usage(QStringLiteral("usage: points NAME"));
    if (IsDriveImageJob(context, context.Args.first()))
        return CommandPointsImage(context);
    TJob_FilesAndFolders* job = RequireFilesJob(context, context.Args.first());
    if (!job)
        return ceUsage;
    TJobLock lock;
    if (!context.LockJob(*job, lock))
        return ceUsage;
    const TRestoreListing listing = job->ReadRestorePoints();
    // Only listing: leave the job as it was, with no restore recorded.
    job->JobStatus = jsNone;
    job->DeleteTempFiles();
    if (!listing.Ok) {
        context.Err << listing.Error << Qt::endl;
        return ceErrors;
    }
    if (listing.Mirror) {
        context.Out << "1\t" << TranslateText(QStringLiteral("Mirror")) << Qt::endl;
        return ceOk;
    }
    for (qsizetype i = 0; i < listing.Points.size(); ++i)
        context.Out << (i + 1) << '\t' << EscapeControlCharacters(listing.Points.at(i)) << '\n';
    context.Out.flush();
    return ceOk;
}

int CommandRestore(TCliContext& context) {
    if (!context.Args.isEmpty() && IsAppsDataJob(context, context.Args.first()))
        return CommandRestoreApps(context);
    if (!context.Args.isEmpty() && IsDriveImageJob(context, context.Args.first()))
        return CommandRestoreImage(context);
    QString to, point, passwordFile;
    const bool hasTo = context.TakeOption(QStringLiteral("--to"), &to);
    const bool hasPoint = context.TakeOption(QStringLiteral("--point"), &point);
    const bool latest = context.TakeSwitch(QStringLiteral("--latest"));
    const bool hasPassword = context.TakeOption(QStringLiteral("--password-file"), &passwordFile);
    if (context.Args.size() != 1 || !hasTo || (hasPoint && latest))
        return context.Usage(
            QStringLiteral("usage: restore NAME --to FOLDER [--point N | --latest] [--password-file FILE]"));
    TJob_FilesAndFolders* job = RequireFilesJob(context, context.Args.first());
    if (!job)
        return ceUsage;
    QString password;
    if (hasPassword && !ReadPasswordFile(context, passwordFile, password))
        return ceUsage;
    const QString output = QDir::cleanPath(QDir(to).absolutePath());
    if (!QFileInfo(output).isDir() && !QDir().mkpath(output))
        return context.Usage(QStringLiteral("cannot create the output folder ") + output);
    TJobLock lock;
    if (!context.LockJob(*job, lock))
        return ceUsage;
    TCliRunner runner(context, *job);
    const TRestoreListing listing = job->ReadRestorePoints();
    if (!listing.Ok) {
        context.Err << listing.Error << Qt::endl;
        return job->LastJobResult.Cancelled ? ceCancelled : ceErrors;
    }
    int index = -1;
    if (!listing.Mirror) {
        if (listing.Points.isEmpty()) {
            job->CancelRestore();
            context.Err << "vaultora-cli: the job has no restore points" << Qt::endl;
            return ceErrors;
        }
        index = int(listing.Points.size()) - 1;
        if (hasPoint) {
            bool ok = false;
            const int n = point.toInt(&ok);
            if (!ok || n < 1 || n > listing.Points.size()) {
                job->CancelRestore();
                return context.Usage(QStringLiteral("--point takes a number from 1 to ") +
                                     QString::number(listing.Points.size()));
            }
            index = n - 1;
        }
    }
    job->StartRestore(output, password, index);
    runner.WaitUntilIdle();
    return ExitCodeOf(*job);
}

int CommandLog(TCliContext& context) {
    const bool history = context.TakeSwitch(QStringLiteral("--history"));
    if (context.Args.size() != 1)
        return context.Usage(QStringLiteral("usage: log NAME [--history]"));
    TJob* job = context.RequireJob(context.Args.first());
    if (!job)
        return ceUsage;
    job->OptionsToJobOptions();
    if (history) {
        for (const QString& line : std::as_const(job->BackupHistory))
            context.Out << line << '\n';
        context.Out.flush();
        return ceOk;
    }
    if (job->LogList.isEmpty()) {
        context.Err << "vaultora-cli: the job has no stored log yet" << Qt::endl;
        return ceErrors;
    }
    const QString path = job->LogFolderPath() + u'/' + job->LogList.last() + QStringLiteral(".txt");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        context.Err << TranslateText(QStringLiteral("Log file does not exist:")) << ' ' << path << Qt::endl;
        return ceErrors;
    }
    QByteArray data = file.readAll();
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    context.Out << QString::fromUtf8(data);
    context.Out.flush();
    return ceOk;
}

int CommandRemove(TCliContext& context) {
    const bool withBackup = context.TakeSwitch(QStringLiteral("--with-backup"));
    if (context.Args.size() != 1)
        return context.Usage(QStringLiteral("usage: remove NAME [--with-backup]"));
    TJobLock lock;
    TJob* job = context.RequireLockedJob(context.Args.first(), lock);
    if (!job)
        return ceUsage;
    int result = ceOk;
    if (withBackup) {
        if (job->Remove()) {
            AddToEventsLog(QStringLiteral("The backup folder has been removed successfully on the storage device."));
        } else {
            context.Err << TranslateText(QStringLiteral("Unable to remove the backup folder.")) << "\n\n"
                        << TranslateText(QStringLiteral("Make sure the storage device is connected. Then remove it "
                                                        "manually"))
                        << Qt::endl;
            result = ceErrors;
        }
    }
    TJobList& jobs = context.Jobs();
    const QString file = job->LocalJobFilePath();
    if (QFileInfo::exists(file) && !QFile::remove(file))
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Error: unable to remove the file:")) + file);
    jobs.Take(jobs.IndexOf(job));
    if (jobs.SaveJobsList()) {
        AddToEventsLog(QStringLiteral("Job is removed."));
    } else {
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Error: unable to save the jobs list:")) +
                                       jobs.JobsListPath());
        result = ceErrors;
    }
    return result;
}
