#pragma once

#include <QByteArray>
#include <QString>

// Initialises libcurl once per process. Call before the first curl_easy_init of any thread:
// curl_global_init itself must not race with other libcurl calls.
void EnsureCurlGlobalInit();

// The host as it may stand in a URL given to libcurl: an IP address (IPv6 in brackets) or an
// ASCII-compatible DNS name. Empty when the text cannot be a host, so nothing typed can add a
// path, user or port.
QByteArray CurlUrlHost(const QString& text);
