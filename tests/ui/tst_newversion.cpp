// The new-version dialog over a local site (plain http on loopback, which the HTTP client allows
// for this computer only): its texts for an optional and a mandatory update, whether the program
// may run afterwards, and "Update Now" handing over only a verified package.

#include "UiTestSupport.h"
#include "tests/net/TServerProcess.h"

#include "ui/TfrmNewVersion.h"

#include "net/THttpClient.h"
#include "net/TNewVersionCheck.h"

#include <QCryptographicHash>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray Package(300000, 'd');
const QByteArray Sum = QCryptographicHash::hash(Package, QCryptographicHash::Sha256).toHex();
const QString WhatsNew = u"\n\nWhat's new:\nFaster restores\nNew icons\n"_s;

} // namespace

class TestNewVersion : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;
    QTemporaryDir m_site;
    TServerProcess m_server;
    quint16 m_port = 0;

    QString Site() const { return u"http://127.0.0.1:%1"_s.arg(m_port); }
    void Put(const QString& name, const QByteArray& data) {
        QFile file(m_site.filePath(u"download/"_s + name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDir().mkpath(m_site.filePath(u"download"_s)));
        m_port = TServerProcess::FreePort();
        QVERIFY2(m_server.StartListening(u"/usr/bin/python3"_s,
                                         {u"-m"_s, u"http.server"_s, u"--bind"_s, u"127.0.0.1"_s, u"--directory"_s,
                                          m_site.path(), QString::number(m_port)},
                                         m_port),
                 qPrintable(m_server.Output()));
    }

    void init() {
        m_fixture = std::make_unique<UiTest::TFixture>();
        App().Options.General.PathForTempFiles = m_fixture->Path(u"temp"_s);
        Put(u"version.html"_s, "35/30\nvaultora_3.5_amd64.deb\n" + Sum + '\n');
        Put(u"version-changes.html"_s, "Faster restores\n\nNew icons\n");
        Put(u"vaultora_3.5_amd64.deb"_s, Package);
    }

    void cleanup() { m_fixture.reset(); }

    void texts_data() {
        QTest::addColumn<int>("program");
        QTest::addColumn<QString>("text"); // empty: no dialog
        QTest::addColumn<bool>("programRuns");
        QTest::newRow("optional update") << 34 << u"The new version 3.5 is available"_s + WhatsNew << true;
        QTest::newRow("mandatory update") << 29
                                          << u"This version of the software is out of date. You must download the "
                                             u"current version 3.5 to continue using the software."_s +
                                                 WhatsNew
                                          << false;
        QTest::newRow("equal version") << 35 << QString() << true;
    }

    // The dialog closed with Cancel: the program runs on after an optional update only.
    void texts() {
        QFETCH(int, program);
        QFETCH(QString, text);
        QFETCH(bool, programRuns);
        QString shown;
        QString caption;
        bool bold = false;
        bool progressHidden = false;
        bool runnerCalled = false;
        const bool runs = RunNewVersionCheck(nullptr, Site(), program, [&](QDialog& dialog) {
            runnerCalled = true;
            auto& form = static_cast<TfrmNewVersion&>(dialog);
            shown = form.TextArea()->toPlainText();
            caption = form.windowTitle();
            bold = form.UpdateNowButton()->font().bold();
            progressHidden = form.ProgressBar()->isHidden();
            form.CancelButton()->click();
            return form.result();
        });
        QCOMPARE(runnerCalled, !text.isEmpty());
        QCOMPARE(shown, text);
        if (runnerCalled) {
            QCOMPARE(caption, u" Vaultora"_s);
            QVERIFY(bold);
            QVERIFY(progressHidden);
        }
        QCOMPARE(runs, programRuns);
    }

    void noSiteNoCheck() {
        bool runnerCalled = false;
        QVERIFY(RunNewVersionCheck(nullptr, QString(), 1, [&](QDialog&) {
            runnerCalled = true;
            return 0;
        }));
        QVERIFY(!runnerCalled);
    }

    void updateNowOpensTheVerifiedPackage_data() {
        QTest::addColumn<QByteArray>("sumLine");
        QTest::addColumn<QString>("failure"); // empty: handed over
        QTest::newRow("verified") << Sum << QString();
        QTest::newRow("no sum") << QByteArray() << u"The version file gives no SHA-256 sum of the package."_s;
        QTest::newRow("other sum") << QByteArray(64, '0')
                                   << u"The downloaded package does not match the SHA-256 sum of the version file."_s;
    }

    // Whatever happens, the program ends afterwards; a failure names why and opens the site's
    // download page instead.
    void updateNowOpensTheVerifiedPackage() {
        QFETCH(QByteArray, sumLine);
        QFETCH(QString, failure);
        Put(u"version.html"_s, "35/30\nvaultora_3.5_amd64.deb\n" + sumLine + '\n');
        QList<QUrl> opened;
        QList<QUrl> pages;
        TProductSite::SetOpener([&pages](const QUrl& url) { pages.append(url); });
        int progress = -1;
        const bool runs = RunNewVersionCheck(nullptr, Site(), 34, [&](QDialog& dialog) {
            auto& form = static_cast<TfrmNewVersion&>(dialog);
            form.OpenPackage = [&](const QUrl& package) {
                opened.append(package);
                progress = form.ProgressBar()->value();
                return true;
            };
            form.UpdateNowButton()->click();
            return form.result();
        });
        TProductSite::SetOpener([](const QUrl&) {});
        QVERIFY(!runs);
        const QString package = m_fixture->Path(u"temp/vaultora_3.5_amd64.deb"_s);
        if (failure.isEmpty()) {
            QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(package)});
            QCOMPARE(UiTest::ReadFile(package), Package);
            QCOMPARE(progress, 100);
            QCOMPARE(UiTest::ShownTexts(), QStringList());
            QCOMPARE(pages, QList<QUrl>());
        } else {
            QCOMPARE(opened, QList<QUrl>());
            QVERIFY(!QFile::exists(package));
            QCOMPARE(UiTest::ShownTexts(), QStringList{u"Failed to download update.\n\n"_s + failure});
            // The page is always asked for over https.
            QCOMPARE(pages, QList<QUrl>{QUrl(u"https://127.0.0.1:%1/download/"_s.arg(m_port))});
        }
    }

    // "Abort" during the download stops it with the Part's text; nothing is handed over.
    void abortStopsTheDownload() {
        QList<QUrl> opened;
        const bool runs = RunNewVersionCheck(nullptr, Site(), 34, [&](QDialog& dialog) {
            auto& form = static_cast<TfrmNewVersion&>(dialog);
            form.OpenPackage = [&](const QUrl& package) {
                opened.append(package);
                return true;
            };
            // "Abort" is clicked while the download runs (the first progress event lets it through).
            QMetaObject::invokeMethod(
                &form, [&form] { form.CancelButton()->click(); }, Qt::QueuedConnection);
            form.UpdateNowButton()->click();
            return form.result();
        });
        QVERIFY(!runs);
        QCOMPARE(opened, QList<QUrl>());
        QCOMPARE(UiTest::ShownTexts(),
                 QStringList{u"Failed to download update.\n\nDownload is cancelled. Please download manually."_s});
    }
};

QTEST_MAIN(TestNewVersion)
#include "tst_newversion.moc"
