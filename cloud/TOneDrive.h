#pragma once

#include "cloud/TCloudDrive.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>

class QIODevice;

// One OneDrive item as Microsoft Graph describes it. An item shared from another drive
// ("remoteItem") takes its id, drive, size, folder flag and times from the remote part and keeps
// its own name; LocalID is then the id of the reference in the user's drive.
struct TODFileInfo {
    uint64_t Size = 0;
    QString Title; // "name", as stored (see ToOneDriveName)
    QString ID;
    QDateTime Modified; // "lastModifiedDateTime", UTC
    bool IsDir = false;
    bool IsShared = false;
    QDateTime FileSystemCreated;
    QDateTime FileSystemModified;
    QString LocalID;
    QString DriveID; // "parentReference"."driveId"

    static TODFileInfo FromJson(const QJsonObject& object);
    // DriveID, or the drive part of the id ("driveid!n"), or "me".
    QString GetDriveID() const;
};

// The name OneDrive stores for a file or folder name. OneDrive refuses the characters
// " * : < > ? / \ |, a blank at either end, a full stop at the end and a few whole names (device
// names, ".lock", "desktop.ini", names beginning "~$", names holding "_vti_"); such characters are
// stored as the private code points the network share branch uses (U+F000 + character), so that
// no file is left out for its name. FromOneDriveName gives the original back; names that hold
// none of them are stored as they are.
QString ToOneDriveName(const QString& name);
QString FromOneDriveName(const QString& stored);
// Why OneDrive would refuse the stored name ("empty name", "invalid characters", "invalid trailing
// character", "invalid leading character", "reserved name"); empty when it is acceptable.
QString OneDriveNameProblem(const QString& name);

// The client of OneDrive through Microsoft Graph v1.0: listing with pages, folders, delete,
// rename, download (the content comes from a pre-authenticated address on another host, which
// never receives the token), upload sessions in fragments with resume, progress and cancel, and
// the sign-in of the service (a public client: no secret; PKCE and a state on the loopback way).
//
// Items are addressed by path from the root of the user's drive. The TCloudDrive operations take
// the program's names and map them with ToOneDriveName; the operations below take stored names.
// Every operation answers true or false; after false ErrorText() says why. A refused access token
// (401 or 403) is renewed once per request; a 429 or 503 answer with a Retry-After of at most
// MaxRetryAfterSeconds is waited out and repeated up to MaxBusyRetries times.
class TOneDrive : public TCloudDrive {
public:
    explicit TOneDrive(TCloudEndpoints endpoints = {});

    // Fragments of an upload session are multiples of 320 KiB, at most 60 MiB.
    static constexpr int64_t FragmentUnit = 327680;
    static constexpr int64_t MaxFragmentSize = 62914560;
    static constexpr int64_t DefaultFragmentSize = 9830400; // 30 units
    static constexpr int64_t MaxSimpleUploadSize = 4194304;
    // New sessions one upload may begin after the service lost or ended the previous one.
    static constexpr int MaxSessionRestarts = 3;
    static QString JobScopes();

    TCloudService Service() const override { return TCloudService::OneDrive; }
    bool Authorize() override;
    QString CodeAuthorizationUrl() const override;

    bool ListItems(const QString& path, QList<TCloudItem>& items) override;
    bool StatItem(const QString& path, TCloudItem& item) override;
    bool MakeFolder(const QString& path) override;
    bool DeleteItem(const QString& path) override { return Delete(StoredPath(path)); }
    bool RenameItem(const QString& path, const QString& newName) override {
        return Rename(StoredPath(path), ToOneDriveName(newName));
    }
    bool DownloadFile(const QString& path, QIODevice& stream) override { return Download(StoredPath(path), stream); }
    // chunkSize is rounded down to a multiple of FragmentUnit; 0 takes DefaultFragmentSize.
    bool UploadFile(QIODevice& stream, const QString& path, int64_t chunkSize) override;
    TCloudFailure LastFailure() const override { return FUserCancelled ? TCloudFailure::Cancelled : FFailure; }

    // The stored path of a program path: each name mapped with ToOneDriveName.
    static QString StoredPath(const QString& path);

    // Every child of the folder (all pages), folders first, then by name ignoring case.
    bool ListChildren(const QString& storedPath, QList<TODFileInfo>& entries);
    bool GetItem(const QString& storedPath, TODFileInfo& info);
    // A folder of that name in the parent; an existing item of the name fails (FolderExists).
    bool CreateFolder(const QString& name, const QString& parentStoredPath, TODFileInfo* info = nullptr);
    bool Delete(const QString& storedPath);
    // Renames in the same folder; an existing item of the new name is never replaced.
    bool Rename(const QString& storedPath, const QString& newName, TODFileInfo* info = nullptr);
    // Writes the file's bytes into stream (emptied first).
    bool Download(const QString& storedPath, QIODevice& stream);
    // One request, for files up to MaxSimpleUploadSize; replaces an existing file.
    bool Upload(QIODevice& stream, const QString& storedPath, TODFileInfo* info = nullptr);
    // In an upload session of fragmentSize pieces; an interrupted session of the same path on this
    // object is continued where the service says it stands. Replaces an existing file.
    bool UploadResumable(QIODevice& stream, const QString& storedPath, int64_t fragmentSize,
                         TODFileInfo* info = nullptr);
    // The signed-in user's name and drive id (GET /me/drive): the sign-in's connection test.
    bool GetUserName(QString& name);
    const QString& DriveID() const { return FDriveID; }

    // Upload sessions begun and not finished: (upload address, stored path).
    const QList<QPair<QString, QString>>& ResumableUploads() const { return FResumableUploads; }

private:
    QString AuthorizationUrl(const QString& redirect, const QString& challenge, const QString& state) const;
    QString NativeClientRedirect() const;
    QString LoopbackRedirect() const;

    struct TCall {
        QByteArray Method = "GET";
        QString Url;
        bool Authenticated = true; // pre-authenticated addresses get no token
        QByteArray ContentType;
        QByteArray Body;
        QList<QPair<QByteArray, QByteArray>> Headers;
        QIODevice* Upload = nullptr;
        int64_t UploadPosition = 0;
        int64_t UploadLength = 0;
        QIODevice* Download = nullptr;
        int64_t ProgressBase = 0;
        int64_t ProgressTotal = 0;
    };
    THttpResponse Call(const TCall& call);
    bool FailWith(const THttpResponse& response);
    bool JsonCall(const TCall& call, QJsonObject& result);
    // The address of an item: the root, or the root with ":" + path + ":", plus a sub-resource.
    QString ItemUrl(const QString& storedPath, const QString& below = {}) const;
    bool SameHostAsGraph(const QString& url) const;
    void ForgetSession(const QString& uploadUrl);

    TCloudEndpoints FEndpoints;
    TCloudFailure FFailure = TCloudFailure::Other;
    QList<QPair<QString, QString>> FResumableUploads;
    QString FDriveID;
    QString FUserName;
};
