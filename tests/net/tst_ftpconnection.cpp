// The libcurl FTP connection against real servers on loopback (pyftpdlib with and without MLSD,
// vsftpd; plain and explicit TLS) and through real proxies (tinyproxy, dante, microsocks).
#include "TFtpServer.h"

#include "net/TCurlFtpConnection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

class tst_ftpconnection : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase_data();
    void initTestCase();
    void init();

    void operationsRoundTrip();
    void wrongPasswordFails();
    void activeModeTransfers();
    void statusLinesHideThePassword();
    void cancelledTransferThenReconnect();
    void pathsWithLineBreaksAreRefused();
    void tlsRefusedByTheServerIsNotContinuedInClearText();
    void passiveReplyNamingAnotherHostIsNotFollowed();
    void throughProxies_data();
    void throughProxies();
    void nonNumericProxyPortFailsToConnect();

private:
    TFtpServer* Server(const QString& row, bool& skipped);
    QString Disk(const QString& serverPath) const;
    static QByteArray Read(const QString& path);
    static bool Write(const QString& path, const QByteArray& data);

    QTemporaryDir m_work;
    std::map<QString, std::unique_ptr<TFtpServer>> m_servers;
    std::map<QString, QString> m_problems;
    TFtpServer* m_server = nullptr;
    TServerProcess m_httpProxy;
    TServerProcess m_socksProxy;
    TServerProcess m_socks4Proxy;
    quint16 m_socks4ProxyPort = 0;
    quint16 m_httpProxyPort = 0;
    quint16 m_socksProxyPort = 0;
};

namespace {

TFtpServer::TOptions OptionsOf(const QString& row) {
    TFtpServer::TOptions options;
    options.Kind = row.startsWith(QStringLiteral("vsftpd")) ? TFtpServer::Vsftpd : TFtpServer::Pyftpdlib;
    options.Tls = row.endsWith(QStringLiteral("TLS"));
    options.NoMlsd = row.contains(QStringLiteral("LIST"));
    return options;
}

// Temporary files of unfinished downloads left in a folder.
QStringList PartFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".vaultora-*")}, QDir::Files | QDir::Hidden);
}

const QString AwkwardName = QStringLiteral("a \"quoted\" 'name' \u00e9\u20ac 100%.txt");

} // namespace

void tst_ftpconnection::initTestCase_data() {
    QTest::addColumn<QString>("server");
    for (const char* row : {"pyftpdlib", "pyftpdlib TLS", "pyftpdlib LIST only", "vsftpd", "vsftpd TLS"})
        QTest::newRow(row) << QString::fromLatin1(row);
}

void tst_ftpconnection::initTestCase() {
    QVERIFY(m_work.isValid());
    if (QFile::exists(QStringLiteral("/usr/bin/tinyproxy"))) {
        m_httpProxyPort = TServerProcess::FreePort();
        const QString conf = m_work.filePath(QStringLiteral("tinyproxy.conf"));
        QFile file(conf);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\nAllow 127.0.0.1\n"
                                  "BasicAuth proxyuser proxypass\n")
                       .arg(m_httpProxyPort)
                       .toUtf8());
        file.close();
        if (!m_httpProxy.StartListening(QStringLiteral("/usr/bin/tinyproxy"),
                                        {QStringLiteral("-d"), QStringLiteral("-c"), conf}, m_httpProxyPort))
            m_httpProxyPort = 0;
    }
    if (QFile::exists(QStringLiteral("/usr/bin/microsocks"))) {
        m_socksProxyPort = TServerProcess::FreePort();
        if (!m_socksProxy.StartListening(QStringLiteral("/usr/bin/microsocks"),
                                         {QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                          QString::number(m_socksProxyPort), QStringLiteral("-u"),
                                          QStringLiteral("suser"), QStringLiteral("-P"), QStringLiteral("spass")},
                                         m_socksProxyPort))
            m_socksProxyPort = 0;
    }
    // dante serves SOCKS 4 (microsocks has only 5); it switches users, so it needs root.
    if (QFile::exists(QStringLiteral("/usr/sbin/danted")) && ::geteuid() == 0) {
        m_socks4ProxyPort = TServerProcess::FreePort();
        const QString conf = m_work.filePath(QStringLiteral("danted.conf"));
        QFile file(conf);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("logoutput: stderr\ninternal: 127.0.0.1 port = %1\nexternal: 127.0.0.1\n"
                                  "clientmethod: none\nsocksmethod: none\nuser.privileged: root\n"
                                  "user.unprivileged: nobody\nclient pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                  "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: bind connect }\n")
                       .arg(m_socks4ProxyPort)
                       .toUtf8());
        file.close();
        if (!m_socks4Proxy.StartListening(QStringLiteral("/usr/sbin/danted"),
                                          {QStringLiteral("-f"), conf, QStringLiteral("-N"), QStringLiteral("1")},
                                          m_socks4ProxyPort))
            m_socks4ProxyPort = 0;
    }
}

TFtpServer* tst_ftpconnection::Server(const QString& row, bool& skipped) {
    skipped = false;
    if (!m_servers.count(row)) {
        auto server = std::make_unique<TFtpServer>();
        m_problems[row] = server->Start(OptionsOf(row));
        m_servers[row] = std::move(server);
    }
    if (!m_problems[row].isEmpty()) {
        skipped = true;
        return nullptr;
    }
    return m_servers[row].get();
}

void tst_ftpconnection::init() {
    QFETCH_GLOBAL(QString, server);
    bool skipped = false;
    m_server = Server(server, skipped);
    if (skipped)
        QSKIP(qPrintable(m_problems[server]));
}

QString tst_ftpconnection::Disk(const QString& serverPath) const {
    const QString root = m_server->ServerRoot();
    return m_server->Root() + u'/' + serverPath.mid(root.size()).section(u'/', 0, -1, QString::SectionSkipEmpty);
}

QByteArray tst_ftpconnection::Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool tst_ftpconnection::Write(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

void tst_ftpconnection::operationsRoundTrip() {
    TCurlFtpConnection ftp(m_server->Settings());
    QVERIFY2(ftp.Connect(), qPrintable(ftp.ErrorText()));
    QString home;
    QVERIFY(ftp.CurrentFolder(home));
    QCOMPARE(home, m_server->ServerRoot());

    const QString folder = QStringLiteral("round trip \u00e9 'x' \"y\"");
    const QString base = home == u'/' ? QString(u'/' + folder) : QString(home + u'/' + folder);
    QVERIFY2(ftp.MakeFolder(base), qPrintable(ftp.ErrorText()));
    QVERIFY(!ftp.MakeFolder(base)); // exists
    QByteArray data(300 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 251);
    const QString local = m_work.filePath(QStringLiteral("up.bin"));
    QVERIFY(Write(local, data));
    int64_t lastDone = -1, lastTotal = -1;
    ftp.OnProgress = [&](int64_t done, int64_t total) {
        lastDone = done;
        lastTotal = total;
        return true;
    };
    // Relative to the current folder after CWD.
    QVERIFY2(ftp.ChangeFolder(folder), qPrintable(ftp.ErrorText()));
    QString current;
    QVERIFY(ftp.CurrentFolder(current));
    QCOMPARE(current, base);
    QVERIFY2(ftp.Upload(local, AwkwardName), qPrintable(ftp.ErrorText()));
    QCOMPARE(lastDone, int64_t(data.size()));
    QCOMPARE(lastTotal, int64_t(data.size()));
    QCOMPARE(Read(Disk(base) + u'/' + AwkwardName), data);
    QVERIFY(ftp.ChangeToParent());
    QVERIFY(ftp.CurrentFolder(current));
    QCOMPARE(current, home);

    QList<TFtpEntry> entries;
    QVERIFY2(ftp.List(base, entries), qPrintable(ftp.ErrorText()));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].Name, AwkwardName);
    QVERIFY(!entries[0].IsFolder);
    QCOMPARE(entries[0].Size, int64_t(data.size()));
    QVERIFY(entries[0].Modified.isValid());
    QVERIFY(ftp.List(home, entries));
    bool found = false;
    for (const TFtpEntry& entry : std::as_const(entries))
        found = found || (entry.Name == folder && entry.IsFolder);
    QVERIFY(found);
    QStringList names;
    QVERIFY2(ftp.NameList(base, names), qPrintable(ftp.ErrorText()));
    QCOMPARE(names, QStringList{AwkwardName});

    int64_t size = 0;
    QVERIFY2(ftp.Size(base + u'/' + AwkwardName, size), qPrintable(ftp.ErrorText()));
    QCOMPARE(size, int64_t(data.size()));
    QVERIFY(!ftp.Size(base + QStringLiteral("/absent"), size));
    QCOMPARE(ftp.LastReplyCode(), 550);
    QDateTime time;
    QVERIFY2(ftp.ModifiedTime(base + u'/' + AwkwardName, time), qPrintable(ftp.ErrorText()));
    QVERIFY(qAbs(time.secsTo(QDateTime::currentDateTimeUtc())) < 3600);

    const QString renamed = base + QStringLiteral("/renamed file");
    QVERIFY2(ftp.Rename(base + u'/' + AwkwardName, renamed), qPrintable(ftp.ErrorText()));
    const QString back = m_work.filePath(QStringLiteral("down.bin"));
    QVERIFY(Write(back, "old"));
    QVERIFY2(ftp.Download(renamed, back, false), qPrintable(ftp.ErrorText()));
    QCOMPARE(Read(back), data);
    // A missing file fails and leaves the local file as it was.
    QVERIFY(!ftp.Download(base + QStringLiteral("/absent"), back, false));
    QCOMPARE(ftp.LastReplyCode(), 550);
    QCOMPARE(Read(back), data);
    QVERIFY(PartFiles(m_work.path()).isEmpty());
    // A new file's mode is what the umask leaves of rw-rw-rw-.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    QCOMPARE(::stat(QFile::encodeName(back).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0666 & ~mask);
    QVERIFY(ftp.Connected());

    QVERIFY(!ftp.RemoveFolder(base)); // not empty
    QVERIFY2(ftp.RemoveFile(renamed), qPrintable(ftp.ErrorText()));
    QVERIFY2(ftp.RemoveFolder(base), qPrintable(ftp.ErrorText()));
    QVERIFY(!QFileInfo::exists(Disk(base)));
    QVERIFY(ftp.Disconnect());
    QVERIFY(!ftp.Connected());
    QVERIFY(!ftp.MakeFolder(base));
}

void tst_ftpconnection::wrongPasswordFails() {
    TFtpConnectSettings settings = m_server->Settings();
    settings.Password = QStringLiteral("Wrong-Secret 9");
    TCurlFtpConnection ftp(settings);
    QVERIFY(!ftp.Connect());
    QVERIFY(!ftp.Connected());
    QVERIFY(!ftp.ErrorText().isEmpty());
    QVERIFY2(ftp.ErrorText().startsWith(QStringLiteral("530")), qPrintable(ftp.ErrorText()));
    QVERIFY(!ftp.ErrorText().contains(settings.Password));
}

void tst_ftpconnection::activeModeTransfers() {
    TFtpConnectSettings settings = m_server->Settings();
    settings.PassiveMode = false;
    TCurlFtpConnection ftp(settings);
    if (settings.FTPS && TCurlFtpConnection::ActiveTlsIsBroken()) {
        // This libcurl would send the data in clear or fail the handshake: refused up front.
        QVERIFY(!ftp.Connect());
        QVERIFY2(ftp.ErrorText().contains(QStringLiteral("choose passive mode")), qPrintable(ftp.ErrorText()));
        return;
    }
    QStringList lines;
    ftp.OnStatus = [&](const QString& line) { lines.append(line); };
    QVERIFY2(ftp.Connect(), qPrintable(ftp.ErrorText()));
    QString home;
    QVERIFY(ftp.CurrentFolder(home));
    const QString local = m_work.filePath(QStringLiteral("active.txt"));
    QVERIFY(Write(local, "the server connects back"));
    QVERIFY2(ftp.Upload(local, QStringLiteral("active.txt")), qPrintable(ftp.ErrorText()));
    QCOMPARE(Read(Disk(home) + QStringLiteral("/active.txt")), QByteArray("the server connects back"));
    QList<TFtpEntry> entries;
    QVERIFY2(ftp.List(home, entries), qPrintable(ftp.ErrorText()));
    QVERIFY(ftp.RemoveFile(QStringLiteral("active.txt")));
    bool active = false;
    for (const QString& line : std::as_const(lines))
        active = active || line.startsWith(QStringLiteral("EPRT")) || line.startsWith(QStringLiteral("PORT"));
    QVERIFY(active);
}

void tst_ftpconnection::statusLinesHideThePassword() {
    TCurlFtpConnection ftp(m_server->Settings());
    QStringList lines;
    ftp.OnStatus = [&](const QString& line) { lines.append(line); };
    QVERIFY2(ftp.Connect(), qPrintable(ftp.ErrorText()));
    QVERIFY(lines.contains(QStringLiteral("PASS ********")));
    for (const QString& line : std::as_const(lines))
        QVERIFY2(!line.contains(TFtpServer::Password), qPrintable(line));
}

void tst_ftpconnection::cancelledTransferThenReconnect() {
    TCurlFtpConnection ftp(m_server->Settings());
    QVERIFY2(ftp.Connect(), qPrintable(ftp.ErrorText()));
    QString home;
    QVERIFY(ftp.CurrentFolder(home));
    const QString local = m_work.filePath(QStringLiteral("big.bin"));
    QVERIFY(Write(local, QByteArray(16 * 1024 * 1024, 'b')));
    ftp.OnProgress = [](int64_t done, int64_t) { return done < 256 * 1024; };
    QVERIFY(!ftp.Upload(local, QStringLiteral("big.bin")));
    QVERIFY(ftp.Aborted());
    QCOMPARE(ftp.ErrorText(), QStringLiteral("The transfer was cancelled."));
    QVERIFY(!ftp.Connected());
    QVERIFY(!ftp.RemoveFile(QStringLiteral("big.bin"))); // needs Connect first

    ftp.OnProgress = {};
    QVERIFY2(ftp.Connect(), qPrintable(ftp.ErrorText()));
    QVERIFY(!ftp.Aborted());
    QVERIFY2(ftp.Upload(local, QStringLiteral("big.bin")), qPrintable(ftp.ErrorText()));
    QCOMPARE(QFileInfo(Disk(home) + QStringLiteral("/big.bin")).size(), qint64(16 * 1024 * 1024));
    // Downloads cancel the same way.
    ftp.OnProgress = [](int64_t done, int64_t total) { return total == 16 * 1024 * 1024 && done < 256 * 1024; };
    const QString back = m_work.filePath(QStringLiteral("big.back"));
    QVERIFY(!ftp.Download(QStringLiteral("big.bin"), back, false));
    QVERIFY(ftp.Aborted());
    QVERIFY(!QFileInfo::exists(back));
    QVERIFY(PartFiles(m_work.path()).isEmpty());
    QVERIFY(ftp.Connect());
    QVERIFY(ftp.RemoveFile(QStringLiteral("big.bin")));
}

void tst_ftpconnection::pathsWithLineBreaksAreRefused() {
    TCurlFtpConnection ftp(m_server->Settings());
    QVERIFY2(ftp.Connect(), qPrintable(ftp.ErrorText()));
    QString home;
    QVERIFY(ftp.CurrentFolder(home));
    QVERIFY(Write(Disk(home) + QStringLiteral("/keep"), "keep"));
    QVERIFY(m_server->GiveToUser(Disk(home) + QStringLiteral("/keep")));
    QStringList lines;
    ftp.OnStatus = [&](const QString& line) { lines.append(line); };
    const QStringList evils{QStringLiteral("x\r\nDELE keep"), QStringLiteral("x\nDELE keep"),
                            QStringLiteral("x\rDELE keep"), QString(QStringLiteral("x")) + QChar(0) + u'y'};
    for (const QString& evil : evils) {
        QVERIFY(!ftp.MakeFolder(evil));
        QVERIFY(ftp.ErrorText().startsWith(QStringLiteral("The path holds a line break")));
        QVERIFY(!ftp.Rename(QStringLiteral("keep"), evil));
        QVERIFY(!ftp.ChangeFolder(evil));
    }
    QVERIFY(lines.isEmpty()); // nothing was sent
    QCOMPARE(Read(Disk(home) + QStringLiteral("/keep")), QByteArray("keep"));
    QVERIFY(ftp.Connected());
    QVERIFY(ftp.RemoveFile(QStringLiteral("keep")));
}

void tst_ftpconnection::tlsRefusedByTheServerIsNotContinuedInClearText() {
    if (m_server->Settings().FTPS)
        QSKIP("needs a server without TLS");
    TFtpConnectSettings settings = m_server->Settings();
    settings.FTPS = true;
    TCurlFtpConnection ftp(settings);
    QStringList lines;
    ftp.OnStatus = [&](const QString& line) { lines.append(line); };
    QVERIFY(!ftp.Connect());
    QCOMPARE(ftp.ErrorText(), QStringLiteral("The server refused TLS; the connection was not continued without it."));
    QVERIFY(lines.contains(QStringLiteral("AUTH TLS")));
    for (const QString& line : std::as_const(lines))
        QVERIFY2(!line.startsWith(QStringLiteral("USER")) && !line.startsWith(QStringLiteral("PASS")),
                 qPrintable(line));
}

void tst_ftpconnection::passiveReplyNamingAnotherHostIsNotFollowed() {
    QFETCH_GLOBAL(QString, server);
    if (server != QStringLiteral("pyftpdlib"))
        QSKIP("one server is enough");
    TFtpServer elsewhere;
    TFtpServer::TOptions options;
    options.PasvElsewhere = true;
    const QString problem = elsewhere.Start(options);
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
    TCurlFtpConnection ftp(elsewhere.Settings());
    QStringList lines;
    ftp.OnStatus = [&](const QString& line) { lines.append(line); };
    QVERIFY2(ftp.Connect(), qPrintable(ftp.ErrorText()));
    const QString local = m_work.filePath(QStringLiteral("pasv.txt"));
    QVERIFY(Write(local, "through the control connection's address"));
    QVERIFY2(ftp.Upload(local, QStringLiteral("pasv.txt")), qPrintable(ftp.ErrorText()));
    QCOMPARE(Read(elsewhere.Root() + QStringLiteral("/pasv.txt")),
             QByteArray("through the control connection's address"));
    bool named = false;
    for (const QString& line : std::as_const(lines))
        named = named || (line.startsWith(QStringLiteral("227")) && line.contains(QStringLiteral("192,0,2,1")));
    QVERIFY(named); // the server did name the other host
}

void tst_ftpconnection::throughProxies_data() {
    QTest::addColumn<int>("type");
    QTest::newRow("HTTP tunnel") << 0;
    QTest::newRow("SOCKS 4") << 1;
    QTest::newRow("SOCKS 5 with password") << 2;
}

void tst_ftpconnection::throughProxies() {
    QFETCH(int, type);
    const quint16 port = type == 0 ? m_httpProxyPort : type == 1 ? m_socks4ProxyPort : m_socksProxyPort;
    if (port == 0)
        QSKIP(type == 0   ? "tinyproxy is not installed or did not start"
              : type == 1 ? "danted is not installed, did not start or needs root"
                          : "microsocks is not installed or did not start");
    TFtpConnectSettings settings = m_server->Settings();
    settings.Proxy.Enabled = true;
    settings.Proxy.PrType = type;
    settings.Proxy.Host = QStringLiteral("127.0.0.1");
    settings.Proxy.Port = QString::number(port);
    settings.Proxy.Username = type == 0 ? QStringLiteral("proxyuser") : QStringLiteral("suser");
    settings.Proxy.Password = type == 0 ? QStringLiteral("proxypass") : QStringLiteral("spass");
    TCurlFtpConnection ftp(settings);
    QVERIFY2(ftp.Connect(), qPrintable(ftp.ErrorText()));
    QString home;
    QVERIFY(ftp.CurrentFolder(home));
    const QString name = QStringLiteral("via proxy %1.txt").arg(type);
    const QString local = m_work.filePath(name);
    QVERIFY(Write(local, "through the proxy"));
    QVERIFY2(ftp.Upload(local, name), qPrintable(ftp.ErrorText()));
    // The file really arrived (an HTTP proxy without a tunnel would report success too).
    QCOMPARE(Read(Disk(home) + u'/' + name), QByteArray("through the proxy"));
    QList<TFtpEntry> entries;
    QVERIFY2(ftp.List(home, entries), qPrintable(ftp.ErrorText()));
    QVERIFY(ftp.RemoveFile(name));

    // SOCKS 4 has no password: a proxy that is not there shows that the way leads through it.
    if (type == 1) {
        settings.Proxy.Port = QString::number(TServerProcess::FreePort());
        TCurlFtpConnection nowhere(settings);
        QVERIFY(!nowhere.Connect());
        return;
    }
    // A wrong proxy password stops the connection.
    settings.Proxy.Password = QStringLiteral("wrong");
    TCurlFtpConnection refused(settings);
    QVERIFY(!refused.Connect());
}

void tst_ftpconnection::nonNumericProxyPortFailsToConnect() {
    TFtpConnectSettings settings = m_server->Settings();
    settings.Proxy.Enabled = true;
    settings.Proxy.PrType = 2;
    settings.Proxy.Host = QStringLiteral("127.0.0.1");
    settings.Proxy.Port = QStringLiteral("10a80");
    TCurlFtpConnection ftp(settings);
    QVERIFY(!ftp.Connect());
    QCOMPARE(ftp.ErrorText(), QStringLiteral("The proxy port is not a number: 10a80"));
}

QTEST_GUILESS_MAIN(tst_ftpconnection)
#include "tst_ftpconnection.moc"
