#include "net/THttpClient.h"

#include "net/CurlGlobal.h"

#include <QFile>
#include <QHostAddress>
#include <QIODevice>
#include <QJsonDocument>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace {

struct TCurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using TCurlHandle = std::unique_ptr<CURL, TCurlDeleter>;

struct TSlist {
    TSlist() = default;
    TSlist(const TSlist&) = delete;
    TSlist& operator=(const TSlist&) = delete;
    ~TSlist() { curl_slist_free_all(List); }
    curl_slist* List = nullptr;
};

// Bodies of error answers are read for their texts only; a larger one is cut.
constexpr qsizetype MaxKeptBody = 4 * 1024 * 1024;

struct TTransfer {
    CURL* Handle = nullptr;
    const THttpRequest* Request = nullptr;
    THttpResponse* Response = nullptr;
    const std::function<bool(int64_t, int64_t)>* Progress = nullptr;
    int64_t UploadLeft = 0;
    bool WriteFailed = false;
    bool ReadFailed = false;
};

// The callbacks run inside curl_easy_perform on this thread; nothing may throw through C code.
size_t ReadBody(char* buffer, size_t size, size_t count, void* user) noexcept {
    auto* t = static_cast<TTransfer*>(user);
    const int64_t want = std::min<int64_t>(int64_t(size * count), t->UploadLeft);
    if (want <= 0)
        return 0;
    const qint64 got = t->Request->UploadDevice->read(buffer, want);
    if (got <= 0) {
        // The announced length cannot be met: end the transfer rather than send a short body.
        t->ReadFailed = true;
        return CURL_READFUNC_ABORT;
    }
    t->UploadLeft -= got;
    return size_t(got);
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) noexcept {
    auto* t = static_cast<TTransfer*>(user);
    const size_t n = size * count;
    long status = 0;
    curl_easy_getinfo(t->Handle, CURLINFO_RESPONSE_CODE, &status);
    if (t->Request->DownloadDevice != nullptr && status >= 200 && status < 300) {
        if (t->Request->DownloadDevice->write(data, qint64(n)) != qint64(n)) {
            t->WriteFailed = true;
            return 0;
        }
        return n;
    }
    try {
        const qsizetype room = MaxKeptBody - t->Response->Body.size();
        if (room > 0)
            t->Response->Body.append(data, std::min<qsizetype>(room, qsizetype(n)));
    } catch (...) {
        return 0;
    }
    return n;
}

size_t ReadHeader(char* data, size_t size, size_t count, void* user) noexcept {
    auto* t = static_cast<TTransfer*>(user);
    const size_t n = size * count;
    try {
        const QByteArray line = QByteArray(data, qsizetype(n)).trimmed();
        if (line.startsWith("HTTP/")) {
            t->Response->Headers.clear(); // a new answer (after "100 Continue")
        } else {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                t->Response->Headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
        }
    } catch (...) {
        return 0;
    }
    return n;
}

int OnTransferInfo(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow) noexcept {
    auto* t = static_cast<TTransfer*>(user);
    if (t->Progress == nullptr || !*t->Progress)
        return 0;
    try {
        const bool receiving = t->Request->DownloadDevice != nullptr;
        const bool go = receiving ? (*t->Progress)(int64_t(dlNow), int64_t(dlTotal))
                                  : (*t->Progress)(int64_t(ulNow), int64_t(ulTotal));
        return go ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

bool HeaderTextSafe(const QByteArray& text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

} // namespace

void THttpRequest::SetJsonBody(const QJsonObject& object) {
    Body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    ContentType = "application/json; charset=utf-8";
}

QByteArray THttpResponse::Header(const QByteArray& name) const {
    for (const auto& header : Headers)
        if (header.first == name)
            return header.second;
    return {};
}

int THttpResponse::RetryAfterSeconds() const {
    const QByteArray value = Header("retry-after").trimmed();
    bool ok = false;
    const int seconds = value.toInt(&ok);
    return ok && seconds >= 0 ? seconds : -1;
}

THttpClient::THttpClient() {
    EnsureCurlGlobalInit();
}

bool THttpClient::IsLoopbackHost(const QString& host) {
    QString name = host;
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.mid(1, name.size() - 2);
    if (name.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(name) && address.isLoopback();
}

bool THttpClient::AddressAllowed(const QString& url, QString* why) {
    const QUrl parsed(url, QUrl::StrictMode);
    const auto refuse = [&](const QString& text) {
        if (why != nullptr)
            *why = text;
        return false;
    };
    if (!parsed.isValid() || parsed.host().isEmpty())
        return refuse(QStringLiteral("Not a valid address: ") + url);
    if (!parsed.userInfo().isEmpty())
        return refuse(QStringLiteral("An address must not hold a user name: ") + parsed.host());
    const QString scheme = parsed.scheme().toLower();
    if (scheme == u"https")
        return true;
    if (scheme == u"http" && IsLoopbackHost(parsed.host()))
        return true;
    return refuse(QStringLiteral("Only https addresses may be used (http only on this computer): ") + url);
}

QByteArray THttpClient::AsciiJson(const QJsonObject& object) {
    const QString text = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QByteArray out;
    out.reserve(text.size());
    for (const QChar unit : text) {
        const char16_t c = unit.unicode();
        if (c >= 0x20 && c < 0x7F) {
            out.append(char(c));
        } else {
            // Surrogate pairs come out as two escapes, as JSON writes characters beyond U+FFFF.
            out.append("\\u");
            out.append(QByteArray::number(uint(c), 16).rightJustified(4, '0'));
        }
    }
    return out;
}

QByteArray THttpClient::FormBody(const QList<QPair<QString, QString>>& fields) {
    QByteArray body;
    for (const auto& field : fields) {
        if (!body.isEmpty())
            body.append('&');
        body.append(QUrl::toPercentEncoding(field.first));
        body.append('=');
        body.append(QUrl::toPercentEncoding(field.second));
    }
    return body;
}

THttpResponse THttpClient::Send(const THttpRequest& request) {
    THttpResponse response;
    QString why;
    if (!AddressAllowed(request.Url, &why)) {
        response.Error = why;
        return response;
    }
    if (!HeaderTextSafe(request.BearerToken) || !HeaderTextSafe(request.ContentType)) {
        response.Error = QStringLiteral("A request header holds a line break.");
        return response;
    }
    for (const auto& header : request.Headers) {
        if (!HeaderTextSafe(header.first) || !HeaderTextSafe(header.second)) {
            response.Error = QStringLiteral("A request header holds a line break.");
            return response;
        }
    }
    TCurlHandle curl(curl_easy_init());
    if (!curl) {
        response.Error = QStringLiteral("Unable to start an HTTP session.");
        return response;
    }
    CURL* const h = curl.get();
    CURLcode setup = CURLE_OK;
    const auto set = [&setup](CURLcode code) {
        if (setup == CURLE_OK)
            setup = code;
    };
    char errorBuffer[CURL_ERROR_SIZE] = {};
    TTransfer transfer;
    transfer.Handle = h;
    transfer.Request = &request;
    transfer.Response = &response;
    transfer.Progress = &OnProgress;

    const QByteArray url = QUrl(request.Url, QUrl::StrictMode).toEncoded();
    set(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer));
    set(curl_easy_setopt(h, CURLOPT_URL, url.constData()));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L));
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectTimeoutMs)));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(ReadTimeoutSeconds)));
    set(curl_easy_setopt(h, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2)));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    const QByteArray caFile = QFile::encodeName(CaFile);
    if (!caFile.isEmpty()) {
        set(curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData()));
        set(curl_easy_setopt(h, CURLOPT_CAPATH, static_cast<const char*>(nullptr)));
    }
    set(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &ReadHeader));
    set(curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer));
    set(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody));
    set(curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer));
    set(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
    set(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnTransferInfo));
    set(curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer));

    QByteArray proxyUrl; // empty: no proxy, not even one from the environment
    const QByteArray proxyUser = Proxy.Username.trimmed().toUtf8();
    const QByteArray proxyPassword = Proxy.Password.toUtf8();
    if (Proxy.Enabled) {
        const QByteArray host = CurlUrlHost(Proxy.Host);
        bool portOk = false;
        const int port = Proxy.Port.trimmed().toInt(&portOk);
        if (host.isEmpty() || !portOk || port < 1 || port > 65535) {
            response.Error = QStringLiteral("The proxy server or port is not valid.");
            return response;
        }
        const char* scheme = Proxy.PrType == 1 ? "socks4://" : Proxy.PrType == 2 ? "socks5h://" : "http://";
        if (Proxy.PrType < 0 || Proxy.PrType > 2) {
            response.Error = QStringLiteral("Unknown proxy type: %1").arg(Proxy.PrType);
            return response;
        }
        proxyUrl = QByteArray(scheme) + host + ':' + QByteArray::number(port);
        // Through an HTTP proxy every request goes in a CONNECT tunnel, so the proxy never sees a
        // token even of a plain-http request.
        if (Proxy.PrType == 0)
            set(curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 1L));
        if (!proxyUser.isEmpty()) {
            set(curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxyUser.constData()));
            set(curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxyPassword.constData()));
        }
    }
    set(curl_easy_setopt(h, CURLOPT_PROXY, proxyUrl.constData()));

    TSlist headers;
    const auto addHeader = [&](const QByteArray& line) {
        curl_slist* grown = curl_slist_append(headers.List, line.constData());
        if (grown == nullptr)
            set(CURLE_OUT_OF_MEMORY);
        else
            headers.List = grown;
    };
    if (!request.BearerToken.isEmpty())
        addHeader("Authorization: Bearer " + request.BearerToken);
    if (!request.ContentType.isEmpty())
        addHeader("Content-Type: " + request.ContentType);
    else if (request.Method.toUpper() != "GET")
        addHeader("Content-Type:"); // no form type made up for a body that has none
    addHeader("Expect:");           // no "100 Continue" round trip before each body
    for (const auto& header : request.Headers)
        addHeader(header.first + ": " + header.second);
    set(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.List));

    const QByteArray method = request.Method.toUpper();
    if (method == "GET") {
        set(curl_easy_setopt(h, CURLOPT_HTTPGET, 1L));
    } else {
        set(curl_easy_setopt(h, CURLOPT_POST, 1L));
        if (request.UploadDevice != nullptr) {
            transfer.UploadLeft = request.UploadLength;
            set(curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadBody));
            set(curl_easy_setopt(h, CURLOPT_READDATA, &transfer));
            set(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.UploadLength)));
        } else {
            set(curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.Body.constData()));
            set(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.Body.size())));
        }
        if (method != "POST")
            set(curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.constData()));
    }
    if (setup != CURLE_OK) {
        response.Error =
            QStringLiteral("Unable to set up the HTTP request: ") + QString::fromUtf8(curl_easy_strerror(setup));
        return response;
    }

    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_OK) {
        response.Status = int(status);
        return response;
    }
    response.Headers.clear();
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        response.Cancelled = true;
        response.Error = QStringLiteral("Cancelled");
    } else if (transfer.WriteFailed) {
        response.Error =
            QStringLiteral("Unable to write the downloaded data: ") + request.DownloadDevice->errorString();
    } else if (transfer.ReadFailed) {
        response.Error = QStringLiteral("Unable to read the data to upload: ") + request.UploadDevice->errorString();
    } else {
        const QString detail = errorBuffer[0] != '\0' ? QString::fromUtf8(errorBuffer).trimmed()
                                                      : QString::fromUtf8(curl_easy_strerror(code));
        response.Error = code == CURLE_OPERATION_TIMEDOUT ? QStringLiteral("Timed out: ") + detail : detail;
    }
    return response;
}
