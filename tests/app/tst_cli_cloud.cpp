// Cloud sign-in and Dropbox jobs with vaultora-cli, in real processes, against the Dropbox
// stand-in on loopback: cloud-auth (loopback and pasted code), cloud-reset, and full, incremental
// and ZIP chains of an awkward tree that restore identical.

#include "../cloud/TDropboxStandIn.h"
#include "CliTestSupport.h"

#include "net/THttpClient.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {} // namespace

class TestCliCloud : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    TDropboxStandIn m_server;

    QString Path(const QString& name) const { return m_root.filePath(name); }
    QString Data() const { return Path(u"data"_s); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CACHE_HOME"_s, Path(u"cache"_s));
        environment.insert(u"XDG_CONFIG_HOME"_s, Path(u"config"_s));
        environment.insert(u"HOME"_s, Path(u"home"_s));
        return environment;
    }

    TRun Run(const QStringList& args) { return RunCli(Environment(), Data(), args, true); }

    QString TokenFile() const { return Data() + u"/rt_d.dt"_s; }

    // Signs in with a code the stand-in shows for a sign-in without redirect.
    TRun SignInWithCode() {
        THttpClient http;
        THttpRequest request;
        request.Method = "GET";
        request.Url = m_server.Base() + u"/oauth2/authorize?client_id=cli-test&response_type=code"_s;
        const QByteArray page = http.Send(request).Body;
        const qsizetype at = page.indexOf("code-");
        const QString code = QString::fromLatin1(page.mid(at, page.indexOf('<', at) - at));
        return Run({u"cloud-auth"_s, u"dropbox"_s, u"--code"_s, code});
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(m_server.Start(50), qPrintable(m_server.Output()));
        QVERIFY(QDir().mkpath(Path(u"home"_s)));
        QVERIFY(QDir().mkpath(Path(u"config/Vaultora"_s)));
        QFile conf(Path(u"config/Vaultora/Vaultora.conf"_s));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(m_server.ConfigText());
        conf.close();
        // The user's own application keys, written with the packagers' tool into the data folder.
        QVERIFY(QDir().mkpath(Data()));
        QFile keys(Path(u"keys.txt"_s));
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write("cli-test\ncli-secret\n\n\n\n");
        keys.close();
        const TRun mcs = RunProgram(McsTool, Environment(), {Path(u"keys.txt"_s), Data() + u"/mcs.dt"_s}, true);
        QVERIFY2(mcs.ExitCode == 0, qPrintable(mcs.Out));
        QFile zipPassword(Path(u"zip-password"_s));
        QVERIFY(zipPassword.open(QIODevice::WriteOnly));
        zipPassword.write("zip secret\n");
    }

    // The loopback sign-in: the command prints the address and waits; a browser follows it.
    void cloudAuthThroughTheBrowser() {
        QFile::remove(TokenFile());
        const quint16 port = TServerProcess::FreePort();
        QProcess cli;
        cli.setProcessEnvironment(Environment());
        cli.setProcessChannelMode(QProcess::MergedChannels);
        cli.start(Cli, {u"--data-dir"_s, Data(), u"cloud-auth"_s, u"dropbox"_s, u"--port"_s, QString::number(port)});
        QByteArray output;
        QString url;
        while (url.isEmpty() && cli.waitForReadyRead(30000)) {
            output += cli.readAll();
            for (const QByteArray& line : output.split('\n'))
                if (line.contains("redirect_uri="))
                    url = QString::fromLatin1(line.trimmed());
        }
        QVERIFY2(!url.isEmpty(), output.constData());
        QVERIFY(url.contains(u"client_id=cli-test"_s));
        THttpClient browser;
        THttpRequest request;
        request.Method = "GET";
        request.Url = url;
        const THttpResponse service = browser.Send(request);
        QCOMPARE(service.Status, 302);
        request.Url = QString::fromLatin1(service.Header("location"));
        const THttpResponse listener = browser.Send(request);
        QCOMPARE(listener.Status, 200);
        QVERIFY(cli.waitForFinished(60000));
        output += cli.readAll();
        QVERIFY2(cli.exitCode() == 0, output.constData());
        QVERIFY(output.contains("Signed in to DropBox."));
        QVERIFY(QFile::exists(TokenFile()));
        QCOMPARE(QFileInfo(TokenFile()).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    }

    void cloudAuthWithAPastedCodeAndReset() {
        QFile::remove(TokenFile());
        const TRun signedIn = SignInWithCode();
        QVERIFY2(signedIn.ExitCode == 0, qPrintable(signedIn.Out));
        QVERIFY(QFile::exists(TokenFile()));
        // A code used once does not work again.
        const TRun reused = Run({u"cloud-auth"_s, u"dropbox"_s, u"--code"_s, u"code-0000"_s});
        QCOMPARE(reused.ExitCode, 2);
        QVERIFY2(reused.Out.contains(u"invalid_grant"_s), qPrintable(reused.Out));

        const TRun reset = Run({u"cloud-reset"_s, u"dropbox"_s});
        QCOMPARE(reset.ExitCode, 0);
        QVERIFY(reset.Out.contains(u"Tokens cleared. Access has been reset."_s));
        QVERIFY(!QFile::exists(TokenFile()));
        // A job then stops at its connection with the text that says where to sign in again.
        QVERIFY(Write(Path(u"reset-src/a.txt"_s), "a", QDateTime::currentDateTime()));
        QCOMPARE(
            Run({u"new"_s, u"Reset"_s, u"--source"_s, Path(u"reset-src"_s), u"--to"_s, u"cloud:DropBox/r"_s}).ExitCode,
            0);
        const TRun backup = Run({u"backup"_s, u"Reset"_s});
        QVERIFY2(backup.ExitCode != 0, qPrintable(backup.Out)); // the run ends as a connect failure does
        QVERIFY2(backup.Out.contains(u"The cloud session has expired. You have to authorize again. Open the Cloud "
                                     "Client, and choose \"DropBox\" in the dropdown menu of \"Connect\" button."_s),
                 qPrintable(backup.Out));
    }

    void newRefusesBadCloudDestinations_data() {
        QTest::addColumn<QString>("to");
        QTest::newRow("unknown service") << u"cloud:Elsewhere/x"_s;
        QTest::newRow("google drive, dot dot") << u"cloud:Google Drive/x/../y"_s;
        QTest::newRow("backslash") << u"cloud:DropBox/a\\b"_s;
        QTest::newRow("dot dot") << u"cloud:DropBox/a/../b"_s;
    }

    void newRefusesBadCloudDestinations() {
        QFETCH(QString, to);
        QVERIFY(QDir().mkpath(Path(u"bad-src"_s)));
        const TRun created = Run({u"new"_s, u"Bad"_s, u"--source"_s, Path(u"bad-src"_s), u"--to"_s, to});
        QCOMPARE(created.ExitCode, 64);
    }

    // Full, incremental and ZIP chains through the stand-in restore what the source was.
    void chainsRestoreThroughDropbox_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("incremental") << QStringList{u"--type"_s, u"incremental"_s};
        QTest::newRow("full") << QStringList{u"--type"_s, u"full"_s};
        QTest::newRow("zip aes") << QStringList{u"--zip"_s, u"--encrypt"_s, u"aes256"_s, u"--password-file"_s,
                                                Path(u"zip-password"_s)};
    }

    void chainsRestoreThroughDropbox() {
        QFETCH(QStringList, options);
        if (!QFile::exists(TokenFile()))
            QVERIFY(SignInWithCode().ExitCode == 0);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString source = Path(u"src-"_s + tag);
        QDateTime stamp = QDateTime::currentDateTime().addDays(-1);
        stamp.setTime(QTime(stamp.time().hour(), stamp.time().minute(), stamp.time().second()));
        QVERIFY(Write(source + u"/a.txt"_s, "first", stamp));
        QVERIFY(Write(source + u"/quote \"q\" back\\slash.txt"_s, "quotes and backslashes", stamp));
        QVERIFY(Write(source + u"/ünïcödé 😀/名前.txt"_s, "unicode", stamp));
        QVERIFY(Write(source + u"/odd: name*?.txt"_s, "reserved characters", stamp));
        QVERIFY(Write(source + u"/sub/100% b.bin"_s, QByteArray(300000, 'b'), stamp));
        QVERIFY(Write(source + u"/sub/big.bin"_s, QByteArray(5 * 1024 * 1024 + 3, 'g'), stamp));
        QVERIFY(Write(source + u"/empty.txt"_s, QByteArray(), stamp));
        // A link, an executable, a read-only file and a private folder: the drive keeps none of
        // these, the restore point's metadata list brings them back.
        QVERIFY(QFile::link(u"a.txt"_s, source + u"/link to a"_s));
        QVERIFY(Write(source + u"/run.sh"_s, "#!/bin/sh\n", stamp));
        QVERIFY(::chmod(QFile::encodeName(source + u"/run.sh"_s).constData(), 0755) == 0);
        QVERIFY(Write(source + u"/sub/read-only.txt"_s, "keep", stamp));
        QVERIFY(::chmod(QFile::encodeName(source + u"/sub/read-only.txt"_s).constData(), 0444) == 0);
        QVERIFY(QDir().mkpath(source + u"/private"_s));
        QVERIFY(::chmod(QFile::encodeName(source + u"/private"_s).constData(), 0700) == 0);
        const QString job = u"Cloud-"_s + tag;
        const TRun created = Run(
            QStringList{u"new"_s, job, u"--source"_s, source, u"--to"_s, u"cloud:DropBox/Backups/"_s + tag} + options);
        QVERIFY2(created.ExitCode == 0, qPrintable(created.Out));
        const bool encrypted = options.contains(u"--encrypt"_s);

        QList<TTree> states;
        for (int run = 0; run < 3; ++run) {
            if (run > 0) {
                stamp = stamp.addSecs(60);
                QVERIFY(Write(source + u"/a.txt"_s, "changed " + QByteArray::number(run), stamp));
                QVERIFY(Write(source + u"/sub/new "_s + QString::number(run) + u".txt"_s, "new", stamp));
            }
            states.append(ReadTree(source));
            const TRun backup = Run({u"backup"_s, job});
            QVERIFY2(backup.ExitCode == 0, qPrintable(backup.Out));
            QVERIFY(!backup.Out.contains(u"access-"_s) && !backup.Out.contains(u"refresh-"_s));
        }
        const TRun points = Run({u"points"_s, job});
        QCOMPARE(points.ExitCode, 0);
        for (int point = 1; point <= 3; ++point) {
            const QString out = Path(u"out-%1-%2"_s.arg(tag).arg(point));
            QStringList args{u"restore"_s, job, u"--to"_s, out, u"--point"_s, QString::number(point)};
            if (encrypted)
                args << u"--password-file"_s << Path(u"zip-password"_s);
            const TRun restore = Run(args);
            QVERIFY2(restore.ExitCode == 0, qPrintable(restore.Out));
            QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"src-"_s + tag});
            const TTree restored = ReadTree(out + u"/src-"_s + tag);
            const QString differences = Differences(states.at(point - 1), restored);
            QVERIFY2(differences.isEmpty(), qPrintable(u"point %1 differs:\n"_s.arg(point) + differences));
        }
        // Each run's folder is where the job said, below the chosen folder.
        const QJsonArray folders = m_server.State().value(u"folders"_s).toArray();
        bool found = false;
        for (const QJsonValue folder : folders)
            found = found || folder.toString().startsWith(u"/Backups/"_s + tag + u'/' + job + u'/');
        QVERIFY(found);
    }

    // A job whose record is gone comes back from the stored job file next to its folder on the
    // drive, and restores.
    void openACloudJobFromItsStoredFile() {
        if (!QFile::exists(TokenFile()))
            QVERIFY(SignInWithCode().ExitCode == 0);
        QVERIFY(Write(Path(u"open-src/a.txt"_s), "kept", QDateTime::currentDateTime()));
        QCOMPARE(Run({u"new"_s, u"Lost"_s, u"--source"_s, Path(u"open-src"_s), u"--to"_s, u"cloud:DropBox/kept/jobs"_s})
                     .ExitCode,
                 0);
        QCOMPARE(Run({u"backup"_s, u"Lost"_s}).ExitCode, 0);
        QCOMPARE(Run({u"remove"_s, u"Lost"_s}).ExitCode, 0);
        const TRun opened = Run({u"open"_s, u"cloud:dropbox/kept/jobs/Lost.vlj"_s});
        QVERIFY2(opened.ExitCode == 0, qPrintable(opened.Out));
        const TRun shown = Run({u"show"_s, u"Lost"_s, u"--json"_s});
        QVERIFY2(shown.Out.contains(u"\"Subfolder\": \"/kept/jobs\""_s), qPrintable(shown.Out));
        const TRun restore = Run({u"restore"_s, u"Lost"_s, u"--to"_s, Path(u"open-out"_s)});
        QVERIFY2(restore.ExitCode == 0, qPrintable(restore.Out));
        QFile restored(Path(u"open-out/open-src/a.txt"_s));
        QVERIFY(restored.open(QIODevice::ReadOnly));
        QCOMPARE(restored.readAll(), QByteArray("kept"));
    }

    void renameAndRemoveACloudJob() {
        if (!QFile::exists(TokenFile()))
            QVERIFY(SignInWithCode().ExitCode == 0);
        QVERIFY(Write(Path(u"ren-src/a.txt"_s), "a", QDateTime::currentDateTime()));
        QCOMPARE(
            Run({u"new"_s, u"Before"_s, u"--source"_s, Path(u"ren-src"_s), u"--to"_s, u"cloud:DropBox/ren"_s}).ExitCode,
            0);
        QCOMPARE(Run({u"backup"_s, u"Before"_s}).ExitCode, 0);
        QVERIFY(m_server.Exists(u"/ren/Before"_s));
        const TRun renamed = Run({u"rename"_s, u"Before"_s, u"After"_s});
        QVERIFY2(renamed.ExitCode == 0, qPrintable(renamed.Out));
        QVERIFY(!m_server.Exists(u"/ren/Before"_s));
        QVERIFY(m_server.Exists(u"/ren/After"_s));
        const TRun restore = Run({u"restore"_s, u"After"_s, u"--to"_s, Path(u"ren-out"_s)});
        QVERIFY2(restore.ExitCode == 0, qPrintable(restore.Out));
        QCOMPARE(QFile(Path(u"ren-out/ren-src/a.txt"_s)).size(), 1);
        const TRun removed = Run({u"remove"_s, u"After"_s, u"--with-backup"_s});
        QVERIFY2(removed.ExitCode == 0, qPrintable(removed.Out));
        QVERIFY(!m_server.Exists(u"/ren/After"_s));
    }
};

QTEST_GUILESS_MAIN(TestCliCloud)
#include "tst_cli_cloud.moc"
