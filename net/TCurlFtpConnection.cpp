#include "net/TCurlFtpConnection.h"

#include "net/CurlGlobal.h"
#include "net/FtpListing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QUrl>
#include <QUuid>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

struct TCurlFtpConnection::TCall {
    TRequest Request = TRequest::Command;
    QByteArray Url;
    QByteArray CustomRequest; // MLSD instead of LIST
    bool NamesOnly = false;   // NLST
    curl_slist* Quote = nullptr;
    QIODevice* Source = nullptr; // uploads
    int64_t SourceSize = 0;
    QIODevice* Target = nullptr;  // downloads
    QByteArray* Buffer = nullptr; // listings
    int64_t ResumeFrom = 0;
    bool WriteFailed = false;
    ~TCall() { curl_slist_free_all(Quote); }
};

namespace {

// A listing larger than this is not a listing a backup needs; it bounds the memory a hostile
// server can make us use.
constexpr qsizetype MaxListingBytes = 256 * 1024 * 1024;

bool HasLineBreakOrNul(const QString& text) {
    for (const QChar c : text)
        if (c == u'\r' || c == u'\n' || c == u'\0')
            return true;
    return false;
}

// A reply line as one printable line: the server's text goes into our messages only like this.
QString Printable(const QByteArray& line) {
    QString text = QString::fromUtf8(line).trimmed();
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    return text;
}

bool ParsePort(const QString& text, int& port) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

// Collapses "." and ".." and doubled separators; keeps a leading "/".
QString Normalized(const QString& path) {
    const bool absolute = path.startsWith(u'/');
    QStringList parts;
    for (const QString& part : path.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u'.')
            continue;
        if (part == QStringLiteral("..")) {
            if (!parts.isEmpty() && parts.last() != QStringLiteral(".."))
                parts.removeLast();
            else if (!absolute)
                parts.append(part);
            continue;
        }
        parts.append(part);
    }
    const QString joined = parts.join(u'/');
    return absolute ? u'/' + joined : joined;
}

// A request that fails this way leaves the control connection usable.
bool KeepsConnection(CURLcode code) {
    switch (code) {
    case CURLE_OK:
    case CURLE_QUOTE_ERROR:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_UPLOAD_FAILED:
    case CURLE_FTP_COULDNT_RETR_FILE:
        return true;
    default:
        return false;
    }
}

} // namespace

bool TCurlFtpConnection::ActiveTlsIsBroken() {
    // libcurl 7.87 and 7.88 open an active-mode data connection without TLS, so the server's
    // handshake fails (fixed in 8.0).
    const unsigned version = curl_version_info(CURLVERSION_NOW)->version_num;
    return version >= 0x075700 && version < 0x080000;
}

TCurlFtpConnection::TCurlFtpConnection(TFtpConnectSettings settings)
    : FSettings(std::move(settings)) {}

TCurlFtpConnection::~TCurlFtpConnection() {
    ReleaseHandles();
}

void TCurlFtpConnection::ReleaseHandles() {
    if (FHandle) {
        curl_easy_cleanup(FHandle);
        FHandle = nullptr;
    }
    if (FMulti) {
        // Closing the multi handle's connections sends QUIT on one that is still up.
        curl_multi_cleanup(FMulti);
        FMulti = nullptr;
    }
}

bool TCurlFtpConnection::Fail(const QString& text) {
    FErrorText = text;
    return false;
}

QString TCurlFtpConnection::ErrorText() const {
    return FErrorText;
}

bool TCurlFtpConnection::Connected() const {
    return FConnected;
}

bool TCurlFtpConnection::Aborted() const {
    return FAborted;
}

bool TCurlFtpConnection::Connect() {
    FErrorText.clear();
    FAborted = false;
    FLastReplyCode = 0;
    ReleaseHandles();
    FConnected = false;
    FProxyUrl.clear();
    if (CurlUrlHost(FSettings.Host).isEmpty())
        return Fail(QStringLiteral("Invalid FTP server name: ") + Printable(FSettings.Host.toUtf8()));
    if (FSettings.Port < 1 || FSettings.Port > 65535)
        return Fail(QStringLiteral("Invalid FTP port: %1").arg(FSettings.Port));
    if (HasLineBreakOrNul(FSettings.Username) || HasLineBreakOrNul(FSettings.Password))
        return Fail(QStringLiteral("The user name or password holds a line break."));
    const TProxyOptions& proxy = FSettings.Proxy;
    if (proxy.Enabled) {
        const char* scheme = nullptr;
        switch (proxy.PrType) {
        case 0:
            scheme = "http://";
            break;
        case 1:
            scheme = "socks4://";
            break;
        case 2:
            scheme = "socks5h://"; // the proxy resolves the name, as a client behind it may have no DNS
            break;
        default:
            break; // an unknown kind of proxy: none, as before
        }
        if (scheme) {
            const QByteArray host = CurlUrlHost(proxy.Host);
            if (host.isEmpty())
                return Fail(QStringLiteral("Invalid proxy server name: ") + Printable(proxy.Host.toUtf8()));
            int port = 0;
            if (!ParsePort(proxy.Port, port))
                return Fail(QStringLiteral("The proxy port is not a number: ") + Printable(proxy.Port.toUtf8()));
            FProxyUrl = QByteArray(scheme) + host + ':' + QByteArray::number(port);
        }
    }
    EnsureCurlGlobalInit();
    if (FSettings.FTPS && !FSettings.PassiveMode && ActiveTlsIsBroken())
        return Fail(QStringLiteral("Active mode over TLS does not work with the libcurl %1 of this computer; choose "
                                   "passive mode for this account.")
                        .arg(QString::fromLatin1(curl_version_info(CURLVERSION_NOW)->version)));
    FHandle = curl_easy_init();
    FMulti = curl_multi_init();
    if (!FHandle || !FMulti) {
        ReleaseHandles();
        return Fail(QStringLiteral("Unable to start the FTP session."));
    }
    FHome.clear();
    FCurrent.clear();
    QList<QByteArray> replies;
    // "*": a server without FEAT is fine; it then has no MLSD either.
    if (!Commands({QByteArrayLiteral("*FEAT")}, &replies))
        return false;
    FHasMlsd = false;
    for (const QByteArray& line : std::as_const(replies))
        if (line.trimmed().toUpper().startsWith("MLST"))
            FHasMlsd = true;
    char* entry = nullptr;
    if (curl_easy_getinfo(FHandle, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
        FHome = QString::fromUtf8(entry);
    if (FHome.isEmpty() || HasLineBreakOrNul(FHome))
        FHome = QStringLiteral("/");
    FCurrent = FHome;
    FConnected = true;
    return true;
}

bool TCurlFtpConnection::Disconnect() {
    FErrorText.clear();
    ReleaseHandles();
    FConnected = false;
    return true;
}

QString TCurlFtpConnection::Resolve(const QString& path) {
    if (HasLineBreakOrNul(path)) {
        Fail(QStringLiteral("The path holds a line break or NUL: ") + Printable(path.toUtf8()));
        return {};
    }
    const QString base = FCurrent.isEmpty() ? FHome : FCurrent;
    QString full = path.startsWith(u'/') ? path : base + u'/' + path;
    full = Normalized(full);
    if (full.isEmpty())
        full = QStringLiteral(".");
    return full;
}

QByteArray TCurlFtpConnection::Url(const QString& path, bool folder) const {
    QByteArray url = "ftp://" + CurlUrlHost(FSettings.Host) + ':' + QByteArray::number(FSettings.Port) + '/';
    QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (path.startsWith(u'/'))
        url += "%2F";
    QList<QByteArray> encoded;
    for (const QString& part : std::as_const(parts))
        encoded.append(QUrl::toPercentEncoding(part));
    url += encoded.join('/');
    if (folder && !encoded.isEmpty())
        url += '/';
    return url;
}

bool TCurlFtpConnection::Setup(TCall& call) {
    CURL* h = FHandle;
    // Resetting keeps the live connection and the TLS session.
    curl_easy_reset(h);
    FErrorBuffer[0] = '\0';
    CURLcode setup = CURLE_OK;
    auto set = [&setup](CURLcode code) {
        if (setup == CURLE_OK)
            setup = code;
    };
    set(curl_easy_setopt(h, CURLOPT_URL, call.Url.constData()));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp"));
    set(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, FErrorBuffer));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    // A server that stops answering would otherwise hold the job for good.
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L));
    set(curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, 300L));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 300L));
    // The password goes only through these options, never into a URL.
    const QByteArray user = FSettings.Username.toUtf8();
    const QByteArray password = FSettings.Password.toUtf8();
    set(curl_easy_setopt(h, CURLOPT_USERNAME, user.isEmpty() ? "anonymous" : user.constData()));
    set(curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData()));
    // Every command names the whole path: no CWD before each transfer and none back to the home
    // folder before the next command (two round trips per file saved).
    set(curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD)));
    set(curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 1L));
    // A passive reply may name another host; the data connection goes to the control
    // connection's address all the same, so a server cannot aim us elsewhere.
    set(curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L));
    set(curl_easy_setopt(h, CURLOPT_FTPPORT, FSettings.PassiveMode ? nullptr : "-"));
    set(curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L));
    if (FSettings.FTPS) {
        // Explicit TLS on the control and the data channel; a server that refuses TLS fails the
        // login rather than receiving the password in clear text.
        set(curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_ALL)));
        set(curl_easy_setopt(h, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_DEFAULT)));
        // TLS 1.2 only: over TLS 1.3 the server sends session tickets after the handshake, which
        // libcurl leaves unread when it closes an upload's data connection; the kernel then
        // resets the connection and the server drops the upload ("426 Failure reading network
        // stream", every second upload to vsftpd here).
        set(curl_easy_setopt(h, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2) | long(CURL_SSLVERSION_MAX_TLSv1_2)));
        // FTP servers of small offices mostly have self-signed certificates and the account has
        // no place to trust one.
        set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L));
        set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L));
    } else {
        set(curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_NONE)));
    }
    // Empty: no proxy, not even one from the environment.
    set(curl_easy_setopt(h, CURLOPT_PROXY, FProxyUrl.constData()));
    const QByteArray proxyUser = FSettings.Proxy.Username.toUtf8();
    const QByteArray proxyPassword = FSettings.Proxy.Password.toUtf8();
    if (!FProxyUrl.isEmpty()) {
        // Through an HTTP proxy FTP works only in a CONNECT tunnel: without it the proxy answers
        // with a page of its own and libcurl reports success with nothing sent.
        if (FSettings.Proxy.PrType == 0) {
            set(curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 1L));
            set(curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
        }
        if (!FSettings.Proxy.Username.isEmpty()) {
            set(curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxyUser.constData()));
            set(curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxyPassword.constData()));
        }
    }
    set(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &TCurlFtpConnection::OnHeader));
    set(curl_easy_setopt(h, CURLOPT_HEADERDATA, this));
    if (OnStatus) {
        set(curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &TCurlFtpConnection::OnDebug));
        set(curl_easy_setopt(h, CURLOPT_DEBUGDATA, this));
        set(curl_easy_setopt(h, CURLOPT_VERBOSE, 1L));
    }
    if (call.Quote)
        set(curl_easy_setopt(h, CURLOPT_QUOTE, call.Quote));
    switch (call.Request) {
    case TRequest::Command:
        set(curl_easy_setopt(h, CURLOPT_NOBODY, 1L));
        break;
    case TRequest::Listing:
        if (!call.CustomRequest.isEmpty())
            set(curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, call.CustomRequest.constData()));
        if (call.NamesOnly)
            set(curl_easy_setopt(h, CURLOPT_DIRLISTONLY, 1L));
        set(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &TCurlFtpConnection::OnWrite));
        set(curl_easy_setopt(h, CURLOPT_WRITEDATA, &call));
        break;
    case TRequest::Download:
        set(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &TCurlFtpConnection::OnWrite));
        set(curl_easy_setopt(h, CURLOPT_WRITEDATA, &call));
        if (call.ResumeFrom > 0)
            set(curl_easy_setopt(h, CURLOPT_RESUME_FROM_LARGE, curl_off_t(call.ResumeFrom)));
        break;
    case TRequest::Upload:
        set(curl_easy_setopt(h, CURLOPT_UPLOAD, 1L));
        set(curl_easy_setopt(h, CURLOPT_READFUNCTION, &TCurlFtpConnection::OnRead));
        set(curl_easy_setopt(h, CURLOPT_READDATA, &call));
        set(curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(call.SourceSize)));
        set(curl_easy_setopt(h, CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_NONE)));
        break;
    }
    if (call.Request == TRequest::Upload || call.Request == TRequest::Download) {
        set(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
        set(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TCurlFtpConnection::OnTransferInfo));
        set(curl_easy_setopt(h, CURLOPT_XFERINFODATA, this));
    }
    if (setup != CURLE_OK)
        return Fail(QStringLiteral("Unable to set up the FTP request: ") +
                    QString::fromUtf8(curl_easy_strerror(setup)));
    return true;
}

namespace {

// Runs the prepared request of handle to its end on multi, which keeps the connection after it.
CURLcode RunRequest(CURLM* multi, CURL* handle) {
    if (curl_multi_add_handle(multi, handle) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    bool done = false;
    int wait = 1;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
                result = message->data.result;
                done = true;
            }
        }
        if (done || running == 0)
            break;
        int ready = 0;
        if (curl_multi_poll(multi, nullptr, 0, wait, &ready) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        // libcurl may read a quick server's passive-mode reply in the same step as it sends the
        // request and then start the data connection without a socket or timer to wake it (it
        // waited a whole second per file here, as curl_easy_perform does). A short wait after
        // any activity, doubling while nothing happens, keeps that from stalling a transfer.
        wait = ready > 0 ? 1 : std::min(wait * 2, 1000);
    }
    curl_multi_remove_handle(multi, handle);
    return result;
}

} // namespace

bool TCurlFtpConnection::Perform(TCall& call) {
    FErrorText.clear();
    FAborted = false;
    FLastReplyCode = 0;
    FReplies.clear();
    FUploading = call.Request == TRequest::Upload;
    if (!FHandle)
        return Fail(QStringLiteral("Not connected."));
    if (!Setup(call))
        return false;
    const CURLcode result = RunRequest(FMulti, FHandle);
    // The handle keeps pointers to this call's buffers; the next request sets them anew.
    if (!KeepsConnection(result))
        FConnected = false;
    if (result == CURLE_OK)
        return true;
    if (result == CURLE_ABORTED_BY_CALLBACK || FAborted) {
        FAborted = true;
        return Fail(QStringLiteral("The transfer was cancelled."));
    }
    if (result == CURLE_USE_SSL_FAILED)
        return Fail(QStringLiteral("The server refused TLS; the connection was not continued without it."));
    if (call.WriteFailed && call.Target)
        return Fail(call.Target->errorString());
    if (FLastReplyCode >= 400 && !FReplies.isEmpty())
        return Fail(Printable(FReplies.last()));
    const QString detail =
        FErrorBuffer[0] != '\0' ? QString::fromUtf8(FErrorBuffer) : QString::fromUtf8(curl_easy_strerror(result));
    return Fail(Printable(detail.toUtf8()));
}

size_t TCurlFtpConnection::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* connection = static_cast<TCurlFtpConnection*>(self);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (connection->FReplies.size() < 10000)
        connection->FReplies.append(line);
    // "NNN text" ends a reply; "NNN-text" and indented lines continue one.
    if (line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && std::isdigit(uchar(line[1])) &&
        std::isdigit(uchar(line[2])) && (line.size() == 3 || line[3] == ' '))
        connection->FLastReplyCode = line.left(3).toInt();
    return size * count;
}

size_t TCurlFtpConnection::OnWrite(char* data, size_t size, size_t count, void* callPointer) {
    auto* call = static_cast<TCall*>(callPointer);
    const size_t total = size * count; // libcurl passes size 1: no overflow
    const auto bytes = qsizetype(total);
    if (call->Buffer) {
        if (call->Buffer->size() + bytes > MaxListingBytes)
            return 0;
        call->Buffer->append(data, bytes);
        return size * count;
    }
    if (!call->Target || call->Target->write(data, bytes) != bytes) {
        call->WriteFailed = true;
        return 0;
    }
    return size * count;
}

size_t TCurlFtpConnection::OnRead(char* data, size_t size, size_t count, void* callPointer) {
    auto* call = static_cast<TCall*>(callPointer);
    const size_t room = size * count;
    const qint64 got = call->Source->read(data, qint64(room));
    if (got < 0)
        return CURL_READFUNC_ABORT;
    return size_t(got);
}

int TCurlFtpConnection::OnTransferInfo(void* self, int64_t dlTotal, int64_t dlNow, int64_t ulTotal, int64_t ulNow) {
    auto* connection = static_cast<TCurlFtpConnection*>(self);
    if (!connection->OnProgress)
        return 0;
    const bool go =
        connection->FUploading ? connection->OnProgress(ulNow, ulTotal) : connection->OnProgress(dlNow, dlTotal);
    if (!go) {
        connection->FAborted = true;
        return 1;
    }
    return 0;
}

int TCurlFtpConnection::OnDebug(CURL*, int type, char* data, size_t size, void* self) {
    auto* connection = static_cast<TCurlFtpConnection*>(self);
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT)
        return 0;
    const QList<QByteArray> lines = QByteArray(data, qsizetype(size)).split('\n');
    for (const QByteArray& raw : lines) {
        QByteArray line = raw.trimmed();
        if (line.isEmpty())
            continue;
        if (type == CURLINFO_HEADER_OUT) {
            // The password never reaches a status line.
            if (line.toUpper().startsWith("PASS"))
                line = "PASS ********";
            else if (line.toLower().startsWith("proxy-authorization"))
                line = "Proxy-Authorization: ********";
        }
        connection->OnStatus(Printable(line));
    }
    return 0;
}

bool TCurlFtpConnection::Commands(const QList<QByteArray>& commands, QList<QByteArray>* replies) {
    TCall call;
    call.Request = TRequest::Command;
    call.Url = Url(FHome.isEmpty() ? QString() : FHome, true);
    for (const QByteArray& command : commands) {
        curl_slist* list = curl_slist_append(call.Quote, command.constData());
        if (!list)
            return Fail(QStringLiteral("Out of memory."));
        call.Quote = list;
    }
    const bool ok = Perform(call);
    if (replies)
        *replies = FReplies;
    return ok;
}

bool TCurlFtpConnection::CurrentFolder(QString& path) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    path = FCurrent;
    return true;
}

bool TCurlFtpConnection::ChangeFolder(const QString& path) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(path);
    if (full.isEmpty())
        return false;
    if (!Commands({"CWD " + full.toUtf8()}))
        return false;
    FCurrent = full;
    return true;
}

bool TCurlFtpConnection::ChangeToParent() {
    return ChangeFolder(QStringLiteral(".."));
}

bool TCurlFtpConnection::ListRaw(const QString& folder, const QByteArray& command, bool namesOnly, QByteArray& data) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(folder);
    if (full.isEmpty())
        return false;
    TCall call;
    call.Request = TRequest::Listing;
    call.Url = Url(full, true);
    call.CustomRequest = command;
    call.NamesOnly = namesOnly;
    call.Buffer = &data;
    return Perform(call);
}

bool TCurlFtpConnection::List(const QString& folder, QList<TFtpEntry>& entries) {
    entries.clear();
    QByteArray data;
    if (FHasMlsd) {
        if (!ListRaw(folder, QByteArrayLiteral("MLSD"), false, data))
            return false;
        entries = FtpListing::ParseMlsd(data);
        return true;
    }
    if (!ListRaw(folder, {}, false, data))
        return false;
    entries = FtpListing::ParseList(data);
    return true;
}

bool TCurlFtpConnection::NameList(const QString& folder, QStringList& names) {
    names.clear();
    QByteArray data;
    if (!ListRaw(folder, {}, true, data))
        return false;
    names = FtpListing::ParseNameList(data);
    return true;
}

bool TCurlFtpConnection::Size(const QString& path, int64_t& size) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(path);
    if (full.isEmpty())
        return false;
    QList<QByteArray> replies;
    // Some servers refuse SIZE in ASCII mode.
    if (!Commands({"TYPE I", "SIZE " + full.toUtf8()}, &replies))
        return false;
    for (qsizetype i = replies.size() - 1; i >= 0; --i) {
        const QByteArray& line = replies[i];
        if (line.startsWith("213 ")) {
            bool ok = false;
            const qlonglong value = line.mid(4).trimmed().toLongLong(&ok);
            if (ok && value >= 0) {
                size = value;
                return true;
            }
        }
    }
    return Fail(QStringLiteral("The server gave no size."));
}

bool TCurlFtpConnection::ModifiedTime(const QString& path, QDateTime& time) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(path);
    if (full.isEmpty())
        return false;
    QList<QByteArray> replies;
    if (!Commands({"MDTM " + full.toUtf8()}, &replies))
        return false;
    for (qsizetype i = replies.size() - 1; i >= 0; --i) {
        const QByteArray& line = replies[i];
        if (line.startsWith("213 ")) {
            const QByteArray value = line.mid(4).trimmed();
            const QList<TFtpEntry> parsed = FtpListing::ParseMlsd("modify=" + value + "; x");
            if (!parsed.isEmpty() && parsed.first().Modified.isValid()) {
                time = parsed.first().Modified;
                return true;
            }
        }
    }
    return Fail(QStringLiteral("The server gave no time."));
}

bool TCurlFtpConnection::MakeFolder(const QString& path) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(path);
    return !full.isEmpty() && Commands({"MKD " + full.toUtf8()});
}

bool TCurlFtpConnection::RemoveFolder(const QString& path) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(path);
    return !full.isEmpty() && Commands({"RMD " + full.toUtf8()});
}

bool TCurlFtpConnection::RemoveFile(const QString& path) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(path);
    return !full.isEmpty() && Commands({"DELE " + full.toUtf8()});
}

bool TCurlFtpConnection::Rename(const QString& from, const QString& to) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString source = Resolve(from);
    if (source.isEmpty())
        return false;
    const QString target = Resolve(to);
    return !target.isEmpty() && Commands({"RNFR " + source.toUtf8(), "RNTO " + target.toUtf8()});
}

bool TCurlFtpConnection::Upload(const QString& localPath, const QString& remotePath) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(remotePath);
    if (full.isEmpty())
        return false;
    QFile source(localPath);
    if (!source.open(QIODevice::ReadOnly))
        return Fail(source.errorString() + QStringLiteral(": ") + localPath);
    TCall call;
    call.Request = TRequest::Upload;
    call.Url = Url(full, false);
    call.Source = &source;
    call.SourceSize = source.size();
    return Perform(call);
}

bool TCurlFtpConnection::Download(const QString& remotePath, const QString& localPath, bool resume) {
    if (!FConnected)
        return Fail(QStringLiteral("Not connected."));
    const QString full = Resolve(remotePath);
    if (full.isEmpty())
        return false;
    TCall call;
    call.Request = TRequest::Download;
    call.Url = Url(full, false);
    if (resume) {
        QFile target(localPath);
        if (!target.open(QIODevice::WriteOnly | QIODevice::Append))
            return Fail(target.errorString() + QStringLiteral(": ") + localPath);
        call.Target = &target;
        call.ResumeFrom = target.size();
        return Perform(call);
    }
    // The old local file stays until the new one is complete. No flush to disk per file (as
    // QSaveFile does): a downloaded file is as durable as any new file, and a restore of many
    // small files spent most of its time waiting for the disk.
    const QFileInfo info(localPath);
    const QByteArray temporary = QFile::encodeName(info.dir().filePath(
        QStringLiteral(".vaultora-%1.part").arg(QUuid::createUuid().toString(QUuid::Id128).left(16))));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral(": ") + localPath);
    QFile target;
    if (!target.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        ::unlink(temporary.constData());
        return Fail(target.errorString() + QStringLiteral(": ") + localPath);
    }
    call.Target = &target;
    bool ok = Perform(call);
    target.close();
    if (ok && target.error() != QFileDevice::NoError)
        ok = Fail(target.errorString() + QStringLiteral(": ") + localPath);
    if (ok && ::rename(temporary.constData(), QFile::encodeName(localPath).constData()) != 0)
        ok = Fail(QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral(": ") + localPath);
    if (!ok)
        ::unlink(temporary.constData());
    return ok;
}
