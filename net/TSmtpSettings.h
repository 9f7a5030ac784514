#pragma once

#include "core/settings/TOptions.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// Where and how one SMTP session connects.
struct TSmtpSettings {
    QString Host;
    QString Port; // as typed; must be a number from 1 to 65535
    // 0 none; 1 and 2 TLS: STARTTLS after the greeting when Port is "587", else TLS from the
    // first byte.
    int32_t Security = 0;
    // Log in with Username and Password using an AUTH mechanism the server offers.
    bool Authenticate = false;
    QString Username;
    QString Password;
    TProxyOptions Proxy; // used when Proxy.Enabled
    int ConnectTimeoutSeconds = 10;
    // Longest wait for any server answer or progress of the upload.
    int ReadTimeoutSeconds = 10;
    // Entries "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT": the socket goes to the second pair while
    // the session still treats the first as its server. Tests use it to run the rules bound to
    // port numbers such as 587 against servers on free ports.
    QStringList ConnectTo;
};
