#include "net/TNewVersionCheck.h"

#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"
#include "net/THttpClient.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QUrl>

#include <algorithm>

namespace {

const QByteArray UserAgent = "Mozilla/4.0 (compatible; MyApp)";

// The text as lines, without line ends; a leading byte-order mark is dropped.
QStringList Lines(const QByteArray& body) {
    QString text = QString::fromUtf8(body);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    return lines;
}

// A version number: decimal digits only, few enough to fit.
bool ParseVersion(const QString& text, int* value) {
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 6)
        return false;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9')
            return false;
    *value = digits.toInt();
    return true;
}

// A GET that follows redirects (to addresses the client allows) up to MaxRedirects times.
THttpResponse Get(THttpClient& client, QString url, QIODevice* download) {
    for (int hop = 0;; ++hop) {
        THttpRequest request;
        request.Method = "GET";
        request.Url = url;
        request.Headers.append({QByteArray("User-Agent"), UserAgent});
        request.DownloadDevice = download;
        THttpResponse response = client.Send(request);
        const bool redirect = response.Status >= 300 && response.Status < 400 && response.Status != 304;
        const QByteArray location = response.Header("location");
        if (!redirect || location.isEmpty() || hop == TNewVersionCheck::MaxRedirects)
            return response;
        url = QUrl(url).resolved(QUrl::fromEncoded(location)).toString();
    }
}

QString FailureOf(const THttpResponse& response) {
    if (!response.Error.isEmpty())
        return response.Error;
    return FormatText(TranslateText(QStringLiteral("The server answered with status %s.")),
                      {QString::number(response.Status)});
}

} // namespace

bool TSiteVersion::PackageFileNameSafe(const QString& name) {
    if (name.isEmpty() || name.size() > 255 || name.startsWith(u'.'))
        return false;
    for (const QChar c : name) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                           c == u'.' || c == u'_' || c == u'-' || c == u'+' || c == u'~';
        if (!plain)
            return false;
    }
    return true;
}

bool TSiteVersion::Parse(const QByteArray& versionFile, TSiteVersion* version) {
    const QStringList lines = Lines(versionFile);
    if (lines.size() < 2)
        return false;
    const QString& versionLine = lines.at(0);
    const qsizetype slash = versionLine.indexOf(u'/');
    TSiteVersion parsed;
    if (slash < 0 || !ParseVersion(versionLine.left(slash), &parsed.Latest) ||
        !ParseVersion(versionLine.mid(slash + 1), &parsed.Minimum))
        return false;
    parsed.PackageFileName = lines.at(1).trimmed();
    if (!PackageFileNameSafe(parsed.PackageFileName))
        return false;
    if (lines.size() > 2) {
        const QByteArray sum = lines.at(2).trimmed().toLatin1();
        const bool hex = sum.size() == 64 && std::all_of(sum.begin(), sum.end(), [](char c) {
                             return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
                         });
        if (hex)
            parsed.Sha256 = QByteArray::fromHex(sum);
    }
    *version = parsed;
    return true;
}

TNewVersionCheck::TNewVersionCheck(THttpClient& client, const QString& site)
    : m_client(client)
    , m_address(site.trimmed()) {
    while (m_address.endsWith(u'/'))
        m_address.chop(1);
    // The site answers small files: a stalled one is given up soon, as the start waits for it.
    m_client.ConnectTimeoutMs = 10000;
    m_client.ReadTimeoutSeconds = 10;
}

QString TNewVersionCheck::DisplayVersion(int version) {
    const QString digits = QString::number(version);
    if (digits.size() < 2)
        return QStringLiteral("0.") + digits;
    return digits.left(digits.size() - 1) + u'.' + digits.right(1);
}

TNewVersionCheck::TOutcome TNewVersionCheck::Check(int programVersion) {
    m_site = TSiteVersion();
    m_lastError.clear();
    if (m_address.isEmpty()) {
        m_lastError = QStringLiteral("No product web site is configured.");
        return TOutcome::NothingNew;
    }
    const THttpResponse version = Get(m_client, Url(QStringLiteral("/download/version.html")), nullptr);
    if (!version.Ok()) {
        m_lastError = FailureOf(version);
        return TOutcome::NothingNew;
    }
    const THttpResponse changes = Get(m_client, Url(QStringLiteral("/download/version-changes.html")), nullptr);
    if (!changes.Ok()) {
        m_lastError = FailureOf(changes);
        return TOutcome::NothingNew;
    }
    TSiteVersion site;
    if (!TSiteVersion::Parse(version.Body, &site)) {
        m_lastError = QStringLiteral("The version file is not valid.");
        return TOutcome::NothingNew;
    }
    for (const QString& line : Lines(changes.Body))
        if (!line.isEmpty())
            site.Changes.append(line);
    m_site = site;
    if (programVersion < site.Minimum)
        return TOutcome::Mandatory;
    if (programVersion < site.Latest)
        return TOutcome::Optional;
    return TOutcome::NothingNew;
}

TNewVersionCheck::TDownload TNewVersionCheck::Download(const QString& folder,
                                                       const std::function<bool(int64_t, int64_t)>& progress) {
    TDownload result;
    const auto fail = [&result, this](const QString& why) {
        result.Error = why;
        m_lastError = why;
        return result;
    };
    if (!TSiteVersion::PackageFileNameSafe(m_site.PackageFileName))
        return fail(TranslateText(QStringLiteral("The version file names no package.")));
    // Without a sum to check against, nothing tells a damaged or replaced package from the real one.
    if (m_site.Sha256.size() != 32)
        return fail(TranslateText(QStringLiteral("The version file gives no SHA-256 sum of the package.")));

    // No folder would mean the working folder, wherever that is.
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return fail(FormatText(TranslateText(QStringLiteral("Cannot create file %s")), {folder}));
    const QString path = QDir(folder).filePath(m_site.PackageFileName);
    const QString partial = path + QStringLiteral(".part");
    QFile file(partial);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(FormatText(TranslateText(QStringLiteral("Cannot create file %s")), {partial}) +
                    QStringLiteral(": ") + file.errorString());
    m_client.OnProgress = progress;
    const THttpResponse response = Get(m_client, Url(QStringLiteral("/download/") + m_site.PackageFileName), &file);
    m_client.OnProgress = nullptr;
    file.close();
    if (!response.Ok()) {
        QFile::remove(partial);
        if (response.Cancelled) {
            result.Cancelled = true;
            m_lastError = response.Error;
            return result;
        }
        return fail(FailureOf(response));
    }
    if (!file.exists())
        return fail(TranslateText(QStringLiteral("Cannot find downloaded file.")));

    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        QFile::remove(partial);
        return fail(TranslateText(QStringLiteral("Cannot find downloaded file.")));
    }
    file.close();
    if (hash.result() != m_site.Sha256) {
        QFile::remove(partial);
        return fail(TranslateText(
            QStringLiteral("The downloaded package does not match the SHA-256 sum of the version file.")));
    }
    QFile::remove(path);
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        return fail(FormatText(TranslateText(QStringLiteral("Cannot create file %s")), {path}));
    }
    result.Ok = true;
    result.Path = path;
    return result;
}

QString TNewVersionCheck::ManualDownloadPage() const {
    QUrl url(m_address + QStringLiteral("/download/"));
    url.setScheme(QStringLiteral("https"));
    return url.toString();
}
