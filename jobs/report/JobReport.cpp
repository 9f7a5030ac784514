#include "jobs/report/JobReport.h"

#include "core/model/TJob.h"
#include "core/settings/TAppGlobals.h"
#include "net/EmailNotification.h"
#include "net/TSmtpClient.h"

#include <QFile>
#include <QFileInfo>

#include <exception>

bool ShouldSendReport(const TEmailOptions& email, bool cancelled, bool connectionFailed) {
    if (!email.SendEmailNotificationWhenFinishedBackup)
        return false;
    return connectionFailed || cancelled || !email.SendOnlyIfJobIscancelledDueToErrors;
}

QString ReportLogFilePath(const TJob& job) {
    if (job.LogList.isEmpty() || job.stJobName.isEmpty() || job.JobOptions.Logging.PathForLogFiles.isEmpty())
        return {};
    return job.JobOptions.Logging.PathForLogFiles + u'/' + job.stJobName + u'/' + job.LogList.last() +
           QStringLiteral(".txt");
}

TMailMessage BuildReportMessage(const TJob& job, const QString& strBackupResultText) {
    const TEmailOptions& email = job.JobOptions.Email;
    TMailMessage message;
    message.SenderAddress = email.Username;
    message.SenderName = QString::fromUtf16(TAppGlobals::ApplicationTitle);
    message.Recipients = email.RecipientEmail;
    message.Subject = job.Tr(QStringLiteral("Backup Report: ")) + job.stJobName;
    message.Text = strBackupResultText;

    const QString logPath = ReportLogFilePath(job);
    QFile log(logPath);
    if (!logPath.isEmpty() && QFileInfo(logPath).isFile() && log.size() < MaxReportAttachmentSize &&
        log.open(QIODevice::ReadOnly)) {
        // Read at most the limit: a log that grew since the size check is still left out whole.
        const QByteArray data = log.read(MaxReportAttachmentSize);
        if (log.error() == QFileDevice::NoError && data.size() < MaxReportAttachmentSize) {
            message.AttachmentName = QFileInfo(logPath).fileName();
            message.AttachmentData = data;
        }
    }
    return message;
}

bool SendNotificationToEmail(const TJob& job, const QString& strBackupResultText) {
    // The worker's last step must not end in an exception (out of memory while reading the log).
    try {
        TSmtpClient client(SmtpSettingsFromOptions(job.JobOptions.Email, job.JobOptions.Proxy, false));
        return client.Send(BuildReportMessage(job, strBackupResultText));
    } catch (const std::exception&) {
        return false;
    }
}
