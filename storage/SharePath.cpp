#include "storage/SharePath.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace {

const QString Reserved = QStringLiteral("\\:*?\"<>|");
constexpr char16_t PrivateBase = 0xF000;

// Splits at "/" (and at "\\" too in the UNC forms, which Windows users mix), dropping empty
// names (repeated or trailing separators).
QStringList Names(const QString& text, bool backslashToo) {
    static const QRegularExpression either(QStringLiteral("[/\\\\]"));
    return backslashToo ? text.split(either, Qt::SkipEmptyParts) : text.split(u'/', Qt::SkipEmptyParts);
}

bool ValidServer(const QString& server) {
    if (server.isEmpty())
        return false;
    for (const QChar c : server)
        if (c.isSpace() || c == u'/' || c == u'\\' || c == u'@' || c == u'?' || c == u'#')
            return false;
    return true;
}

} // namespace

QString TSharePath::ToUrlText() const {
    QString text = QStringLiteral("smb://") + Server;
    if (Port != 0)
        text += u':' + QString::number(Port);
    text += u'/' + Share;
    if (!Folder.isEmpty())
        text += u'/' + Folder;
    return text;
}

bool ParseSharePath(const QString& text, TSharePath& path) {
    const QString trimmed = text.trimmed();
    QStringList names;
    QString server;
    int port = 0;
    if (trimmed.startsWith(QStringLiteral("smb://"), Qt::CaseInsensitive)) {
        const QString rest = trimmed.mid(6);
        const qsizetype slash = rest.indexOf(u'/');
        QString authority = slash < 0 ? rest : rest.left(slash);
        names = Names(slash < 0 ? QString() : rest.mid(slash + 1), false);
        // [v6 address]:port, host:port or host
        qsizetype colon = -1;
        if (authority.startsWith(u'[')) {
            const qsizetype close = authority.indexOf(u']');
            if (close < 0)
                return false;
            colon = close + 1 < authority.size() ? close + 1 : -1;
            if (colon >= 0 && authority.at(colon) != u':')
                return false;
        } else {
            colon = authority.indexOf(u':');
        }
        if (colon >= 0) {
            bool ok = false;
            port = authority.mid(colon + 1).toInt(&ok);
            if (!ok || port < 1 || port > 65535)
                return false;
            authority.truncate(colon);
        }
        server = authority;
    } else if (trimmed.startsWith(QStringLiteral("\\\\")) || trimmed.startsWith(QStringLiteral("//"))) {
        const QString rest = trimmed.mid(2);
        if (rest.startsWith(u'/') || rest.startsWith(u'\\'))
            return false;
        names = Names(rest, true);
        if (names.isEmpty())
            return false;
        server = names.takeFirst();
    } else {
        return false;
    }
    if (!ValidServer(server) || names.isEmpty())
        return false;
    for (const QString& name : std::as_const(names))
        if (name == u'.' || name == QStringLiteral(".."))
            return false;
    path.Server = server;
    path.Port = port;
    path.Share = names.takeFirst();
    path.Folder = names.join(u'/');
    return true;
}

QChar ToPrivateNameChar(char16_t c) {
    return c > 0 && c < 0x80 ? QChar(char16_t(PrivateBase + c)) : QChar(c);
}

char16_t FromPrivateNameChar(QChar c) {
    const char16_t u = c.unicode();
    return u > PrivateBase && u < PrivateBase + 0x80 ? char16_t(u - PrivateBase) : 0;
}

QString ToShareName(const QString& name) {
    QString mapped = name;
    for (QChar& c : mapped)
        if (c.unicode() < 0x80 && Reserved.contains(c))
            c = ToPrivateNameChar(c.unicode());
    return mapped;
}

QString FromShareName(const QString& name) {
    QString mapped = name;
    for (QChar& c : mapped) {
        const char16_t u = FromPrivateNameChar(c);
        if (u != 0 && Reserved.contains(QChar(u)))
            c = QChar(u);
    }
    return mapped;
}

QByteArray ShareItemUrl(const TSharePath& share, const QString& path) {
    QByteArray url = "smb://";
    // The server and share were typed by the user; they are encoded like any name so that a "%"
    // in them cannot be read as an escape.
    url += QUrl::toPercentEncoding(share.Server, "[]:");
    if (share.Port != 0)
        url += ':' + QByteArray::number(share.Port);
    url += '/' + QUrl::toPercentEncoding(share.Share);
    for (const QString& name : Names(path, false))
        url += '/' + QUrl::toPercentEncoding(ToShareName(name));
    return url;
}
