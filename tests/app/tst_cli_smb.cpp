// Backups to a network share and restores from it with vaultora-cli, in real processes, against a
// private smbd on loopback.

#include "../storage/TSmbServer.h"
#include "CliTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

class TestCliSmb : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    TSmbServer m_server;
    QString m_problem;

    QString Path(const QString& name) const { return m_root.filePath(name); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CACHE_HOME"_s, Path(u"cache"_s));
        environment.insert(u"HOME"_s, Path(u"home"_s));
        return environment;
    }

    TRun Run(const QStringList& args) { return RunCli(Environment(), Path(u"data"_s), args, true); }

    void RequireServer() {
        if (!m_problem.isEmpty())
            QSKIP(qPrintable(m_problem));
    }

    // A folder on the share for one job, owned by the share's user.
    QString ShareFolder(const QString& name) {
        const QString disk = m_server.SharePath(u"share"_s) + u'/' + name;
        QDir().mkpath(disk);
        const passwd* user = ::getpwnam(TSmbServer::User.toUtf8().constData());
        if (user)
            ::chown(QFile::encodeName(disk).constData(), user->pw_uid, user->pw_gid);
        return m_server.Url(u"share"_s) + u'/' + name;
    }

private Q_SLOTS:
    void initTestCase() {
        QDir().mkpath(Path(u"home"_s));
        qputenv("HOME", Path(u"home"_s).toUtf8());
        m_problem = m_server.Start();
        QFile password(Path(u"share-password"_s));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write(TSmbServer::Password.toUtf8() + '\n');
        password.close();
        QFile zipPassword(Path(u"zip-password"_s));
        QVERIFY(zipPassword.open(QIODevice::WriteOnly));
        zipPassword.write("zip secret\n");
    }

    // Full, incremental and ZIP chains through the share restore what the source was.
    void chainsRestoreThroughTheShare_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("incremental") << QStringList{u"--type"_s, u"incremental"_s};
        QTest::newRow("full") << QStringList{u"--type"_s, u"full"_s};
        QTest::newRow("zip aes") << QStringList{u"--zip"_s, u"--encrypt"_s, u"aes256"_s, u"--password-file"_s,
                                                Path(u"zip-password"_s)};
    }

    void chainsRestoreThroughTheShare() {
        RequireServer();
        QFETCH(QStringList, options);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString source = Path(u"src-"_s + tag);
        QDateTime stamp = QDateTime::currentDateTime().addDays(-1);
        stamp.setTime(QTime(stamp.time().hour(), stamp.time().minute(), stamp.time().second()));
        QVERIFY(Write(source + u"/a.txt"_s, "first", stamp));
        QVERIFY(Write(source + u"/odd: name*?.txt"_s, "reserved characters", stamp));
        QVERIFY(Write(source + u"/sub/100% b.bin"_s, QByteArray(300000, 'b'), stamp));
        // A link, an executable, a read-only file and a private folder: the share keeps none of
        // these, the restore point's metadata list brings them back.
        QVERIFY(QFile::link(u"a.txt"_s, source + u"/link to a"_s));
        QVERIFY(Write(source + u"/run.sh"_s, "#!/bin/sh\n", stamp));
        QVERIFY(::chmod(QFile::encodeName(source + u"/run.sh"_s).constData(), 0755) == 0);
        QVERIFY(Write(source + u"/sub/read-only.txt"_s, "keep", stamp));
        QVERIFY(::chmod(QFile::encodeName(source + u"/sub/read-only.txt"_s).constData(), 0444) == 0);
        QVERIFY(QDir().mkpath(source + u"/private"_s));
        QVERIFY(::chmod(QFile::encodeName(source + u"/private"_s).constData(), 0700) == 0);
        const QString job = u"Share-"_s + tag;
        const TRun created =
            Run(QStringList{u"new"_s, job, u"--source"_s, source, u"--to"_s, ShareFolder(tag), u"--user"_s,
                            TSmbServer::User, u"--share-password-file"_s, Path(u"share-password"_s)} +
                options);
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
            QVERIFY(backup.Out.contains(u"Connecting to the network. Directory:"_s));
            // No password ever reaches the log.
            QVERIFY(!backup.Out.contains(TSmbServer::Password));
        }
        for (int point = 1; point <= 3; ++point) {
            const QString out = Path(u"out-%1-%2"_s.arg(tag).arg(point));
            QStringList args{u"restore"_s, job, u"--to"_s, out, u"--point"_s, QString::number(point)};
            if (encrypted)
                args << u"--password-file"_s << Path(u"zip-password"_s);
            const TRun restore = Run(args);
            QVERIFY2(restore.ExitCode == 0, qPrintable(restore.Out));
            // The source folder comes back by its name inside the output folder.
            QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"src-"_s + tag});
            const TTree restored = ReadTree(out + u"/src-"_s + tag);
            const TTree& expected = states.at(point - 1);
            if (restored != expected) {
                QString differences;
                for (auto it = expected.begin(); it != expected.end(); ++it)
                    if (restored.value(it.key()) != it.value())
                        differences += it.key() + u' ' + QString::number(it.value().Time) + u' ' +
                                       QString::number(restored.value(it.key()).Time) + u' ' +
                                       QString::number(it.value().Mode, 8) + u' ' +
                                       QString::number(restored.value(it.key()).Mode, 8) + u'\n';
                for (auto it = restored.begin(); it != restored.end(); ++it)
                    if (!expected.contains(it.key()))
                        differences += u"extra: "_s + it.key() + u'\n';
                QFAIL(qPrintable(u"point %1 differs:\n"_s.arg(point) + differences));
            }
        }
        // The stored names on the share hold no reserved characters.
        QDirIterator it(m_server.SharePath(u"share"_s) + u'/' + tag, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY2(!it.next().contains(u':'), qPrintable(it.filePath()));
    }

    void connectFailuresEndTheRunWithTheirReason_data() {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("reason");
        QTest::newRow("wrong password") << u"share"_s << u"wrong"_s << u"ERROR: Access denied:"_s;
        QTest::newRow("no such share") << u"nosuchshare"_s << TSmbServer::Password << u"ERROR: Bad network Name:"_s;
        QTest::newRow("server not running") << QString() << TSmbServer::Password << u"ERROR: No Network:"_s;
    }

    void connectFailuresEndTheRunWithTheirReason() {
        RequireServer();
        QFETCH(QString, to);
        QFETCH(QString, password);
        QFETCH(QString, reason);
        const QString target =
            to.isEmpty() ? u"smb://127.0.0.1:%1/share"_s.arg(TServerProcess::FreePort()) : m_server.Url(to);
        QFile file(Path(u"try-password"_s));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(password.toUtf8());
        file.close();
        const QString job = u"Fail-"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        QCOMPARE(Run({u"new"_s, job, u"--source"_s, Path(u"src-full"_s), u"--to"_s, target, u"--user"_s,
                      TSmbServer::User, u"--share-password-file"_s, Path(u"try-password"_s)})
                     .ExitCode,
                 0);
        const TRun backup = Run({u"backup"_s, job});
        QVERIFY2(backup.ExitCode != 0, qPrintable(backup.Out));
        QVERIFY2(backup.Out.contains(reason), qPrintable(backup.Out));
        QVERIFY(!backup.Out.contains(password));
    }

    void badShareFormsAreRefusedByNew() {
        const TRun run = Run({u"new"_s, u"Bad"_s, u"--source"_s, Path(u"src-full"_s), u"--to"_s, u"smb://server"_s});
        QCOMPARE(run.ExitCode, 64);
        QVERIFY2(run.Out.contains(u"not a network share path"_s), qPrintable(run.Out));
        const TRun local = Run(
            {u"new"_s, u"Bad"_s, u"--source"_s, Path(u"src-full"_s), u"--to"_s, Path(u"home"_s), u"--user"_s, u"x"_s});
        QCOMPARE(local.ExitCode, 64);
    }

    // A job whose record is gone comes back from the stored job file next to its folder on the
    // share, with the share's user and password given to "open", and restores.
    void openAShareJobFromItsStoredFile() {
        RequireServer();
        QVERIFY(Write(Path(u"open-src/a.txt"_s), "on the share", QDateTime::currentDateTime()));
        const QString folder = ShareFolder(u"open"_s);
        const QStringList login{u"--user"_s, TSmbServer::User, u"--share-password-file"_s, Path(u"share-password"_s)};
        QCOMPARE(Run(QStringList{u"new"_s, u"Lost"_s, u"--source"_s, Path(u"open-src"_s), u"--to"_s, folder} + login)
                     .ExitCode,
                 0);
        const TRun backup = Run({u"backup"_s, u"Lost"_s});
        QVERIFY2(backup.ExitCode == 0, qPrintable(backup.Out));
        QCOMPARE(Run({u"remove"_s, u"Lost"_s}).ExitCode, 0);
        const TRun opened = Run(QStringList{u"open"_s, folder + u"/Lost.vlj"_s} + login);
        QVERIFY2(opened.ExitCode == 0, qPrintable(opened.Out));
        const TRun restore = Run({u"restore"_s, u"Lost"_s, u"--to"_s, Path(u"open-out"_s)});
        QVERIFY2(restore.ExitCode == 0, qPrintable(restore.Out));
        QFile restored(Path(u"open-out/open-src/a.txt"_s));
        QVERIFY(restored.open(QIODevice::ReadOnly));
        QCOMPARE(restored.readAll(), QByteArray("on the share"));
    }

    void cleanupTestCase() { m_server.Stop(); }
};

QTEST_GUILESS_MAIN(TestCliSmb)
#include "tst_cli_smb.moc"
