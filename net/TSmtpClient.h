#pragma once

// Room net/: transports that move bytes (SMTP and, later, HTTP on libcurl). May use core/; what a
// message says is built by its owner.

#include "net/TMailMessage.h"
#include "net/TSmtpSettings.h"

#include <QString>

// Sends one mail per call over SMTP (libcurl), optionally with TLS, AUTH and a proxy. Blocking;
// usable from any thread, one call at a time per object.
class TSmtpClient {
public:
    explicit TSmtpClient(TSmtpSettings settings);

    // Connects, sends the message and disconnects. False with ErrorText() on any failure: bad
    // settings or addresses, connection, proxy, TLS, login, refused recipients or data.
    bool Send(const TMailMessage& message);
    QString ErrorText() const { return FErrorText; }

    // A port as typed: a whole number from 1 to 65535, blanks around it allowed.
    static bool ParsePort(const QString& text, int& port);

private:
    bool Fail(const QString& text);

    TSmtpSettings FSettings;
    QString FErrorText;
};
