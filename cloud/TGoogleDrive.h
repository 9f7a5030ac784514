#pragma once

#include "cloud/TCloudDrive.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>

class QIODevice;

// One Drive item as the service describes it.
struct TGDFileInfo {
    uint64_t Size = 0;
    QString Title; // "name", with the private-use stand-ins of control characters read back
    QString MIMEType;
    QString ID;
    QString DownloadURL; // empty when the item cannot be downloaded
    QDateTime Modified;  // "modifiedTime", UTC
    QDateTime Created;   // "createdTime", UTC
    bool ReadOnly = true;
    bool SharedWithMe = false;
    bool Shared = false;
    // The folder through which the item was found ("root" at the top); not part of the item's JSON.
    QString ParentID;

    bool IsDir() const;
    // Fills every field but ParentID from the item's JSON; filesUrl is the API's files resource.
    static TGDFileInfo FromJson(const QJsonObject& object, const QString& filesUrl);
};

// The client of the Google Drive API v3: folders listed and created by id, delete, rename, move,
// download, resumable uploads in pieces, progress and cancel, with the service's sign-in.
//
// The path operations of TCloudDrive run on a table from paths to items, filled along the way to
// each path used (listing each folder once per object) and by every listing; it is kept up to
// date by this object's own changes. A path that is not in the table is looked up by name before
// it counts as missing, so items made by others since the folder was listed are found.
//
// Drive allows several items of one name in a folder. A path names one of them: a folder before
// a file, among folders the oldest, among files the newest (the last upload). Deleting a path
// deletes every item of that name and kind; an upload replaces every file of its name, after
// the new content is stored, so a failed upload never loses the old file.
//
// Names: control characters, which the service does not keep, travel as the private-use
// characters U+F000 + character and are read back, so that every name round-trips.
//
// Failures: a refused access token (401 or 403) is renewed once per request; 429 and 5xx answers
// (and 403 rate limits) are waited out (Retry-After, else 1, 2, 4 ... seconds, each at most
// MaxRetryAfterSeconds) up to MaxBusyRetries times. An upload that breaks off keeps its session:
// the next upload of the same path and content on this object continues where the service says
// it stands; a session the service no longer knows is started over.
class TGoogleDrive : public TCloudDrive {
public:
    explicit TGoogleDrive(TCloudEndpoints endpoints = {});

    static constexpr int64_t ChunkGranularity = 262144; // upload pieces are multiples of 256 KiB
    static constexpr int64_t DefaultChunkSize = 4194304;
    static QString DefaultScopes();
    static QString JobScopes();
    static QString FolderMimeType() { return QStringLiteral("application/vnd.google-apps.folder"); }
    // The content type announced for an upload, by the file name's extension.
    static QString ContentTypeFor(const QString& fileName);
    // The name as stored by the service, and back.
    static QString ToDriveName(const QString& name);
    static QString FromDriveName(const QString& name);

    // The port of the loopback redirect when RedirectURI is empty (http://localhost:port).
    quint16 LoopbackPort = 888;
    // A different scope list discards both tokens: they were granted for the old one.
    void SetScope(const QString& scope);

    TCloudService Service() const override { return TCloudService::GoogleDrive; }
    bool Authorize() override;
    QString CodeAuthorizationUrl() const override;

    bool ListItems(const QString& path, QList<TCloudItem>& items) override;
    bool StatItem(const QString& path, TCloudItem& item) override;
    bool MakeFolder(const QString& path) override;
    bool DeleteItem(const QString& path) override;
    bool RenameItem(const QString& path, const QString& newName) override;
    bool DownloadFile(const QString& path, QIODevice& stream) override;
    bool UploadFile(QIODevice& stream, const QString& path, int64_t chunkSize) override;
    TCloudFailure LastFailure() const override { return FUserCancelled ? TCloudFailure::Cancelled : FFailure; }

    // The operations by id. "root" (GetRootFolderID) is the drive's top folder.
    static QString GetRootFolderID() { return QStringLiteral("root"); }
    // Every item of the folder that is not in the trash (all pages): folders first, then by name
    // ignoring case; items of one name in the order described above.
    bool FindAll(const QString& folderID, QList<TGDFileInfo>& items);
    // The items of that exact name in the folder, in the same order.
    bool FindByName(const QString& folderID, const QString& name, QList<TGDFileInfo>& items);
    bool GetItem(const QString& id, TGDFileInfo& info);
    bool CreateFolder(const QString& name, const QString& parentID, TGDFileInfo& info);
    // Deletes for good; an item shared with the user and found through a folder only leaves it.
    bool Remove(const TGDFileInfo& item, bool toTrash = false);
    bool Rename(TGDFileInfo& item, const QString& newName);
    bool Move(TGDFileInfo& item, const QString& newParentID);
    bool Download(const TGDFileInfo& item, QIODevice& stream);
    // A resumable upload of the stream from its start, in pieces of chunkSize (rounded to the
    // service's granularity), as a new file of the folder.
    bool Upload(QIODevice& stream, const QString& fileName, const QString& parentID, int64_t chunkSize,
                TGDFileInfo& info);

    // Upload sessions begun and not finished.
    int OpenUploadSessions() const { return int(FSessions.size()); }
    // Forgets the path table (the next path operation lists again).
    void ClearFindCache();

private:
    struct TCall {
        QByteArray Method = "GET";
        QString Url;
        QJsonObject Json;
        bool HasJson = false;
        QList<QPair<QByteArray, QByteArray>> Headers;
        QIODevice* Upload = nullptr;
        int64_t UploadPosition = 0;
        int64_t UploadLength = 0;
        QIODevice* Download = nullptr;
        int64_t ProgressBase = 0;
        int64_t ProgressTotal = 0;
        // Busy answers are repeated by Call; upload pieces leave them to the upload loop.
        bool RepeatBusy = true;
        // The access token goes only to the service's own hosts.
        bool Bearer = true;
    };
    THttpResponse Call(const TCall& call);
    bool BusyWait(const THttpResponse& response, int& busy);
    bool FailWith(const THttpResponse& response);
    bool FailKind(TCloudFailure kind, const QString& text);
    bool JsonCall(const TCall& call, QJsonObject& result);
    bool List(const QString& query, const QString& parentID, QList<TGDFileInfo>& items);
    QString FilesUrl() const { return FEndpoints.GoogleDriveApi + QStringLiteral("/files"); }
    QString AuthorizationUrl(const QString& redirect, const QString& challenge, const QString& state) const;
    QString Redirect() const;

    // The path table.
    bool Resolve(const QString& path, TGDFileInfo& info, bool lookUpMisses = true);
    bool ListInto(const QString& folderPath, const TGDFileInfo& folder, QList<TGDFileInfo>* items);
    void Record(const QString& path, const TGDFileInfo& info);
    void Forget(const QString& path);
    bool SplitPath(const QString& path, QString& parent, QString& name);

    struct TSession {
        QString Uri;
        QString Path;    // parent id + "/" + name
        QString Content; // size and, for files, the file's name and time: the same bytes
    };
    static QString SessionKey(QIODevice& stream);

    TCloudEndpoints FEndpoints;
    TCloudFailure FFailure = TCloudFailure::Other;
    QHash<QString, TGDFileInfo> FPaths;      // "/a/b" -> item
    QHash<QString, QSet<QString>> FChildren; // folder path -> names of its items in FPaths
    QSet<QString> FListed;                   // folders whose items are in FPaths
    QList<TSession> FSessions;
};
