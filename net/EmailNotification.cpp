#include "net/EmailNotification.h"

#include "core/TAppGlobals.h"
#include "core/TJob.h"
#include "core/TextFormat.h"
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

TSmtpSettings SmtpSettingsFromOptions(const TEmailOptions& email, const TProxyOptions& proxy, bool alwaysAuthenticate) {
    TSmtpSettings settings;
    settings.Host = email.SMTPHost;
    settings.Port = email.SMTPPort;
    settings.Security = email.Security;
    settings.Authenticate = alwaysAuthenticate || !email.Username.isEmpty();
    settings.Username = email.Username;
    settings.Password = email.Password;
    settings.Proxy = proxy;
    return settings;
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

TTestEmailResult SendTestEmail(const TEmailOptions& entered, const TProxyOptions& proxy, QString& errorText) {
    errorText.clear();
    int port = 0;
    if (!TSmtpClient::ParsePort(entered.SMTPPort, port) || (proxy.Enabled && !TSmtpClient::ParsePort(proxy.Port, port)))
        return terInvalidPort;

    const QString title = QString::fromUtf16(TAppGlobals::ApplicationTitle);
    TMailMessage message;
    message.SenderAddress = entered.Username;
    message.SenderName = title;
    message.Recipients = entered.RecipientEmail;
    message.Subject = FormatText(TranslateText(QStringLiteral("Test Email from %s")), {title});
    message.Text = TranslateText(QStringLiteral("This is a test message."));

    try {
        TSmtpClient client(SmtpSettingsFromOptions(entered, proxy, true));
        if (client.Send(message))
            return terSent;
        errorText = client.ErrorText();
    } catch (const std::exception& error) {
        errorText = QString::fromLocal8Bit(error.what());
    }
    return terFailed;
}
