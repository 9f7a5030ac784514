#include "net/TSmtpClient.h"

#include "net/CurlGlobal.h"
#include "net/MimeText.h"

#include <QHostAddress>
#include <QUrl>

#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <utility>

namespace {

struct TCurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using TCurlHandle = std::unique_ptr<CURL, TCurlDeleter>;

// A libcurl string list; curl_slist_append returns null on allocation failure and leaves the list
// as it was.
class TCurlList {
public:
    TCurlList() = default;
    TCurlList(const TCurlList&) = delete;
    TCurlList& operator=(const TCurlList&) = delete;
    ~TCurlList() { curl_slist_free_all(FList); }
    bool Append(const QByteArray& item) {
        curl_slist* grown = curl_slist_append(FList, item.constData());
        if (grown == nullptr)
            return false;
        FList = grown;
        return true;
    }
    curl_slist* Get() const { return FList; }

private:
    curl_slist* FList = nullptr;
};

struct TUpload {
    const QByteArray* Data = nullptr;
    qsizetype Offset = 0;
};

// Called by libcurl on this thread; copies only, so nothing can throw through C code.
size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) noexcept {
    auto* upload = static_cast<TUpload*>(user);
    const size_t left = size_t(upload->Data->size() - upload->Offset);
    const size_t n = std::min(size * count, left);
    std::memcpy(buffer, upload->Data->constData() + upload->Offset, n);
    upload->Offset += qsizetype(n);
    return n;
}

QByteArray EnvelopeAddress(const QString& address) {
    return '<' + address.toUtf8() + '>';
}

} // namespace

TSmtpClient::TSmtpClient(TSmtpSettings settings)
    : FSettings(std::move(settings)) {}

bool TSmtpClient::ParsePort(const QString& text, int& port) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

bool TSmtpClient::Fail(const QString& text) {
    FErrorText = text;
    return false;
}

bool TSmtpClient::Send(const TMailMessage& message) {
    FErrorText.clear();
    const QByteArray host = CurlUrlHost(FSettings.Host);
    if (host.isEmpty())
        return Fail(QStringLiteral("Invalid SMTP server name: ") + MimeText::Printable(FSettings.Host));
    int port = 0;
    if (!ParsePort(FSettings.Port, port))
        return Fail(QStringLiteral("The SMTP port is not a number: ") + MimeText::Printable(FSettings.Port));
    if (FSettings.Security < 0 || FSettings.Security > 2)
        return Fail(QStringLiteral("Unknown security choice: %1").arg(FSettings.Security));

    QList<TMailAddress> recipients;
    QString addressError;
    if (!TMailAddress::ParseList(message.Recipients, recipients, addressError))
        return Fail(addressError);
    if (!TMailAddress::IsUsableAddress(message.SenderAddress))
        return Fail(QStringLiteral("Invalid sender address: ") + MimeText::Printable(message.SenderAddress));
    const QByteArray mail = message.Compose(recipients, QDateTime::currentDateTime());

    // Everything libcurl keeps pointers to is declared before the handle, so it outlives it.
    char errorBuffer[CURL_ERROR_SIZE] = {};
    TUpload upload;
    upload.Data = &mail;
    TCurlList rcpt;
    for (const TMailAddress& recipient : recipients) {
        if (!rcpt.Append(EnvelopeAddress(recipient.Address)))
            return Fail(QStringLiteral("Out of memory."));
    }
    TCurlList connectTo;
    for (const QString& entry : FSettings.ConnectTo) {
        if (!connectTo.Append(entry.toUtf8()))
            return Fail(QStringLiteral("Out of memory."));
    }
    EnsureCurlGlobalInit();
    TCurlHandle curl(curl_easy_init());
    if (!curl)
        return Fail(QStringLiteral("Unable to start an SMTP session."));
    CURL* const h = curl.get();
    CURLcode setup = CURLE_OK;
    const auto set = [&setup](CURLcode code) {
        if (setup == CURLE_OK)
            setup = code;
    };

    const bool tls = FSettings.Security != 0;
    // Port 587 is the submission port, where TLS starts with STARTTLS; elsewhere TLS starts at once.
    const bool startTls = tls && FSettings.Port.trimmed() == QStringLiteral("587");
    const QByteArray url =
        QByteArray(tls && !startTls ? "smtps://" : "smtp://") + host + ':' + QByteArray::number(qlonglong(port));
    set(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer));
    set(curl_easy_setopt(h, CURLOPT_URL, url.constData()));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps"));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, long(FSettings.ConnectTimeoutSeconds)));
    set(curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(FSettings.ReadTimeoutSeconds)));
    // The upload has no per-read time-out of its own: a stalled transfer is one that moves
    // less than a byte per second for that long.
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(FSettings.ReadTimeoutSeconds)));

    set(curl_easy_setopt(h, CURLOPT_USE_SSL, long(tls ? CURLUSESSL_ALL : CURLUSESSL_NONE)));
    if (tls) {
        // Both choices negotiate TLS 1.2 or newer: SSL 3.0 and TLS 1.0 are broken and refused by
        // current servers and TLS libraries.
        set(curl_easy_setopt(h, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2)));
        // Mail servers of small offices often use self-signed certificates; the program has no
        // place to trust one, so the certificate is not verified.
        set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L));
        set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L));
    }

    const QByteArray username = FSettings.Username.toUtf8();
    const QByteArray password = FSettings.Password.toUtf8();
    if (FSettings.Authenticate) {
        set(curl_easy_setopt(h, CURLOPT_USERNAME, username.constData()));
        set(curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData()));
    }

    const QByteArray mailFrom = EnvelopeAddress(message.SenderAddress);
    // Without MAIL_FROM libcurl sends the null sender "<>".
    if (!message.SenderAddress.isEmpty())
        set(curl_easy_setopt(h, CURLOPT_MAIL_FROM, mailFrom.constData()));
    set(curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt.Get()));

    if (connectTo.Get() != nullptr)
        set(curl_easy_setopt(h, CURLOPT_CONNECT_TO, connectTo.Get()));

    QByteArray proxyUrl; // empty: no proxy, not even one from the environment
    const QByteArray proxyUser = FSettings.Proxy.Username.toUtf8();
    const QByteArray proxyPassword = FSettings.Proxy.Password.toUtf8();
    if (FSettings.Proxy.Enabled) {
        const QByteArray proxyHost = CurlUrlHost(FSettings.Proxy.Host);
        if (proxyHost.isEmpty())
            return Fail(QStringLiteral("Invalid proxy server name: ") + MimeText::Printable(FSettings.Proxy.Host));
        int proxyPort = 0;
        if (!ParsePort(FSettings.Proxy.Port, proxyPort))
            return Fail(QStringLiteral("The proxy port is not a number: ") + MimeText::Printable(FSettings.Proxy.Port));
        const char* scheme = nullptr;
        switch (FSettings.Proxy.PrType) {
        case 0:
            scheme = "http://";
            break;
        case 1:
            scheme = "socks4://";
            break;
        case 2:
            scheme = "socks5h://"; // the proxy resolves the name, as a client behind it may have no DNS
            break;
        default:
            return Fail(QStringLiteral("Unknown proxy type: %1").arg(FSettings.Proxy.PrType));
        }
        proxyUrl = QByteArray(scheme) + proxyHost + ':' + QByteArray::number(qlonglong(proxyPort));
        // SMTP through an HTTP proxy needs a CONNECT tunnel; the proxy cannot speak SMTP itself.
        if (FSettings.Proxy.PrType == 0)
            set(curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 1L));
        if (!FSettings.Proxy.Username.isEmpty()) {
            set(curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxyUser.constData()));
            set(curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxyPassword.constData()));
        }
    }
    set(curl_easy_setopt(h, CURLOPT_PROXY, proxyUrl.constData()));

    set(curl_easy_setopt(h, CURLOPT_UPLOAD, 1L));
    set(curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadUpload));
    set(curl_easy_setopt(h, CURLOPT_READDATA, &upload));
    set(curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(mail.size())));
    if (setup != CURLE_OK)
        return Fail(QStringLiteral("Unable to set up the SMTP session: ") +
                    QString::fromUtf8(curl_easy_strerror(setup)));

    const CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK) {
        const QString detail =
            errorBuffer[0] != '\0' ? QString::fromUtf8(errorBuffer) : QString::fromUtf8(curl_easy_strerror(result));
        return Fail(detail);
    }
    return true;
}
