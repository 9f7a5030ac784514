#pragma once

// Room core/model/: the job model, its job files, the jobs list, the job lock and name checks. May use
// the core rooms below it (base, settings, format); the kinds' engines live in jobs/.

#include "core/model/TJobTypes.h"
#include "core/model/TPathBuffer.h"
#include "core/model/TShared.h"
#include "core/settings/TOptions.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

class TJobArchiver;
class TPrimitiveReader;
class TPrimitiveWriter;

// A backup job: named settings, schedule, destination, the result and log of the last run, and
// its history. The base of the three job kinds. A job object lives as long as the program and is
// never copied.
//
// Threads: while a job is active its worker is the only writer of the result, lists and progress
// fields; the interface thread reads the progress fields (TShared, TPathBuffer) without locking
// and writes only JobStatus and CancelCurrentFileOperation.
class TJob {
public:
    explicit TJob(const QString& JobName);
    virtual ~TJob();
    TJob(const TJob&) = delete;
    TJob& operator=(const TJob&) = delete;

    virtual TJobKind Kind() const = 0;
    // Icon of the job in the list, by kind (and backup type for files and folders).
    virtual QString IconName() const = 0;
    // Takes another job's settings: schedule, destination and, from a job of the same kind, the
    // kind's own. Name, status, results, logs and history stay this job's.
    virtual void CopySettingsFrom(const TJob& other);

    // ---- Fields, in the order of the job model ----
    QString stFileNameToAddToZip; // name of the next file added to the archive; empty keeps its own
    int64_t iFTPUploadFileSize = 0;
    QString stJobName;
    TShared<TJobOperation> JobOperation = joBackup;
    TShared<TJobStatus> JobStatus = jsNone;
    TPathBuffer CurrentFileOperationPath;
    TShared<int64_t> CurrentBackupFilesProcessed = 0;
    bool NewSubfolderIsCreatedForEachBackup = false;
    bool CanPause = true;
    TJobResult LastJobResult;
    QStringList BackupHistory;
    QStringList LogList;
    TSchedulingSettings SchedulingSettings;
    TDestinationSettings DestinationSettings;
    TOptions JobOptions;
    TShared<int32_t> CancelCurrentFileOperation = 0;
    TShared<TFileOperationType> CurrentFileOperationType = atNone;
    TShared<int32_t> CurrentFileOperationProgress = 0;
    TShared<int64_t> CurrentBackupSize = 0;
    // The archive engine of the current run; owned by the run, null outside ZIP runs.
    TJobArchiver* Archiver = nullptr;

    // ---- Operations ----
    // Starts a backup run (status jsRunning, options copied, one worker thread for the run) and
    // returns at once. Kinds without an engine in this build end the run at once with an error.
    virtual void Backup();
    // The start of every backup or restore: status running, the operation, the start time now,
    // the result and log cleared, the options copied into the job.
    void StartOperation(TJobOperation operation);
    // Blocks until the job's worker thread, if any, has ended (the status is jsNone by then).
    virtual void WaitForWorker() {}
    // Deletes the job's folder and stored job file at its destination (the local job file stays);
    // false when that failed. Kinds without an engine in this build cannot, and say false.
    virtual bool Remove() { return false; }

    // ---- Status ----
    bool IsActive() const;
    void Cancel();
    void Pause();
    void Resume();

    // Copies the program options into JobOptions (translation table, excluded folders, FTP
    // accounts, e-mail and proxy settings included).
    void OptionsToJobOptions();
    // Deletes the job's temporary folder and its downloaded stored job file.
    void DeleteTempFiles();
    // The local part of a rename: replaces the local job file and the name. Returns false (and
    // writes the events log) when the local file cannot be renamed.
    bool ChangeNameLocally(const QString& newname);

    // ---- Texts and logs ----
    // The job's own translation lookup (on its options copy).
    QString Tr(const QString& text) const;
    QString TrFormat(const QString& format, std::initializer_list<QString> values) const;
    // Log lines: time + ": " + text. Errors and warnings count once per line.
    void AddLogLine(const QString& text);
    void AddErrorLine(const QString& text);
    void AddWarningLine(const QString& text);
    void AddSeparatorLine();                // 29 dashes, no time
    void AddPlainLine(const QString& text); // no time prefix (empty lines, fixed texts)
    // Called for every job-log line as it is added (worker thread); the command-line program
    // streams the log with it.
    std::function<void(const QString& line)> OnLogLine;
    // Asks the window to repaint this job's card (coalesced).
    void RequestRepaint();

    // ---- Stored logs and history (worker thread while active, interface thread while idle) ----
    // The job's log folder inside a log-files path: that path + "/" + job name.
    QString LogFolderIn(const QString& pathForLogFiles) const;
    // The log folder of the job's options copy, as the worker uses it.
    QString LogFolderPath() const;
    // Start of a run: remembers the moment that names the run's log file and creates the log
    // folder when it is missing. When that fails the events log says so and the run keeps no
    // stored log.
    void BeginRunLog(const QDateTime& moment = QDateTime::currentDateTime());
    // End of a run: when the log folder exists, writes the job log to "yyyy-mm-dd hh;nn;ss.txt"
    // (the run's start moment), adds that stamp to LogList and removes old logs. A log file that
    // cannot be written is an error of the run (job log and events log).
    void SaveRunLog();
    // Drops LogList entries whose file is gone, then deletes the oldest logs beyond
    // MaxNumberOfLogsForEachJob. A failure becomes an error line of the job log.
    void RemoveOldLogs();
    // Appends strEvent to the last history line, or starts a new line "date time: strEvent";
    // then keeps at most MaxNumberOfLinesInHistory lines (the oldest go first).
    void AddEventtoBackupHistory(const QString& strEvent, bool AppendToLastString);
    // Writes the history to "history - " + job name + ".txt" in pathForLogFiles and returns that
    // path; empty with errorText when it cannot be written.
    QString ExportHistory(const QString& pathForLogFiles, QString* errorText = nullptr) const;

    // ---- Files ----
    QString LocalJobFilePath() const;
    bool LoadLocalJobFile(const QString& path);
    bool SaveLocalJobFile(const QString& path) const;
    // The end of a run: saves the local job file. A failure is an error of the run (a job-log error
    // line beside SaveLocalJobFile's events-log line); the previous file stays as it was.
    bool SaveLocalJobFileAtEndOfRun();

    // The JSON form shown by "vaultora-cli show --json": the model's field names, enumerations as
    // numbers, date-times as OLE numbers, passwords replaced by "<field>IsSet" Booleans.
    QJsonObject ToJson() const;

protected:
    // Per-kind parts of the job files.
    virtual int32_t LocalFormatVersion() const = 0;
    virtual void ReadLocalBody(TPrimitiveReader& reader, int32_t version) = 0;
    virtual void WriteLocalBody(TPrimitiveWriter& writer) const = 0;
    virtual QJsonObject SettingsToJson() const = 0;

    // The blocks shared by the kinds.
    void ReadResultBlock(TPrimitiveReader& reader, int32_t version);
    void WriteResultBlock(TPrimitiveWriter& writer) const;
    void ReadDestinationBlock(TPrimitiveReader& reader);
    // Stored job files lie at the destination, readable by whoever can read the backups, and the
    // cipher's key is a constant of the program: they are written withSecrets = false, with the
    // network password empty (the local job file, 0600 in the data folder, keeps it).
    void WriteDestinationBlock(TPrimitiveWriter& writer, bool withSecrets = true) const;
    void ReadSchedulingBlock(TPrimitiveReader& reader);
    void WriteSchedulingBlock(TPrimitiveWriter& writer) const;
    // Stored job files: the destination and schedule as read next to the data. The current
    // destination type and its fields are only compared (returns true when any differed); the
    // other types' fields are taken; the schedule comes back disabled.
    bool ReadRemoteDestinationBlock(TPrimitiveReader& reader);
    void ReadRemoteSchedulingBlock(TPrimitiveReader& reader);

    static void WriteHeader(TPrimitiveWriter& writer, int32_t version, TJobKind kind);
    // Reads the format version and, from version 4 on, skips the kind code; returns the version.
    static int32_t ReadHeader(TPrimitiveReader& reader);

private:
    QDateTime m_runLogMoment;   // names the current run's log file
    qint64 m_logLineSecond = 0; // the UTC second m_logLineTime shows
    QString m_logLineTime;
};

// The kind recorded in a job file's header: 0 when the file does not exist or cannot be read
// (with an events-log line), 1 for versions below 4, else the kind code.
int GetJobFileKind(const QString& path);

// The text of the warning shown after a stored job file was read from a place other than the one
// it names.
QString DestinationChangedWarningText();
