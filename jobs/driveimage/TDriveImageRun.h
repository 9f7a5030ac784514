#pragma once

#include "jobs/driveimage/TDriveImageOutput.h"
#include "jobs/driveimage/TJob_DriveImage.h"

#include "storage/TStorageOperations.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

class QProcess;

// One backup run of a drive image job, on the job's worker thread: runs the image tool over the
// chosen volumes into the job's folder at the destination, follows its output, asks it to stop
// when the job is cancelled, prunes old versions when asked to, and ends with the stored job file.
class TDriveImageRun {
public:
    explicit TDriveImageRun(TJob_DriveImage& job);

    // The whole run. Ends with the job's files saved; the caller sets the job idle.
    void Run();

    // The command that runs the tool with args, through the elevation when elevated.
    static void ToolCommand(const TJob_DriveImage& job, bool elevated, const QStringList& args, QString& program,
                            QStringList& arguments);
    // Whether the user's own rights cannot read one of the volumes (or their devices).
    static bool NeedsElevation(const TJob_DriveImage& job);
    // Runs the tool to its end and applies its output to the job (errors counted); its exit code,
    // or -1 when it could not be started (logged).
    static int RunToolToEnd(TJob_DriveImage& job, bool elevated, const QStringList& args);

private:
    bool Cancelled() const { return m_job.JobStatus == jsCancelling; }
    QString Tr(const QString& text) const { return m_job.Tr(text); }
    // Reads what the tool wrote and applies it; returns once nothing is waiting.
    void ReadOutput(QProcess& process, TDriveImageOutput& output);
    void StopTool(QProcess& process, TDriveImageOutput& output);
    // The cancel's events-log and history entries; returns the result line.
    QString CancelReport();
    void StoreJobFile();
    void WriteEnding(const QString& resultText);
    void ConnectionFailureEnding(const QString& error);

    TJob_DriveImage& m_job;
    TStorageOperations m_storage;
    QDateTime m_start;
    QString m_jobFolder;
    bool m_elevated = false;
    int m_toolExit = 0;
};

// Applies the parsed output lines to the job: error lines (counted), plain lines and progress.
void ApplyToolOutput(TJob& job, const QList<TDriveImageOutputAction>& actions);
