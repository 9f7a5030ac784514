// OneDrive sign-in and jobs with vaultora-cli, in real processes, against the Graph stand-in on
// loopback: cloud-auth through the browser and with a pasted address, cloud-reset, full,
// incremental and ZIP chains of an awkward tree (with names OneDrive refuses) that restore
// identical, and the scheduler running a Dropbox and a OneDrive job at once.

#include "../cloud/TDropboxStandIn.h"
#include "../cloud/TOneDriveStandIn.h"
#include "CliTestSupport.h"

#include "net/THttpClient.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {} // namespace

class TestCliOneDrive : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    TOneDriveStandIn m_server;
    TDropboxStandIn m_dropbox;

    QString Path(const QString& name) const { return m_root.filePath(name); }
    QString Data() const { return Path(u"data"_s); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CACHE_HOME"_s, Path(u"cache"_s));
        environment.insert(u"XDG_CONFIG_HOME"_s, Path(u"config"_s));
        environment.insert(u"XDG_DATA_HOME"_s, Path(u"share"_s));
        environment.insert(u"XDG_RUNTIME_DIR"_s, Path(u"runtime"_s));
        environment.insert(u"HOME"_s, Path(u"home"_s));
        return environment;
    }

    TRun Run(const QStringList& args) { return RunCli(Environment(), Data(), args, true); }

    QString TokenFile() const { return Data() + u"/rt_o.dt"_s; }

    // Follows an authorization address as a browser would; where the service sends it back.
    static QUrl Browse(const QString& url) {
        THttpClient browser;
        THttpRequest request;
        request.Method = "GET";
        request.Url = url;
        const THttpResponse answer = browser.Send(request);
        return answer.Status == 302 ? QUrl(QString::fromLatin1(answer.Header("location"))) : QUrl();
    }

    // Signs in with the address the native-client page shows after a sign-in without redirect.
    TRun SignInWithPastedAddress() {
        QUrlQuery query;
        query.addQueryItem(u"client_id"_s, u"od-client"_s);
        query.addQueryItem(u"response_type"_s, u"code"_s);
        query.addQueryItem(u"redirect_uri"_s, m_server.Base() + u"/common/oauth2/nativeclient"_s);
        query.addQueryItem(u"scope"_s, u"Files.ReadWrite offline_access"_s);
        QUrl authorize(m_server.Base() + u"/common/oauth2/v2.0/authorize"_s);
        authorize.setQuery(query);
        const QUrl back = Browse(authorize.toString(QUrl::FullyEncoded));
        return Run({u"cloud-auth"_s, u"onedrive"_s, u"--code"_s, back.toString(QUrl::FullyEncoded)});
    }

    void EnsureSignedIn() {
        if (!QFile::exists(TokenFile()))
            QCOMPARE(SignInWithPastedAddress().ExitCode, 0);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(m_server.Start(50), qPrintable(m_server.Output()));
        QVERIFY2(m_dropbox.Start(50), qPrintable(m_dropbox.Output()));
        for (const QString& folder : {u"home"_s, u"config/Vaultora"_s, u"runtime"_s, u"share"_s})
            QVERIFY(QDir().mkpath(Path(folder)));
        QFile::setPermissions(Path(u"runtime"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile conf(Path(u"config/Vaultora/Vaultora.conf"_s));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(m_dropbox.ConfigText() + m_server.ConfigLines());
        conf.close();
        // The application keys: Dropbox id and secret, two empty Google lines, the OneDrive id.
        QVERIFY(QDir().mkpath(Data()));
        QFile keys(Path(u"keys.txt"_s));
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write("cli-test\ncli-secret\n\n\nod-client\n");
        keys.close();
        const TRun mcs = RunProgram(McsTool, Environment(), {Path(u"keys.txt"_s), Data() + u"/mcs.dt"_s}, true);
        QVERIFY2(mcs.ExitCode == 0, qPrintable(mcs.Out));
        QFile zipPassword(Path(u"zip-password"_s));
        QVERIFY(zipPassword.open(QIODevice::WriteOnly));
        zipPassword.write("zip secret\n");
    }

    // The loopback sign-in: the command prints the address and waits; a browser follows it to
    // http://localhost, with the state the command checks.
    void cloudAuthThroughTheBrowser() {
        QFile::remove(TokenFile());
        const quint16 port = TServerProcess::FreePort();
        QProcess cli;
        cli.setProcessEnvironment(Environment());
        cli.setProcessChannelMode(QProcess::MergedChannels);
        cli.start(Cli, {u"--data-dir"_s, Data(), u"cloud-auth"_s, u"onedrive"_s, u"--port"_s, QString::number(port)});
        QByteArray output;
        QString url;
        const QByteArray redirect = "redirect_uri=http%3A%2F%2Flocalhost%3A" + QByteArray::number(port);
        while (url.isEmpty() && cli.waitForReadyRead(30000)) {
            output += cli.readAll();
            for (const QByteArray& line : output.split('\n'))
                if (line.contains(redirect))
                    url = QString::fromLatin1(line.trimmed());
        }
        QVERIFY2(!url.isEmpty(), output.constData());
        QVERIFY(url.contains(u"client_id=od-client"_s));
        QVERIFY(url.contains(u"code_challenge_method=S256"_s));
        // The fall-back address for a browser elsewhere ends on the native-client page.
        QVERIFY2(output.contains("nativeclient"), output.constData());
        const QUrl back = Browse(url);
        QCOMPARE(back.host(), u"localhost"_s);
        // Another page's redirect with a made-up state changes nothing.
        THttpClient browser;
        THttpRequest forged;
        forged.Method = "GET";
        forged.Url = u"http://127.0.0.1:%1/?code=M.forged&state=guess"_s.arg(port);
        QVERIFY(browser.Send(forged).Status >= 400);
        THttpRequest request;
        request.Method = "GET";
        request.Url = back.toString(QUrl::FullyEncoded);
        QCOMPARE(browser.Send(request).Status, 200);
        QVERIFY(cli.waitForFinished(60000));
        output += cli.readAll();
        QVERIFY2(cli.exitCode() == 0, output.constData());
        QVERIFY(output.contains("Signed in to One Drive."));
        QVERIFY(QFile::exists(TokenFile()));
        QCOMPARE(QFileInfo(TokenFile()).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    }

    void cloudAuthWithAPastedAddressAndReset() {
        QFile::remove(TokenFile());
        const TRun signedIn = SignInWithPastedAddress();
        QVERIFY2(signedIn.ExitCode == 0, qPrintable(signedIn.Out));
        QVERIFY(QFile::exists(TokenFile()));
        const TRun reset = Run({u"cloud-reset"_s, u"onedrive"_s});
        QCOMPARE(reset.ExitCode, 0);
        QVERIFY(!QFile::exists(TokenFile()));
        // A job then stops at its connection with the text that says where to sign in again.
        QVERIFY(Write(Path(u"reset-src/a.txt"_s), "a", QDateTime::currentDateTime()));
        QCOMPARE(Run({u"new"_s, u"Reset"_s, u"--source"_s, Path(u"reset-src"_s), u"--to"_s, u"cloud:One Drive/r"_s})
                     .ExitCode,
                 0);
        const TRun backup = Run({u"backup"_s, u"Reset"_s});
        QVERIFY2(backup.ExitCode != 0, qPrintable(backup.Out));
        QVERIFY2(backup.Out.contains(u"The cloud session has expired. You have to authorize again. Open the Cloud "
                                     "Client, and choose \"One Drive\" in the dropdown menu of \"Connect\" button."_s),
                 qPrintable(backup.Out));
    }

    // Full, incremental and ZIP chains through the stand-in restore what the source was.
    void chainsRestoreThroughOneDrive_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("incremental") << QStringList{u"--type"_s, u"incremental"_s};
        QTest::newRow("full") << QStringList{u"--type"_s, u"full"_s};
        QTest::newRow("zip aes") << QStringList{u"--zip"_s, u"--encrypt"_s, u"aes256"_s, u"--password-file"_s,
                                                Path(u"zip-password"_s)};
    }

    void chainsRestoreThroughOneDrive() {
        QFETCH(QStringList, options);
        EnsureSignedIn();
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString source = Path(u"src-"_s + tag);
        QDateTime stamp = QDateTime::currentDateTime().addDays(-1);
        stamp.setTime(QTime(stamp.time().hour(), stamp.time().minute(), stamp.time().second()));
        QVERIFY(Write(source + u"/a.txt"_s, "first", stamp));
        QVERIFY(Write(source + u"/quote \"q\" back\\slash.txt"_s, "quotes and backslashes", stamp));
        QVERIFY(Write(source + u"/ünïcödé 😀/名前.txt"_s, "unicode", stamp));
        // Names OneDrive refuses: its characters, a trailing full stop, blanks at the ends and
        // reserved names, for files and folders.
        QVERIFY(Write(source + u"/odd: name*?<>|.txt"_s, "reserved characters", stamp));
        QVERIFY(Write(source + u"/ends with a dot."_s, "dot", stamp));
        QVERIFY(Write(source + u"/ blanks /CON"_s, "device name", stamp));
        QVERIFY(Write(source + u"/folder. /desktop.ini"_s, "ini", stamp));
        QVERIFY(Write(source + u"/sub/100% #1 & ~b.bin"_s, QByteArray(300000, 'b'), stamp));
        QVERIFY(Write(source + u"/sub/big.bin"_s, QByteArray(400000, 'g'), stamp));
        QVERIFY(Write(source + u"/empty.txt"_s, QByteArray(), stamp));
        QVERIFY(QFile::link(u"a.txt"_s, source + u"/link to a"_s));
        QVERIFY(Write(source + u"/run.sh"_s, "#!/bin/sh\n", stamp));
        QVERIFY(::chmod(QFile::encodeName(source + u"/run.sh"_s).constData(), 0755) == 0);
        const QString job = u"OneDrive-"_s + tag;
        const TRun created =
            Run(QStringList{u"new"_s, job, u"--source"_s, source, u"--to"_s, u"cloud:One Drive/Backups/"_s + tag} +
                options);
        QVERIFY2(created.ExitCode == 0, qPrintable(created.Out));
        const bool encrypted = options.contains(u"--encrypt"_s);

        QList<TTree> states;
        for (int run = 0; run < 3; ++run) {
            if (run > 0) {
                stamp = stamp.addSecs(60);
                QVERIFY(Write(source + u"/a.txt"_s, "changed " + QByteArray::number(run), stamp));
                QVERIFY(Write(source + u"/sub/new: "_s + QString::number(run) + u".txt"_s, "new", stamp));
            }
            states.append(ReadTree(source));
            const TRun backup = Run({u"backup"_s, job});
            QVERIFY2(backup.ExitCode == 0, qPrintable(backup.Out));
            QVERIFY(!backup.Out.contains(u"access-"_s) && !backup.Out.contains(u"refresh-"_s));
        }
        for (int point = 1; point <= 3; ++point) {
            const QString out = Path(u"out-%1-%2"_s.arg(tag).arg(point));
            QStringList args{u"restore"_s, job, u"--to"_s, out, u"--point"_s, QString::number(point)};
            if (encrypted)
                args << u"--password-file"_s << Path(u"zip-password"_s);
            const TRun restore = Run(args);
            QVERIFY2(restore.ExitCode == 0, qPrintable(restore.Out));
            const TTree restored = ReadTree(out + u"/src-"_s + tag);
            const QString differences = Differences(states.at(point - 1), restored);
            QVERIFY2(differences.isEmpty(), qPrintable(u"point %1 differs:\n"_s.arg(point) + differences));
        }
        // The service holds the refused names mapped, never as they are; no token reached the
        // content host.
        const QJsonObject files = m_server.State().value(u"files"_s).toObject();
        bool mapped = false;
        for (auto it = files.begin(); it != files.end(); ++it) {
            QVERIFY2(!it.key().contains(u':') && !it.key().endsWith(u'.'), qPrintable(it.key()));
            mapped = mapped || it.key().contains(QChar(0xF000 + ':'));
        }
        if (!encrypted)
            QVERIFY(mapped);
        QCOMPARE(m_server.ContentAuthorizations(), QStringList());
    }

    // A Dropbox and a OneDrive job due at the same time run at once.
    void schedulerRunsTwoServicesAtOnce() {
        EnsureSignedIn();
        QFile::remove(Data() + u"/rt_d.dt"_s);
        {
            THttpClient http;
            THttpRequest request;
            request.Method = "GET";
            request.Url = m_dropbox.Base() + u"/oauth2/authorize?client_id=cli-test&response_type=code"_s;
            const QByteArray page = http.Send(request).Body;
            const qsizetype at = page.indexOf("code-");
            const QString code = QString::fromLatin1(page.mid(at, page.indexOf('<', at) - at));
            QCOMPARE(Run({u"cloud-auth"_s, u"dropbox"_s, u"--code"_s, code}).ExitCode, 0);
        }
        QVERIFY(Write(Path(u"two-src/a.txt"_s), "a", QDateTime::currentDateTime()));
        const QStringList names{u"Drop"_s, u"One"_s};
        const QStringList targets{u"cloud:DropBox/two"_s, u"cloud:One Drive/two"_s};
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(Run({u"new"_s, names[i], u"--source"_s, Path(u"two-src"_s), u"--to"_s, targets[i]}).ExitCode, 0);
        // A schedule written after its start time would not start that day: on a slow machine
        // the commands take longer, so the start moves further out until both are in time.
        QDateTime at;
        for (int margin = 4; margin <= 64 && (at.isNull() || QDateTime::currentDateTime() >= at); margin *= 2) {
            at = QDateTime::currentDateTime().addSecs(margin);
            for (const QString& name : names) {
                const TRun scheduled = Run({u"schedule"_s, name, u"--days-of-week"_s, u"mon,tue,wed,thu,fri,sat,sun"_s,
                                            u"--at"_s, at.toString(u"HH:mm:ss"_s)});
                QVERIFY2(scheduled.ExitCode == 0, qPrintable(scheduled.Out));
            }
        }
        QVERIFY(QDateTime::currentDateTime() < at);
        // Each service answers its first request with a two-second wait, so that both jobs are
        // surely running together.
        m_dropbox.Fault(QJsonObject{{u"kind"_s, u"busy"_s}, {u"count"_s, 1}, {u"retry_after"_s, 2}});
        m_server.Fault(QJsonObject{{u"kind"_s, u"busy"_s}, {u"count"_s, 1}, {u"retry_after"_s, 2}});

        QProcess scheduler;
        scheduler.setProcessEnvironment(Environment());
        scheduler.start(Cli, {u"--data-dir"_s, Data(), u"run-scheduler"_s});
        QVERIFY(scheduler.waitForStarted());
        QString out;
        const auto finished = [&](const QString& name) {
            return out.indexOf(u"Backup job \"%1\" is finished."_s.arg(name));
        };
        QDeadlineTimer deadline(90000);
        while (scheduler.state() == QProcess::Running && !deadline.hasExpired() &&
               std::any_of(names.begin(), names.end(), [&](const QString& name) { return finished(name) < 0; })) {
            scheduler.waitForReadyRead(200);
            out += QString::fromUtf8(scheduler.readAllStandardOutput());
        }
        ::kill(pid_t(scheduler.processId()), SIGTERM);
        QVERIFY(scheduler.waitForFinished(30000));
        out += QString::fromUtf8(scheduler.readAllStandardOutput());
        const auto started = [&](const QString& name) {
            return out.indexOf(u"Starting the \"%1\" backup."_s.arg(name));
        };
        for (const QString& name : names) {
            QVERIFY2(started(name) >= 0 && finished(name) > started(name), qPrintable(out));
            QVERIFY2(out.contains(u"Backup job \"%1\" is finished. Files copied: 1."_s.arg(name)), qPrintable(out));
        }
        const qsizetype firstFinish = std::min(finished(u"Drop"_s), finished(u"One"_s));
        QVERIFY2(started(u"Drop"_s) < firstFinish && started(u"One"_s) < firstFinish, qPrintable(out));
        QVERIFY(m_dropbox.Exists(u"/two/Drop"_s));
        QVERIFY(m_server.Exists(u"/two/One"_s));
    }
};

QTEST_GUILESS_MAIN(TestCliOneDrive)
#include "tst_cli_onedrive.moc"
