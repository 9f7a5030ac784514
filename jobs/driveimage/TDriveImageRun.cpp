#include "jobs/driveimage/TDriveImageRun.h"

#include "jobs/driveimage/ImageVolumes.h"

#include "core/base/AtomicFile.h"
#include "core/base/OleDate.h"
#include "core/base/TClock.h"
#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/report/JobReport.h"
#include "platform/TElevation.h"
#include "storage/StoragePaths.h"
#include "storage/TSleeper.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {
// The tool's output is read in steps of at most this much, as it arrives.
constexpr int WatchMilliseconds = 100;
} // namespace

void ApplyToolOutput(TJob& job, const QList<TDriveImageOutputAction>& actions) {
    for (const TDriveImageOutputAction& action : actions) {
        switch (action.Kind) {
        case TDriveImageOutputAction::Error:
            job.AddLogLine(action.Text);
            ++job.LastJobResult.ErrorsCount;
            break;
        case TDriveImageOutputAction::Plain:
            job.AddPlainLine(action.Text);
            break;
        case TDriveImageOutputAction::Progress:
            job.CurrentFileOperationProgress = action.Percent;
            job.CurrentFileOperationPath.Set(action.Text.left(256));
            job.RequestRepaint();
            break;
        }
    }
}

TDriveImageRun::TDriveImageRun(TJob_DriveImage& job)
    : m_job(job)
    , m_storage(job, job.Branches, &job.SleeperToUse()) {}

void TDriveImageRun::ToolCommand(const TJob_DriveImage& job, bool elevated, const QStringList& args, QString& program,
                                 QStringList& arguments) {
    program = job.ToolProgramToUse();
    arguments = args;
    if (elevated)
        job.ElevationToUse().Elevate(program, arguments);
}

bool TDriveImageRun::NeedsElevation(const TJob_DriveImage& job) {
    for (const QString& name : job.Settings.SourceDrivesList) {
        TImageVolume volume;
        QString error;
        // A volume that cannot be found is the tool's to report; rights would not help.
        if (ResolveImageVolume(name, volume, error) && !job.ElevationToUse().CanAccess(volume.Device, false))
            return true;
    }
    return false;
}

int TDriveImageRun::RunToolToEnd(TJob_DriveImage& job, bool elevated, const QStringList& args) {
    QString program;
    QStringList arguments;
    ToolCommand(job, elevated, args, program, arguments);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        job.AddLogLine(job.Tr(QStringLiteral("ERROR:")) + process.errorString());
        return -1;
    }
    TDriveImageOutput output([&job](const QString& text) { return job.Tr(text); });
    while (!process.waitForFinished(WatchMilliseconds) && process.state() != QProcess::NotRunning)
        ApplyToolOutput(job, output.Feed(process.readAll()));
    ApplyToolOutput(job, output.Feed(process.readAll()));
    ApplyToolOutput(job, output.Finish());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void TDriveImageRun::ReadOutput(QProcess& process, TDriveImageOutput& output) {
    ApplyToolOutput(m_job, output.Feed(process.readAll()));
}

void TDriveImageRun::Run() {
    // 1.
    m_start = m_job.ClockToUse().Now();
    m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Starting the backup.")), false);
    // 2, 3.
    const QString connected = m_storage.ConnectToStorage();
    m_job.BeginRunLog(m_start);
    // 4.
    if (m_storage.IsConnectError(connected)) {
        ConnectionFailureEnding(connected);
        return;
    }
    m_jobFolder = connected;
    // 5.
    m_job.DeleteTempFiles();
    CreateFolderPath(JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName), 0700);
    m_job.CurrentBackupSize = 0;
    m_job.CurrentBackupFilesProcessed = 0;
    m_job.CurrentFileOperationProgress = 0;
    m_job.CurrentFileOperationPath.Clear();
    m_job.AddSeparatorLine();
    QString resultText;
    // 6.
    if (Cancelled()) {
        m_job.LastJobResult.Cancelled = true;
        WriteEnding(CancelReport());
        return;
    }
    // The tool writes into the job's folder; it reaches only folders of this computer.
    if (m_job.DestinationSettings.DestinationType != dtLocalOrExternalDrive) {
        m_job.AddErrorLine(Tr(QStringLiteral("Drive images can be stored on a local or external drive only.")));
        m_job.JobStatus = jsCancelling;
        WriteEnding(resultText);
        return;
    }
    if (m_storage.FileOperation(atCreateRemoteFolder, QString(), m_jobFolder, 0, true) != orSuccess) {
        m_job.JobStatus = jsCancelling;
        WriteEnding(resultText);
        return;
    }
    // 7.
    m_elevated = TDriveImageRun::NeedsElevation(m_job);
    QString program;
    QStringList arguments;
    ToolCommand(m_job, m_elevated,
                QStringList{QStringLiteral("start"), QStringLiteral("backup")} +
                    m_job.BackupParameters(TJob_DriveImage::ImageTarget(m_jobFolder)),
                program, arguments);
    m_job.CurrentFileOperationType = atNone;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool started = process.waitForStarted();
    if (!started) {
        m_job.JobStatus = jsCancelling;
        m_job.AddLogLine(Tr(QStringLiteral("ERROR:")) + process.errorString());
    }
    // 8, 9.
    TDriveImageOutput output([this](const QString& text) { return Tr(text); });
    if (started) {
        while (!Cancelled()) {
            const bool ended = process.waitForFinished(WatchMilliseconds) || process.state() == QProcess::NotRunning;
            ReadOutput(process, output);
            if (ended)
                break;
        }
        if (!Cancelled()) {
            ApplyToolOutput(m_job, output.Finish());
            m_toolExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
            // A tool that fails without a line to say so (killed, crashed) must not pass for a
            // successful run.
            if (m_toolExit != 0 && m_job.LastJobResult.ErrorsCount == 0)
                m_job.AddErrorLine(m_job.TrFormat(QStringLiteral("The drive image tool ended with the exit code %s."),
                                                  {QString::number(m_toolExit)}));
        }
    }
    if (Cancelled()) {
        // 10.
        if (started)
            StopTool(process, output);
        resultText = CancelReport();
        m_job.LastJobResult.Cancelled = true;
    } else {
        // 11 (a). Pruning waits for the tool: the next run, or a removal, must not meet it.
        if (m_job.Settings.AutocleanOldBackups && m_job.LastJobResult.ErrorsCount == 0) {
            bool number = false;
            const int keep = m_job.Settings.NumberOfBackupVersionsToKeep.trimmed().toInt(&number);
            // Keeping none would delete the version just made; other texts go to the tool as typed.
            if (number && keep < 1)
                m_job.AddWarningLine(Tr(QStringLiteral("The number of backup versions to keep must be at least 1: "
                                                       "old versions are not deleted.")));
            else
                RunToolToEnd(m_job, m_elevated,
                             QStringList{QStringLiteral("delete"), QStringLiteral("backup")} +
                                 m_job.KeepVersionsParameters(TJob_DriveImage::ImageTarget(m_jobFolder)));
        }
        // 11 (b).
        StoreJobFile();
    }
    WriteEnding(resultText);
}

void TDriveImageRun::StopTool(QProcess& process, TDriveImageOutput& output) {
    // "stop job" finds a run only once it holds its locks, which its banner tells.
    while (!output.SawBanner() && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(WatchMilliseconds);
        ReadOutput(process, output);
    }
    if (process.state() != QProcess::NotRunning) {
        QString program;
        QStringList arguments;
        ToolCommand(m_job, m_elevated, {QStringLiteral("stop"), QStringLiteral("job"), QStringLiteral("-quiet")},
                    program, arguments);
        QProcess stop;
        stop.setProcessChannelMode(QProcess::MergedChannels);
        stop.start(program, arguments);
        // The tool is never killed: it ends its run cleanly once it sees the request.
        while (!process.waitForFinished(WatchMilliseconds) && process.state() != QProcess::NotRunning)
            ReadOutput(process, output);
        stop.waitForFinished();
    }
    ReadOutput(process, output);
    ApplyToolOutput(m_job, output.Finish());
}

QString TDriveImageRun::CancelReport() {
    App().EventsLog.AddToEventsLog(m_job.TrFormat(QStringLiteral("\"%s\" backup is cancelled."), {m_job.stJobName}));
    m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Backup is cancelled.")), false);
    return LongTimeText(m_job.ClockToUse().Now()) + QStringLiteral(": ") + Tr(QStringLiteral("Backup is cancelled."));
}

void TDriveImageRun::StoreJobFile() {
    const QString local =
        JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName + App().RemoteJobFileExtension);
    if (!m_job.SaveRemoteJobFile(local)) {
        m_job.AddErrorLine(
            Tr(QStringLiteral("Unable to save the settings. Please check the possibility to write to the file:")) +
            u' ' + local);
        m_job.JobStatus = jsCancelling;
        return;
    }
    if (Cancelled())
        return;
    if (m_storage.FileOperation(atCopyFromLocalToRemoteFile, local, m_jobFolder + App().RemoteJobFileExtension,
                                m_job.JobOptions.Processing.IfDestinationNotAvailable_Retry_Times, true) != orSuccess)
        m_job.JobStatus = jsCancelling;
}

void TDriveImageRun::WriteEnding(const QString& resultText) {
    m_job.CurrentFileOperationProgress = 0;
    m_job.CurrentFileOperationPath.Clear();
    // 12. A run that ends without a cancel gets a line that says how it ended.
    QString line = resultText;
    if (line.isEmpty() && !Cancelled()) {
        const bool errors = m_job.LastJobResult.ErrorsCount > 0;
        line = LongTimeText(m_job.ClockToUse().Now()) + QStringLiteral(": ") +
               m_job.TrFormat(errors ? QStringLiteral("Drive image backup \"%s\" is finished with errors.")
                                     : QStringLiteral("Drive image backup \"%s\" is finished."),
                              {m_job.stJobName});
        m_job.AddEventtoBackupHistory(errors ? Tr(QStringLiteral("Backup job is finished with errors."))
                                             : Tr(QStringLiteral("Backup job is finished.")),
                                      false);
        App().EventsLog.AddToEventsLog(line.mid(line.indexOf(QStringLiteral(": ")) + 2));
    } else if (line.isEmpty()) {
        // Cancelled by the run itself (job file not stored, destination refused).
        line = CancelReport();
    }
    m_job.AddPlainLine(line);
    m_job.AddLogLine(Tr(QStringLiteral("Removing the temporary files.")));
    m_job.DeleteTempFiles();
    m_storage.DisconnectFromStorage();
    // 13.
    m_job.SaveRunLog();
    m_job.LastJobResult.EndTime = OleDate::Now();
    if (!App().IsQuitting)
        m_job.SaveLocalJobFileAtEndOfRun();
    if (ShouldSendReport(m_job.JobOptions.Email, m_job.LastJobResult.Cancelled, false))
        SendNotificationToEmail(m_job, line);
}

void TDriveImageRun::ConnectionFailureEnding(const QString& error) {
    // 14.
    m_job.AddLogLine(Tr(QStringLiteral("Backup is cancelled.")));
    m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Backup is cancelled.")) + u' ' + error, false);
    App().EventsLog.AddToEventsLog(m_job.TrFormat(QStringLiteral("\"%s\" backup is cancelled:"), {m_job.stJobName}) +
                                   u' ' + error);
    m_job.SaveRunLog();
    m_job.LastJobResult.Cancelled = true;
    m_job.LastJobResult.EndTime = OleDate::Now();
    if (!App().IsQuitting)
        m_job.SaveLocalJobFileAtEndOfRun();
    if (ShouldSendReport(m_job.JobOptions.Email, true, true))
        SendNotificationToEmail(m_job, LongTimeText(m_job.ClockToUse().Now()) + QStringLiteral(": ") + error);
}
