#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class THttpClient;

// What the product web site says about the current version: "/download/version.html" holds
//   line 1: the latest and the minimum version, "L/M" (major x 10 + minor, for example 35/30)
//   line 2: the package's file name below "/download/"
//   line 3: the package's SHA-256 as 64 hexadecimal digits (without it no package is taken)
// and "/download/version-changes.html" the list of changes.
struct TSiteVersion {
    int Latest = 0;
    int Minimum = 0;
    QString PackageFileName;
    QByteArray Sha256; // 32 bytes; empty when the file gives none (or not a valid one)
    QStringList Changes;

    // Line 1 and 2 of the version file as they must be; false for anything else.
    static bool Parse(const QByteArray& versionFile, TSiteVersion* version);
    // A plain file name that may stand in "/download/NAME" and in a local folder.
    static bool PackageFileNameSafe(const QString& name);
};

// The new-version check against the product web site, and the download of the new package,
// over the caller's HTTP client (its proxy and certificate authorities). The site's address is
// "scheme://host"; the client's rules hold (https, or http to this computer only).
class TNewVersionCheck {
public:
    enum class TOutcome {
        NothingNew, // also every failure: no connection, an error answer, a malformed version file
        Optional,   // the program is older than the latest version
        Mandatory,  // the program is older than the minimum version
    };

    struct TDownload {
        bool Ok = false;
        bool Cancelled = false;
        QString Error; // why not, when not Ok and not Cancelled
        QString Path;  // the verified package, when Ok
    };

    TNewVersionCheck(THttpClient& client, const QString& site);

    // A program version as the site writes it: major x 10 + minor.
    static int VersionNumber(int major, int minor) { return major * 10 + minor; }
    // Its display form: 35 shows as "3.5", 5 as "0.5".
    static QString DisplayVersion(int version);

    // Reads both site files and compares with programVersion.
    TOutcome Check(int programVersion);
    // What the last Check read (valid unless it came out NothingNew for a failure).
    const TSiteVersion& Site() const { return m_site; }
    // Why the last Check or Download failed, for the events log and tests.
    QString LastError() const { return m_lastError; }

    // Downloads the package of the last Check into folder (under its own name, replacing a file
    // of that name) and verifies its SHA-256; a package without a sum, or with another one, is
    // refused and nothing is left behind. progress gets (done, total) bytes (total 0 when
    // unknown); returning false cancels.
    TDownload Download(const QString& folder, const std::function<bool(int64_t done, int64_t total)>& progress);

    // The page to download the package by hand: "/download/" of the site over https.
    QString ManualDownloadPage() const;

    // Redirects followed per request at most.
    static constexpr int MaxRedirects = 10;

private:
    QString Url(const QString& path) const { return m_address + path; }

    THttpClient& m_client;
    QString m_address;
    TSiteVersion m_site;
    QString m_lastError;
};
