// The interactive cloud sign-in of the windows against the stand-in Dropbox service: a browser
// that follows the address, a forged redirect, the pasted code, and Reset Access.
#include "../cloud/TDropboxStandIn.h"
#include "UiTestSupport.h"

#include "cloud/CloudServices.h"
#include "cloud/TDropbox.h"
#include "net/THttpClient.h"
#include "ui/CloudSignIn.h"
#include "ui/TAuthWaitDlg.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

QByteArray Get(const QString& url, QByteArray* location = nullptr) {
    THttpClient http;
    THttpRequest request;
    request.Method = "GET";
    request.Url = url;
    const THttpResponse response = http.Send(request);
    if (location)
        *location = response.Header("location");
    return response.Body;
}

// Clicks a button of the wait dialog once it is up.
void ClickInWaitDialog(const char* name) {
    QTimer::singleShot(0, [name] {
        auto* dialog = qobject_cast<TAuthWaitDlg*>(QApplication::activeModalWidget());
        if (dialog)
            dialog->findChild<QPushButton*>(QString::fromLatin1(name))->click();
    });
}

} // namespace

class tst_CloudSignIn : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void browserSignInSavesTheToken();
    void forgedRedirectKeepsWaitingUntilCancel();
    void pastedCodeSignsIn();
    void resetAccessDeletesTheToken();

private:
    TDropbox Client() const;

    QTemporaryDir FWork;
    TDropboxStandIn FServer;
    std::thread FBrowser;
};

void tst_CloudSignIn::initTestCase() {
    UiTest::SetHeadless();
    QVERIFY(FWork.isValid());
    App().ApplicationDirectory = FWork.path();
    QVERIFY2(FServer.Start(), qPrintable(FServer.Output()));
}

void tst_CloudSignIn::init() {
    FServer.Control(u"reset"_s);
    QFile::remove(TokenFilePath(TCloudService::Dropbox));
    TMessageBox::TakeShown();
}

void tst_CloudSignIn::cleanup() {
    if (FBrowser.joinable())
        FBrowser.join();
    TProductSite::SetOpener({});
}

TDropbox tst_CloudSignIn::Client() const {
    TDropbox client(FServer.Endpoints());
    client.ClientID = u"test-id"_s;
    client.Scopes = TDropbox::JobScopes();
    return client;
}

void tst_CloudSignIn::browserSignInSavesTheToken() {
    // The browser signs in at the service, which sends it back to the waiting dialog.
    QString opened;
    TProductSite::SetOpener([&](const QUrl& url) {
        opened = url.toString();
        FBrowser = std::thread([url] {
            QByteArray location;
            Get(url.toString(QUrl::FullyEncoded), &location);
            Get(QString::fromUtf8(location));
        });
    });
    TDropbox client = Client();
    client.SetRefreshToken(u"revoked-token"_s);
    QVERIFY(SignInToCloud(nullptr, client, TServerProcess::FreePort()));
    QVERIFY(TMessageBox::TakeShown().isEmpty());
    QCOMPARE(QUrlQuery(QUrl(opened)).queryItemValue(u"code_challenge_method"_s), u"S256"_s);
    QVERIFY(client.RefreshToken().startsWith(u"refresh-"_s));
    QCOMPARE(LoadRefreshToken(TCloudService::Dropbox), client.RefreshToken());
    // The sign-in's handlers do not outlive it.
    QVERIFY(!client.OnAuthorizationCodeRequest);
    QVERIFY(client.RedirectURI.isEmpty());
}

void tst_CloudSignIn::forgedRedirectKeepsWaitingUntilCancel() {
    // A page that sends the browser to the loopback port with another state is refused; the
    // dialog still waits, and the user's cancel ends the sign-in without a message.
    QByteArray listenerPage;
    TProductSite::SetOpener([&](const QUrl& url) {
        QUrl forged(url);
        QUrlQuery query(forged);
        query.removeAllQueryItems(u"state"_s);
        query.addQueryItem(u"state"_s, u"forged"_s);
        forged.setQuery(query);
        FBrowser = std::thread([&listenerPage, forged] {
            QByteArray location;
            Get(forged.toString(QUrl::FullyEncoded), &location);
            listenerPage = Get(QString::fromUtf8(location));
            QMetaObject::invokeMethod(
                qApp, [] { ClickInWaitDialog("CancelBtn"); }, Qt::QueuedConnection);
        });
    });
    TDropbox client = Client();
    client.SetRefreshToken(u"earlier-token"_s);
    QVERIFY(!SignInToCloud(nullptr, client, TServerProcess::FreePort()));
    QVERIFY(TMessageBox::TakeShown().isEmpty());
    QVERIFY(!listenerPage.isEmpty());
    QVERIFY(!listenerPage.contains("All done"));
    QCOMPARE(client.RefreshToken(), u"earlier-token"_s);
    QVERIFY(!QFile::exists(TokenFilePath(TCloudService::Dropbox)));
}

void tst_CloudSignIn::pastedCodeSignsIn() {
    // The user switches to copying the code: the second address has no redirect and no PKCE.
    QStringList opened;
    TProductSite::SetOpener([&](const QUrl& url) {
        opened.append(url.toString());
        if (opened.size() == 1) {
            ClickInWaitDialog("PasteBtn");
            return;
        }
        const QByteArray page = Get(url.toString(QUrl::FullyEncoded));
        const qsizetype at = page.indexOf("code-");
        TInputBox::SetNextAnswer(QString::fromLatin1(page.mid(at, page.indexOf('<', at) - at)));
    });
    TDropbox client = Client();
    QVERIFY(SignInToCloud(nullptr, client, TServerProcess::FreePort()));
    QCOMPARE(opened.size(), 2);
    QVERIFY(!opened[1].contains(u"code_challenge"_s));
    QVERIFY(!opened[1].contains(u"redirect_uri"_s));
    QCOMPARE(TInputBox::TakePrompts(), QStringList{u"Enter code here:"_s});
    QCOMPARE(LoadRefreshToken(TCloudService::Dropbox), client.RefreshToken());
}

void tst_CloudSignIn::resetAccessDeletesTheToken() {
    QVERIFY(SaveRefreshToken(TCloudService::Dropbox, u"some-token"_s));
    TDropbox client = Client();
    client.SetRefreshToken(u"some-token"_s);
    ResetCloudAccess(nullptr, TCloudService::Dropbox, &client);
    QVERIFY(!QFile::exists(TokenFilePath(TCloudService::Dropbox)));
    QVERIFY(client.RefreshToken().isEmpty());
    const auto shown = TMessageBox::TakeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].Text, u"Tokens cleared. Access has been reset."_s);
}

QTEST_MAIN(tst_CloudSignIn)
#include "tst_cloudsignin.moc"
