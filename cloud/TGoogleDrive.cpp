#include "cloud/TGoogleDrive.h"

#include <QBuffer>
#include <QFileDevice>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString CancelledText = QStringLiteral("Cancelled");
constexpr char16_t PrivateBase = 0xF000;

// The fields of an item every request that returns items asks for.
const QString ItemFields = QStringLiteral(
    "size,id,name,mimeType,modifiedTime,createdTime,capabilities/canDownload,capabilities/canEdit,webViewLink,"
    "sharedWithMeTime,shared,writersCanShare,exportLinks,driveId,owners(displayName,emailAddress)");

QDateTime ParseTime(const QJsonValue& value) {
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (time.isValid())
        time = time.toUTC();
    return time;
}

QString TimeText(const QDateTime& time) {
    return time.toUTC().toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"_s);
}

// UTF-8, unreserved characters kept, everything else as %XX (a space too).
QString Encoded(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

// A text inside a query's single quotes.
QString QueryString(const QString& text) {
    QString quoted = text;
    quoted.replace(u"\\"_s, u"\\\\"_s);
    quoted.replace(u"'"_s, u"\\'"_s);
    return u'\'' + quoted + u'\'';
}

QString BodySummary(const QByteArray& body) {
    QString text = QString::fromUtf8(body.left(300)).simplified();
    text.removeIf([](QChar c) { return !c.isPrint(); });
    return text;
}

// Drive's error answer: {"error": {"code", "message", "errors": [{"reason", ...}]}}.
QString ErrorReason(const QByteArray& body) {
    const QJsonObject error = QJsonDocument::fromJson(body).object().value(u"error").toObject();
    const QJsonArray errors = error.value(u"errors").toArray();
    return errors.isEmpty() ? QString() : errors.first().toObject().value(u"reason").toString();
}

bool IsRateLimit(const THttpResponse& response) {
    if (response.Status != 403)
        return false;
    const QString reason = ErrorReason(response.Body);
    return reason == u"rateLimitExceeded" || reason == u"userRateLimitExceeded";
}

bool IsBusy(const THttpResponse& response) {
    return response.Status == 429 || response.Status == 500 || response.Status == 502 || response.Status == 503 ||
           response.Status == 504 || IsRateLimit(response);
}

// The order of one folder's items: folders first, then by name ignoring case, then by name;
// of several items of one name the folder made first, the file stored last.
bool ItemBefore(const TGDFileInfo& a, const TGDFileInfo& b) {
    if (a.IsDir() != b.IsDir())
        return a.IsDir();
    if (const int c = a.Title.compare(b.Title, Qt::CaseInsensitive); c != 0)
        return c < 0;
    if (const int c = a.Title.compare(b.Title); c != 0)
        return c < 0;
    if (a.Created != b.Created)
        return a.IsDir() ? a.Created < b.Created : a.Created > b.Created;
    return a.ID < b.ID;
}

QString JoinPath(const QString& folder, const QString& name) {
    return folder == u"/" ? QString(u'/' + name) : QString(folder + u'/' + name);
}

bool ValidName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/');
}

} // namespace

bool TGDFileInfo::IsDir() const {
    return MIMEType == TGoogleDrive::FolderMimeType();
}

TGDFileInfo TGDFileInfo::FromJson(const QJsonObject& object, const QString& filesUrl) {
    TGDFileInfo info;
    // v3 writes sizes as decimal text; a number is taken as well.
    const QJsonValue size = object.value(u"size");
    info.Size = size.isString() ? size.toString().toULongLong() : uint64_t(std::max<qint64>(0, size.toInteger()));
    info.Title = TGoogleDrive::FromDriveName(object.value(u"name").toString());
    info.MIMEType = object.value(u"mimeType").toString(u"application/octet-stream"_s);
    info.ID = object.value(u"id").toString();
    const QJsonObject capabilities = object.value(u"capabilities").toObject();
    if (capabilities.value(u"canDownload").toBool())
        info.DownloadURL = filesUrl + u'/' + info.ID + u"?alt=media"_s;
    info.Modified = ParseTime(object.value(u"modifiedTime"));
    info.Created = ParseTime(object.value(u"createdTime"));
    info.ReadOnly = !capabilities.value(u"canEdit").toBool(false);
    info.SharedWithMe = object.contains(u"sharedWithMeTime");
    info.Shared = object.value(u"shared").toBool();
    return info;
}

QString TGoogleDrive::DefaultScopes() {
    return QStringLiteral("https://www.googleapis.com/auth/drive https://www.googleapis.com/auth/userinfo.email "
                          "https://www.googleapis.com/auth/userinfo.profile");
}

QString TGoogleDrive::JobScopes() {
    return QStringLiteral("https://www.googleapis.com/auth/drive.file");
}

QString TGoogleDrive::ContentTypeFor(const QString& fileName) {
    static const QHash<QString, QString> types{
        {u"csv"_s, u"text/csv"_s},
        {u"tsv"_s, u"text/tab-separated-values"_s},
        {u"tab"_s, u"text/tab-separated-values"_s},
        {u"htm"_s, u"text/html"_s},
        {u"html"_s, u"text/html"_s},
        {u"doc"_s, u"application/msword"_s},
        {u"docx"_s, u"application/vnd.openxmlformats-officedocument.wordprocessingml.document"_s},
        {u"ods"_s, u"application/x-vnd.oasis.opendocument.spreadsheet"_s},
        {u"odt"_s, u"application/vnd.oasis.opendocument.text"_s},
        {u"rtf"_s, u"application/rtf"_s},
        {u"sxw"_s, u"application/vnd.sun.xml.writer"_s},
        {u"txt"_s, u"text/plain"_s},
        {u"xls"_s, u"application/vnd.ms-excel"_s},
        {u"xlsx"_s, u"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"_s},
        {u"pdf"_s, u"application/pdf"_s},
        {u"ppt"_s, u"application/vnd.ms-powerpoint"_s},
        {u"pps"_s, u"application/vnd.ms-powerpoint"_s},
    };
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0)
        return u"application/octet-stream"_s;
    return types.value(fileName.mid(dot + 1).toLower(), u"application/octet-stream"_s);
}

QString TGoogleDrive::ToDriveName(const QString& name) {
    QString stored = name;
    for (QChar& c : stored)
        if (c.unicode() < 0x20)
            c = QChar(char16_t(PrivateBase + c.unicode()));
    return stored;
}

QString TGoogleDrive::FromDriveName(const QString& name) {
    QString read = name;
    for (QChar& c : read)
        if (c.unicode() > PrivateBase && c.unicode() < PrivateBase + 0x20)
            c = QChar(char16_t(c.unicode() - PrivateBase));
    return read;
}

TGoogleDrive::TGoogleDrive(TCloudEndpoints endpoints)
    : FEndpoints(std::move(endpoints)) {
    FHttp.ConnectTimeoutMs = 60000;
    FHttp.ReadTimeoutSeconds = 90;
}

void TGoogleDrive::SetScope(const QString& scope) {
    if (scope == Scopes)
        return;
    Scopes = scope;
    FRefreshToken.clear();
    FAccessToken.clear();
}

void TGoogleDrive::ClearFindCache() {
    FPaths.clear();
    FChildren.clear();
    FListed.clear();
}

bool TGoogleDrive::FailKind(TCloudFailure kind, const QString& text) {
    FFailure = kind;
    return Fail(text);
}

bool TGoogleDrive::FailWith(const THttpResponse& response) {
    FFailure = response.Status == 404 ? TCloudFailure::NotFound : TCloudFailure::Other;
    if (response.Status == 0)
        return Fail(response.Error.isEmpty() ? FError : response.Error);
    const QJsonObject error = QJsonDocument::fromJson(response.Body).object().value(u"error").toObject();
    QString message = error.value(u"message").toString().simplified();
    if (message.isEmpty())
        message = BodySummary(response.Body);
    return Fail(QStringLiteral("HTTP error %1").arg(response.Status) +
                (message.isEmpty() ? QString() : u": " + message));
}

// ---- sign-in --------------------------------------------------------------------------------

QString TGoogleDrive::Redirect() const {
    return RedirectURI.isEmpty() ? QStringLiteral("http://localhost:%1").arg(LoopbackPort) : RedirectURI;
}

QString TGoogleDrive::AuthorizationUrl(const QString& redirect, const QString& challenge, const QString& state) const {
    QList<QPair<QString, QString>> items{{u"client_id"_s, ClientID},
                                         {u"redirect_uri"_s, redirect},
                                         {u"scope"_s, Scopes.isEmpty() ? DefaultScopes() : Scopes},
                                         {u"response_type"_s, u"code"_s}};
    if (!challenge.isEmpty()) {
        items.append({u"code_challenge"_s, challenge});
        items.append({u"code_challenge_method"_s, u"S256"_s});
    }
    if (!state.isEmpty())
        items.append({u"state"_s, state});
    QString query;
    for (const auto& item : items)
        query += (query.isEmpty() ? QString() : u"&"_s) + item.first + u'=' + Encoded(item.second);
    QUrl url(FEndpoints.GoogleDriveAuthorize);
    url.setQuery(query, QUrl::StrictMode);
    return url.toString(QUrl::FullyEncoded);
}

QString TGoogleDrive::CodeAuthorizationUrl() const {
    // The service has no page that shows a code: the browser's address bar shows it in the
    // redirect to the loopback port, which need not answer.
    return AuthorizationUrl(u"http://localhost:%1"_s.arg(LoopbackPort), {}, {});
}

bool TGoogleDrive::Authorize() {
    FAccessToken.clear();
    const auto client = [this](QList<QPair<QString, QString>>& fields) {
        fields.append({u"client_id"_s, ClientID});
        fields.append({u"client_secret"_s, ClientSecret});
    };
    if (!FRefreshToken.isEmpty()) {
        QList<QPair<QString, QString>> fields;
        client(fields);
        fields.append({u"refresh_token"_s, FRefreshToken});
        fields.append({u"grant_type"_s, u"refresh_token"_s});
        const TTokenAnswer answer = RequestToken(FHttp, FEndpoints.GoogleDriveToken, fields);
        if (answer.Ok) {
            FAccessToken = answer.AccessToken;
            if (!answer.RefreshToken.isEmpty())
                FRefreshToken = answer.RefreshToken;
            return true;
        }
        // A refused token means signing in again; an unreachable or failing service does not.
        if (answer.Status == 0 || answer.Status >= 500)
            return Fail(u"Unable to renew the access token: "_s + answer.Error);
    }

    const bool loopback = !RedirectURI.isEmpty();
    const QString redirect = Redirect();
    TPkcePair pkce;
    QString state;
    if (loopback) {
        pkce = MakePkcePair();
        state = RandomState();
    }
    const QString url = AuthorizationUrl(redirect, pkce.Challenge, state);
    if (!OnAuthorizationCodeRequest)
        return Fail(u"Authorization code request event not assigned"_s);
    const TCodeAnswer answer = OnAuthorizationCodeRequest(url);
    if (!answer.Error.isEmpty())
        return Fail(answer.Error);
    if (answer.Code == u"cancel")
        return Fail(u"Authorization cancelled"_s);
    if (answer.Code.trimmed().isEmpty() || answer.Code == u"fail")
        return Fail(u"Authorization failed"_s);

    QList<QPair<QString, QString>> fields;
    client(fields);
    fields.append({u"code"_s, answer.Code.trimmed()});
    fields.append({u"redirect_uri"_s, redirect});
    fields.append({u"grant_type"_s, u"authorization_code"_s});
    if (loopback)
        fields.append({u"code_verifier"_s, pkce.Verifier});
    const TTokenAnswer token = RequestToken(FHttp, FEndpoints.GoogleDriveToken, fields);
    if (!token.Ok)
        return Fail(token.Error);
    FAccessToken = token.AccessToken;
    if (!token.RefreshToken.isEmpty())
        FRefreshToken = token.RefreshToken;
    return true;
}

// ---- requests -------------------------------------------------------------------------------

bool TGoogleDrive::BusyWait(const THttpResponse& response, int& busy) {
    if (!IsBusy(response) || busy >= MaxBusyRetries)
        return false;
    int wait = response.RetryAfterSeconds();
    if (wait < 0)
        wait = 1 << std::min(busy, 10); // no advice: 1, 2, 4 ... seconds
    if (wait > MaxRetryAfterSeconds)
        return false;
    ++busy;
    if (Sleep)
        Sleep(wait);
    else
        QThread::sleep(static_cast<unsigned long>(wait));
    return true;
}

THttpResponse TGoogleDrive::Call(const TCall& call) {
    bool refused = false;
    int busy = 0;
    for (;;) {
        THttpResponse failed;
        if (FAccessToken.isEmpty() && !Authorize()) {
            FFailure = TCloudFailure::Other;
            failed.Error = FError;
            return failed;
        }
        THttpRequest request;
        request.Method = call.Method;
        request.Url = call.Url;
        if (call.Bearer)
            request.BearerToken = FAccessToken.toUtf8();
        request.Headers = call.Headers;
        if (call.HasJson) {
            request.SetJsonBody(call.Json);
        } else if (call.Upload != nullptr) {
            request.ContentType = "application/octet-stream";
            if (!call.Upload->seek(call.UploadPosition)) {
                failed.Error = u"Unable to read the data to upload: "_s + call.Upload->errorString();
                return failed;
            }
            request.UploadDevice = call.Upload;
            request.UploadLength = call.UploadLength;
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
        if ((response.Status == 401 || (response.Status == 403 && !IsRateLimit(response))) && !refused) {
            refused = true;
            FAccessToken.clear();
            continue;
        }
        if (call.RepeatBusy && BusyWait(response, busy))
            continue;
        if (response.Status == 0)
            FError = response.Error;
        return response;
    }
}

bool TGoogleDrive::JsonCall(const TCall& call, QJsonObject& result) {
    FUserCancelled = false;
    const THttpResponse response = Call(call);
    if (response.Status != 200)
        return FailWith(response);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(response.Body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return FailKind(TCloudFailure::Other, u"The service's answer cannot be read: "_s + error.errorString());
    result = document.object();
    return true;
}

// ---- operations by id -----------------------------------------------------------------------

bool TGoogleDrive::List(const QString& query, const QString& parentID, QList<TGDFileInfo>& items) {
    items.clear();
    const QString first = FilesUrl() + u"?supportsAllDrives=true&includeItemsFromAllDrives=true&fields="_s +
                          Encoded(u"nextPageToken,files("_s + ItemFields + u')') + u"&pageSize=1000&q="_s +
                          Encoded(query);
    TCall call;
    call.Url = first;
    QSet<QString> tokens;
    for (;;) {
        QJsonObject page;
        if (!JsonCall(call, page))
            return false;
        for (const QJsonValue value : page.value(u"files").toArray()) {
            TGDFileInfo info = TGDFileInfo::FromJson(value.toObject(), FilesUrl());
            info.ParentID = parentID;
            items.append(info);
        }
        const QString token = page.value(u"nextPageToken").toString();
        if (token.isEmpty())
            break;
        if (tokens.contains(token))
            return FailKind(TCloudFailure::Other, u"The service's listing does not advance."_s);
        tokens.insert(token);
        call.Url = first + u"&pageToken="_s + Encoded(token);
    }
    std::stable_sort(items.begin(), items.end(), ItemBefore);
    return true;
}

bool TGoogleDrive::FindAll(const QString& folderID, QList<TGDFileInfo>& items) {
    const QString id = folderID.isEmpty() ? GetRootFolderID() : folderID;
    return List(QueryString(id) + u" in parents and trashed=false"_s, id, items);
}

bool TGoogleDrive::FindByName(const QString& folderID, const QString& name, QList<TGDFileInfo>& items) {
    const QString id = folderID.isEmpty() ? GetRootFolderID() : folderID;
    if (!List(u"name="_s + QueryString(ToDriveName(name)) + u" and "_s + QueryString(id) +
                  u" in parents and trashed=false"_s,
              id, items))
        return false;
    // The service compares names its own way; a path needs them exact.
    items.removeIf([&name](const TGDFileInfo& item) { return item.Title != name; });
    return true;
}

bool TGoogleDrive::GetItem(const QString& id, TGDFileInfo& info) {
    TCall call;
    call.Url = FilesUrl() + u'/' + Encoded(id) + u"?supportsAllDrives=true&fields="_s + Encoded(ItemFields);
    QJsonObject result;
    if (!JsonCall(call, result))
        return false;
    const QString parent = info.ParentID;
    info = TGDFileInfo::FromJson(result, FilesUrl());
    info.ParentID = parent;
    return true;
}

bool TGoogleDrive::CreateFolder(const QString& name, const QString& parentID, TGDFileInfo& info) {
    if (!ValidName(name))
        return FailKind(TCloudFailure::Other, u"Not a valid name: "_s + name);
    const QString parent = parentID.isEmpty() ? GetRootFolderID() : parentID;
    TCall call;
    call.Method = "POST";
    call.Url = FilesUrl() + u"?supportsAllDrives=true&fields="_s + Encoded(ItemFields);
    call.Json = QJsonObject{
        {u"name"_s, ToDriveName(name)}, {u"mimeType"_s, FolderMimeType()}, {u"parents"_s, QJsonArray{parent}}};
    call.HasJson = true;
    QJsonObject result;
    if (!JsonCall(call, result))
        return false;
    info = TGDFileInfo::FromJson(result, FilesUrl());
    info.ParentID = parentID;
    return true;
}

bool TGoogleDrive::Remove(const TGDFileInfo& item, bool toTrash) {
    FUserCancelled = false;
    TCall call;
    const QString url = FilesUrl() + u'/' + Encoded(item.ID) + u"?supportsAllDrives=true"_s;
    if (item.SharedWithMe && !item.ParentID.isEmpty()) {
        // Not ours to delete: it only leaves the folder it was found in.
        call.Method = "PATCH";
        call.Url = url + u"&removeParents="_s + Encoded(item.ParentID);
        call.HasJson = true;
    } else if (toTrash) {
        call.Method = "PATCH";
        call.Url = url;
        call.Json = QJsonObject{{u"trashed"_s, true}};
        call.HasJson = true;
    } else {
        call.Method = "DELETE";
        call.Url = url;
    }
    const THttpResponse response = Call(call);
    if (!response.Ok())
        return FailWith(response);
    return true;
}

bool TGoogleDrive::Rename(TGDFileInfo& item, const QString& newName) {
    if (!ValidName(newName))
        return FailKind(TCloudFailure::Other, u"Not a valid name: "_s + newName);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    TCall call;
    call.Method = "PATCH";
    call.Url = FilesUrl() + u'/' + Encoded(item.ID) + u"?supportsAllDrives=true&fields="_s + Encoded(ItemFields);
    call.Json = QJsonObject{{u"name"_s, ToDriveName(newName)}, {u"modifiedTime"_s, TimeText(now)}};
    call.HasJson = true;
    QJsonObject result;
    if (!JsonCall(call, result))
        return false;
    item.Title = newName;
    item.Modified = now;
    return true;
}

bool TGoogleDrive::Move(TGDFileInfo& item, const QString& newParentID) {
    const QString target = newParentID.isEmpty() ? GetRootFolderID() : newParentID;
    const QString from = item.ParentID.isEmpty() ? GetRootFolderID() : item.ParentID;
    TCall call;
    call.Method = "PATCH";
    call.Url = FilesUrl() + u'/' + Encoded(item.ID) + u"?supportsAllDrives=true&removeParents="_s + Encoded(from) +
               u"&addParents="_s + Encoded(target) + u"&fields="_s + Encoded(ItemFields);
    call.HasJson = true;
    QJsonObject result;
    if (!JsonCall(call, result))
        return false;
    item.ParentID = newParentID;
    return true;
}

bool TGoogleDrive::Download(const TGDFileInfo& item, QIODevice& stream) {
    FUserCancelled = false;
    if (item.IsDir())
        return FailKind(TCloudFailure::Other, u"A folder cannot be downloaded: "_s + item.Title);
    TCall call;
    call.Url = FilesUrl() + u'/' + Encoded(item.ID) + u"?alt=media&supportsAllDrives=true"_s;
    call.Download = &stream;
    const THttpResponse response = Call(call);
    if (response.Cancelled)
        return FailKind(TCloudFailure::Other, CancelledText);
    if (!response.Ok())
        return FailWith(response);
    return true;
}

QString TGoogleDrive::SessionKey(QIODevice& stream) {
    // A session is continued only with the same bytes: the same size and, for a file, the same
    // file unchanged since.
    QString key = QString::number(stream.size());
    if (auto* file = qobject_cast<QFileDevice*>(&stream)) {
        const QFileInfo info(file->fileName());
        key += u'|' + info.absoluteFilePath() + u'|' + QString::number(info.lastModified().toMSecsSinceEpoch());
    }
    return key;
}

bool TGoogleDrive::Upload(QIODevice& stream, const QString& fileName, const QString& parentID, int64_t chunkSize,
                          TGDFileInfo& info) {
    FUserCancelled = false;
    if (!ValidName(fileName))
        return FailKind(TCloudFailure::Other, u"Not a valid name: "_s + fileName);
    if (chunkSize <= 0)
        return FailKind(TCloudFailure::Other, u"The chunk size must be positive."_s);
    // Every piece but the last must be a multiple of the service's granularity.
    const int64_t piece = std::max(ChunkGranularity, chunkSize - chunkSize % ChunkGranularity);
    const int64_t size = stream.size();
    const QString parent = parentID.isEmpty() ? GetRootFolderID() : parentID;
    const QString where = parent + u'/' + fileName;
    const QString content = SessionKey(stream);

    const auto start = [&](QString& uri) {
        TCall call;
        call.Method = "POST";
        call.Url = FEndpoints.GoogleDriveUpload + u"/files?uploadType=resumable&supportsAllDrives=true&fields="_s +
                   Encoded(ItemFields);
        call.Json = QJsonObject{{u"name"_s, ToDriveName(fileName)}, {u"parents"_s, QJsonArray{parent}}};
        call.HasJson = true;
        call.Headers = {{"X-Upload-Content-Type", ContentTypeFor(fileName).toLatin1()},
                        {"X-Upload-Content-Length", QByteArray::number(qint64(size))}};
        const THttpResponse response = Call(call);
        if (response.Status != 200)
            return FailWith(response);
        uri = QString::fromLatin1(response.Header("location"));
        QString why;
        if (uri.isEmpty() || !THttpClient::AddressAllowed(uri, &why))
            return FailKind(TCloudFailure::Other, u"The service gave no usable upload address. "_s + why);
        FSessions.append({uri, where, content});
        return true;
    };
    const auto forget = [this](const QString& uri) {
        FSessions.removeIf([&uri](const TSession& session) { return session.Uri == uri; });
    };
    // Where a 308 answer says the service stands: the byte after its "Range: bytes=0-N".
    const auto confirmed = [size](const THttpResponse& response, int64_t& offset) {
        const QByteArray range = response.Header("range");
        if (range.isEmpty()) {
            offset = 0;
            return true;
        }
        const qsizetype dash = range.lastIndexOf('-');
        bool ok = false;
        const qint64 last = range.mid(dash + 1).toLongLong(&ok);
        if (!range.startsWith("bytes=0-") || !ok || last + 1 > size)
            return false;
        offset = last + 1;
        return true;
    };

    QString uri;
    for (const TSession& session : FSessions)
        if (session.Path == where && session.Content == content)
            uri = session.Uri;
    bool ask = !uri.isEmpty(); // a session of an earlier attempt: where does it stand?
    if (uri.isEmpty() && !start(uri))
        return false;
    bool restarted = false;
    int busy = 0;
    int idle = 0;
    int64_t offset = 0;
    for (;;) {
        TCall call;
        call.Method = "PUT";
        call.Url = uri;
        call.RepeatBusy = false;
        // The session address is its own credential; the token never goes to another host.
        call.Bearer = QUrl(uri).host() == QUrl(FEndpoints.GoogleDriveUpload).host();
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        int64_t length = 0;
        if (ask || size == 0) {
            call.Headers = {{"Content-Range", "bytes */" + QByteArray::number(qint64(size))}};
            call.Upload = &empty;
        } else {
            length = std::min(piece, size - offset);
            call.Headers = {{"Content-Range", "bytes " + QByteArray::number(qint64(offset)) + '-' +
                                                  QByteArray::number(qint64(offset + length - 1)) + '/' +
                                                  QByteArray::number(qint64(size))}};
            call.Upload = &stream;
            call.UploadPosition = offset;
            call.UploadLength = length;
            call.ProgressBase = offset;
            call.ProgressTotal = size;
        }
        const THttpResponse response = Call(call);
        if (response.Cancelled)
            return FailKind(TCloudFailure::Other, CancelledText);
        if (response.Status == 200 || response.Status == 201) {
            forget(uri);
            const QJsonObject result = QJsonDocument::fromJson(response.Body).object();
            info = TGDFileInfo::FromJson(result, FilesUrl());
            info.ParentID = parentID;
            if (info.ID.isEmpty())
                return FailKind(TCloudFailure::Other, u"The service's answer names no file."_s);
            if (OnUploadProgress && size > 0)
                OnUploadProgress(size, size);
            return true;
        }
        if (response.Status == 308) {
            const int64_t before = offset;
            if (!confirmed(response, offset)) {
                forget(uri);
                return FailKind(TCloudFailure::Other, u"The service reports an upload range beyond the file: "_s +
                                                          QString::fromLatin1(response.Header("range")));
            }
            // A service that keeps answering without taking bytes would hold the upload forever.
            idle = offset > before ? 0 : idle + 1;
            if (idle > 3)
                return FailKind(TCloudFailure::Other, u"The service takes no more bytes of the upload."_s);
            ask = false;
            continue;
        }
        if ((response.Status == 404 || response.Status == 410) && !restarted) {
            // The session expired or was given up by the service: start over once.
            forget(uri);
            restarted = true;
            ask = false;
            offset = 0;
            if (!start(uri))
                return false;
            continue;
        }
        if (BusyWait(response, busy)) {
            ask = true; // the piece may have been taken in part
            continue;
        }
        if (response.Status == 404 || response.Status == 410)
            forget(uri);
        // Anything else ends this attempt; the session stays for the next one.
        return FailWith(response);
    }
}

// ---- the path table -------------------------------------------------------------------------

bool TGoogleDrive::SplitPath(const QString& path, QString& parent, QString& name) {
    QString clean = path;
    while (clean.endsWith(u'/') && clean.size() > 1)
        clean.chop(1);
    if (!clean.startsWith(u'/'))
        clean.prepend(u'/');
    if (clean == u"/")
        return FailKind(TCloudFailure::Other, u"The drive's root has no name."_s);
    const qsizetype slash = clean.lastIndexOf(u'/');
    parent = slash == 0 ? u"/"_s : clean.left(slash);
    name = clean.mid(slash + 1);
    if (!ValidName(name))
        return FailKind(TCloudFailure::Other, u"Not a valid name: "_s + name);
    return true;
}

void TGoogleDrive::Record(const QString& path, const TGDFileInfo& info) {
    const auto old = FPaths.constFind(path);
    if (old != FPaths.cend() && old->ID != info.ID)
        Forget(path); // another item now: nothing cached below the old one holds
    FPaths.insert(path, info);
    const qsizetype slash = path.lastIndexOf(u'/');
    FChildren[slash == 0 ? u"/"_s : path.left(slash)].insert(path.mid(slash + 1));
}

void TGoogleDrive::Forget(const QString& path) {
    const auto children = FChildren.constFind(path);
    if (children != FChildren.cend()) {
        const QSet<QString> names = *children;
        for (const QString& name : names)
            Forget(JoinPath(path, name));
    }
    FChildren.remove(path);
    FListed.remove(path);
    FPaths.remove(path);
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash >= 0 && path != u"/") {
        const auto parent = FChildren.find(slash == 0 ? u"/"_s : path.left(slash));
        if (parent != FChildren.end())
            parent->remove(path.mid(slash + 1));
    }
}

bool TGoogleDrive::ListInto(const QString& folderPath, const TGDFileInfo& folder, QList<TGDFileInfo>* items) {
    QList<TGDFileInfo> found;
    if (!FindAll(folder.ID, found))
        return false;
    // One item per name: the first in the listing's order.
    QSet<QString> seen;
    QList<TGDFileInfo> kept;
    for (const TGDFileInfo& item : found) {
        // A name no path can hold (Drive allows "/" in names) stays out of the table.
        if (seen.contains(item.Title) || !ValidName(item.Title))
            continue;
        seen.insert(item.Title);
        kept.append(item);
    }
    // Items gone since the last listing leave the table with everything under them.
    const QSet<QString> known = FChildren.value(folderPath);
    for (const QString& name : known)
        if (!seen.contains(name))
            Forget(JoinPath(folderPath, name));
    for (const TGDFileInfo& item : kept)
        Record(JoinPath(folderPath, item.Title), item);
    FListed.insert(folderPath);
    if (items != nullptr)
        *items = kept;
    return true;
}

bool TGoogleDrive::Resolve(const QString& path, TGDFileInfo& info, bool lookUpMisses) {
    if (path.isEmpty() || path == u"/") {
        info = TGDFileInfo();
        info.ID = GetRootFolderID();
        info.MIMEType = FolderMimeType();
        info.Title = u"/"_s;
        return true;
    }
    QString parentPath, name;
    if (!SplitPath(path, parentPath, name))
        return false;
    const QString clean = JoinPath(parentPath, name);
    if (const auto hit = FPaths.constFind(clean); hit != FPaths.cend()) {
        info = *hit;
        return true;
    }
    TGDFileInfo parent;
    if (!Resolve(parentPath, parent, lookUpMisses))
        return false;
    if (!parent.IsDir())
        return FailKind(TCloudFailure::NotFound, u"Not a folder: "_s + parentPath);
    if (!FListed.contains(parentPath)) {
        // The shallow walk: each folder on the way is listed once.
        if (!ListInto(parentPath, parent, nullptr))
            return false;
        if (const auto hit = FPaths.constFind(clean); hit != FPaths.cend()) {
            info = *hit;
            return true;
        }
    } else if (lookUpMisses) {
        // Listed before: something may have come since.
        QList<TGDFileInfo> found;
        if (!FindByName(parent.ID, name, found))
            return false;
        if (!found.isEmpty()) {
            Record(clean, found.first());
            info = found.first();
            return true;
        }
    }
    return FailKind(TCloudFailure::NotFound, u"The item does not exist: "_s + clean);
}

// ---- path operations ------------------------------------------------------------------------

bool TGoogleDrive::ListItems(const QString& path, QList<TCloudItem>& items) {
    items.clear();
    FUserCancelled = false;
    QString clean = path.isEmpty() ? u"/"_s : path;
    while (clean.endsWith(u'/') && clean.size() > 1)
        clean.chop(1);
    if (!clean.startsWith(u'/'))
        clean.prepend(u'/');
    TGDFileInfo folder;
    if (!Resolve(clean, folder))
        return false;
    if (!folder.IsDir())
        return FailKind(TCloudFailure::Other, u"Not a folder: "_s + clean);
    QList<TGDFileInfo> found;
    if (!ListInto(clean, folder, &found)) {
        if (FFailure == TCloudFailure::NotFound)
            Forget(clean);
        return false;
    }
    for (const TGDFileInfo& item : found)
        items.append({item.Title, item.IsDir(), item.Size, item.Modified});
    return true;
}

bool TGoogleDrive::StatItem(const QString& path, TCloudItem& item) {
    FUserCancelled = false;
    TGDFileInfo info;
    if (!Resolve(path, info))
        return false;
    item = {info.Title, info.IsDir(), info.Size, info.Modified};
    return true;
}

bool TGoogleDrive::MakeFolder(const QString& path) {
    FUserCancelled = false;
    QString parentPath, name;
    if (!SplitPath(path, parentPath, name))
        return false;
    const QString clean = JoinPath(parentPath, name);
    TGDFileInfo parent;
    if (!Resolve(parentPath, parent)) {
        if (FFailure != TCloudFailure::NotFound || !MakeFolder(parentPath) || !Resolve(parentPath, parent, false))
            return false;
    }
    if (!parent.IsDir())
        return FailKind(TCloudFailure::Other, u"Not a folder: "_s + parentPath);
    TGDFileInfo existing;
    if (Resolve(clean, existing)) {
        if (existing.IsDir())
            return FailKind(TCloudFailure::FolderExists, u"The folder already exists: "_s + clean);
        return FailKind(TCloudFailure::Other, u"A file of this name exists: "_s + clean);
    }
    if (FFailure != TCloudFailure::NotFound)
        return false;
    TGDFileInfo made;
    if (!CreateFolder(name, parent.ID, made)) {
        if (FFailure == TCloudFailure::NotFound)
            Forget(parentPath); // gone since it was listed
        return false;
    }
    made.ParentID = parent.ID;
    Record(clean, made);
    FListed.insert(clean); // new: nothing in it
    return true;
}

bool TGoogleDrive::DeleteItem(const QString& path) {
    FUserCancelled = false;
    TGDFileInfo item;
    if (!Resolve(path, item))
        return false;
    QString parentPath, name;
    SplitPath(path, parentPath, name);
    const QString clean = JoinPath(parentPath, name);
    TGDFileInfo parent;
    QList<TGDFileInfo> all{item};
    // Every item of this name and kind, so that none of them takes the path afterwards.
    if (Resolve(parentPath, parent, false)) {
        QList<TGDFileInfo> found;
        if (!FindByName(parent.ID, name, found))
            return false;
        for (const TGDFileInfo& other : found)
            if (other.ID != item.ID && other.IsDir() == item.IsDir())
                all.append(other);
    }
    for (const TGDFileInfo& one : all) {
        if (!Remove(one) && !(FFailure == TCloudFailure::NotFound && one.ID != item.ID)) {
            if (FFailure == TCloudFailure::NotFound)
                Forget(clean);
            return false;
        }
    }
    Forget(clean);
    return true;
}

bool TGoogleDrive::RenameItem(const QString& path, const QString& newName) {
    FUserCancelled = false;
    const QString name = newName.mid(newName.lastIndexOf(u'/') + 1);
    if (!ValidName(name))
        return FailKind(TCloudFailure::Other, u"Not a valid name: "_s + newName);
    TGDFileInfo item;
    if (!Resolve(path, item))
        return false;
    QString parentPath, oldName;
    SplitPath(path, parentPath, oldName);
    const QString from = JoinPath(parentPath, oldName);
    const QString to = JoinPath(parentPath, name);
    if (from == to)
        return true;
    // The service would keep both under one name; a rename never replaces.
    TGDFileInfo existing;
    if (Resolve(to, existing))
        return FailKind(TCloudFailure::Other, u"An item of this name exists: "_s + to);
    if (FFailure != TCloudFailure::NotFound)
        return false;
    if (!Rename(item, name)) {
        if (FFailure == TCloudFailure::NotFound)
            Forget(from);
        return false;
    }
    Forget(from);
    Record(to, item);
    return true;
}

bool TGoogleDrive::DownloadFile(const QString& path, QIODevice& stream) {
    FUserCancelled = false;
    TGDFileInfo item;
    if (!Resolve(path, item))
        return false;
    if (item.IsDir())
        return FailKind(TCloudFailure::NotFound, u"Not a file: "_s + path);
    if (Download(item, stream))
        return true;
    if (FFailure == TCloudFailure::NotFound) {
        QString parentPath, name;
        SplitPath(path, parentPath, name);
        Forget(JoinPath(parentPath, name));
    }
    return false;
}

bool TGoogleDrive::UploadFile(QIODevice& stream, const QString& path, int64_t chunkSize) {
    FUserCancelled = false;
    QString parentPath, name;
    if (!SplitPath(path, parentPath, name))
        return false;
    const QString clean = JoinPath(parentPath, name);
    TGDFileInfo parent;
    if (!Resolve(parentPath, parent)) {
        if (FFailure == TCloudFailure::NotFound)
            return FailKind(TCloudFailure::NotFound, u"The directory does not exist: "_s + parentPath);
        return false;
    }
    if (!parent.IsDir())
        return FailKind(TCloudFailure::Other, u"Not a folder: "_s + parentPath);
    if (const auto known = FPaths.constFind(clean); known != FPaths.cend() && known->IsDir())
        return FailKind(TCloudFailure::Other, u"A folder of this name exists: "_s + clean);
    TGDFileInfo stored;
    const int sessions = OpenUploadSessions();
    if (!Upload(stream, name, parent.ID, chunkSize > 0 ? chunkSize : DefaultChunkSize, stored)) {
        if (FFailure == TCloudFailure::NotFound && OpenUploadSessions() <= sessions && parentPath != u"/")
            Forget(parentPath); // the folder is gone since it was listed
        return false;
    }
    stored.ParentID = parent.ID;
    // The new file is in place; the old ones of its name go now. One that cannot go stays
    // behind the new file, which the path names (the newest file of a name).
    QList<TGDFileInfo> found;
    if (FindByName(parent.ID, name, found)) {
        for (const TGDFileInfo& other : found)
            if (!other.IsDir() && other.ID != stored.ID)
                Remove(other);
    }
    if (const auto known = FPaths.constFind(clean); known == FPaths.cend() || !known->IsDir())
        Record(clean, stored);
    FError.clear();
    FFailure = TCloudFailure::Other;
    return true;
}
