#include "cloud/TDropbox.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFileDevice>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QDateTime ParseTime(const QJsonValue& value) {
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODate);
    if (time.isValid())
        time.setTimeSpec(Qt::UTC);
    return time;
}

// Dropbox paths: "/" separated, beginning with "/"; the root is "".
QString ApiPath(const QString& path) {
    if (path.isEmpty() || path == u"/")
        return {};
    return path.startsWith(u'/') ? path : u'/' + path;
}

QString ParentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QString() : path.left(slash);
}

// The part of an answer body that may stand in an error line: one line, printable, short.
QString BodySummary(const QByteArray& body) {
    QString text = QString::fromUtf8(body.left(300)).simplified();
    text.removeIf([](QChar c) { return !c.isPrint(); });
    return text;
}

const QString CancelledText = QStringLiteral("Cancelled");

// What tells one upload's bytes from another's: a file's name, size and modification time; any
// other stream's size and digest.
QByteArray ContentKey(QIODevice& stream) {
    if (const auto* file = qobject_cast<QFileDevice*>(&stream)) {
        const QFileInfo info(file->fileName());
        return file->fileName().toUtf8() + '\n' + QByteArray::number(stream.size()) + '\n' +
               QByteArray::number(info.lastModified().toMSecsSinceEpoch());
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint64 position = stream.pos();
    if (stream.seek(0))
        hash.addData(&stream);
    stream.seek(position);
    return QByteArray::number(stream.size()) + '\n' + hash.result();
}

} // namespace

TDFileInfo TDFileInfo::FromJson(const QJsonObject& object) {
    TDFileInfo info;
    const QString tag = object.value(u".tag").toString();
    info.IsDir = tag == u"folder";
    info.IsDeleted = tag == u"deleted";
    info.Modified = ParseTime(object.value(u"server_modified"));
    info.ClientModified = ParseTime(object.value(u"client_modified"));
    info.Path = object.value(u"path_lower").toString();
    info.PathDisplay = object.value(u"path_display").toString();
    info.Revision = object.value(u"rev").toString();
    const QJsonValue size = object.value(u"size");
    info.Size = size.isString() ? size.toString().toULongLong() : uint64_t(std::max<qint64>(0, size.toInteger()));
    info.Name = object.value(u"name").toString();
    info.ID = object.value(u"id").toString();
    return info;
}

QString TDropbox::DefaultScopes() {
    return QStringLiteral("account_info.read files.metadata.write files.metadata.read files.content.write "
                          "files.content.read sharing.write sharing.read");
}

QString TDropbox::JobScopes() {
    return QStringLiteral("files.metadata.write files.metadata.read files.content.write files.content.read");
}

TDropbox::TDropbox(TCloudEndpoints endpoints)
    : FEndpoints(std::move(endpoints)) {
    Scopes = DefaultScopes();
}

TCloudFailure TDropbox::LastFailure() const {
    if (FUserCancelled)
        return TCloudFailure::Cancelled;
    // The error_summary of a 409 answer names the reason ("path/not_found/..").
    if (FError.contains(u"not_found"))
        return TCloudFailure::NotFound;
    if (FError.startsWith(u"path/conflict/folder"))
        return TCloudFailure::FolderExists;
    return TCloudFailure::Other;
}

bool TDropbox::ListItems(const QString& path, QList<TCloudItem>& items) {
    items.clear();
    QList<TDFileInfo> entries;
    if (!ListFolder(path, entries))
        return false;
    for (const TDFileInfo& entry : entries) {
        if (!entry.IsDeleted)
            items.append({entry.Name, entry.IsDir, entry.Size, entry.Modified});
    }
    return true;
}

bool TDropbox::StatItem(const QString& path, TCloudItem& item) {
    TDFileInfo info;
    if (!GetByPathName(path, info))
        return false;
    item = {info.Name, info.IsDir, info.Size, info.Modified};
    return true;
}

bool TDropbox::FailWith(const THttpResponse& response) {
    if (response.Status == 0)
        return Fail(response.Error);
    if (response.Status == 409) {
        const QJsonObject json = QJsonDocument::fromJson(response.Body).object();
        const QString summary = json.value(u"error_summary").toString();
        return Fail(summary.isEmpty() ? BodySummary(response.Body) : summary);
    }
    const QString summary = BodySummary(response.Body);
    return Fail(QStringLiteral("HTTP error %1").arg(response.Status) +
                (summary.isEmpty() ? QString() : u": " + summary));
}

bool TDropbox::Authorize() {
    FAccessToken.clear();
    QList<QPair<QString, QString>> fields;
    const auto addClient = [&] {
        fields.append({QStringLiteral("client_id"), ClientID});
        if (!ClientSecret.isEmpty())
            fields.append({QStringLiteral("client_secret"), ClientSecret});
    };
    if (!FRefreshToken.isEmpty()) {
        fields.append({QStringLiteral("refresh_token"), FRefreshToken});
        fields.append({QStringLiteral("grant_type"), QStringLiteral("refresh_token")});
        addClient();
        const TTokenAnswer answer = RequestToken(FHttp, FEndpoints.DropboxToken, fields);
        if (!answer.Ok)
            return Fail(answer.Error);
        FAccessToken = answer.AccessToken;
        return true;
    }

    TPkcePair pkce;
    QString state;
    if (!RedirectURI.isEmpty()) {
        pkce = MakePkcePair();
        state = RandomState();
    }
    const QString url = AuthorizationUrl(pkce.Challenge, state);

    if (!OnAuthorizationCodeRequest)
        return Fail(QStringLiteral("Authorization code request event not assigned"));
    const TCodeAnswer answer = OnAuthorizationCodeRequest(url);
    if (!answer.Error.isEmpty())
        return Fail(answer.Error);
    if (answer.Code == u"cancel")
        return Fail(QStringLiteral("Authorization cancelled"));
    if (answer.Code.isEmpty() || answer.Code == u"fail")
        return Fail(QStringLiteral("Authorization failed"));

    fields.append({QStringLiteral("code"), answer.Code.trimmed()});
    fields.append({QStringLiteral("grant_type"), QStringLiteral("authorization_code")});
    addClient();
    if (!RedirectURI.isEmpty()) {
        fields.append({QStringLiteral("code_verifier"), pkce.Verifier});
        fields.append({QStringLiteral("redirect_uri"), RedirectURI});
    }
    const TTokenAnswer token = RequestToken(FHttp, FEndpoints.DropboxToken, fields);
    if (!token.Ok)
        return Fail(token.Error);
    FAccessToken = token.AccessToken;
    if (!token.RefreshToken.isEmpty())
        FRefreshToken = token.RefreshToken;
    return true;
}

QString TDropbox::AuthorizationUrl(const QString& challenge, const QString& state) const {
    QList<QPair<QString, QString>> items{{QStringLiteral("client_id"), ClientID},
                                         {QStringLiteral("response_type"), QStringLiteral("code")}};
    if (!RedirectURI.isEmpty()) {
        items.append({QStringLiteral("redirect_uri"), RedirectURI});
        items.append({QStringLiteral("code_challenge"), challenge});
        items.append({QStringLiteral("code_challenge_method"), QStringLiteral("S256")});
        items.append({QStringLiteral("state"), state});
    }
    items.append({QStringLiteral("token_access_type"), QStringLiteral("offline")});
    if (!Scopes.isEmpty())
        items.append({QStringLiteral("scope"), Scopes});
    // Every value fully percent-encoded: a "+" or "&" in one must not change the query.
    QString query;
    for (const auto& item : items)
        query += (query.isEmpty() ? QString() : QStringLiteral("&")) + item.first + u'=' +
                 QString::fromLatin1(QUrl::toPercentEncoding(item.second));
    QUrl url(FEndpoints.DropboxAuthorize);
    url.setQuery(query, QUrl::StrictMode);
    return url.toString(QUrl::FullyEncoded);
}

QString TDropbox::CodeAuthorizationUrl() const {
    TDropbox copy(FEndpoints);
    copy.ClientID = ClientID;
    copy.Scopes = Scopes;
    return copy.AuthorizationUrl({}, {});
}

THttpResponse TDropbox::Call(const TCall& call) {
    bool refused = false;
    int busy = 0;
    for (;;) {
        THttpResponse failed;
        if (FAccessToken.isEmpty() && !Authorize()) {
            failed.Error = FError;
            return failed;
        }
        THttpRequest request;
        request.Url = call.Url;
        request.BearerToken = FAccessToken.toUtf8();
        if (call.ArgumentInHeader) {
            request.Headers.append(qMakePair(QByteArray("Dropbox-API-Arg"), THttpClient::AsciiJson(call.Argument)));
            if (call.Upload != nullptr) {
                request.ContentType = "application/octet-stream";
                if (!call.Upload->seek(call.UploadPosition)) {
                    failed.Error = QStringLiteral("Unable to read the data to upload: ") + call.Upload->errorString();
                    return failed;
                }
                request.UploadDevice = call.Upload;
                request.UploadLength = call.UploadLength;
            }
        } else {
            request.SetJsonBody(call.Argument);
        }
        if (call.Download != nullptr) {
            // The stream holds this answer only, also when an earlier attempt wrote into it.
            if (auto* file = qobject_cast<QFileDevice*>(call.Download))
                file->resize(0);
            else if (auto* buffer = qobject_cast<QBuffer*>(call.Download))
                buffer->buffer().clear();
            call.Download->seek(0);
            request.DownloadDevice = call.Download;
            FHttp.OnProgress = [this](int64_t done, int64_t total) {
                return !OnDownloadProgress || OnDownloadProgress(done, total);
            };
        } else if (call.Upload != nullptr) {
            const int64_t base = call.ProgressBase;
            const int64_t total = call.ProgressTotal > 0 ? call.ProgressTotal : call.UploadLength;
            FHttp.OnProgress = [this, base, total](int64_t done, int64_t) {
                return !OnUploadProgress || OnUploadProgress(base + done, total);
            };
        }
        THttpResponse response = FHttp.Send(request);
        FHttp.OnProgress = {};
        if (response.Cancelled) {
            FUserCancelled = true;
            FError = CancelledText;
            return response;
        }
        if (response.Status == 401 && !refused) {
            refused = true;
            FAccessToken.clear();
            continue;
        }
        if ((response.Status == 429 || response.Status == 503) && busy < MaxBusyRetries) {
            const int wait = response.RetryAfterSeconds();
            if (wait >= 0 && wait <= MaxRetryAfterSeconds) {
                ++busy;
                if (Sleep)
                    Sleep(wait);
                else
                    QThread::sleep(static_cast<unsigned long>(wait));
                continue;
            }
        }
        if (response.Status == 0)
            FError = response.Error;
        return response;
    }
}

bool TDropbox::Rpc(const QString& command, const QJsonObject& argument, QJsonObject& result) {
    FUserCancelled = false;
    TCall call;
    call.Url = RpcUrl(command);
    call.Argument = argument;
    const THttpResponse response = Call(call);
    if (response.Status != 200)
        return FailWith(response);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(response.Body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return Fail(QStringLiteral("The service's answer cannot be read: ") + error.errorString());
    result = document.object();
    return true;
}

bool TDropbox::ListFolder(const QString& path, QList<TDFileInfo>& entries) {
    entries.clear();
    QJsonObject page;
    if (!Rpc(QStringLiteral("/files/list_folder"), QJsonObject{{u"path"_s, ApiPath(path)}}, page))
        return false;
    for (;;) {
        for (const QJsonValue entry : page.value(u"entries").toArray())
            entries.append(TDFileInfo::FromJson(entry.toObject()));
        if (!page.value(u"has_more").toBool())
            break;
        const QString cursor = page.value(u"cursor").toString();
        if (cursor.isEmpty())
            return Fail(QStringLiteral("The listing's next page has no cursor."));
        if (!Rpc(QStringLiteral("/files/list_folder/continue"), QJsonObject{{u"cursor"_s, cursor}}, page))
            return false;
    }
    std::stable_sort(entries.begin(), entries.end(), [](const TDFileInfo& a, const TDFileInfo& b) {
        if (a.IsDir != b.IsDir)
            return a.IsDir;
        return a.Name.compare(b.Name, Qt::CaseInsensitive) < 0;
    });
    return true;
}

bool TDropbox::CreateFolder(const QString& path, TDFileInfo* info) {
    QJsonObject result;
    if (!Rpc(QStringLiteral("/files/create_folder_v2"),
             QJsonObject{{u"path"_s, ApiPath(path)}, {u"autorename"_s, false}}, result))
        return false;
    if (info != nullptr) {
        *info = TDFileInfo::FromJson(result.value(u"metadata").toObject());
        info->IsDir = true;
    }
    return true;
}

bool TDropbox::DeleteByPathName(const QString& path, TDFileInfo* info) {
    QJsonObject result;
    if (!Rpc(QStringLiteral("/files/delete_v2"), QJsonObject{{u"path"_s, ApiPath(path)}}, result))
        return false;
    if (info != nullptr) {
        *info = TDFileInfo::FromJson(result.value(u"metadata").toObject());
        info->IsDeleted = true;
    }
    return true;
}

bool TDropbox::RenameByPathName(const QString& path, const QString& newName, TDFileInfo* info) {
    const QString from = ApiPath(path);
    const QString name = newName.mid(newName.lastIndexOf(u'/') + 1);
    if (name.isEmpty())
        return Fail(QStringLiteral("The new name is empty."));
    QJsonObject result;
    const QJsonObject argument{{u"from_path"_s, from},
                               {u"to_path"_s, QString(ParentOf(from) + u'/' + name)},
                               {u"autorename"_s, false},
                               {u"allow_ownership_transfer"_s, false}};
    if (!Rpc(QStringLiteral("/files/move_v2"), argument, result))
        return false;
    if (info != nullptr)
        *info = TDFileInfo::FromJson(result.value(u"metadata").toObject());
    return true;
}

bool TDropbox::GetByPathName(const QString& path, TDFileInfo& info) {
    QJsonObject result;
    if (!Rpc(QStringLiteral("/files/get_metadata"),
             QJsonObject{{u"path"_s, ApiPath(path)}, {u"include_media_info"_s, false}}, result))
        return false;
    info = TDFileInfo::FromJson(result);
    return true;
}

bool TDropbox::DownloadByPathName(const QString& path, QIODevice& stream) {
    FUserCancelled = false;
    TCall call;
    call.Url = ContentUrl(QStringLiteral("/files/download"));
    call.Argument = QJsonObject{{u"path"_s, ApiPath(path)}};
    call.ArgumentInHeader = true;
    call.Download = &stream;
    const THttpResponse response = Call(call);
    if (response.Cancelled)
        return Fail(CancelledText);
    if (response.Status != 200 && response.Status != 201)
        return FailWith(response);
    return true;
}

bool TDropbox::Upload(QIODevice& stream, const QString& path, TDFileInfo* info) {
    const int64_t size = stream.size();
    if (size > MaxRequestBytes)
        return Fail(QStringLiteral("Dropbox API does not allow to upload files larger than 150MB"));
    FUserCancelled = false;
    TCall call;
    call.Url = ContentUrl(QStringLiteral("/files/upload"));
    call.Argument = QJsonObject{
        {u"path"_s, ApiPath(path)}, {u"mode"_s, u"overwrite"_s}, {u"autorename"_s, false}, {u"mute"_s, false}};
    call.ArgumentInHeader = true;
    call.Upload = &stream;
    call.UploadLength = size;
    const THttpResponse response = Call(call);
    if (response.Cancelled)
        return Fail(CancelledText);
    if (response.Status != 200 && response.Status != 201)
        return FailWith(response);
    if (info != nullptr)
        *info = TDFileInfo::FromJson(QJsonDocument::fromJson(response.Body).object());
    return true;
}

bool TDropbox::SendChunk(const QString& command, const QJsonObject& argument, QIODevice* stream, int64_t position,
                         int64_t length, int64_t base, int64_t total, THttpResponse& response) {
    if (length > MaxRequestBytes)
        return Fail(QStringLiteral("Dropbox API does not allow to upload content larger than 150MB in single request"));
    FUserCancelled = false;
    TCall call;
    call.Url = ContentUrl(command);
    call.Argument = argument;
    call.ArgumentInHeader = true;
    QBuffer empty;
    empty.open(QIODevice::ReadOnly);
    call.Upload = length > 0 ? stream : &empty;
    call.UploadPosition = length > 0 ? position : 0;
    call.UploadLength = length;
    call.ProgressBase = base;
    call.ProgressTotal = total;
    response = Call(call);
    if (response.Cancelled)
        return Fail(CancelledText);
    return response.Status == 200;
}

void TDropbox::ForgetSession(const QString& sessionId) {
    FSessionUploads.removeIf([&](const QPair<QString, QString>& entry) { return entry.first == sessionId; });
    FSessionContent.remove(sessionId);
}

bool TDropbox::UploadInSession(QIODevice& stream, const QString& path, int64_t chunkSize, TDFileInfo* info) {
    if (chunkSize > MaxRequestBytes)
        return Fail(QStringLiteral("Dropbox API does not allow chunks larger than 150MB"));
    if (chunkSize <= 0)
        return Fail(QStringLiteral("The chunk size must be positive."));
    const int64_t size = stream.size();
    if (size == 0)
        return Upload(stream, path, info);
    const QString apiPath = ApiPath(path);

    // A kept session goes on only with the same bytes: another file for the same path would
    // otherwise be spliced onto what the first one sent.
    const QByteArray content = ContentKey(stream);
    QString sessionId;
    for (auto it = FSessionUploads.crbegin(); it != FSessionUploads.crend(); ++it) {
        if (it->second == apiPath && FSessionContent.value(it->first) == content) {
            sessionId = it->first;
            break;
        }
    }
    int64_t offset = 0;
    bool retried409 = false;
    // A session begun earlier is asked where it stands first: an empty append at offset 0, which
    // the service answers with the correct offset.
    bool probing = !sessionId.isEmpty();
    for (;;) {
        int64_t length = 0;
        if (offset < size && !probing)
            length = std::min(chunkSize, size - offset);
        probing = false;
        THttpResponse response;
        const int64_t before = offset;
        bool sent = false;
        if (sessionId.isEmpty()) {
            sent = SendChunk(QStringLiteral("/files/upload_session/start"), QJsonObject{{u"close"_s, false}}, &stream,
                             offset, length, offset, size, response);
        } else if (offset < size) {
            const QJsonObject cursor{{u"session_id"_s, sessionId}, {u"offset"_s, qint64(offset)}};
            sent = SendChunk(QStringLiteral("/files/upload_session/append_v2"),
                             QJsonObject{{u"cursor"_s, cursor}, {u"close"_s, false}}, &stream, offset, length, offset,
                             size, response);
        } else {
            const QJsonObject cursor{{u"session_id"_s, sessionId}, {u"offset"_s, qint64(offset)}};
            const QJsonObject commit{
                {u"path"_s, apiPath}, {u"mode"_s, u"overwrite"_s}, {u"autorename"_s, false}, {u"mute"_s, false}};
            sent = SendChunk(QStringLiteral("/files/upload_session/finish"),
                             QJsonObject{{u"cursor"_s, cursor}, {u"commit"_s, commit}}, &stream, offset, 0, offset,
                             size, response);
        }
        if (sent) {
            retried409 = false;
            if (sessionId.isEmpty()) {
                sessionId = QJsonDocument::fromJson(response.Body).object().value(u"session_id").toString();
                if (sessionId.isEmpty())
                    return Fail(QStringLiteral("The service started no upload session."));
                FSessionUploads.append({sessionId, apiPath});
                FSessionContent.insert(sessionId, content);
                offset = length;
            } else if (before >= size) {
                ForgetSession(sessionId);
                if (info != nullptr)
                    *info = TDFileInfo::FromJson(QJsonDocument::fromJson(response.Body).object());
                return true;
            } else {
                offset = before + length;
            }
            continue;
        }
        if (FUserCancelled)
            return Fail(CancelledText);
        if (response.Status != 409)
            return response.Status == 0 ? false : FailWith(response);
        FailWith(response); // the error_summary is the text of every outcome below
        if (retried409)
            return false;
        retried409 = true;
        QJsonObject error = QJsonDocument::fromJson(response.Body).object().value(u"error").toObject();
        // The finish call wraps the session's errors in "lookup_failed".
        if (error.value(u".tag").toString() == u"lookup_failed")
            error = error.value(u"lookup_failed").toObject();
        const QString tag = error.value(u".tag").toString();
        if (tag == u"incorrect_offset") {
            const qint64 correct = error.value(u"correct_offset").toInteger(-1);
            if (correct < 0 || correct > size)
                return Fail(QStringLiteral("The service reports an upload offset beyond the file: %1").arg(correct));
            offset = correct;
            continue;
        }
        if (tag == u"not_found" || tag == u"closed")
            ForgetSession(sessionId);
        return false;
    }
}
