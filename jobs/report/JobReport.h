#pragma once

// The job's e-mail report: when a run sends one, what it holds, and sending it over the e-mail
// transport of net/. May use core/ and net/.

#include "core/settings/TOptions.h"
#include "net/TMailMessage.h"

#include <QString>

#include <cstdint>

class TJob;

// A log file is attached to a report only when it is smaller than this.
constexpr int64_t MaxReportAttachmentSize = 2097152;

// Whether a backup run ends with a report: when reports are on and either every run reports or
// this one was cancelled; a run that could not connect to its storage always reports then.
bool ShouldSendReport(const TEmailOptions& email, bool cancelled, bool connectionFailed);

// The run's stored log file: the last entry of LogList + ".txt" in the job's log folder. Empty
// when the job has no stored log.
QString ReportLogFilePath(const TJob& job);

// The report of the job's last run with the given result line, from the job's own options copy.
TMailMessage BuildReportMessage(const TJob& job, const QString& strBackupResultText);

// Sends the report of the job's last run; true when the server took it. Runs on the job's worker at
// the end of a run; failures are silent for the run (no log line, no message, no exception).
bool SendNotificationToEmail(const TJob& job, const QString& strBackupResultText);
