#pragma once

#include "core/TOptions.h"
#include "net/TMailMessage.h"
#include "net/TSmtpSettings.h"

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

// The connection of the e-mail and proxy options. Authenticate follows the user name when
// alwaysAuthenticate is false.
TSmtpSettings SmtpSettingsFromOptions(const TEmailOptions& email, const TProxyOptions& proxy, bool alwaysAuthenticate);

// Sends the report of the job's last run; true when the server took it. Runs on the job's worker at
// the end of a run; failures are silent for the run (no log line, no message, no exception).
bool SendNotificationToEmail(const TJob& job, const QString& strBackupResultText);

enum TTestEmailResult : int32_t {
    terSent = 0,
    terInvalidPort = 1, // the SMTP port, or the proxy port of an enabled proxy, is not a number
    terFailed = 2,      // errorText says why
};

// The options dialog's test message with the values entered there: always logs in with the
// entered user name and password. Texts through the program's translation table; interface thread.
TTestEmailResult SendTestEmail(const TEmailOptions& entered, const TProxyOptions& proxy, QString& errorText);
