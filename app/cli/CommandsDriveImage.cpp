// Commands of drive image jobs: new --image, points and restore of such a job.

#include "app/cli/Commands.h"
#include "app/cli/ScheduleFlags.h"
#include "app/cli/TCliContext.h"
#include "app/cli/TCliRunner.h"

#include "core/base/OleDate.h"
#include "core/model/JobNameCheck.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/driveimage/ImageVolumes.h"
#include "jobs/driveimage/TJob_DriveImage.h"

#include <QDir>
#include <QFileInfo>

namespace {

TJob_DriveImage* FindImageJob(TCliContext& context, const QString& name) {
    for (int i = 0; i < context.Jobs().Count(); ++i)
        if (context.Jobs().At(i)->stJobName == name)
            return dynamic_cast<TJob_DriveImage*>(context.Jobs().At(i));
    return nullptr;
}

} // namespace

bool IsDriveImageJob(TCliContext& context, const QString& name) {
    return FindImageJob(context, name) != nullptr;
}

int CommandNewImage(TCliContext& context, const QStringList& images) {
    QString to, keep;
    const bool hasTo = context.TakeOption(QStringLiteral("--to"), &to);
    const bool hasKeep = context.TakeOption(QStringLiteral("--keep-versions"), &keep);
    TSchedulingSettings schedule;
    QString scheduleMessage;
    if (TakeScheduleFlags(context, schedule, scheduleMessage) == TScheduleFlags::Invalid)
        return context.Usage(scheduleMessage);
    QStringList volumes;
    for (const QString& image : images)
        for (const QString& item : image.split(u',', Qt::SkipEmptyParts))
            volumes.append(item.trimmed());
    if (context.Args.size() != 1 || volumes.isEmpty() || !hasTo)
        return context.Usage(QStringLiteral("usage: new NAME --image VOLUME [--image VOLUME]... --to FOLDER "
                                            "[--keep-versions N] ") +
                             ScheduleFlagsUsage());
    QStringList sources;
    for (const QString& volume : std::as_const(volumes)) {
        TImageVolume resolved;
        QString error;
        if (!ResolveImageVolume(volume, resolved, error))
            return context.Usage(error);
        // Devices keep their name (a /dev/disk/by-uuid link stays stable); files and mount points
        // are recorded by their absolute path.
        const QString path =
            volume.startsWith(QStringLiteral("/dev/")) ? volume : QDir::cleanPath(QFileInfo(volume).absoluteFilePath());
        if (!sources.contains(path))
            sources.append(path);
    }
    bool number = false;
    if (hasKeep && (keep.toInt(&number) < 1 || !number))
        return context.Usage(QStringLiteral("--keep-versions takes a number of at least 1"));
    // The image tool writes into a folder of this computer.
    const QFileInfo target(to);
    if (to.contains(QStringLiteral("://")) || to.startsWith(QStringLiteral("//")) || to.startsWith(u'\\') ||
        to.startsWith(QStringLiteral("cloud:")))
        return context.Usage(QStringLiteral("drive images are stored in a local folder (a mounted drive) only"));
    if (!target.isDir())
        return context.Usage(TranslateText(QStringLiteral("The directory does not exist:")) + u' ' + to);

    TJobList& jobs = context.Jobs();
    const TJobNameCheck check = CheckJobName(context.Args.first(), jobs);
    if (check.Verdict != TJobNameVerdict::Accepted)
        return context.Usage(check.Message.isEmpty() ? QStringLiteral("that name cannot be used") : check.Message);
    auto job = std::make_unique<TJob_DriveImage>(check.Name);
    job->Settings.SourceDrivesList = sources;
    job->Settings.AutocleanOldBackups = hasKeep;
    if (hasKeep)
        job->Settings.NumberOfBackupVersionsToKeep = QString::number(keep.toInt());
    job->DestinationSettings.DestinationType = dtLocalOrExternalDrive;
    // The chosen folder is the "disk"; the job's images go to the job's folder below it.
    job->DestinationSettings.LocalOrExternalDrive.Disk = QDir::cleanPath(target.absoluteFilePath());
    job->DestinationSettings.LocalOrExternalDrive.Subfolder.clear();
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

int CommandPointsImage(TCliContext& context) {
    TJobLock lock;
    auto* job = dynamic_cast<TJob_DriveImage*>(context.RequireLockedJob(context.Args.first(), lock));
    if (!job)
        return ceUsage;
    QList<TImageVersion> versions;
    QString error;
    const bool ok = job->ReadImageVersions(versions, error);
    for (const TImageVersion& version : std::as_const(versions))
        context.Out << version.Id << '\t' << version.Volumes.join(QStringLiteral(", ")) << '\n';
    context.Out.flush();
    if (!ok) {
        context.Err << error << Qt::endl;
        return ceErrors;
    }
    return ceOk;
}

int CommandRestoreImage(TCliContext& context) {
    QString version, volume, to;
    const bool hasVersion = context.TakeOption(QStringLiteral("--version"), &version);
    const bool hasVolume = context.TakeOption(QStringLiteral("--volume"), &volume);
    const bool hasTo = context.TakeOption(QStringLiteral("--to"), &to);
    if (context.Args.size() != 1 || !hasTo)
        return context.Usage(
            QStringLiteral("usage: restore NAME [--version ID] [--volume VOLUME] --to DEVICE_OR_FILE"));
    TJobLock lock;
    auto* job = dynamic_cast<TJob_DriveImage*>(context.RequireLockedJob(context.Args.first(), lock));
    if (!job)
        return ceUsage;
    if (!hasVolume) {
        if (job->Settings.SourceDrivesList.size() != 1)
            return context.Usage(QStringLiteral("the job images several volumes: name one with --volume"));
        volume = job->Settings.SourceDrivesList.first();
    }
    if (!hasVersion) {
        // The latest version that holds the volume.
        QList<TImageVersion> versions;
        QString error;
        if (!job->ReadImageVersions(versions, error) && versions.isEmpty()) {
            context.Err << error << Qt::endl;
            return ceErrors;
        }
        for (const TImageVersion& candidate : std::as_const(versions))
            if (candidate.Volumes.contains(volume))
                version = candidate.Id;
        if (version.isEmpty()) {
            context.Err << "vaultora-cli: the job has no image of " << volume << Qt::endl;
            return ceErrors;
        }
    }
    const QString output =
        to.startsWith(QStringLiteral("/dev/")) ? to : QDir::cleanPath(QFileInfo(to).absoluteFilePath());
    TCliRunner runner(context, *job);
    return job->RecoverVolume(version, volume, output) ? ceOk : ceErrors;
}
