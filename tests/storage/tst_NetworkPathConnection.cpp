// The network share connection against a real smbd on loopback, and the share path forms.

#include "TFakeSleeper.h"
#include "TSmbServer.h"

#include "storage/SharePath.h"
#include "storage/TNetworkPathConnection.h"

#include <libsmbclient.h>

#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <thread>

using namespace Qt::Literals::StringLiterals;

class tst_NetworkPathConnection : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // The client library reads ~/.smb; keep it away from the real home.
        qputenv("HOME", m_home.path().toUtf8());
        m_serverProblem = m_server.Start();
    }

    void parsesEveryPathForm_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("url"); // the canonical form
        QTest::newRow("backslashes") << u"\\\\nas\\backup\\Jobs\\Mine"_s << true << u"smb://nas/backup/Jobs/Mine"_s;
        QTest::newRow("slashes") << u"//nas/backup/Jobs"_s << true << u"smb://nas/backup/Jobs"_s;
        QTest::newRow("mixed, trailing, blanks")
            << u"  \\\\nas/backup\\\\Jobs\\  "_s << true << u"smb://nas/backup/Jobs"_s;
        QTest::newRow("share only") << u"\\\\10.0.0.2\\data"_s << true << u"smb://10.0.0.2/data"_s;
        QTest::newRow("url with port") << u"smb://127.0.0.1:4455/share/a/b/"_s << true
                                       << u"smb://127.0.0.1:4455/share/a/b"_s;
        QTest::newRow("url, capitals") << u"SMB://nas/share"_s << true << u"smb://nas/share"_s;
        QTest::newRow("url, v6 with port") << u"smb://[::1]:445/share"_s << true << u"smb://[::1]:445/share"_s;
        QTest::newRow("no share") << u"\\\\nas"_s << false << QString();
        QTest::newRow("no share, url") << u"smb://nas/"_s << false << QString();
        QTest::newRow("no server") << u"\\\\\\share"_s << false << QString();
        QTest::newRow("local path") << u"/home/anna"_s << false << QString();
        QTest::newRow("drive letter") << u"C:\\Backups"_s << false << QString();
        QTest::newRow("bad port") << u"smb://nas:99999/share"_s << false << QString();
        QTest::newRow("port not a number") << u"smb://nas:x/share"_s << false << QString();
        QTest::newRow("dot dot") << u"//nas/share/../etc"_s << false << QString();
        QTest::newRow("dot") << u"//nas/share/./a"_s << false << QString();
        QTest::newRow("empty") << u"   "_s << false << QString();
    }

    void parsesEveryPathForm() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, url);
        TSharePath path;
        QCOMPARE(ParseSharePath(text, path), valid);
        if (valid)
            QCOMPARE(path.ToUrlText(), url);
    }

    void reservedCharactersTravelAsPrivateCodePoints() {
        const QString name = u"a\\b:c*d?e\"f<g>h|i %j.txt"_s;
        const QString stored = ToShareName(name);
        for (const QChar c : u"\\:*?\"<>|"_s)
            QVERIFY(!stored.contains(c));
        QCOMPARE(stored.at(1), QChar(0xF05C));
        QCOMPARE(FromShareName(stored), name);
        // Names without them, and private code points of other characters, stay as they are.
        QCOMPARE(ToShareName(u"plain ü.txt"_s), u"plain ü.txt"_s);
        QCOMPARE(FromShareName(QString(QChar(0xF041))), QString(QChar(0xF041)));
        TSharePath share;
        QVERIFY(ParseSharePath(u"smb://h:1/s"_s, share));
        QCOMPARE(ShareItemUrl(share, u"dir/100% a?.txt"_s), QByteArray("smb://h:1/s/dir/100%25%20a%EF%80%BF.txt"));
    }

    void connectsWithPasswordAndAsGuest() {
        RequireServer();
        TNetworkPathConnection connection;
        QVERIFY2(connection.Connect(u"  "_s + m_server.Url(u"share"_s) + u"/Jobs  "_s, TSmbServer::User,
                                    TSmbServer::Password),
                 qPrintable(connection.FLastError));
        QVERIFY(connection.FConnected && connection.FOwned && !connection.FFailed);
        QCOMPARE(connection.FRemotePath, m_server.Url(u"share"_s) + u"/Jobs"_s);
        QCOMPARE(connection.Share().Folder, u"Jobs"_s);
        QVERIFY(connection.Context());

        // Connecting again closes the first session; a blank user is a guest whatever the password.
        QVERIFY2(connection.Connect(m_server.Url(u"guest"_s), u"   "_s, u"ignored"_s),
                 qPrintable(connection.FLastError));
        QCOMPARE(connection.FRemotePath, m_server.Url(u"guest"_s));
        connection.Disconnect(false);
        QVERIFY(!connection.FConnected && !connection.FOwned && !connection.Context());
        QVERIFY(connection.FUser.isEmpty() && connection.FPassword.isEmpty() && connection.FRemotePath.isEmpty());
    }

    void failuresSayWhatWentWrong_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("bad password") << u"share"_s << TSmbServer::User << u"wrong"_s << u"Access denied:"_s;
        QTest::newRow("guest on the password share") << u"share"_s << QString() << QString() << u"Access denied:"_s;
        QTest::newRow("no such share") << u"nosuchshare"_s << TSmbServer::User << TSmbServer::Password
                                       << u"Bad network Name:"_s;
        QTest::newRow("server not running") << u"-"_s << TSmbServer::User << TSmbServer::Password << u"No Network:"_s;
        QTest::newRow("not a share path") << u"/local/folder"_s << QString() << QString() << u"Bad network Name:"_s;
    }

    void failuresSayWhatWentWrong() {
        QFETCH(QString, path);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, prefix);
        QString target = m_server.Url(path);
        if (path == u"-"_s)
            target = u"smb://127.0.0.1:%1/share"_s.arg(TServerProcess::FreePort());
        else if (path.startsWith(u'/'))
            target = path;
        else
            RequireServer();
        TNetworkPathConnection connection;
        QVERIFY(!connection.Connect(target, user, password));
        QVERIFY(connection.FFailed);
        QVERIFY2(connection.FLastError.startsWith(prefix + u' '), qPrintable(connection.FLastError));
        QVERIFY(connection.FLastError.size() > prefix.size() + 2);
        QVERIFY(!connection.FConnected && !connection.Context() && connection.FURI.isEmpty());
        // The password is never part of what is reported.
        if (!password.isEmpty())
            QVERIFY(!connection.FLastError.contains(password));
    }

    void disconnectWaitsForOpenFilesThenGivesUp() {
        RequireServer();
        TFakeSleeper sleeper;
        TNetworkPathConnection connection(&sleeper);
        QVERIFY2(connection.Connect(m_server.Url(u"guest"_s), QString(), QString()), qPrintable(connection.FLastError));
        SMBCCTX* context = connection.Context();
        const QByteArray url = ShareItemUrl(connection.Share(), u"open.txt"_s);
        {
            const auto lock = TNetworkPathConnection::LockLibrary();
            QVERIFY(smbc_getFunctionCreat(context)(context, url.constData(), 0644));
        }
        connection.Disconnect(false);
        QCOMPARE(sleeper.Calls, 99);
        QCOMPARE(sleeper.TotalMilliseconds, 9900LL);
        QVERIFY(!connection.FConnected && !connection.Context());

        // Nothing open: no wait at all.
        TFakeSleeper idle;
        TNetworkPathConnection quiet(&idle);
        QVERIFY(quiet.Connect(m_server.Url(u"guest"_s), QString(), QString()));
        quiet.Disconnect(false);
        QCOMPARE(idle.Calls, 0);
    }

    void twoConnectionsOnTwoThreadsAtOnce() {
        RequireServer();
        // Each thread writes and reads back files through its own session many times over.
        auto work = [this](const QString& share, const QString& user, const QString& password, bool* ok) {
            TNetworkPathConnection connection;
            *ok = connection.Connect(m_server.Url(share), user, password);
            for (int i = 0; *ok && i < 40; ++i) {
                SMBCCTX* context = connection.Context();
                const QByteArray url = ShareItemUrl(connection.Share(), u"t%1.txt"_s.arg(i));
                const auto lock = TNetworkPathConnection::LockLibrary();
                SMBCFILE* file = smbc_getFunctionCreat(context)(context, url.constData(), 0644);
                const QByteArray data = share.toUtf8() + QByteArray::number(i);
                *ok = file && smbc_getFunctionWrite(context)(context, file, data.constData(), size_t(data.size())) ==
                                  data.size();
                if (file)
                    smbc_getFunctionClose(context)(context, file);
            }
        };
        bool first = false;
        bool second = false;
        std::thread a(work, u"share"_s, TSmbServer::User, TSmbServer::Password, &first);
        std::thread b(work, u"guest"_s, QString(), QString(), &second);
        a.join();
        b.join();
        QVERIFY(first && second);
        QFile written(m_server.SharePath(u"share"_s) + u"/t39.txt"_s);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("share39"));
        QFile guest(m_server.SharePath(u"guest"_s) + u"/t39.txt"_s);
        QVERIFY(guest.open(QIODevice::ReadOnly));
        QCOMPARE(guest.readAll(), QByteArray("guest39"));
    }

private:
    void RequireServer() {
        if (!m_serverProblem.isEmpty())
            QSKIP(qPrintable(m_serverProblem));
    }

    QTemporaryDir m_home;
    TSmbServer m_server;
    QString m_serverProblem;
};

QTEST_GUILESS_MAIN(tst_NetworkPathConnection)
#include "tst_NetworkPathConnection.moc"
