#pragma once

#include "cloud/TCloudDrive.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <functional>

class QIODevice;

// One Dropbox item as the service describes it.
struct TDFileInfo {
    bool IsDeleted = false;
    bool IsDir = false;
    QDateTime Modified;       // "server_modified", UTC
    QDateTime ClientModified; // "client_modified", UTC
    QString Path;             // "path_lower": the full path in lower case
    QString PathDisplay;      // "path_display": the full path as the user wrote it
    QString Revision;
    uint64_t Size = 0;
    QString Name;
    QString ID;

    static TDFileInfo FromJson(const QJsonObject& object);
};

// The client of the Dropbox HTTP API v2: listing, folders, delete, rename, download, upload (large
// files through resumable upload sessions), progress and cancel, with the sign-in of the service.
//
// Every operation answers true or false; after false ErrorText() says why ("Cancelled" after a
// cancel, the service's error_summary after a 409 answer). A refused access token (401) is
// renewed once per operation; a 429 or 503 answer with a Retry-After of at most
// MaxRetryAfterSeconds is waited out and repeated up to MaxBusyRetries times, anything longer is an
// error for the caller's own retries. One thread at a time; progress handlers run on it.
class TDropbox : public TCloudDrive {
public:
    explicit TDropbox(TCloudEndpoints endpoints = {});

    static constexpr int64_t MaxRequestBytes = 157286399; // 150 MiB - 1
    static constexpr int64_t DefaultChunkSize = 4194304;
    static QString DefaultScopes();
    static QString JobScopes();

    TCloudService Service() const override { return TCloudService::Dropbox; }
    bool Authorize() override;
    QString CodeAuthorizationUrl() const override;

    bool ListItems(const QString& path, QList<TCloudItem>& items) override;
    bool StatItem(const QString& path, TCloudItem& item) override;
    bool MakeFolder(const QString& path) override { return CreateFolder(path); }
    bool DeleteItem(const QString& path) override { return DeleteByPathName(path); }
    bool RenameItem(const QString& path, const QString& newName) override { return RenameByPathName(path, newName); }
    bool DownloadFile(const QString& path, QIODevice& stream) override { return DownloadByPathName(path, stream); }
    bool UploadFile(QIODevice& stream, const QString& path, int64_t chunkSize) override {
        return UploadInSession(stream, path, chunkSize > 0 ? chunkSize : DefaultChunkSize);
    }
    TCloudFailure LastFailure() const override;

    // Every entry of the folder (all pages), folders first, then by name ignoring case.
    bool ListFolder(const QString& path, QList<TDFileInfo>& entries);
    bool CreateFolder(const QString& path, TDFileInfo* info = nullptr);
    bool DeleteByPathName(const QString& path, TDFileInfo* info = nullptr);
    // Renames the item to newName (its last component) in the same folder.
    bool RenameByPathName(const QString& path, const QString& newName, TDFileInfo* info = nullptr);
    bool GetByPathName(const QString& path, TDFileInfo& info);
    // Writes the file's bytes into stream (emptied first); partial bytes stay after a failure.
    bool DownloadByPathName(const QString& path, QIODevice& stream);
    // One request; the stream is read from its start up to its size.
    bool Upload(QIODevice& stream, const QString& path, TDFileInfo* info = nullptr);
    // In an upload session of chunkSize pieces; an interrupted session of the same path on this
    // object is continued where the service says it stands.
    bool UploadInSession(QIODevice& stream, const QString& path, int64_t chunkSize, TDFileInfo* info = nullptr);

    // Upload sessions begun and not finished: (session id, path).
    const QList<QPair<QString, QString>>& SessionUploads() const { return FSessionUploads; }

private:
    QString AuthorizationUrl(const QString& challenge, const QString& state) const;

    struct TCall {
        QString Url;
        QJsonObject Argument;
        bool ArgumentInHeader = false; // content endpoint: the argument travels in Dropbox-API-Arg
        QIODevice* Upload = nullptr;
        int64_t UploadPosition = 0;
        int64_t UploadLength = 0;
        QIODevice* Download = nullptr;
        int64_t ProgressBase = 0; // session uploads report against the whole stream
        int64_t ProgressTotal = 0;
    };
    // The request pattern: authorize when needed, send, renew a refused token once, wait out busy
    // answers. The answer, or one with Status 0 and FError set.
    THttpResponse Call(const TCall& call);
    // The error text of a failed answer (409: its error_summary).
    bool FailWith(const THttpResponse& response);
    bool Rpc(const QString& command, const QJsonObject& argument, QJsonObject& result);
    QString RpcUrl(const QString& command) const { return FEndpoints.DropboxApi + QStringLiteral("/2") + command; }
    QString ContentUrl(const QString& command) const {
        return FEndpoints.DropboxContent + QStringLiteral("/2") + command;
    }
    bool SendChunk(const QString& command, const QJsonObject& argument, QIODevice* stream, int64_t position,
                   int64_t length, int64_t base, int64_t total, THttpResponse& response);
    void ForgetSession(const QString& sessionId);

    TCloudEndpoints FEndpoints;
    QList<QPair<QString, QString>> FSessionUploads;
    QHash<QString, QByteArray> FSessionContent; // session id -> the bytes it was begun for
};
