#include "cloud/TOneDrive.h"

#include "storage/SharePath.h"

#include <QBuffer>
#include <QFileDevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString CancelledText = QStringLiteral("Cancelled");
const QString InvalidCharacters = QStringLiteral("\"*:<>?/\\|");

QDateTime ParseTime(const QJsonValue& value) {
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (time.isValid())
        time = time.toUTC();
    return time;
}

// The part of an answer body that may stand in an error line: one line, printable, short.
QString BodySummary(const QByteArray& body) {
    QString text = QString::fromUtf8(body.left(300)).simplified();
    text.removeIf([](QChar c) { return !c.isPrint(); });
    return text;
}

QString LastComponent(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString ParentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Whole names the service keeps for itself (letter case ignored); device names also with an
// extension, as Windows, where the files may be synchronised to, refuses them too.
bool IsReservedWholeName(const QString& name) {
    const QString lower = name.toLower();
    if (lower == u".lock" || lower == u"desktop.ini" || lower.startsWith(u"~$"))
        return true;
    const QString stem = lower.left(lower.indexOf(u'.'));
    static const QStringList devices = [] {
        QStringList list{u"con"_s, u"prn"_s, u"aux"_s, u"nul"_s};
        for (int i = 0; i <= 9; ++i)
            list << u"com"_s + QString::number(i) << u"lpt"_s + QString::number(i);
        return list;
    }();
    return devices.contains(stem);
}

// "a-b" or "a-" of nextExpectedRanges; false when the text is neither.
bool ParseRange(const QString& text, int64_t& start, int64_t& end) {
    const qsizetype dash = text.indexOf(u'-');
    if (dash <= 0)
        return false;
    bool ok = false;
    start = text.left(dash).toLongLong(&ok);
    if (!ok || start < 0)
        return false;
    const QString tail = text.mid(dash + 1);
    if (tail.isEmpty()) {
        end = -1;
        return true;
    }
    end = tail.toLongLong(&ok);
    return ok && end >= start;
}

} // namespace

TODFileInfo TODFileInfo::FromJson(const QJsonObject& object) {
    TODFileInfo info;
    info.Title = object.value(u"name").toString();
    const auto take = [&info](const QJsonObject& part) {
        info.ID = part.value(u"id").toString();
        const QJsonValue size = part.value(u"size");
        info.Size = size.isString() ? size.toString().toULongLong() : uint64_t(std::max<qint64>(0, size.toInteger()));
        info.IsDir = part.contains(u"folder");
        info.Modified = ParseTime(part.value(u"lastModifiedDateTime"));
        const QJsonObject times = part.value(u"fileSystemInfo").toObject();
        info.FileSystemCreated = ParseTime(times.value(u"createdDateTime"));
        info.FileSystemModified = ParseTime(times.value(u"lastModifiedDateTime"));
        const QString drive = part.value(u"parentReference").toObject().value(u"driveId").toString();
        if (!drive.isEmpty())
            info.DriveID = drive;
    };
    take(object);
    info.IsShared = object.contains(u"shared");
    if (object.contains(u"remoteItem")) {
        const QJsonObject remote = object.value(u"remoteItem").toObject();
        info.LocalID = info.ID;
        take(remote);
        info.IsShared = info.IsShared || remote.contains(u"shared");
    }
    return info;
}

QString TODFileInfo::GetDriveID() const {
    if (!DriveID.isEmpty())
        return DriveID;
    const qsizetype bang = ID.indexOf(u'!');
    return bang > 0 ? ID.left(bang) : QStringLiteral("me");
}

QString ToOneDriveName(const QString& name) {
    QString mapped = ToShareName(name); // \ : * ? " < > |
    if (mapped.isEmpty())
        return mapped;
    // "/" cannot stand in a name the program gives; mapped all the same, should one come.
    for (QChar& c : mapped)
        if (c == u'/')
            c = ToPrivateNameChar(u'/');
    for (qsizetype at = mapped.indexOf(u"_vti_", 0, Qt::CaseInsensitive); at >= 0;
         at = mapped.indexOf(u"_vti_", at + 1, Qt::CaseInsensitive))
        mapped[at] = ToPrivateNameChar(u'_');
    if (IsReservedWholeName(mapped))
        mapped[0] = ToPrivateNameChar(mapped[0].unicode());
    if (mapped.front() == u' ')
        mapped[0] = ToPrivateNameChar(u' ');
    if (mapped.back() == u' ' || mapped.back() == u'.')
        mapped[mapped.size() - 1] = ToPrivateNameChar(mapped.back().unicode());
    return mapped;
}

QString FromOneDriveName(const QString& stored) {
    // Every private character read back; that is the original exactly when mapping it again
    // gives the stored name. Otherwise the name came from elsewhere with private characters of
    // its own, and only those of the share mapping are read back.
    QString candidate = stored;
    bool any = false;
    for (QChar& c : candidate) {
        if (const char16_t original = FromPrivateNameChar(c); original >= 0x20) {
            c = QChar(original);
            any = true;
        }
    }
    if (!any)
        return stored;
    if (ToOneDriveName(candidate) == stored)
        return candidate;
    return FromShareName(stored);
}

QString OneDriveNameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("empty name");
    if (std::any_of(name.begin(), name.end(), [](QChar c) { return InvalidCharacters.contains(c); }))
        return QStringLiteral("invalid characters");
    if (name.back() == u'.' || name.back() == u' ')
        return QStringLiteral("invalid trailing character");
    if (name.front() == u' ')
        return QStringLiteral("invalid leading character");
    if (IsReservedWholeName(name) || name.contains(u"_vti_", Qt::CaseInsensitive))
        return QStringLiteral("reserved name");
    return {};
}

QString TOneDrive::JobScopes() {
    return QStringLiteral("Files.ReadWrite offline_access User.Read Sites.ReadWrite.All");
}

TOneDrive::TOneDrive(TCloudEndpoints endpoints)
    : FEndpoints(std::move(endpoints)) {
    Scopes = JobScopes();
    FHttp.ConnectTimeoutMs = 60000;
    FHttp.ReadTimeoutSeconds = 180;
}

QString TOneDrive::StoredPath(const QString& path) {
    QString stored;
    for (const QString& name : path.split(u'/', Qt::SkipEmptyParts))
        stored += u'/' + ToOneDriveName(name);
    return stored.isEmpty() ? QStringLiteral("/") : stored;
}

QString TOneDrive::ItemUrl(const QString& storedPath, const QString& below) const {
    QString url = FEndpoints.OneDriveGraph + QStringLiteral("/me/drive/root");
    QString encoded;
    for (const QString& name : storedPath.split(u'/', Qt::SkipEmptyParts))
        encoded += u'/' + QString::fromLatin1(QUrl::toPercentEncoding(name));
    if (encoded.isEmpty())
        return below.isEmpty() ? url : url + u'/' + below;
    url += u':' + encoded + u':';
    return below.isEmpty() ? url : url + u'/' + below;
}

bool TOneDrive::SameHostAsGraph(const QString& url) const {
    const QUrl graph(FEndpoints.OneDriveGraph);
    const QUrl other(url);
    return other.isValid() && other.scheme().compare(graph.scheme(), Qt::CaseInsensitive) == 0 &&
           other.host().compare(graph.host(), Qt::CaseInsensitive) == 0 &&
           other.port(graph.scheme() == u"http" ? 80 : 443) == graph.port(graph.scheme() == u"http" ? 80 : 443);
}

QString TOneDrive::NativeClientRedirect() const {
    const QUrl authorize(FEndpoints.OneDriveAuthorize);
    QUrl redirect;
    redirect.setScheme(authorize.scheme());
    redirect.setHost(authorize.host());
    redirect.setPort(authorize.port());
    redirect.setPath(QStringLiteral("/common/oauth2/nativeclient"));
    return redirect.toString(QUrl::FullyEncoded);
}

QString TOneDrive::LoopbackRedirect() const {
    // The application is registered with http://localhost (any port); the listener answers on
    // 127.0.0.1, where the browser's localhost reaches it.
    QUrl redirect(RedirectURI);
    if (THttpClient::IsLoopbackHost(redirect.host()))
        redirect.setHost(QStringLiteral("localhost"));
    return redirect.toString(QUrl::FullyEncoded);
}

QString TOneDrive::AuthorizationUrl(const QString& redirect, const QString& challenge, const QString& state) const {
    QList<QPair<QString, QString>> items{{u"client_id"_s, ClientID},       {u"prompt"_s, u"login"_s},
                                         {u"response_type"_s, u"code"_s},  {u"redirect_uri"_s, redirect},
                                         {u"response_mode"_s, u"query"_s}, {u"scope"_s, Scopes}};
    if (!challenge.isEmpty()) {
        items.append({u"code_challenge"_s, challenge});
        items.append({u"code_challenge_method"_s, u"S256"_s});
    }
    if (!state.isEmpty())
        items.append({u"state"_s, state});
    QString query;
    for (const auto& item : items)
        query += (query.isEmpty() ? QString() : u"&"_s) + item.first + u'=' +
                 QString::fromLatin1(QUrl::toPercentEncoding(item.second));
    QUrl url(FEndpoints.OneDriveAuthorize);
    url.setQuery(query, QUrl::StrictMode);
    return url.toString(QUrl::FullyEncoded);
}

QString TOneDrive::CodeAuthorizationUrl() const {
    return AuthorizationUrl(NativeClientRedirect(), {}, {});
}

bool TOneDrive::Authorize() {
    FAccessToken.clear();
    FFailure = TCloudFailure::Other;
    if (!FRefreshToken.isEmpty()) {
        const TTokenAnswer answer = RequestToken(FHttp, FEndpoints.OneDriveToken,
                                                 {{u"client_id"_s, ClientID},
                                                  {u"scope"_s, Scopes},
                                                  {u"refresh_token"_s, FRefreshToken},
                                                  {u"grant_type"_s, u"refresh_token"_s}});
        if (answer.Ok) {
            FAccessToken = answer.AccessToken;
            if (!answer.RefreshToken.isEmpty())
                FRefreshToken = answer.RefreshToken;
            return true;
        }
        // A refused refresh token (4xx) asks for a new sign-in; anything else is reported.
        if (answer.Status < 400 || answer.Status >= 500)
            return Fail(answer.Error);
    }

    const bool loopback = !RedirectURI.isEmpty();
    const QString redirect = loopback ? LoopbackRedirect() : NativeClientRedirect();
    TPkcePair pkce;
    QString state;
    if (loopback) {
        pkce = MakePkcePair();
        state = RandomState();
    }
    if (!OnAuthorizationCodeRequest)
        return Fail(QStringLiteral("Authorization code request event not assigned"));
    const TCodeAnswer answer = OnAuthorizationCodeRequest(AuthorizationUrl(redirect, pkce.Challenge, state));
    if (!answer.Error.isEmpty())
        return Fail(answer.Error);
    QString code = answer.Code.trimmed();
    if (code == u"cancel")
        return Fail(QStringLiteral("Authorization cancelled"));
    // The native-client page shows the code in its address: a pasted address is read as such.
    if (const qsizetype at = code.indexOf(u"code="); at >= 0) {
        code = code.mid(at + 5);
        code = QUrl::fromPercentEncoding(code.left(code.indexOf(u'&')).toLatin1());
    }
    if (code.isEmpty() || code == u"fail")
        return Fail(QStringLiteral("Authorization failed"));

    QList<QPair<QString, QString>> fields{{u"client_id"_s, ClientID},
                                          {u"scope"_s, Scopes},
                                          {u"code"_s, code},
                                          {u"redirect_uri"_s, redirect},
                                          {u"grant_type"_s, u"authorization_code"_s}};
    if (loopback)
        fields.append({u"code_verifier"_s, pkce.Verifier});
    const TTokenAnswer token = RequestToken(FHttp, FEndpoints.OneDriveToken, fields);
    if (!token.Ok)
        return Fail(token.Error);
    FAccessToken = token.AccessToken;
    if (!token.RefreshToken.isEmpty())
        FRefreshToken = token.RefreshToken;
    return true;
}

THttpResponse TOneDrive::Call(const TCall& call) {
    bool refused = false;
    int busy = 0;
    for (;;) {
        THttpResponse failed;
        if (call.Authenticated && FAccessToken.isEmpty() && !Authorize()) {
            failed.Error = FError;
            return failed;
        }
        THttpRequest request;
        request.Method = call.Method;
        request.Url = call.Url;
        if (call.Authenticated)
            request.BearerToken = FAccessToken.toUtf8();
        request.Headers = call.Headers;
        request.ContentType = call.ContentType;
        request.Body = call.Body;
        if (call.Upload != nullptr) {
            if (!call.Upload->seek(call.UploadPosition)) {
                failed.Error = QStringLiteral("Unable to read the data to upload: ") + call.Upload->errorString();
                return failed;
            }
            request.UploadDevice = call.Upload;
            request.UploadLength = call.UploadLength;
            const int64_t base = call.ProgressBase;
            const int64_t total = call.ProgressTotal > 0 ? call.ProgressTotal : call.UploadLength;
            FHttp.OnProgress = [this, base, total](int64_t done, int64_t) {
                return !OnUploadProgress || OnUploadProgress(base + done, total);
            };
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
        }
        THttpResponse response = FHttp.Send(request);
        FHttp.OnProgress = {};
        if (response.Cancelled) {
            FUserCancelled = true;
            FError = CancelledText;
            return response;
        }
        if (call.Authenticated && (response.Status == 401 || response.Status == 403) && !refused) {
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

bool TOneDrive::FailWith(const THttpResponse& response) {
    if (FUserCancelled || response.Cancelled)
        return Fail(CancelledText);
    if (response.Status == 0)
        return Fail(response.Error.isEmpty() ? FError : response.Error);
    if (response.Status == 404)
        FFailure = TCloudFailure::NotFound;
    // Graph's error answer: {"error": {"code": ..., "message": ...}}.
    const QJsonObject error = QJsonDocument::fromJson(response.Body).object().value(u"error").toObject();
    const QString code = error.value(u"code").toString();
    const QString message = error.value(u"message").toString();
    QString text = QStringLiteral("HTTP error %1").arg(response.Status);
    if (!code.isEmpty())
        text += u": "_s + code + (message.isEmpty() ? QString() : u" ("_s + message + u')');
    else if (const QString summary = BodySummary(response.Body); !summary.isEmpty())
        text += u": "_s + summary;
    return Fail(text);
}

bool TOneDrive::JsonCall(const TCall& call, QJsonObject& result) {
    FUserCancelled = false;
    FFailure = TCloudFailure::Other;
    const THttpResponse response = Call(call);
    if (!response.Ok())
        return FailWith(response);
    if (response.Status == 204) {
        result = {};
        return true;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(response.Body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return Fail(QStringLiteral("The service's answer cannot be read: ") + error.errorString());
    result = document.object();
    return true;
}

bool TOneDrive::ListItems(const QString& path, QList<TCloudItem>& items) {
    items.clear();
    QList<TODFileInfo> entries;
    if (!ListChildren(StoredPath(path), entries))
        return false;
    for (const TODFileInfo& entry : entries)
        items.append({FromOneDriveName(entry.Title), entry.IsDir, entry.Size, entry.Modified});
    return true;
}

bool TOneDrive::StatItem(const QString& path, TCloudItem& item) {
    TODFileInfo info;
    if (!GetItem(StoredPath(path), info))
        return false;
    item = {FromOneDriveName(info.Title), info.IsDir, info.Size, info.Modified};
    return true;
}

bool TOneDrive::MakeFolder(const QString& path) {
    const QString stored = StoredPath(path);
    if (stored == u"/")
        return true;
    if (CreateFolder(LastComponent(stored), ParentOf(stored)))
        return true;
    if (FFailure != TCloudFailure::NotFound)
        return false;
    // The service makes no missing parents of a folder: make them, then this one.
    const QString parent = ParentOf(path);
    if (!MakeFolder(parent)) {
        if (FFailure != TCloudFailure::FolderExists)
            return false;
        TCloudItem item;
        if (!StatItem(parent, item))
            return false;
        if (!item.IsDir)
            return Fail(QStringLiteral("A file stands where a folder is to be made: ") + parent);
    }
    return CreateFolder(LastComponent(stored), ParentOf(stored));
}

bool TOneDrive::UploadFile(QIODevice& stream, const QString& path, int64_t chunkSize) {
    int64_t fragment = chunkSize > 0 ? chunkSize / FragmentUnit * FragmentUnit : DefaultFragmentSize;
    fragment = std::clamp(fragment, FragmentUnit, MaxFragmentSize);
    return UploadResumable(stream, StoredPath(path), fragment);
}

bool TOneDrive::ListChildren(const QString& storedPath, QList<TODFileInfo>& entries) {
    entries.clear();
    TCall call;
    call.Url = ItemUrl(storedPath, u"children"_s);
    QStringList seen;
    for (;;) {
        QJsonObject page;
        if (!JsonCall(call, page))
            return false;
        const QJsonValue value = page.value(u"value");
        if (value.isArray()) {
            for (const QJsonValue entry : value.toArray())
                entries.append(TODFileInfo::FromJson(entry.toObject()));
        } else {
            entries.append(TODFileInfo::FromJson(page));
        }
        const QString next = page.value(u"@odata.nextLink").toString();
        if (next.isEmpty())
            break;
        // The next page is fetched with the token: only from the service the token is for.
        if (!SameHostAsGraph(next))
            return Fail(QStringLiteral("The listing's next page is on another host: ") + QUrl(next).host());
        if (seen.contains(next))
            return Fail(QStringLiteral("The listing's pages repeat."));
        seen.append(next);
        call.Url = next;
    }
    std::stable_sort(entries.begin(), entries.end(), [](const TODFileInfo& a, const TODFileInfo& b) {
        if (a.IsDir != b.IsDir)
            return a.IsDir;
        return a.Title.compare(b.Title, Qt::CaseInsensitive) < 0;
    });
    return true;
}

bool TOneDrive::GetItem(const QString& storedPath, TODFileInfo& info) {
    TCall call;
    call.Url = ItemUrl(storedPath);
    QJsonObject result;
    if (!JsonCall(call, result))
        return false;
    info = TODFileInfo::FromJson(result);
    return true;
}

bool TOneDrive::CreateFolder(const QString& name, const QString& parentStoredPath, TODFileInfo* info) {
    FFailure = TCloudFailure::Other;
    if (const QString problem = OneDriveNameProblem(name); !problem.isEmpty())
        return Fail(problem);
    TCall call;
    call.Method = "POST";
    call.Url = ItemUrl(parentStoredPath, u"children"_s);
    THttpRequest body;
    body.SetJsonBody(QJsonObject{
        {u"name"_s, name}, {u"folder"_s, QJsonObject()}, {u"@microsoft.graph.conflictBehavior"_s, u"fail"_s}});
    call.Body = body.Body;
    call.ContentType = "application/json; charset=UTF-8";
    FUserCancelled = false;
    const THttpResponse response = Call(call);
    if (response.Status == 409) {
        FailWith(response);
        FFailure = TCloudFailure::FolderExists;
        return false;
    }
    if (response.Status != 200 && response.Status != 201)
        return FailWith(response);
    if (info != nullptr)
        *info = TODFileInfo::FromJson(QJsonDocument::fromJson(response.Body).object());
    return true;
}

bool TOneDrive::Delete(const QString& storedPath) {
    if (storedPath == u"/")
        return Fail(QStringLiteral("The drive's root cannot be removed."));
    TCall call;
    call.Method = "DELETE";
    call.Url = ItemUrl(storedPath);
    QJsonObject result;
    return JsonCall(call, result);
}

bool TOneDrive::Rename(const QString& storedPath, const QString& newName, TODFileInfo* info) {
    FFailure = TCloudFailure::Other;
    if (const QString problem = OneDriveNameProblem(newName); !problem.isEmpty())
        return Fail(problem);
    if (storedPath == u"/")
        return Fail(QStringLiteral("The drive's root cannot be renamed."));
    TCall call;
    call.Method = "PATCH";
    call.Url = ItemUrl(storedPath);
    THttpRequest body;
    body.SetJsonBody(QJsonObject{{u"name"_s, newName}}); // an existing item of the name: 409, never replaced
    call.Body = body.Body;
    call.ContentType = "application/json; charset=UTF-8";
    QJsonObject result;
    if (!JsonCall(call, result))
        return false;
    if (info != nullptr)
        *info = TODFileInfo::FromJson(result);
    return true;
}

bool TOneDrive::Download(const QString& storedPath, QIODevice& stream) {
    FUserCancelled = false;
    FFailure = TCloudFailure::Other;
    TCall call;
    call.Url = ItemUrl(storedPath, u"content"_s);
    call.Download = &stream;
    const THttpResponse first = Call(call);
    if (first.Ok())
        return true;
    if (first.Status != 302 && first.Status != 307 && first.Status != 301 && first.Status != 303)
        return FailWith(first);
    // The content is at a pre-authenticated address, mostly on another host: it gets no token.
    const QString location = QString::fromLatin1(first.Header("location"));
    const QString target = QUrl(call.Url).resolved(QUrl(location)).toString(QUrl::FullyEncoded);
    QString why;
    if (location.isEmpty() || !THttpClient::AddressAllowed(target, &why))
        return Fail(QStringLiteral("The download address cannot be used: ") + (location.isEmpty() ? location : why));
    TCall content;
    content.Url = target;
    content.Authenticated = false;
    content.Download = &stream;
    const THttpResponse response = Call(content);
    if (!response.Ok())
        return FailWith(response);
    return true;
}

bool TOneDrive::Upload(QIODevice& stream, const QString& storedPath, TODFileInfo* info) {
    FFailure = TCloudFailure::Other;
    if (const QString problem = OneDriveNameProblem(LastComponent(storedPath)); !problem.isEmpty())
        return Fail(problem);
    const int64_t size = stream.size();
    if (size > MaxSimpleUploadSize)
        return Fail(QStringLiteral("Can not directly upload files larger than 4 Mb"));
    TCall call;
    call.Method = "PUT";
    call.Url = ItemUrl(storedPath, u"content"_s) + u"?@microsoft.graph.conflictBehavior=replace"_s;
    call.ContentType = "application/octet-stream";
    call.Upload = &stream;
    call.UploadLength = size;
    QJsonObject result;
    if (!JsonCall(call, result))
        return false;
    if (info != nullptr)
        *info = TODFileInfo::FromJson(result);
    return true;
}

void TOneDrive::ForgetSession(const QString& uploadUrl) {
    FResumableUploads.removeIf([&](const QPair<QString, QString>& entry) { return entry.first == uploadUrl; });
}

bool TOneDrive::UploadResumable(QIODevice& stream, const QString& storedPath, int64_t fragmentSize, TODFileInfo* info) {
    FFailure = TCloudFailure::Other;
    FUserCancelled = false;
    const QString name = LastComponent(storedPath);
    if (const QString problem = OneDriveNameProblem(name); !problem.isEmpty())
        return Fail(problem);
    if (fragmentSize > MaxFragmentSize)
        return Fail(QStringLiteral("OneDrive API does not allow fragments larger than 60MB"));
    if (fragmentSize <= 0 || fragmentSize % FragmentUnit != 0)
        return Fail(QStringLiteral("Fragment size MUST be a multiple of 320 KiB (327,680 bytes)"));
    const int64_t size = stream.size();
    // A session cannot take an empty file: it goes in one request.
    if (size == 0)
        return Upload(stream, storedPath, info);

    QString uploadUrl;
    for (auto it = FResumableUploads.crbegin(); it != FResumableUploads.crend(); ++it) {
        if (it->second == storedPath) {
            uploadUrl = it->first;
            break;
        }
    }
    int64_t start = -1, end = -1;
    int restarts = 0, statusQueries = 0;
    const auto restart = [&]() {
        ForgetSession(uploadUrl);
        uploadUrl.clear();
        start = end = -1;
        return ++restarts <= MaxSessionRestarts;
    };
    // Reads uploadUrl and nextExpectedRanges of a session answer.
    const auto readSession = [&](const QByteArray& body) {
        const QJsonObject json = QJsonDocument::fromJson(body).object();
        const QString url = json.value(u"uploadUrl").toString();
        if (!url.isEmpty() && url != uploadUrl) {
            uploadUrl = url;
            FResumableUploads.append({uploadUrl, storedPath});
        }
        const QJsonArray ranges = json.value(u"nextExpectedRanges").toArray();
        if (!ranges.isEmpty() && !ParseRange(ranges.first().toString(), start, end))
            return Fail(QStringLiteral("The service gave an upload range that cannot be read: ") +
                        ranges.first().toString());
        return true;
    };

    for (;;) {
        if (uploadUrl.isEmpty()) {
            TCall call;
            call.Method = "POST";
            call.Url = ItemUrl(storedPath, u"createUploadSession"_s);
            THttpRequest body;
            body.SetJsonBody(QJsonObject{
                {u"item"_s, QJsonObject{{u"@microsoft.graph.conflictBehavior"_s, u"replace"_s}, {u"name"_s, name}}}});
            call.Body = body.Body;
            call.ContentType = "application/json; charset=UTF-8";
            const THttpResponse response = Call(call);
            if (!response.Ok())
                return FailWith(response);
            start = 0;
            end = -1;
            if (!readSession(response.Body))
                return false;
            if (uploadUrl.isEmpty())
                return Fail(QStringLiteral("The service started no upload session."));
            QString why;
            if (!THttpClient::AddressAllowed(uploadUrl, &why)) {
                ForgetSession(uploadUrl);
                return Fail(QStringLiteral("The upload address cannot be used: ") + why);
            }
            continue;
        }
        if (start < 0) {
            // Where does the session stand? The address is pre-authenticated: no token.
            if (++statusQueries > MaxSessionRestarts + 2)
                return Fail(QStringLiteral("The upload session does not say where it stands."));
            TCall call;
            call.Url = uploadUrl;
            call.Authenticated = false;
            const THttpResponse response = Call(call);
            if (response.Status == 404) {
                if (!restart())
                    return FailWith(response);
                continue;
            }
            if (!response.Ok())
                return FailWith(response);
            if (!readSession(response.Body))
                return false;
            if (start < 0) // no range expected: the session has all bytes yet made no file
                start = size;
            continue;
        }
        if (start >= size) {
            if (!restart())
                return Fail(QStringLiteral("The upload session expects bytes beyond the end of the file."));
            continue;
        }
        const int64_t length = end >= 0 ? std::min(fragmentSize, std::min(end, size - 1) - start + 1)
                                        : std::min(fragmentSize, size - start);
        TCall call;
        call.Method = "PUT";
        call.Url = uploadUrl;
        call.Authenticated = false;
        call.ContentType = "application/octet-stream";
        call.Headers.append({"Content-Range",
                             QStringLiteral("bytes %1-%2/%3").arg(start).arg(start + length - 1).arg(size).toLatin1()});
        call.Upload = &stream;
        call.UploadPosition = start;
        call.UploadLength = length;
        call.ProgressBase = start;
        call.ProgressTotal = size;
        const THttpResponse response = Call(call);
        if (response.Status == 200 || response.Status == 201) {
            ForgetSession(uploadUrl);
            if (info != nullptr)
                *info = TODFileInfo::FromJson(QJsonDocument::fromJson(response.Body).object());
            return true;
        }
        if (response.Status == 202) {
            const int64_t sent = start + length;
            start = sent;
            end = -1;
            if (!readSession(response.Body))
                return false;
            continue;
        }
        if (response.Status == 404) {
            // The session expired or was ended: a new one takes the whole file again.
            if (!restart())
                return FailWith(response);
            continue;
        }
        if (response.Status == 416) {
            // The service has bytes of this fragment already (an answer was lost): ask.
            start = end = -1;
            continue;
        }
        return FailWith(response);
    }
}

bool TOneDrive::GetUserName(QString& name) {
    if (FUserName.isEmpty()) {
        TCall call;
        call.Url = FEndpoints.OneDriveGraph + QStringLiteral("/me/drive");
        QJsonObject result;
        if (!JsonCall(call, result))
            return false;
        FDriveID = result.value(u"id").toString();
        FUserName = result.value(u"owner").toObject().value(u"user").toObject().value(u"displayName").toString();
    }
    name = FUserName;
    return true;
}
