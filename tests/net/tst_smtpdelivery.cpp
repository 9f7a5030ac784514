// Reports and test messages sent to real SMTP servers on loopback (tests/net/smtp_server.py:
// plain, STARTTLS, implicit TLS), directly and through real proxies (tinyproxy, microsocks,
// dante). The server parses every message with Python's e-mail parser; the checks read that.

#include "TServerProcess.h"

#include "core/settings/TAppGlobals.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "jobs/report/JobReport.h"
#include "net/EmailNotification.h"
#include "net/TSmtpClient.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

namespace {

// The test server's throwaway account (smtp_server.py).
const QString ServerUser = QStringLiteral("tester@example.org");
const QString ServerPassword = QStringLiteral("test-secret");
const QString Recipient = QStringLiteral("ops@example.org");
const QString LogStamp = QStringLiteral("2024-03-05 07;08;09");

// The bytes of a log file: UTF-8 with byte-order mark, CR LF lines, some non-ASCII text.
QByteArray LogBytes(qsizetype size) {
    const QByteArray line = QStringLiteral("07:08:09: Größe der Dateien: 3 MB — fertig.\r\n").toUtf8();
    QByteArray bytes("\xEF\xBB\xBF");
    while (bytes.size() < size)
        bytes.append(line);
    bytes.truncate(size);
    return bytes;
}

QByteArray PartData(const QJsonObject& part) {
    return QByteArray::fromBase64(part.value(QStringLiteral("data_b64")).toString().toLatin1());
}

QString NormalisedLines(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QJsonArray Pair(const QString& name, const QString& address) {
    return QJsonArray{name, address};
}

} // namespace

class TestSmtpDelivery : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void securityChoices_data();
    void securityChoices();
    void login_data();
    void login();
    void twoRecipientsOneMessage();
    void attachmentLimit_data();
    void attachmentLimit();
    void headerTexts_data();
    void headerTexts();
    void headerInjection_data();
    void headerInjection();
    void proxies_data();
    void proxies();
    void connectionFailureReport();
    void backupRunsSendTheirReport_data();
    void backupRunsSendTheirReport();
    void testMessage_data();
    void testMessage();
    void silentServerTimesOut();

private:
    std::unique_ptr<TJob_FilesAndFolders> MakeJob(const QString& name, const QString& server);
    void WriteLog(const TJob& job, const QByteArray& bytes);
    QList<QJsonObject> TakeMessages();
    quint16 ServerPort(const QString& server) const;
    bool StartProxy(TServerProcess& process, const QString& program, const std::function<QStringList(quint16)>& args,
                    quint16& port);
    void CheckCommon(const QJsonObject& message);

    QTemporaryDir FWork;
    TServerProcess FSmtp;
    QJsonObject FPorts;
    TServerProcess FHttpProxy, FSocks5Proxy, FSocks4Proxy;
    quint16 FHttpProxyPort = 0, FSocks5ProxyPort = 0, FSocks4ProxyPort = 0;
};

void TestSmtpDelivery::initTestCase() {
    QVERIFY(FWork.isValid());
    const QString script = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/net/smtp_server.py");
    const QString smtpDir = FWork.filePath(QStringLiteral("smtp"));
    QVERIFY(QDir().mkpath(smtpDir));
    const QString ready = smtpDir + QStringLiteral("/ports.json");
    QVERIFY2(FSmtp.StartUntilFile(QStringLiteral("/usr/bin/python3"), {script, smtpDir}, ready),
             qPrintable(FSmtp.Output()));
    QFile portsFile(ready);
    QVERIFY(portsFile.open(QIODevice::ReadOnly));
    FPorts = QJsonDocument::fromJson(portsFile.readAll()).object();
    QVERIFY(ServerPort(QStringLiteral("plain")) != 0 && ServerPort(QStringLiteral("starttls")) != 0 &&
            ServerPort(QStringLiteral("implicit")) != 0);

    // HTTP CONNECT proxy with Basic authentication.
    const QString tinyproxyConf = FWork.filePath(QStringLiteral("tinyproxy.conf"));
    QVERIFY(StartProxy(
        FHttpProxy, QStringLiteral("/usr/bin/tinyproxy"),
        [&](quint16 port) {
            QFile conf(tinyproxyConf);
            if (conf.open(QIODevice::WriteOnly | QIODevice::Truncate))
                conf.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\nAllow 127.0.0.1\n"
                                          "BasicAuth proxyuser proxypass\nLogLevel Connect\n")
                               .arg(port)
                               .toUtf8());
            return QStringList{QStringLiteral("-d"), QStringLiteral("-c"), tinyproxyConf};
        },
        FHttpProxyPort));
    // SOCKS 5 with user name and password.
    QVERIFY(StartProxy(
        FSocks5Proxy, QStringLiteral("/usr/bin/microsocks"),
        [](quint16 port) {
            return QStringList{QStringLiteral("-i"),  QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                               QString::number(port), QStringLiteral("-u"),        QStringLiteral("suser"),
                               QStringLiteral("-P"),  QStringLiteral("spass")};
        },
        FSocks5ProxyPort));
    // SOCKS 4 (dante speaks both; SOCKS 4 has no password).
    const QString danteConf = FWork.filePath(QStringLiteral("danted.conf"));
    const bool root = ::geteuid() == 0;
    QVERIFY(StartProxy(
        FSocks4Proxy, QStringLiteral("/usr/sbin/danted"),
        [&](quint16 port) {
            QFile conf(danteConf);
            if (conf.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                QString text = QStringLiteral("logoutput: stderr\ninternal: 127.0.0.1 port = %1\n"
                                              "external: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n")
                                   .arg(port);
                // dante drops its rights only when it has some to drop.
                if (root)
                    text += QStringLiteral("user.privileged: root\nuser.unprivileged: nobody\n");
                text += QStringLiteral("client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                       "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect }\n");
                conf.write(text.toUtf8());
            }
            return QStringList{QStringLiteral("-f"), danteConf, QStringLiteral("-N"), QStringLiteral("1")};
        },
        FSocks4ProxyPort));
}

void TestSmtpDelivery::init() {
    TakeMessages();
}

void TestSmtpDelivery::cleanupTestCase() {
    FSocks4Proxy.Stop();
    FSocks5Proxy.Stop();
    FHttpProxy.Stop();
    FSmtp.Stop();
}

bool TestSmtpDelivery::StartProxy(TServerProcess& process, const QString& program,
                                  const std::function<QStringList(quint16)>& args, quint16& port) {
    // A free port may be taken between asking and binding: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = TServerProcess::FreePort();
        if (port != 0 && process.StartListening(program, args(port), port))
            return true;
        qWarning("%s did not start on port %u: %s", qPrintable(program), unsigned(port), qPrintable(process.Output()));
        process.Stop();
    }
    return false;
}

quint16 TestSmtpDelivery::ServerPort(const QString& server) const {
    return quint16(FPorts.value(server).toInt());
}

QList<QJsonObject> TestSmtpDelivery::TakeMessages() {
    QList<QJsonObject> messages;
    QDir mail(FWork.filePath(QStringLiteral("smtp/mail")));
    for (const QString& name : mail.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(mail.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            messages.append(QJsonDocument::fromJson(file.readAll()).object());
        file.close();
        mail.remove(name);
    }
    return messages;
}

std::unique_ptr<TJob_FilesAndFolders> TestSmtpDelivery::MakeJob(const QString& name, const QString& server) {
    auto job = std::make_unique<TJob_FilesAndFolders>(name);
    TEmailOptions& email = job->JobOptions.Email;
    email.SendEmailNotificationWhenFinishedBackup = true;
    email.RecipientEmail = Recipient;
    email.SMTPHost = QStringLiteral("127.0.0.1");
    email.SMTPPort = QString::number(ServerPort(server));
    email.Username = ServerUser;
    email.Password = ServerPassword;
    email.Security = server == QStringLiteral("plain") ? 0 : 1;
    job->JobOptions.Logging.PathForLogFiles = FWork.filePath(QStringLiteral("logs"));
    return job;
}

void TestSmtpDelivery::WriteLog(const TJob& job, const QByteArray& bytes) {
    const QString path = ReportLogFilePath(job);
    QVERIFY(!path.isEmpty());
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// What every message of the program must be: one well-formed multipart/mixed mail whose first part
// is the UTF-8 text.
void TestSmtpDelivery::CheckCommon(const QJsonObject& message) {
    QCOMPARE(message.value(QStringLiteral("defects")).toArray(), QJsonArray());
    QCOMPARE(message.value(QStringLiteral("content_type")).toString(), QStringLiteral("multipart/mixed"));
    const QJsonArray from = message.value(QStringLiteral("from")).toArray();
    QCOMPARE(from.size(), 1);
    QCOMPARE(from.at(0).toArray().at(0).toString(), QStringLiteral("Vaultora"));
    const QJsonArray parts = message.value(QStringLiteral("parts")).toArray();
    QVERIFY(!parts.isEmpty());
    const QJsonObject text = parts.at(0).toObject();
    QCOMPARE(text.value(QStringLiteral("content_type")).toString(), QStringLiteral("text/plain"));
    QCOMPARE(text.value(QStringLiteral("charset")).toString(), QStringLiteral("utf-8"));
    QVERIFY(text.value(QStringLiteral("disposition")).isNull());
    QStringList headers;
    for (const auto name : message.value(QStringLiteral("header_names")).toArray())
        headers << name.toString().toLower();
    QCOMPARE(headers.count(QStringLiteral("subject")), 1);
    QCOMPARE(headers.count(QStringLiteral("from")), 1);
    QCOMPARE(headers.count(QStringLiteral("to")), 1);
    QVERIFY(!headers.contains(QStringLiteral("bcc")) && !headers.contains(QStringLiteral("cc")));
}

void TestSmtpDelivery::securityChoices_data() {
    QTest::addColumn<QString>("server");
    // The port the settings name; empty: the server's own port. Other ports reach the server through
    // libcurl's connect-to, so the session still applies the rules of the named port.
    QTest::addColumn<QString>("namedPort");
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("username");
    QTest::addColumn<bool>("delivered");

    const QString plain = QStringLiteral("plain"), starttls = QStringLiteral("starttls"),
                  implicit = QStringLiteral("implicit");
    const QString none;
    QTest::newRow("none, no login, null sender") << plain << none << 0 << none << true;
    QTest::newRow("none, login") << plain << none << 0 << ServerUser << true;
    QTest::newRow("none on 587 stays plain") << plain << QStringLiteral("587") << 0 << ServerUser << true;
    QTest::newRow("none never upgrades") << starttls << none << 0 << ServerUser << false;
    QTest::newRow("SSL, TLS at once on a free port") << implicit << none << 1 << ServerUser << true;
    QTest::newRow("TLS, TLS at once on a free port") << implicit << none << 2 << ServerUser << true;
    QTest::newRow("SSL, TLS at once on 465") << implicit << QStringLiteral("465") << 1 << ServerUser << true;
    QTest::newRow("SSL, STARTTLS on 587") << starttls << QStringLiteral("587") << 1 << ServerUser << true;
    QTest::newRow("TLS, STARTTLS on 587") << starttls << QStringLiteral("587") << 2 << ServerUser << true;
    QTest::newRow("TLS on 465 wants TLS first") << starttls << QStringLiteral("465") << 2 << ServerUser << false;
    QTest::newRow("TLS on 587 starts plain") << implicit << QStringLiteral("587") << 2 << ServerUser << false;
}

// A report with its log attached arrives over every security choice, and the port-587 rule
// decides between STARTTLS and TLS from the first byte.
void TestSmtpDelivery::securityChoices() {
    QFETCH(QString, server);
    QFETCH(QString, namedPort);
    QFETCH(int, security);
    QFETCH(QString, username);
    QFETCH(bool, delivered);

    auto job = MakeJob(QStringLiteral("Nightly"), server);
    job->JobOptions.Email.Security = security;
    job->JobOptions.Email.Username = username;
    job->LogList = {LogStamp};
    const QByteArray log = LogBytes(5000);
    WriteLog(*job, log);
    const QString result = QStringLiteral("07:10:00: Backup job is finished.");

    bool sent = false;
    if (namedPort.isEmpty()) {
        sent = SendNotificationToEmail(*job, result);
    } else {
        job->JobOptions.Email.SMTPPort = namedPort;
        TSmtpSettings settings = SmtpSettingsFromOptions(job->JobOptions.Email, job->JobOptions.Proxy, false);
        settings.ConnectTo = {QStringLiteral("127.0.0.1:%1:127.0.0.1:%2").arg(namedPort).arg(ServerPort(server))};
        // A client waiting for a greeting that a TLS server never sends fails by time-out; keep it short.
        settings.ReadTimeoutSeconds = 2;
        TSmtpClient client(settings);
        sent = client.Send(BuildReportMessage(*job, result));
        if (delivered)
            QVERIFY2(sent, qPrintable(client.ErrorText()));
        else
            QVERIFY(!client.ErrorText().isEmpty());
    }
    QCOMPARE(sent, delivered);
    const QList<QJsonObject> messages = TakeMessages();
    if (!delivered) {
        QCOMPARE(messages.size(), 0);
        return;
    }
    QCOMPARE(messages.size(), 1);
    const QJsonObject& message = messages.first();
    CheckCommon(message);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(message.value(QStringLiteral("server")).toString(), server);
    const QString tls = message.value(QStringLiteral("tls")).toString();
    if (security == 0)
        QVERIFY(message.value(QStringLiteral("tls")).isNull());
    else
        QVERIFY2(tls == QStringLiteral("TLSv1.2") || tls == QStringLiteral("TLSv1.3"), qPrintable(tls));
    if (username.isEmpty()) {
        QVERIFY(message.value(QStringLiteral("auth_login")).isNull());
        QCOMPARE(message.value(QStringLiteral("mail_from")).toString(), QStringLiteral("<>"));
    } else {
        QCOMPARE(message.value(QStringLiteral("auth_login")).toString(), username);
        QCOMPARE(message.value(QStringLiteral("mail_from")).toString(), username);
        QCOMPARE(message.value(QStringLiteral("from")).toArray().at(0).toArray(),
                 Pair(QStringLiteral("Vaultora"), username));
    }
    QCOMPARE(message.value(QStringLiteral("rcpt_tos")).toArray(), QJsonArray{Recipient});
    QCOMPARE(message.value(QStringLiteral("to")).toArray(), QJsonArray{Pair(QString(), Recipient)});
    QCOMPARE(message.value(QStringLiteral("subject")).toString(), QStringLiteral("Backup Report: Nightly"));
    const QJsonArray parts = message.value(QStringLiteral("parts")).toArray();
    QCOMPARE(parts.size(), 2);
    QCOMPARE(NormalisedLines(QString::fromUtf8(PartData(parts.at(0).toObject()))), result);
    const QJsonObject attachment = parts.at(1).toObject();
    QCOMPARE(attachment.value(QStringLiteral("disposition")).toString(), QStringLiteral("attachment"));
    QCOMPARE(attachment.value(QStringLiteral("filename")).toString(), LogStamp + QStringLiteral(".txt"));
    QCOMPARE(PartData(attachment), log);
}

void TestSmtpDelivery::login_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("delivered");

    QTest::newRow("good password") << QStringLiteral("plain") << ServerUser << ServerPassword << true;
    QTest::newRow("bad password") << QStringLiteral("plain") << ServerUser << QStringLiteral("wrong") << false;
    QTest::newRow("good password over TLS") << QStringLiteral("implicit") << ServerUser << ServerPassword << true;
    QTest::newRow("bad password over TLS")
        << QStringLiteral("implicit") << ServerUser << QStringLiteral("wrong") << false;
    QTest::newRow("no login where one is required")
        << QStringLiteral("implicit") << QString() << ServerPassword << false;
}

void TestSmtpDelivery::login() {
    QFETCH(QString, server);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, delivered);

    auto job = MakeJob(QStringLiteral("Nightly"), server);
    job->JobOptions.Email.Username = username;
    job->JobOptions.Email.Password = password;
    QCOMPARE(SendNotificationToEmail(*job, QStringLiteral("result")), delivered);
    const QList<QJsonObject> messages = TakeMessages();
    QCOMPARE(messages.size(), delivered ? 1 : 0);
    if (delivered)
        QCOMPARE(messages.first().value(QStringLiteral("auth_login")).toString(), username);
}

void TestSmtpDelivery::twoRecipientsOneMessage() {
    auto job = MakeJob(QStringLiteral("Nightly"), QStringLiteral("plain"));
    job->JobOptions.Email.RecipientEmail = QStringLiteral("first@example.org, \"Doe, Jo\" <second@example.org>");
    QVERIFY(SendNotificationToEmail(*job, QStringLiteral("result")));
    const QList<QJsonObject> messages = TakeMessages();
    QCOMPARE(messages.size(), 1);
    CheckCommon(messages.first());
    QCOMPARE(messages.first().value(QStringLiteral("rcpt_tos")).toArray(),
             (QJsonArray{QStringLiteral("first@example.org"), QStringLiteral("second@example.org")}));
    QCOMPARE(messages.first().value(QStringLiteral("to")).toArray(),
             (QJsonArray{Pair(QString(), QStringLiteral("first@example.org")),
                         Pair(QStringLiteral("Doe, Jo"), QStringLiteral("second@example.org"))}));
}

void TestSmtpDelivery::attachmentLimit_data() {
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("attached");

    QTest::newRow("one byte under 2 MiB") << qsizetype(2097151) << true;
    QTest::newRow("exactly 2 MiB") << qsizetype(2097152) << false;
    QTest::newRow("empty log") << qsizetype(0) << true;
}

void TestSmtpDelivery::attachmentLimit() {
    QFETCH(qsizetype, size);
    QFETCH(bool, attached);

    auto job = MakeJob(QStringLiteral("Nightly"), QStringLiteral("plain"));
    job->LogList = {LogStamp};
    const QByteArray log = LogBytes(size);
    WriteLog(*job, log);
    QVERIFY(SendNotificationToEmail(*job, QStringLiteral("result")));
    const QList<QJsonObject> messages = TakeMessages();
    QCOMPARE(messages.size(), 1);
    CheckCommon(messages.first());
    const QJsonArray parts = messages.first().value(QStringLiteral("parts")).toArray();
    QCOMPARE(parts.size(), attached ? 2 : 1);
    if (attached) {
        QCOMPARE(parts.at(1).toObject().value(QStringLiteral("filename")).toString(),
                 LogStamp + QStringLiteral(".txt"));
        QCOMPARE(PartData(parts.at(1).toObject()), log);
    }
}

void TestSmtpDelivery::headerTexts_data() {
    QTest::addColumn<QString>("jobName");
    QTest::addColumn<QString>("result");

    QString clefs;
    for (int i = 0; i < 30; ++i)
        clefs += QString::fromUcs4(U"\U0001D11E", 1);
    QTest::newRow("ASCII") << QStringLiteral("Nightly") << QStringLiteral("07:10:00: Backup job is finished.");
    QTest::newRow("non-ASCII") << QStringLiteral("Sicherung Büro ✓ 日本")
                               << QStringLiteral("07:10:00: Größe: 3 MB — fertig.");
    // Multi-byte characters around every encoded-word boundary, surrogate pairs included.
    QTest::newRow("long multi-byte name") << QString(121, QChar(0x00e9)) + clefs << QStringLiteral("done");
    QTest::newRow("long ASCII name") << QString(250, u'n') << QStringLiteral("done");
    QTest::newRow("looks like an encoded word") << QStringLiteral("=?UTF-8?B?Zm9v?=") << QStringLiteral("done");
    QTest::newRow("several lines, leading dot")
        << QStringLiteral("Nightly") << QStringLiteral("first\n.\n..second\r\nthird");
}

void TestSmtpDelivery::headerTexts() {
    QFETCH(QString, jobName);
    QFETCH(QString, result);

    auto job = MakeJob(jobName, QStringLiteral("plain"));
    QVERIFY(SendNotificationToEmail(*job, result));
    const QList<QJsonObject> messages = TakeMessages();
    QCOMPARE(messages.size(), 1);
    CheckCommon(messages.first());
    QCOMPARE(messages.first().value(QStringLiteral("subject")).toString(), QStringLiteral("Backup Report: ") + jobName);
    const QJsonArray parts = messages.first().value(QStringLiteral("parts")).toArray();
    QCOMPARE(NormalisedLines(QString::fromUtf8(PartData(parts.at(0).toObject()))), NormalisedLines(result));
}

void TestSmtpDelivery::headerInjection_data() {
    QTest::addColumn<QString>("jobName");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QString>("username");
    // Empty: nothing may be sent.
    QTest::addColumn<QString>("subject");

    const QString nul(QChar(0));
    QTest::newRow("CR LF in the job name")
        << QStringLiteral("Nightly\r\nBcc: evil@example.org") << Recipient << QString()
        << QStringLiteral("Backup Report: Nightly  Bcc: evil@example.org");
    QTest::newRow("blank line in the job name starts no body")
        << QStringLiteral("Nightly\n\nFake text") << Recipient << QString()
        << QStringLiteral("Backup Report: Nightly  Fake text");
    QTest::newRow("NUL in the job name") << QStringLiteral("Night") + nul + QStringLiteral("ly") << Recipient
                                         << QString() << QStringLiteral("Backup Report: Night ly");
    QTest::newRow("CR LF in the recipients")
        << QStringLiteral("Nightly") << Recipient + QStringLiteral("\r\nRCPT TO:<evil@example.org>") << QString()
        << QString();
    QTest::newRow("CR LF in a recipient's name")
        << QStringLiteral("Nightly") << QStringLiteral("\"Ops\r\nBcc: evil@example.org\" <ops@example.org>")
        << QString() << QString();
    QTest::newRow("NUL in the recipients")
        << QStringLiteral("Nightly") << Recipient + nul + QStringLiteral("evil@example.org") << QString() << QString();
    QTest::newRow("CR LF in the sender") << QStringLiteral("Nightly") << Recipient
                                         << ServerUser + QStringLiteral("\r\nRCPT TO:<evil@example.org>") << QString();
}

void TestSmtpDelivery::headerInjection() {
    QFETCH(QString, jobName);
    QFETCH(QString, recipients);
    QFETCH(QString, username);
    QFETCH(QString, subject);

    auto job = MakeJob(jobName, QStringLiteral("plain"));
    job->JobOptions.Email.RecipientEmail = recipients;
    job->JobOptions.Email.Username = username;
    QCOMPARE(SendNotificationToEmail(*job, QStringLiteral("result")), !subject.isEmpty());
    const QList<QJsonObject> messages = TakeMessages();
    if (subject.isEmpty()) {
        QCOMPARE(messages.size(), 0);
        return;
    }
    QCOMPARE(messages.size(), 1);
    CheckCommon(messages.first());
    QCOMPARE(messages.first().value(QStringLiteral("rcpt_tos")).toArray(), QJsonArray{Recipient});
    QCOMPARE(messages.first().value(QStringLiteral("subject")).toString(), subject);
    const QJsonArray parts = messages.first().value(QStringLiteral("parts")).toArray();
    QCOMPARE(parts.size(), 1);
    QCOMPARE(QString::fromUtf8(PartData(parts.at(0).toObject())), QStringLiteral("result"));
}

void TestSmtpDelivery::proxies_data() {
    QTest::addColumn<QString>("proxy"); // "http", "socks4", "socks5", "dead"
    QTest::addColumn<int>("prType");
    QTest::addColumn<QString>("proxyUser");
    QTest::addColumn<QString>("proxyPassword");
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("delivered");

    const QString plain = QStringLiteral("plain"), implicit = QStringLiteral("implicit");
    const QString httpUser = QStringLiteral("proxyuser"), httpPassword = QStringLiteral("proxypass");
    const QString socksUser = QStringLiteral("suser"), socksPassword = QStringLiteral("spass");
    const QString wrong = QStringLiteral("wrong");
    QTest::newRow("HTTP CONNECT, plain") << QStringLiteral("http") << 0 << httpUser << httpPassword << plain << true;
    QTest::newRow("HTTP CONNECT, TLS") << QStringLiteral("http") << 0 << httpUser << httpPassword << implicit << true;
    QTest::newRow("HTTP CONNECT, wrong proxy password")
        << QStringLiteral("http") << 0 << httpUser << wrong << plain << false;
    QTest::newRow("SOCKS 5 with login, plain")
        << QStringLiteral("socks5") << 2 << socksUser << socksPassword << plain << true;
    QTest::newRow("SOCKS 5 with login, TLS")
        << QStringLiteral("socks5") << 2 << socksUser << socksPassword << implicit << true;
    QTest::newRow("SOCKS 5, wrong proxy password")
        << QStringLiteral("socks5") << 2 << socksUser << wrong << plain << false;
    QTest::newRow("SOCKS 4, plain") << QStringLiteral("socks4") << 1 << QString() << QString() << plain << true;
    QTest::newRow("SOCKS 4, TLS") << QStringLiteral("socks4") << 1 << QString() << QString() << implicit << true;
    QTest::newRow("proxy not listening") << QStringLiteral("dead") << 1 << QString() << QString() << plain << false;
}

void TestSmtpDelivery::proxies() {
    QFETCH(QString, proxy);
    QFETCH(int, prType);
    QFETCH(QString, proxyUser);
    QFETCH(QString, proxyPassword);
    QFETCH(QString, server);
    QFETCH(bool, delivered);

    quint16 proxyPort = 0;
    if (proxy == QStringLiteral("http"))
        proxyPort = FHttpProxyPort;
    else if (proxy == QStringLiteral("socks4"))
        proxyPort = FSocks4ProxyPort;
    else if (proxy == QStringLiteral("socks5"))
        proxyPort = FSocks5ProxyPort;
    else
        proxyPort = TServerProcess::FreePort();
    QVERIFY(proxyPort != 0);

    auto job = MakeJob(QStringLiteral("Nightly"), server);
    job->JobOptions.Proxy.Enabled = true;
    job->JobOptions.Proxy.PrType = prType;
    job->JobOptions.Proxy.Host = QStringLiteral("127.0.0.1");
    job->JobOptions.Proxy.Port = QString::number(proxyPort);
    job->JobOptions.Proxy.Username = proxyUser;
    job->JobOptions.Proxy.Password = proxyPassword;
    QCOMPARE(SendNotificationToEmail(*job, QStringLiteral("through the proxy")), delivered);
    const QList<QJsonObject> messages = TakeMessages();
    QCOMPARE(messages.size(), delivered ? 1 : 0);
    if (!delivered)
        return;
    CheckCommon(messages.first());
    QCOMPARE(messages.first().value(QStringLiteral("server")).toString(), server);
    QCOMPARE(messages.first().value(QStringLiteral("tls")).isNull(), server == QStringLiteral("plain"));
    QCOMPARE(messages.first().value(QStringLiteral("rcpt_tos")).toArray(), QJsonArray{Recipient});
    const QJsonArray parts = messages.first().value(QStringLiteral("parts")).toArray();
    QCOMPARE(QString::fromUtf8(PartData(parts.at(0).toObject())), QStringLiteral("through the proxy"));
}

// A run that could not reach its storage reports even when only cancelled runs should, with the
// time, ": " and the connection error as its text, and its log attached.
void TestSmtpDelivery::connectionFailureReport() {
    auto job = MakeJob(QStringLiteral("Nightly"), QStringLiteral("implicit"));
    job->JobOptions.Email.SendOnlyIfJobIscancelledDueToErrors = true;
    job->LogList = {LogStamp};
    const QByteArray log = LogBytes(300);
    WriteLog(*job, log);
    QVERIFY(!ShouldSendReport(job->JobOptions.Email, false, false));
    QVERIFY(ShouldSendReport(job->JobOptions.Email, true, true));

    const QString text = QStringLiteral("07:08:10: ERROR: Unable to connect to the destination.");
    QVERIFY(SendNotificationToEmail(*job, text));
    const QList<QJsonObject> messages = TakeMessages();
    QCOMPARE(messages.size(), 1);
    CheckCommon(messages.first());
    const QJsonArray parts = messages.first().value(QStringLiteral("parts")).toArray();
    QCOMPARE(parts.size(), 2);
    QCOMPARE(QString::fromUtf8(PartData(parts.at(0).toObject())), text);
    QCOMPARE(PartData(parts.at(1).toObject()), log);
}

void TestSmtpDelivery::backupRunsSendTheirReport_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("security");
    QTest::addColumn<bool>("onlyIfCancelled");
    QTest::addColumn<bool>("destinationMissing");
    QTest::addColumn<QString>("ending"); // empty: no report
    QTest::newRow("plain") << "plain" << 0 << false << false << "Backup job \"Nightly\" is finished.";
    QTest::newRow("implicit TLS, SSL choice")
        << "implicit" << 1 << false << false << "Backup job \"Nightly\" is finished.";
    QTest::newRow("implicit TLS, TLS choice")
        << "implicit" << 2 << false << false << "Backup job \"Nightly\" is finished.";
    QTest::newRow("finished run, only-if-cancelled") << "plain" << 0 << true << false << "";
    QTest::newRow("no connection, only-if-cancelled")
        << "implicit" << 1 << true << true << "ERROR: The directory does not exist:";
}

// A whole backup run mails its report at its end, with the log file the run just wrote.
void TestSmtpDelivery::backupRunsSendTheirReport() {
    QFETCH(QString, server);
    QFETCH(int, security);
    QFETCH(bool, onlyIfCancelled);
    QFETCH(bool, destinationMissing);
    QFETCH(QString, ending);
    const QString root = FWork.filePath(QStringLiteral("run-") + QString::number(QTest::currentDataTag()[0]));
    QDir(root).removeRecursively();
    QVERIFY(QDir().mkpath(root + QStringLiteral("/src")) && QDir().mkpath(root + QStringLiteral("/dest")));
    QFile source(root + QStringLiteral("/src/report me.txt"));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("content");
    source.close();

    TAppGlobals& app = App();
    app.ApplicationDirectory = root + QStringLiteral("/data");
    QVERIFY(QDir().mkpath(app.ApplicationDirectory));
    app.Options = TOptions();
    app.Options.General.PathForTempFiles = root + QStringLiteral("/temp");
    app.Options.Logging.PathForLogFiles = root + QStringLiteral("/logs");
    TEmailOptions& email = app.Options.Email;
    email.SendEmailNotificationWhenFinishedBackup = true;
    email.SendOnlyIfJobIscancelledDueToErrors = onlyIfCancelled;
    email.RecipientEmail = Recipient;
    email.SMTPHost = QStringLiteral("127.0.0.1");
    email.SMTPPort = QString::number(ServerPort(server));
    email.Username = ServerUser;
    email.Password = ServerPassword;
    email.Security = security;

    TJob_FilesAndFolders job(QStringLiteral("Nightly"));
    job.Settings.Sources.List = {root + QStringLiteral("/src/*")};
    job.DestinationSettings.LocalOrExternalDrive.Disk =
        root + (destinationMissing ? QStringLiteral("/unplugged") : QStringLiteral("/dest"));
    job.Backup();
    job.WaitForWorker();
    QCOMPARE(job.JobStatus.Load(), jsNone);

    const QList<QJsonObject> messages = TakeMessages();
    if (ending.isEmpty()) {
        QCOMPARE(messages.size(), 0);
        return;
    }
    QCOMPARE(messages.size(), 1);
    const QJsonObject& message = messages.first();
    CheckCommon(message);
    QCOMPARE(message.value(QStringLiteral("subject")).toString(), QStringLiteral("Backup Report: Nightly"));
    const QJsonArray parts = message.value(QStringLiteral("parts")).toArray();
    QCOMPARE(parts.size(), 2);
    const QString text = QString::fromUtf8(PartData(parts.at(0).toObject()));
    QVERIFY2(text.contains(ending), qPrintable(text));
    // The attachment is the log file of this very run.
    QCOMPARE(job.LogList.size(), 1);
    QFile log(root + QStringLiteral("/logs/Nightly/") + job.LogList.last() + QStringLiteral(".txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(PartData(parts.at(1).toObject()), log.readAll());
    QCOMPARE(parts.at(1).toObject().value(QStringLiteral("filename")).toString(),
             job.LogList.last() + QStringLiteral(".txt"));
}

void TestSmtpDelivery::testMessage_data() {
    QTest::addColumn<QString>("port"); // "plain": the plain server's port
    QTest::addColumn<bool>("proxyEnabled");
    QTest::addColumn<QString>("proxyPort");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("expected");

    const QString plain = QStringLiteral("plain");
    QTest::newRow("sent") << plain << false << QString() << ServerPassword << int(terSent);
    QTest::newRow("SMTP port not a number")
        << QStringLiteral("25a") << false << QString() << ServerPassword << int(terInvalidPort);
    QTest::newRow("enabled proxy's port not a number")
        << plain << true << QStringLiteral("x") << ServerPassword << int(terInvalidPort);
    QTest::newRow("disabled proxy's port is not used")
        << plain << false << QStringLiteral("x") << ServerPassword << int(terSent);
    QTest::newRow("bad password") << plain << false << QString() << QStringLiteral("wrong") << int(terFailed);
}

void TestSmtpDelivery::testMessage() {
    QFETCH(QString, port);
    QFETCH(bool, proxyEnabled);
    QFETCH(QString, proxyPort);
    QFETCH(QString, password);
    QFETCH(int, expected);

    TEmailOptions entered;
    entered.RecipientEmail = Recipient;
    entered.SMTPHost = QStringLiteral("127.0.0.1");
    entered.SMTPPort = port == QStringLiteral("plain") ? QString::number(ServerPort(port)) : port;
    entered.Username = ServerUser;
    entered.Password = password;
    TProxyOptions proxy;
    proxy.Enabled = proxyEnabled;
    proxy.Host = QStringLiteral("127.0.0.1");
    proxy.Port = proxyPort;
    QString error;
    QCOMPARE(int(SendTestEmail(entered, proxy, error)), expected);
    QCOMPARE(error.isEmpty(), expected != int(terFailed));
    const QList<QJsonObject> messages = TakeMessages();
    QCOMPARE(messages.size(), expected == int(terSent) ? 1 : 0);
    if (expected != int(terSent))
        return;
    const QJsonObject& message = messages.first();
    CheckCommon(message);
    QCOMPARE(message.value(QStringLiteral("auth_login")).toString(), ServerUser);
    QCOMPARE(message.value(QStringLiteral("subject")).toString(), QStringLiteral("Test Email from Vaultora"));
    const QJsonArray parts = message.value(QStringLiteral("parts")).toArray();
    QCOMPARE(parts.size(), 1);
    QCOMPARE(QString::fromUtf8(PartData(parts.at(0).toObject())), QStringLiteral("This is a test message."));
}

// A server that takes the connection and never greets must not hold the worker: the read
// time-out ends the session with an error.
void TestSmtpDelivery::silentServerTimesOut() {
    QTcpServer silent; // never accepts: the kernel completes the handshake, nobody answers
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    TSmtpSettings settings;
    settings.Host = QStringLiteral("127.0.0.1");
    settings.Port = QString::number(silent.serverPort());
    settings.ReadTimeoutSeconds = 1;
    TMailMessage message;
    message.Recipients = Recipient;
    TSmtpClient client(settings);
    QVERIFY(!client.Send(message));
    QVERIFY2(client.ErrorText().contains(QStringLiteral("timeout"), Qt::CaseInsensitive) ||
                 client.ErrorText().contains(QStringLiteral("timed out"), Qt::CaseInsensitive),
             qPrintable(client.ErrorText()));
}

QTEST_GUILESS_MAIN(TestSmtpDelivery)
#include "tst_smtpdelivery.moc"
