// Cloud sign-in: the loopback sign-in with a fake browser that follows the authorization address
// (right state, wrong state refused, denial, cancel), PKCE, the job's session-expired handler,
// token files (round trip, 0600, a crash during save) and the service addresses from the
// configuration file.
#include "TDropboxStandIn.h"

#include "cloud/CloudAuthorization.h"
#include "cloud/CloudServices.h"
#include "cloud/TCloudStorageBranch.h"
#include "cloud/TDropbox.h"
#include "cloud/TLoopbackCodeListener.h"
#include "core/base/AtomicFile.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/JobKinds.h"
#include "storage/TStorageOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// A browser: opens the address, follows the service's redirect to the loopback listener (with
// the state changed when asked), and keeps the listener's answer.
struct TFakeBrowser {
    QString ReplaceStateWith; // non-empty: a page that forges the redirect with this state
    bool Done = false;
    int ListenerStatus = 0;
    QByteArray ListenerPage;

    void Follow(const QString& url) {
        THttpClient http;
        THttpRequest request;
        request.Method = "GET";
        request.Url = url;
        const THttpResponse first = http.Send(request);
        QString target = QString::fromUtf8(first.Header("location"));
        if (!ReplaceStateWith.isEmpty()) {
            QUrl redirect(target);
            QUrlQuery query(redirect);
            query.removeAllQueryItems(u"state"_s);
            query.addQueryItem(u"state"_s, ReplaceStateWith);
            redirect.setQuery(query);
            target = redirect.toString();
        }
        request.Url = target;
        const THttpResponse second = http.Send(request);
        ListenerStatus = second.Status;
        ListenerPage = second.Body;
    }
};

} // namespace

class tst_CloudAuth : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void pkcePair();
    void loopbackSignInWithRightState();
    void forgedStateIsRefused();
    void deniedAccessFails();
    void cancelledWaitEndsTheSignIn();
    void listenerAnswersOnlyOnLoopback();
    void pastedCodeWithoutRedirect();
    void sessionExpiredHandlerSendsNothing();
    void jobWithoutTokenFailsWithSessionExpired();
    void jobSavesTheTokenAtDisconnect();
    void tokenFileRoundTrip_data();
    void tokenFileRoundTrip();
    void tokenFileSurvivesCrashDuringSave();
    void endpointsFromConfiguration();

private:
    TDropbox Client() const;

    TDropboxStandIn FServer;
    QTemporaryDir FWork;
};

void tst_CloudAuth::initTestCase() {
    QVERIFY(FWork.isValid());
    App().ApplicationDirectory = FWork.path();
    QVERIFY2(FServer.Start(), qPrintable(FServer.Output()));
}

void tst_CloudAuth::init() {
    FServer.Control(u"reset"_s);
}

TDropbox tst_CloudAuth::Client() const {
    TDropbox client(FServer.Endpoints());
    client.ClientID = u"test-id"_s;
    client.Scopes = TDropbox::JobScopes();
    return client;
}

void tst_CloudAuth::pkcePair() {
    const QRegularExpression urlSafe(u"^[A-Za-z0-9_-]{43}$"_s);
    const TPkcePair one = MakePkcePair(), two = MakePkcePair();
    QVERIFY(urlSafe.match(one.Verifier).hasMatch());
    QVERIFY(urlSafe.match(one.Challenge).hasMatch());
    QVERIFY(one.Verifier != two.Verifier);
    // RFC 7636, appendix B.
    QCOMPARE(PkceChallenge(u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s),
             u"E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"_s);
    QVERIFY(RandomState() != RandomState());
}

void tst_CloudAuth::loopbackSignInWithRightState() {
    TDropbox client = Client();
    const quint16 port = TServerProcess::FreePort();
    client.RedirectURI = LoopbackRedirectUri(port);
    TFakeBrowser browser;
    QString seenUrl;
    client.OnAuthorizationCodeRequest = [&](const QString& url) {
        seenUrl = url;
        TLoopbackCodeListener listener;
        if (!listener.Start(port, StateOfAuthorizationUrl(url)))
            return TCodeAnswer{{}, listener.ErrorString()};
        std::thread thread([&] { browser.Follow(url); });
        const QString code = listener.WaitForCode({});
        thread.join();
        return TCodeAnswer{code, {}};
    };
    QVERIFY2(client.Authorize(), qPrintable(client.ErrorText()));
    QVERIFY(client.HasAccessToken());
    QVERIFY(client.RefreshToken().startsWith(u"refresh-"_s));
    QCOMPARE(browser.ListenerStatus, 200);
    QVERIFY(browser.ListenerPage.contains("All done! You can close this page now."));
    const QUrlQuery query{QUrl(seenUrl)};
    QCOMPARE(query.queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded), LoopbackRedirectUri(port));
    QCOMPARE(query.queryItemValue(u"code_challenge_method"_s), u"S256"_s);
    QCOMPARE(query.queryItemValue(u"token_access_type"_s), u"offline"_s);
    QCOMPARE(query.queryItemValue(u"scope"_s, QUrl::FullyDecoded), TDropbox::JobScopes());
    QCOMPARE(query.queryItemValue(u"state"_s).size(), 32);
    // The token serves the API, and the code was exchanged with its verifier (the stand-in checks).
    QList<TDFileInfo> entries;
    QVERIFY2(client.ListFolder(u"/"_s, entries), qPrintable(client.ErrorText()));
}

void tst_CloudAuth::forgedStateIsRefused() {
    // A page that sends the browser to the loopback port with another state gets an error page;
    // the wait goes on and ends only with the user's cancel.
    TDropbox client = Client();
    const quint16 port = TServerProcess::FreePort();
    client.RedirectURI = LoopbackRedirectUri(port);
    TFakeBrowser browser;
    browser.ReplaceStateWith = u"forged-state"_s;
    std::atomic<bool> browserDone{false};
    client.OnAuthorizationCodeRequest = [&](const QString& url) {
        TLoopbackCodeListener listener;
        if (!listener.Start(port, StateOfAuthorizationUrl(url)))
            return TCodeAnswer{{}, listener.ErrorString()};
        std::thread thread([&] {
            browser.Follow(url);
            browserDone = true;
        });
        const QString code = listener.WaitForCode([&] { return browserDone.load(); });
        thread.join();
        return TCodeAnswer{code, {}};
    };
    QVERIFY(!client.Authorize());
    QCOMPARE(client.ErrorText(), u"Authorization cancelled"_s);
    QCOMPARE(browser.ListenerStatus, 400);
    QVERIFY(!client.HasAccessToken());
    QVERIFY(client.RefreshToken().isEmpty());
    QVERIFY(!FServer.Calls().contains(u"token:authorization_code"_s));
}

void tst_CloudAuth::deniedAccessFails() {
    TDropbox client = Client();
    client.ClientID = u"deny"_s; // the stand-in answers with access_denied
    const quint16 port = TServerProcess::FreePort();
    client.RedirectURI = LoopbackRedirectUri(port);
    TFakeBrowser browser;
    client.OnAuthorizationCodeRequest = [&](const QString& url) {
        TLoopbackCodeListener listener;
        listener.Start(port, StateOfAuthorizationUrl(url));
        std::thread thread([&] { browser.Follow(url); });
        const QString code = listener.WaitForCode({});
        thread.join();
        return TCodeAnswer{code, {}};
    };
    QVERIFY(!client.Authorize());
    QCOMPARE(client.ErrorText(), u"Authorization failed"_s);
    QCOMPARE(browser.ListenerStatus, 200);
}

void tst_CloudAuth::cancelledWaitEndsTheSignIn() {
    TLoopbackCodeListener listener;
    QVERIFY(listener.Start(0, u"state"_s));
    const quint16 port = listener.Port();
    QVERIFY(port != 0);
    int polls = 0;
    QCOMPARE(listener.WaitForCode([&] { return ++polls >= 2; }), u"cancel"_s);
    // The port is free again: nothing listens after the wait.
    QTcpServer again;
    QVERIFY(again.listen(QHostAddress::LocalHost, port));
}

void tst_CloudAuth::listenerAnswersOnlyOnLoopback() {
    TLoopbackCodeListener listener;
    QVERIFY(listener.Start(0, u"s"_s));
    QTcpServer probe;
    // Bound to 127.0.0.1 only: the same port is still free on the other addresses.
    QVERIFY2(probe.listen(QHostAddress(u"127.0.0.2"_s), listener.Port()), qPrintable(probe.errorString()));
    TLoopbackCodeListener empty;
    QVERIFY(!empty.Start(0, QString()));
}

void tst_CloudAuth::pastedCodeWithoutRedirect() {
    // Without a redirect the user copies the code from the service's page: no PKCE, no state.
    TDropbox client = Client();
    QString seenUrl;
    client.OnAuthorizationCodeRequest = [&](const QString& url) {
        seenUrl = url;
        THttpClient http;
        THttpRequest request;
        request.Method = "GET";
        request.Url = url;
        const QByteArray page = http.Send(request).Body;
        const qsizetype at = page.indexOf("code-");
        return TCodeAnswer{QString::fromLatin1(page.mid(at, page.indexOf('<', at) - at)), {}};
    };
    QVERIFY2(client.Authorize(), qPrintable(client.ErrorText()));
    QVERIFY(!client.RefreshToken().isEmpty());
    QVERIFY(!seenUrl.contains(u"code_challenge"_s));
    QVERIFY(!seenUrl.contains(u"state="_s));
}

void tst_CloudAuth::sessionExpiredHandlerSendsNothing() {
    TDropbox client = Client();
    const QString expired = QString(CloudSessionExpiredTemplate()).replace(u"%s"_s, u"DropBox"_s);
    int asked = 0;
    client.OnAuthorizationCodeRequest = [&](const QString&) {
        ++asked;
        return TCodeAnswer{{}, expired};
    };
    QList<TDFileInfo> entries;
    QVERIFY(!client.ListFolder(u"/"_s, entries));
    QCOMPARE(client.ErrorText(), expired);
    QCOMPARE(asked, 1);
    QVERIFY(FServer.Calls().isEmpty());
    // Without any handler the client does not wait for anyone either.
    TDropbox bare = Client();
    QVERIFY(!bare.Authorize());
    QCOMPARE(bare.ErrorText(), u"Authorization code request event not assigned"_s);
}

void tst_CloudAuth::jobWithoutTokenFailsWithSessionExpired() {
    // A job whose token file is missing fails its connection at once, naming its service; no
    // browser, no request to the service.
    QFile::remove(TokenFilePath(TCloudService::Dropbox));
    qputenv("XDG_CONFIG_HOME", FWork.filePath(u"config"_s).toUtf8());
    QDir().mkpath(FWork.filePath(u"config/Vaultora"_s));
    QFile conf(FWork.filePath(u"config/Vaultora/Vaultora.conf"_s));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(FServer.ConfigText());
    conf.close();
    const std::unique_ptr<TJob> job = CreateJobOfKind(1, u"CloudJob"_s);
    job->DestinationSettings.DestinationType = dtCloud;
    job->DestinationSettings.Cloud.ServiceName = u"DropBox"_s;
    job->DestinationSettings.Cloud.Subfolder = u"/sub/folder"_s;
    TStorageOperations storage(*job);
    const QString result = storage.ConnectToStorage();
    QVERIFY(storage.IsConnectError(result));
    QCOMPARE(result, u"ERROR: The cloud session has expired. You have to authorize again. Open the Cloud Client, and "
                     "choose \"DropBox\" in the dropdown menu of \"Connect\" button."_s);
    QVERIFY(FServer.Calls().isEmpty());
    // The text names the job's own service.
    QFile::remove(TokenFilePath(TCloudService::OneDrive));
    job->DestinationSettings.Cloud.ServiceName = u"One Drive"_s;
    QCOMPARE(storage.ConnectToStorage(),
             u"ERROR: The cloud session has expired. You have to authorize again. Open the Cloud Client, and "
             "choose \"One Drive\" in the dropdown menu of \"Connect\" button."_s);
}

void tst_CloudAuth::jobSavesTheTokenAtDisconnect() {
    const QString token = FServer.NewRefreshToken();
    QVERIFY(SaveRefreshToken(TCloudService::Dropbox, token));
    qputenv("XDG_CONFIG_HOME", FWork.filePath(u"config"_s).toUtf8());
    QDir().mkpath(FWork.filePath(u"config/Vaultora"_s));
    QFile conf(FWork.filePath(u"config/Vaultora/Vaultora.conf"_s));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(FServer.ConfigText());
    conf.close();
    const std::unique_ptr<TJob> job = CreateJobOfKind(1, u"CloudJob"_s);
    job->DestinationSettings.DestinationType = dtCloud;
    job->DestinationSettings.Cloud.ServiceName = u"dropbox"_s;
    job->DestinationSettings.Cloud.Subfolder = u"sub/folder/"_s;
    TStorageOperations storage(*job);
    QCOMPARE(storage.ConnectToStorage(), u"/sub/folder/CloudJob"_s);
    QFile::remove(TokenFilePath(TCloudService::Dropbox));
    storage.DisconnectFromStorage();
    QCOMPARE(LoadRefreshToken(TCloudService::Dropbox), token);
}

void tst_CloudAuth::tokenFileRoundTrip_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("plain") << u"refresh-abc"_s << u"refresh-def"_s;
    QTest::newRow("shorter over longer") << QString(300, u'x') << u"y"_s;
    QTest::newRow("unicode") << u"ä😀"_s << u"token"_s;
    QTest::newRow("empty") << u"abc"_s << QString();
}

void tst_CloudAuth::tokenFileRoundTrip() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    for (const TCloudService service : {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive}) {
        QVERIFY(SaveRefreshToken(service, first));
        QCOMPARE(LoadRefreshToken(service), first);
        QVERIFY(SaveRefreshToken(service, second));
        QCOMPARE(LoadRefreshToken(service), second);
        const QFileInfo info(TokenFilePath(service));
        QCOMPARE(info.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
        // The file holds exactly the new image: a 4-byte count and two bytes per code unit.
        QCOMPARE(info.size(), 4 + 2 * second.size());
    }
    QCOMPARE(QFileInfo(TokenFilePath(TCloudService::Dropbox)).fileName(), u"rt_d.dt"_s);
    QCOMPARE(QFileInfo(TokenFilePath(TCloudService::GoogleDrive)).fileName(), u"rt_g.dt"_s);
    QCOMPARE(QFileInfo(TokenFilePath(TCloudService::OneDrive)).fileName(), u"rt_o.dt"_s);
}

void tst_CloudAuth::tokenFileSurvivesCrashDuringSave() {
    QVERIFY(SaveRefreshToken(TCloudService::Dropbox, u"the-old-token"_s));
    AtomicWriteFaultForTesting = [](const QString& path) { return path.endsWith(u"rt_d.dt"_s); };
    const bool saved = SaveRefreshToken(TCloudService::Dropbox, u"a-new-token-that-never-lands"_s);
    AtomicWriteFaultForTesting = nullptr;
    QVERIFY(!saved);
    QCOMPARE(LoadRefreshToken(TCloudService::Dropbox), u"the-old-token"_s);
    // No half-written file is left beside it.
    QCOMPARE(QDir(FWork.path()).entryList(QDir::Files | QDir::Hidden).filter(u"rt_d"_s), QStringList{u"rt_d.dt"_s});
    // A damaged file reads as no token, with a line in the events log.
    QFile damaged(TokenFilePath(TCloudService::Dropbox));
    QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("\x01\x02");
    damaged.close();
    QCOMPARE(LoadRefreshToken(TCloudService::Dropbox), QString());
}

void tst_CloudAuth::endpointsFromConfiguration() {
    const QString conf = FWork.filePath(u"Vaultora.conf"_s);
    QFile file(conf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[cloud]\n"
               "dropbox_api=http://127.0.0.1:9/\n"
               "dropbox_content=http://evil.example.com\n"
               "dropbox_token=https://token.example.com/oauth2/token\n"
               "googledrive_api=https://g.example.com/drive/v3//\n");
    file.close();
    const TCloudEndpoints endpoints = LoadCloudEndpoints(conf);
    QCOMPARE(endpoints.DropboxApi, u"http://127.0.0.1:9"_s);
    QCOMPARE(endpoints.DropboxContent, TCloudEndpoints().DropboxContent); // http elsewhere is refused
    QCOMPARE(endpoints.DropboxToken, u"https://token.example.com/oauth2/token"_s);
    QCOMPARE(endpoints.GoogleDriveApi, u"https://g.example.com/drive/v3"_s);
    QCOMPARE(endpoints.OneDriveGraph, TCloudEndpoints().OneDriveGraph);
    QCOMPARE(LoadCloudEndpoints(FWork.filePath(u"absent.conf"_s)).DropboxApi, u"https://api.dropboxapi.com"_s);
}

QTEST_GUILESS_MAIN(tst_CloudAuth)
#include "tst_cloudauth.moc"
