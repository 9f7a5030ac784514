#include "net/CurlGlobal.h"

#include <QHostAddress>
#include <QUrl>

#include <curl/curl.h>

#include <mutex>

void EnsureCurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QByteArray CurlUrlHost(const QString& text) {
    QString host = text.trimmed();
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty())
        return {};
    QHostAddress address;
    if (address.setAddress(host)) {
        if (address.protocol() == QAbstractSocket::IPv6Protocol)
            return '[' + QUrl::toPercentEncoding(host, ":") + ']';
        return host.toLatin1();
    }
    const QByteArray ace = QUrl::toAce(host);
    if (ace.isEmpty())
        return {};
    for (const char c : ace) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                             c == '-' || c == '_';
        if (!allowed)
            return {};
    }
    return ace;
}
