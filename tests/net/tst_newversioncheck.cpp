// The new-version check against a local HTTPS site with its own certificate authority: the
// version file's rules (optional, mandatory, nothing new, malformed), failures that must come out
// as "nothing new", redirects, and the package download that is only taken with the right
// SHA-256.
#include "TServerProcess.h"

#include "net/THttpClient.h"
#include "net/TNewVersionCheck.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using TOutcome = TNewVersionCheck::TOutcome;
Q_DECLARE_METATYPE(TOutcome)

namespace {

const QByteArray Package = QByteArray("!<arch>\ndebian-binary   ") + QByteArray(1000000, 'p');
const QByteArray PackageSum = QCryptographicHash::hash(Package, QCryptographicHash::Sha256).toHex();
const QByteArray PackageName = "vaultora_3.5_amd64.deb";
const QByteArray GoodVersionFile = "35/30\n" + PackageName + '\n' + PackageSum + '\n';
const QByteArray Changes = "Faster restores\n\nNew icons\r\n\n";

} // namespace

class tst_NewVersionCheck : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void check_data();
    void check();
    void failuresAreNothingNew_data();
    void failuresAreNothingNew();
    void redirectsStayOnAllowedAddresses();
    void displayVersion();
    void download_data();
    void download();
    void cancelledDownloadLeavesNothing();

private:
    QString Site() const { return u"https://127.0.0.1:%1"_s.arg(FPort); }
    QString Root(const QString& relative) const { return FWork.filePath(u"site/"_s + relative); }
    void Put(const QString& relative, const QByteArray& data) {
        QDir().mkpath(QFileInfo(Root(relative)).absolutePath());
        QFile file(Root(relative));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
    }
    // A client that trusts the site's own authority (and nothing else).
    THttpClient Client() const {
        THttpClient client;
        client.CaFile = FCert;
        return client;
    }

    QTemporaryDir FWork;
    TServerProcess FServer;
    QString FCert;
    quint16 FPort = 0;
};

void tst_NewVersionCheck::initTestCase() {
    QVERIFY(FWork.isValid());
    FCert = FWork.filePath(u"cert.pem"_s);
    const QString key = FWork.filePath(u"key.pem"_s);
    QProcess openssl;
    openssl.start(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-days"_s, u"2"_s,
                                 u"-subj"_s, u"/CN=127.0.0.1"_s, u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s,
                                 u"-keyout"_s, key, u"-out"_s, FCert});
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);
    QVERIFY(QDir().mkpath(Root(u"download"_s)));
    FPort = TServerProcess::FreePort();
    const QString script = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/net/static_site_server.py");
    QVERIFY2(FServer.StartListening(u"/usr/bin/python3"_s,
                                    {script, QString::number(FPort), Root(QString()), FCert, key}, FPort),
             qPrintable(FServer.Output()));
}

void tst_NewVersionCheck::cleanupTestCase() {
    FServer.Stop();
}

void tst_NewVersionCheck::init() {
    QDir(Root(QString())).removeRecursively();
    QDir().mkpath(Root(u"download"_s));
    Put(u"download/version.html"_s, GoodVersionFile);
    Put(u"download/version-changes.html"_s, Changes);
    Put(u"download/"_s + QString::fromLatin1(PackageName), Package);
}

void tst_NewVersionCheck::check_data() {
    QTest::addColumn<QByteArray>("versionFile");
    QTest::addColumn<int>("program");
    QTest::addColumn<TOutcome>("outcome");
    QTest::addColumn<int>("latest");
    const QByteArray windows = "\xEF\xBB\xBF"
                               "35/30\r\n" +
                               PackageName + "\r\n";
    QTest::newRow("optional update") << GoodVersionFile << 34 << TOutcome::Optional << 35;
    QTest::newRow("mandatory update") << GoodVersionFile << 29 << TOutcome::Mandatory << 35;
    QTest::newRow("at the minimum: optional") << GoodVersionFile << 30 << TOutcome::Optional << 35;
    QTest::newRow("equal version") << GoodVersionFile << 35 << TOutcome::NothingNew << 35;
    QTest::newRow("newer program") << GoodVersionFile << 36 << TOutcome::NothingNew << 35;
    QTest::newRow("CR LF and a byte-order mark") << windows << 34 << TOutcome::Optional << 35;
}

void tst_NewVersionCheck::check() {
    QFETCH(QByteArray, versionFile);
    QFETCH(int, program);
    QFETCH(TOutcome, outcome);
    QFETCH(int, latest);
    Put(u"download/version.html"_s, versionFile);
    THttpClient client = Client();
    TNewVersionCheck check(client, Site() + u'/');
    QCOMPARE(check.Check(program), outcome);
    QVERIFY2(check.LastError().isEmpty(), qPrintable(check.LastError()));
    QCOMPARE(check.Site().Latest, latest);
    QCOMPARE(check.Site().Minimum, 30);
    QCOMPARE(check.Site().PackageFileName, QString::fromLatin1(PackageName));
    // Empty lines of the changes are dropped.
    QCOMPARE(check.Site().Changes, (QStringList{u"Faster restores"_s, u"New icons"_s}));
}

void tst_NewVersionCheck::failuresAreNothingNew_data() {
    QTest::addColumn<QString>("site");
    QTest::addColumn<QByteArray>("versionFile"); // empty: no such file on the site
    QTest::addColumn<QByteArray>("changes");     // empty: no such file on the site
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QString>("why");
    const QString here; // the stand-in site
    QTest::newRow("unreachable server") << u"https://127.0.0.1:%1"_s.arg(TServerProcess::FreePort()) << GoodVersionFile
                                        << Changes << true << u"onnect"_s;
    QTest::newRow("plain http elsewhere")
        << u"http://www.vaultora.example"_s << GoodVersionFile << Changes << true << u"Only https"_s;
    QTest::newRow("unknown certificate") << here << GoodVersionFile << Changes << false << u"ertificate"_s;
    QTest::newRow("no version file") << here << QByteArray() << Changes << true << u"404"_s;
    QTest::newRow("no changes file") << here << GoodVersionFile << QByteArray() << true << u"404"_s;
    const QString invalid = u"not valid"_s;
    QTest::newRow("no slash") << here << QByteArray("35\n" + PackageName) << Changes << true << invalid;
    QTest::newRow("latest not a number") << here << QByteArray("3.5/30\n" + PackageName) << Changes << true << invalid;
    QTest::newRow("minimum not a number") << here << QByteArray("35/x\n" + PackageName) << Changes << true << invalid;
    QTest::newRow("negative") << here << QByteArray("35/-1\n" + PackageName) << Changes << true << invalid;
    QTest::newRow("empty part") << here << QByteArray("/30\n" + PackageName) << Changes << true << invalid;
    QTest::newRow("too large") << here << QByteArray("99999999999/30\n" + PackageName) << Changes << true << invalid;
    QTest::newRow("no package line") << here << QByteArray("35/30") << Changes << true << invalid;
    QTest::newRow("package outside the folder")
        << here << QByteArray("35/30\n../../.profile\n" + PackageSum) << Changes << true << invalid;
    QTest::newRow("package with a path") << here << QByteArray("35/30\nsub/x.deb") << Changes << true << invalid;
}

void tst_NewVersionCheck::failuresAreNothingNew() {
    QFETCH(QString, site);
    QFETCH(QByteArray, versionFile);
    QFETCH(QByteArray, changes);
    QFETCH(bool, trusted);
    QFETCH(QString, why);
    if (versionFile.isEmpty())
        QFile::remove(Root(u"download/version.html"_s));
    else
        Put(u"download/version.html"_s, versionFile);
    if (changes.isEmpty())
        QFile::remove(Root(u"download/version-changes.html"_s));
    THttpClient client = trusted ? Client() : THttpClient();
    TNewVersionCheck check(client, site.isEmpty() ? Site() : site);
    // A program far behind would be told to update, if anything had been read.
    QCOMPARE(check.Check(1), TOutcome::NothingNew);
    QVERIFY2(check.LastError().contains(why), qPrintable(check.LastError()));
}

void tst_NewVersionCheck::redirectsStayOnAllowedAddresses() {
    QFile::remove(Root(u"download/version.html"_s));
    Put(u"download/version.html.redirect"_s, Site().toUtf8() + "/moved/version.html");
    Put(u"moved/version.html"_s, GoodVersionFile);
    THttpClient client = Client();
    TNewVersionCheck check(client, Site());
    QCOMPARE(check.Check(34), TOutcome::Optional);

    // Not to plain http elsewhere.
    Put(u"download/version.html.redirect"_s, "http://www.vaultora.example/download/version.html");
    QCOMPARE(check.Check(34), TOutcome::NothingNew);
    QVERIFY2(check.LastError().contains(u"Only https"_s), qPrintable(check.LastError()));

    // Not for ever.
    Put(u"download/version.html.redirect"_s, Site().toUtf8() + "/download/version.html");
    QCOMPARE(check.Check(34), TOutcome::NothingNew);
    QVERIFY2(check.LastError().contains(u"302"_s), qPrintable(check.LastError()));
}

void tst_NewVersionCheck::displayVersion() {
    QCOMPARE(TNewVersionCheck::DisplayVersion(35), u"3.5"_s);
    QCOMPARE(TNewVersionCheck::DisplayVersion(120), u"12.0"_s);
    QCOMPARE(TNewVersionCheck::DisplayVersion(5), u"0.5"_s);
    QCOMPARE(TNewVersionCheck::VersionNumber(3, 4), 34);
}

void tst_NewVersionCheck::download_data() {
    QTest::addColumn<QByteArray>("sumLine");
    QTest::addColumn<QByteArray>("served");
    QTest::addColumn<QString>("error"); // empty: taken
    QByteArray wrong = PackageSum;
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';
    QTest::newRow("right sum") << PackageSum << Package << QString();
    QTest::newRow("right sum in capitals") << PackageSum.toUpper() << Package << QString();
    QTest::newRow("wrong sum") << wrong << Package << u"does not match"_s;
    QTest::newRow("package changed on the site")
        << PackageSum << QByteArray(Package).replace(1000, 1, "q") << u"does not match"_s;
    QTest::newRow("missing sum") << QByteArray() << Package << u"no SHA-256"_s;
    QTest::newRow("sum too short") << PackageSum.left(63) << Package << u"no SHA-256"_s;
    QTest::newRow("no package on the site") << PackageSum << QByteArray() << u"404"_s;
}

void tst_NewVersionCheck::download() {
    QFETCH(QByteArray, sumLine);
    QFETCH(QByteArray, served);
    QFETCH(QString, error);
    Put(u"download/version.html"_s, "35/30\n" + PackageName + '\n' + sumLine);
    if (served.isEmpty())
        QFile::remove(Root(u"download/"_s + QString::fromLatin1(PackageName)));
    else
        Put(u"download/"_s + QString::fromLatin1(PackageName), served);
    THttpClient client = Client();
    TNewVersionCheck check(client, Site());
    QCOMPARE(check.Check(34), TOutcome::Optional);
    const QString folder = FWork.filePath(u"temp"_s);
    QDir(folder).removeRecursively();
    int64_t lastDone = 0, lastTotal = 0;
    const TNewVersionCheck::TDownload result = check.Download(folder, [&](int64_t done, int64_t total) {
        lastDone = done;
        lastTotal = total;
        return true;
    });
    QVERIFY(!result.Cancelled);
    if (error.isEmpty()) {
        QVERIFY2(result.Ok, qPrintable(result.Error));
        QCOMPARE(result.Path, QDir(folder).filePath(QString::fromLatin1(PackageName)));
        QFile file(result.Path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), Package);
        QCOMPARE(lastTotal, int64_t(Package.size()));
        QCOMPARE(lastDone, int64_t(Package.size()));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QString::fromLatin1(PackageName)});
    } else {
        QVERIFY(!result.Ok);
        QVERIFY2(result.Error.contains(error), qPrintable(result.Error));
        QVERIFY(result.Path.isEmpty());
        // Nothing refused is left where it could be opened.
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    }
}

void tst_NewVersionCheck::cancelledDownloadLeavesNothing() {
    THttpClient client = Client();
    TNewVersionCheck check(client, Site());
    QCOMPARE(check.Check(34), TOutcome::Optional);
    const QString folder = FWork.filePath(u"temp-cancel"_s);
    const TNewVersionCheck::TDownload result =
        check.Download(folder, [](int64_t done, int64_t) { return done < 1000; });
    QVERIFY(result.Cancelled);
    QVERIFY(!result.Ok);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
}

QTEST_GUILESS_MAIN(tst_NewVersionCheck)
#include "tst_newversioncheck.moc"
