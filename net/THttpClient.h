#pragma once

#include "core/settings/TOptions.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <functional>

class QIODevice;

// One HTTP request. The body is Body, or UploadLength bytes read from UploadDevice at its
// current position (streamed, never held in memory as a whole).
struct THttpRequest {
    QByteArray Method = "POST";
    QString Url;
    // Extra header lines as (name, value); values must be ASCII.
    QList<QPair<QByteArray, QByteArray>> Headers;
    // Sent as "Authorization: Bearer ...". Kept apart from Headers so that it is never followed
    // to another address and never shown in an error text.
    QByteArray BearerToken;
    QByteArray ContentType;
    QByteArray Body;
    QIODevice* UploadDevice = nullptr;
    int64_t UploadLength = 0;
    // When set, the body of a 2xx answer goes here (written as it arrives); other answers' bodies
    // stay in THttpResponse::Body so their error texts can be read.
    QIODevice* DownloadDevice = nullptr;

    // A JSON body with its content type.
    void SetJsonBody(const QJsonObject& object);
};

struct THttpResponse {
    int Status = 0; // the HTTP status; 0 when no answer came (Error says why)
    QString Error;  // transport failure (refused, time-out, TLS, cancelled); empty with an answer
    bool Cancelled = false;
    QByteArray Body;                              // the body (for downloads: only of a non-2xx answer)
    QList<QPair<QByteArray, QByteArray>> Headers; // of the final answer, names in lower case

    bool Ok() const { return Status >= 200 && Status < 300; }
    // The value of the header name (lower case), or empty.
    QByteArray Header(const QByteArray& name) const;
    // "Retry-After" as whole seconds (delta form only); -1 when absent or not a number.
    int RetryAfterSeconds() const;
};

// The HTTP transport of the cloud clients (and the version check): one libcurl transfer per request
// on the calling thread, a new connection each time.
//
// Safety rules it keeps: an address must be https, or http when its host is a loopback address;
// TLS certificates and host names are always verified; redirects are never followed (the clients'
// services answer without them, and a followed redirect could carry a bearer token elsewhere);
// the proxy of the options is used as given, never one from the environment.
class THttpClient {
public:
    THttpClient();

    // Connection phase limit, and how long a transfer may go without a byte before it is given up.
    int ConnectTimeoutMs = 15000;
    int ReadTimeoutSeconds = 30;
    // The program's proxy; Enabled false means a direct connection.
    TProxyOptions Proxy;
    // A PEM file of the certificate authorities to verify servers against instead of the
    // system's; empty: the system's. For servers with their own authority (test stand-ins);
    // verification itself is never switched off.
    QString CaFile;
    // Called while bytes move: (done, total) of the download for a request with a DownloadDevice,
    // else of the request body (total 0 when unknown). Returning false cancels the transfer at once.
    std::function<bool(int64_t done, int64_t total)> OnProgress;

    THttpResponse Send(const THttpRequest& request);

    // Whether the address may be used: https, or http to a loopback host. why says what is wrong.
    static bool AddressAllowed(const QString& url, QString* why = nullptr);
    static bool IsLoopbackHost(const QString& host);
    // A JSON object on one line, every character outside ASCII written as \uXXXX, so that it can
    // stand in a header.
    static QByteArray AsciiJson(const QJsonObject& object);
    // "application/x-www-form-urlencoded" text of the pairs, each value percent-encoded.
    static QByteArray FormBody(const QList<QPair<QString, QString>>& fields);
};
