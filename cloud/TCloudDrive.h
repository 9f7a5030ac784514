#pragma once

#include "cloud/CloudAuthorization.h"
#include "cloud/CloudServices.h"
#include "net/THttpClient.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QIODevice;

// One item of a drive folder, whichever service describes it.
struct TCloudItem {
    QString Name;
    bool IsDir = false;
    uint64_t Size = 0;
    QDateTime Modified; // UTC; invalid when the service gives none
};

// What the last failed operation came to, as far as callers act on it.
enum class TCloudFailure { Other, NotFound, FolderExists, Cancelled };

// What the cloud branch, the sign-in and the tools need of a drive's client: its sign-in and the
// path operations. Paths are "/" paths from the drive's root ("/" is the root). Each service's
// client keeps its own richer interface beside this one.
//
// Every operation answers true or false; after false ErrorText() says why and LastFailure() what
// kind of failure it was. One thread at a time; progress handlers run on it.
class TCloudDrive {
public:
    virtual ~TCloudDrive() = default;

    QString ClientID;
    QString ClientSecret;
    QString Scopes;
    // The loopback redirect of an interactive sign-in; empty for the paste-the-code way.
    QString RedirectURI;
    TCodeRequestHandler OnAuthorizationCodeRequest;
    // (done, total) of the current upload or download; false cancels it.
    std::function<bool(int64_t done, int64_t total)> OnUploadProgress;
    std::function<bool(int64_t done, int64_t total)> OnDownloadProgress;
    // Waits of Retry-After answers (the real clock when empty).
    std::function<void(int seconds)> Sleep;
    int MaxRetryAfterSeconds = 60;
    int MaxBusyRetries = 3;

    virtual TCloudService Service() const = 0;

    // A different token replaces the stored one and drops the access token.
    void SetRefreshToken(const QString& token);
    const QString& RefreshToken() const { return FRefreshToken; }
    bool HasAccessToken() const { return !FAccessToken.isEmpty(); }
    // The HTTP settings (time-outs, proxy).
    THttpClient& Http() { return FHttp; }

    const QString& ErrorText() const { return FError; }
    bool WasCancelled() const { return FUserCancelled; }

    // Obtains an access token: from the refresh token, else by the code handler.
    virtual bool Authorize() = 0;
    // The address where the user signs in and is shown a code to copy (no redirect).
    virtual QString CodeAuthorizationUrl() const = 0;

    // Every item of the folder (all pages).
    virtual bool ListItems(const QString& path, QList<TCloudItem>& items) = 0;
    virtual bool StatItem(const QString& path, TCloudItem& item) = 0;
    virtual bool MakeFolder(const QString& path) = 0;
    // Removes a file, or a folder with everything in it.
    virtual bool DeleteItem(const QString& path) = 0;
    // Renames the item to newName in the same folder.
    virtual bool RenameItem(const QString& path, const QString& newName) = 0;
    // Writes the file's bytes into stream (emptied first); partial bytes stay after a failure.
    virtual bool DownloadFile(const QString& path, QIODevice& stream) = 0;
    // Uploads the stream from its start (large streams in pieces of chunkSize bytes where the
    // service has sessions; 0: the client's own size); the path names the file only once it is
    // complete.
    virtual bool UploadFile(QIODevice& stream, const QString& path, int64_t chunkSize) = 0;
    virtual TCloudFailure LastFailure() const = 0;

protected:
    bool Fail(const QString& text);

    THttpClient FHttp;
    QString FAccessToken;
    QString FRefreshToken;
    QString FError;
    bool FUserCancelled = false;
};

// The client of a service with the program's application keys and the scopes of jobs; null when
// this build has no client for the service.
std::unique_ptr<TCloudDrive> MakeCloudDrive(TCloudService service, const TCloudEndpoints& endpoints);
// The loopback port the service's application is registered with for the sign-in redirect.
quint16 CloudLoopbackPort(TCloudService service);
