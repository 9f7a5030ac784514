// The HTTP transport against a small local server: JSON bodies, streamed uploads and downloads with
// progress and cancel, time-outs, the address rules, redirects that must not carry a token, TLS
// verification and the proxy of the options.
#include "TServerProcess.h"

#include "net/THttpClient.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_HttpClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void jsonBodyAndHeaders();
    void streamedUploadFromFile();
    void downloadIntoFileWithProgress();
    void cancelFromProgressKeepsPartialBytes();
    void stalledAnswerTimesOut();
    void errorAnswerBodyAndRetryAfter();
    void addressRules_data();
    void addressRules();
    void redirectIsNotFollowedWithToken();
    void certificateIsVerified();
    void proxyOfTheOptionsIsUsed();
    void asciiJson_data();
    void asciiJson();

private:
    QString Url(const QString& path) const { return u"http://127.0.0.1:%1%2"_s.arg(FPort).arg(path); }
    static QString Script() { return QStringLiteral(VAULTORA_SOURCE_DIR "/tests/net/http_test_server.py"); }

    QTemporaryDir FWork;
    TServerProcess FServer;
    quint16 FPort = 0;
};

void tst_HttpClient::initTestCase() {
    QVERIFY(FWork.isValid());
    FPort = TServerProcess::FreePort();
    QVERIFY2(FServer.StartListening(u"/usr/bin/python3"_s, {Script(), QString::number(FPort)}, FPort),
             qPrintable(FServer.Output()));
}

void tst_HttpClient::cleanupTestCase() {
    FServer.Stop();
}

void tst_HttpClient::jsonBodyAndHeaders() {
    THttpClient client;
    THttpRequest request;
    request.Url = Url(u"/echo"_s);
    request.BearerToken = "secret-token";
    request.Headers.append(qMakePair(QByteArray("X-Extra"), QByteArray("value")));
    request.SetJsonBody(QJsonObject{{u"path"_s, u"/a \"q\" \\ b/ä€😀"_s}});
    const THttpResponse response = client.Send(request);
    QVERIFY2(response.Ok(), qPrintable(response.Error));
    QCOMPARE(response.Header("content-type"), QByteArray("application/json"));
    const QJsonObject echo = QJsonDocument::fromJson(response.Body).object();
    QCOMPARE(echo[u"authorization"_s].toString(), u"Bearer secret-token"_s);
    QCOMPARE(echo[u"extra"_s].toString(), u"value"_s);
    QCOMPARE(echo[u"content_type"_s].toString(), u"application/json; charset=utf-8"_s);
    const QJsonObject sent = QJsonDocument::fromJson(echo[u"body"_s].toString().toUtf8()).object();
    QCOMPARE(sent[u"path"_s].toString(), u"/a \"q\" \\ b/ä€😀"_s);
}

void tst_HttpClient::streamedUploadFromFile() {
    // A body larger than any one buffer, read from the file at an offset, for exactly its length.
    QByteArray data(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 7) % 256);
    QFile file(FWork.filePath(u"upload.bin"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.seek(100));
    const QByteArray part = data.mid(100, 2 * 1024 * 1024);

    THttpClient client;
    int64_t lastDone = -1, lastTotal = -1;
    client.OnProgress = [&](int64_t done, int64_t total) {
        lastDone = done;
        lastTotal = total;
        return true;
    };
    THttpRequest request;
    request.Url = Url(u"/echo"_s);
    request.ContentType = "application/octet-stream";
    request.UploadDevice = &file;
    request.UploadLength = part.size();
    const THttpResponse response = client.Send(request);
    QVERIFY2(response.Ok(), qPrintable(response.Error));
    const QJsonObject echo = QJsonDocument::fromJson(response.Body).object();
    QCOMPARE(echo[u"length"_s].toInteger(), part.size());
    QCOMPARE(echo[u"sha256"_s].toString().toLatin1(),
             QCryptographicHash::hash(part, QCryptographicHash::Sha256).toHex());
    QVERIFY(lastTotal >= 0 && lastDone >= 0);
}

void tst_HttpClient::downloadIntoFileWithProgress() {
    const int size = 5 * 1024 * 1024 + 3;
    QFile file(FWork.filePath(u"download.bin"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    THttpClient client;
    int64_t lastDone = 0, lastTotal = 0;
    client.OnProgress = [&](int64_t done, int64_t total) {
        lastDone = std::max(lastDone, done);
        lastTotal = total;
        return true;
    };
    THttpRequest request;
    request.Method = "GET";
    request.Url = Url(u"/bytes?n=%1"_s.arg(size));
    request.DownloadDevice = &file;
    const THttpResponse response = client.Send(request);
    file.close();
    QVERIFY2(response.Ok(), qPrintable(response.Error));
    QVERIFY(response.Body.isEmpty());
    QCOMPARE(lastTotal, int64_t(size));
    QCOMPARE(lastDone, int64_t(size));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray got = file.readAll();
    QCOMPARE(got.size(), size);
    for (int i : {0, 250, 251, 65535, size - 1})
        QCOMPARE(uchar(got[i]), uchar(i % 251));
}

void tst_HttpClient::cancelFromProgressKeepsPartialBytes() {
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    THttpClient client;
    client.OnProgress = [](int64_t done, int64_t) { return done < 1024 * 1024; };
    THttpRequest request;
    request.Method = "GET";
    request.Url = Url(u"/bytes?n=%1"_s.arg(20 * 1024 * 1024));
    request.DownloadDevice = &sink;
    const THttpResponse response = client.Send(request);
    QVERIFY(response.Cancelled);
    QCOMPARE(response.Error, u"Cancelled"_s);
    QCOMPARE(response.Status, 0);
    QVERIFY(sink.data().size() >= 1024 * 1024);
    QVERIFY(sink.data().size() < 20 * 1024 * 1024);
}

void tst_HttpClient::stalledAnswerTimesOut() {
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    THttpClient client;
    client.ReadTimeoutSeconds = 1;
    THttpRequest request;
    request.Method = "GET";
    request.Url = Url(u"/stall"_s);
    request.DownloadDevice = &sink;
    const THttpResponse response = client.Send(request);
    QCOMPARE(response.Status, 0);
    QVERIFY(!response.Cancelled);
    QVERIFY2(response.Error.startsWith(u"Timed out: "_s), qPrintable(response.Error));
}

void tst_HttpClient::errorAnswerBodyAndRetryAfter() {
    // A download's error answer is not written into the caller's file: its body is the error text.
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    THttpClient client;
    THttpRequest request;
    request.Method = "GET";
    request.Url = Url(u"/status?code=429&retry=7"_s);
    request.DownloadDevice = &sink;
    const THttpResponse response = client.Send(request);
    QCOMPARE(response.Status, 429);
    QVERIFY(response.Error.isEmpty());
    QCOMPARE(response.RetryAfterSeconds(), 7);
    QCOMPARE(response.Body, QByteArray(R"({"status": 429})"));
    QVERIFY(sink.data().isEmpty());
}

void tst_HttpClient::addressRules_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("https") << u"https://api.example.com/2/files"_s << true;
    QTest::newRow("http elsewhere") << u"http://api.example.com/2/files"_s << false;
    QTest::newRow("http 127.0.0.1") << u"http://127.0.0.1:8080/x"_s << true;
    QTest::newRow("http 127.1.2.3") << u"http://127.1.2.3/x"_s << true;
    QTest::newRow("http ::1") << u"http://[::1]:8080/x"_s << true;
    QTest::newRow("http localhost") << u"http://localhost:8080/x"_s << true;
    QTest::newRow("http private lan") << u"http://192.168.1.2/x"_s << false;
    QTest::newRow("http localhost lookalike") << u"http://localhost.example.com/x"_s << false;
    QTest::newRow("ftp") << u"ftp://127.0.0.1/x"_s << false;
    QTest::newRow("file") << u"file:///etc/passwd"_s << false;
    QTest::newRow("user info") << u"https://user:pw@api.example.com/"_s << false;
    QTest::newRow("no host") << u"https:///x"_s << false;
}

void tst_HttpClient::addressRules() {
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(THttpClient::AddressAllowed(url), allowed);
    if (!allowed) {
        // Refused before any connection is tried.
        THttpClient client;
        THttpRequest request;
        request.Url = url;
        const THttpResponse response = client.Send(request);
        QCOMPARE(response.Status, 0);
        QVERIFY(!response.Error.isEmpty());
    }
}

void tst_HttpClient::redirectIsNotFollowedWithToken() {
    THttpClient client;
    THttpRequest request;
    request.Method = "GET";
    const QString target = u"http://localhost:%1/elsewhere"_s.arg(FPort);
    request.Url = Url(u"/redirect?to="_s + QString::fromLatin1(QUrl::toPercentEncoding(target)));
    request.BearerToken = "redirect-token";
    const THttpResponse response = client.Send(request);
    QCOMPARE(response.Status, 302);
    THttpRequest seen;
    seen.Method = "GET";
    seen.Url = Url(u"/seen"_s);
    const THttpResponse log = client.Send(seen);
    QCOMPARE(log.Status, 200);
    QVERIFY(log.Body.contains("/redirect Bearer redirect-token"));
    QVERIFY2(!log.Body.contains("/elsewhere"), log.Body.constData());
}

void tst_HttpClient::certificateIsVerified() {
    // A self-signed certificate for 127.0.0.1 must be refused: nothing is sent to an unverified peer.
    const QString cert = FWork.filePath(u"cert.pem"_s), key = FWork.filePath(u"key.pem"_s);
    QProcess openssl;
    openssl.start(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-days"_s, u"2"_s,
                                 u"-subj"_s, u"/CN=127.0.0.1"_s, u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s,
                                 u"-keyout"_s, key, u"-out"_s, cert});
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);
    TServerProcess tls;
    const quint16 port = TServerProcess::FreePort();
    QVERIFY2(tls.StartListening(u"/usr/bin/python3"_s, {Script(), QString::number(port), cert, key}, port),
             qPrintable(tls.Output()));
    THttpClient client;
    THttpRequest request;
    request.Url = u"https://127.0.0.1:%1/echo"_s.arg(port);
    request.BearerToken = "tls-token";
    const THttpResponse response = client.Send(request);
    QCOMPARE(response.Status, 0);
    QVERIFY2(response.Error.contains(u"certificate"_s, Qt::CaseInsensitive), qPrintable(response.Error));
    QVERIFY(!response.Error.contains(u"tls-token"_s));
    // Given the server's own authority, the client trusts it, and only it: another certificate
    // for the same address is still refused.
    client.CaFile = cert;
    const THttpResponse trusted = client.Send(request);
    QVERIFY2(trusted.Ok(), qPrintable(trusted.Error));
    const QString otherCert = FWork.filePath(u"other.pem"_s), otherKey = FWork.filePath(u"other-key.pem"_s);
    openssl.start(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-days"_s, u"2"_s,
                                 u"-subj"_s, u"/CN=127.0.0.1"_s, u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s,
                                 u"-keyout"_s, otherKey, u"-out"_s, otherCert});
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);
    client.CaFile = otherCert;
    QCOMPARE(client.Send(request).Status, 0);
}

void tst_HttpClient::proxyOfTheOptionsIsUsed() {
    // Through a SOCKS 5 proxy the request arrives; with the proxy gone it fails, so it went
    // through the proxy and not around it.
    TServerProcess socks;
    const quint16 port = TServerProcess::FreePort();
    QVERIFY2(
        socks.StartListening(u"/usr/bin/microsocks"_s, {u"-i"_s, u"127.0.0.1"_s, u"-p"_s, QString::number(port)}, port),
        qPrintable(socks.Output()));
    THttpClient client;
    client.Proxy.Enabled = true;
    client.Proxy.PrType = 2;
    client.Proxy.Host = u"127.0.0.1"_s;
    client.Proxy.Port = QString::number(port);
    THttpRequest request;
    request.Url = Url(u"/echo"_s);
    request.SetJsonBody(QJsonObject{{u"a"_s, 1}});
    THttpResponse response = client.Send(request);
    QVERIFY2(response.Ok(), qPrintable(response.Error));
    socks.Stop();
    response = client.Send(request);
    QCOMPARE(response.Status, 0);
    QVERIFY(!response.Error.isEmpty());

    client.Proxy.Port = u"not a port"_s;
    response = client.Send(request);
    QCOMPARE(response.Status, 0);
    QVERIFY(response.Error.contains(u"proxy"_s));
}

void tst_HttpClient::asciiJson_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << u"/a/b.txt"_s << QByteArray(R"({"path":"/a/b.txt"})");
    QTest::newRow("quote and backslash") << u"/a \"b\" \\c"_s << QByteArray(R"({"path":"/a \"b\" \\c"})");
    QTest::newRow("latin") << u"/ä"_s << QByteArray(R"({"path":"/\u00e4"})");
    QTest::newRow("beyond bmp") << u"/😀"_s << QByteArray(R"({"path":"/\ud83d\ude00"})");
    QTest::newRow("control") << u"/a\tb"_s << QByteArray(R"({"path":"/a\tb"})");
    QTest::newRow("delete") << u"/a\u007fb"_s << QByteArray(R"({"path":"/a\u007fb"})");
}

void tst_HttpClient::asciiJson() {
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    const QByteArray text = THttpClient::AsciiJson(QJsonObject{{u"path"_s, value}});
    QCOMPARE(text, expected);
    QCOMPARE(QJsonDocument::fromJson(text).object()[u"path"_s].toString(), value);
}

QTEST_GUILESS_MAIN(tst_HttpClient)
#include "tst_httpclient.moc"
