#pragma once

#include "core/settings/TOptions.h"
#include "net/TSmtpSettings.h"

#include <QString>

#include <cstdint>

// The connection of the e-mail and proxy options. Authenticate follows the user name when
// alwaysAuthenticate is false.
TSmtpSettings SmtpSettingsFromOptions(const TEmailOptions& email, const TProxyOptions& proxy, bool alwaysAuthenticate);

enum TTestEmailResult : int32_t {
    terSent = 0,
    terInvalidPort = 1, // the SMTP port, or the proxy port of an enabled proxy, is not a number
    terFailed = 2,      // errorText says why
};

// The options dialog's test message with the values entered there: always logs in with the
// entered user name and password. Texts through the program's translation table; interface thread.
TTestEmailResult SendTestEmail(const TEmailOptions& entered, const TProxyOptions& proxy, QString& errorText);
