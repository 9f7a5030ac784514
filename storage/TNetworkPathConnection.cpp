#include "storage/TNetworkPathConnection.h"

#include "storage/TSleeper.h"

#include <libsmbclient.h>

#include <QByteArray>

#include <cerrno>
#include <cstring>

namespace {

constexpr int BusyRetries = 99;
constexpr int BusyWaitMs = 100;
constexpr int TimeoutMs = 20000;

// What the authentication callback hands to the library; the context's user data.
struct TCredentials {
    QByteArray Workgroup;
    QByteArray User;
    QByteArray Password;
};

void CopyInto(char* buffer, int size, const QByteArray& text) {
    if (size <= 0)
        return;
    const int n = std::min<int>(size - 1, int(text.size()));
    std::memcpy(buffer, text.constData(), size_t(n));
    buffer[n] = '\0';
}

void ProvideCredentials(SMBCCTX* context, const char* /*server*/, const char* /*share*/, char* workgroup,
                        int workgroupSize, char* user, int userSize, char* password, int passwordSize) {
    const auto* credentials = static_cast<const TCredentials*>(smbc_getOptionUserData(context));
    if (!credentials)
        return;
    if (!credentials->Workgroup.isEmpty())
        CopyInto(workgroup, workgroupSize, credentials->Workgroup);
    CopyInto(user, userSize, credentials->User);
    CopyInto(password, passwordSize, credentials->Password);
}

QString SystemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TNetworkPathConnection::TNetworkPathConnection(TSleeper* sleeper)
    : FSleeper(sleeper ? sleeper : &TSleeper::System()) {}

TNetworkPathConnection::~TNetworkPathConnection() {
    if (FConnected)
        Disconnect(true);
    FreeContext(true);
}

std::unique_lock<std::mutex> TNetworkPathConnection::LockLibrary() {
    static std::mutex library;
    return std::unique_lock<std::mutex>(library);
}

QString TNetworkPathConnection::ErrorText(int error) {
    const char* prefix = nullptr;
    switch (error) {
    case EACCES:
        prefix = "Access denied:";
        break;
    case EPERM:
        prefix = "Invalid password:";
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        prefix = "Bad network Name:";
        break;
    case EBUSY:
        prefix = "Busy:";
        break;
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ECONNREFUSED:
    case ETIMEDOUT:
        prefix = "No Network:";
        break;
    case ECANCELED:
        prefix = "Canceled:";
        break;
    default:
        break;
    }
    const QString text = SystemText(error);
    return prefix ? QString(QString::fromLatin1(prefix) + u' ' + text).trimmed() : text.trimmed();
}

void TNetworkPathConnection::Fail(const QString& text) {
    FURI.clear();
    FLastError = text.trimmed();
    FFailed = true;
    FreeContext(true);
}

void TNetworkPathConnection::FreeContext(bool force) {
    if (!FContext)
        return;
    const auto lock = LockLibrary();
    auto* credentials = static_cast<TCredentials*>(smbc_getOptionUserData(FContext));
    if (smbc_free_context(FContext, force ? 1 : 0) != 0 && !force)
        return; // still busy: the caller tries again
    delete credentials;
    FContext = nullptr;
}

bool TNetworkPathConnection::Connect(const QString& aNetworkPath, const QString& aUsername, const QString& aPassword) {
    FLastError.clear();
    FFailed = false;
    const QString path = aNetworkPath.trimmed();
    if (FConnected)
        Disconnect(true);
    FURI = path;
    if (!ParseSharePath(path, FShare)) {
        Fail(ErrorText(ENOENT));
        return false;
    }

    std::unique_lock<std::mutex> lock = LockLibrary();
    FContext = smbc_new_context();
    if (!FContext) {
        const int error = errno;
        lock.unlock();
        Fail(ErrorText(error ? error : ENOMEM));
        return false;
    }
    auto* credentials = new TCredentials;
    // A blank user name is a guest session, whatever the password; "DOMAIN\user" names the
    // workgroup too. The user name and password are used as typed.
    if (!aUsername.trimmed().isEmpty()) {
        const qsizetype backslash = aUsername.indexOf(u'\\');
        credentials->Workgroup = backslash > 0 ? aUsername.left(backslash).toUtf8() : QByteArray();
        credentials->User = aUsername.mid(backslash > 0 ? backslash + 1 : 0).toUtf8();
        credentials->Password = aPassword.toUtf8();
    }
    smbc_setOptionUserData(FContext, credentials);
    smbc_setFunctionAuthDataWithContext(FContext, ProvideCredentials);
    smbc_setOptionUseKerberos(FContext, 0);
    smbc_setOptionFallbackAfterKerberos(FContext, 1);
    smbc_setOptionNoAutoAnonymousLogin(FContext, credentials->User.isEmpty() ? 0 : 1);
    smbc_setDebug(FContext, 0);
    smbc_setTimeout(FContext, TimeoutMs);
    if (FShare.Port != 0)
        smbc_setPort(FContext, uint16_t(FShare.Port));
    if (!smbc_init_context(FContext)) {
        const int error = errno;
        lock.unlock();
        // A context that failed to initialise is freed with its credentials.
        Fail(ErrorText(error ? error : EINVAL));
        return false;
    }

    // The session is made by the first request: the share's root must answer.
    const QByteArray root = ShareItemUrl(FShare, QString());
    SMBCFILE* folder = smbc_getFunctionOpendir(FContext)(FContext, root.constData());
    if (!folder) {
        const int error = errno;
        lock.unlock();
        Fail(ErrorText(error ? error : EIO));
        return false;
    }
    smbc_getFunctionClosedir(FContext)(FContext, folder);
    lock.unlock();

    FOwned = true;
    FConnected = true;
    FUser = aUsername;
    FPassword = aPassword;
    FRemotePath = path;
    return true;
}

void TNetworkPathConnection::Disconnect(bool aForce) {
    if (FConnected && FOwned && FContext) {
        FreeContext(aForce);
        // Files still open: wait for them a while, then close the session anyway.
        for (int attempt = 0; FContext && attempt < BusyRetries; ++attempt) {
            FSleeper->Sleep(BusyWaitMs);
            FreeContext(false);
        }
        FreeContext(true);
    }
    FConnected = false;
    FOwned = false;
    FRemotePath.clear();
    FUser.clear();
    FPassword.clear();
    FURI.clear();
}
