#include "net/EmailNotification.h"

#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"
#include "net/TSmtpClient.h"

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
