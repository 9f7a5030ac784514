// Rules of the e-mail report that need no server: recipient lists, when a run reports, what the
// report holds, and the settings a session refuses before it connects.

#include "jobs/files/TJob_FilesAndFolders.h"
#include "jobs/report/JobReport.h"
#include "net/EmailNotification.h"
#include "net/TMailAddress.h"
#include "net/TSmtpClient.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestEmailRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addressList_data();
    void addressList();
    void shouldSendReport_data();
    void shouldSendReport();
    void reportMessage();
    void reportAttachment_data();
    void reportAttachment();
    void refusedSettings_data();
    void refusedSettings();
};

void TestEmailRules::addressList_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    // "name|address" per mailbox
    QTest::addColumn<QStringList>("expected");

    const QString nul(QChar(0));
    QTest::newRow("one address") << QStringLiteral("a@x.org") << true << QStringList{QStringLiteral("|a@x.org")};
    QTest::newRow("two with blanks") << QStringLiteral(" a@x.org ,b@y.org ") << true
                                     << QStringList{QStringLiteral("|a@x.org"), QStringLiteral("|b@y.org")};
    QTest::newRow("blank entries skipped")
        << QStringLiteral(",a@x.org,,  ,") << true << QStringList{QStringLiteral("|a@x.org")};
    QTest::newRow("quoted name with a comma")
        << QStringLiteral("\"Doe, Jo\" <jo@x.org>, b@y.org") << true
        << QStringList{QStringLiteral("Doe, Jo|jo@x.org"), QStringLiteral("|b@y.org")};
    QTest::newRow("plain name") << QStringLiteral("Jo Doe <jo@x.org>") << true
                                << QStringList{QStringLiteral("Jo Doe|jo@x.org")};
    QTest::newRow("pasted line end") << QStringLiteral("a@x.org\r\n") << true
                                     << QStringList{QStringLiteral("|a@x.org")};
    QTest::newRow("CR LF smuggles a command")
        << QStringLiteral("a@x.org\r\nRCPT TO:<evil@y.org>") << false << QStringList{};
    QTest::newRow("LF smuggles a header") << QStringLiteral("a@x.org\nBcc: evil@y.org") << false << QStringList{};
    QTest::newRow("CR LF in a name") << QStringLiteral("\"Ops\r\nBcc: evil@y.org\" <a@x.org>") << false
                                     << QStringList{};
    QTest::newRow("NUL cuts the address")
        << QStringLiteral("a@x.org") + nul + QStringLiteral("evil@y.org") << false << QStringList{};
    QTest::newRow("empty") << QString() << false << QStringList{};
    QTest::newRow("only separators") << QStringLiteral(" , , ") << false << QStringList{};
    QTest::newRow("blank inside an address") << QStringLiteral("a b@x.org") << false << QStringList{};
    QTest::newRow("text after the brackets") << QStringLiteral("Jo <jo@x.org> more") << false << QStringList{};
    QTest::newRow("unclosed bracket") << QStringLiteral("Jo <jo@x.org") << false << QStringList{};
    QTest::newRow("empty brackets") << QStringLiteral("Jo <>") << false << QStringList{};
}

void TestEmailRules::addressList() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QStringList, expected);

    QList<TMailAddress> addresses;
    QString error;
    QCOMPARE(TMailAddress::ParseList(text, addresses, error), ok);
    if (!ok) {
        QVERIFY(!error.isEmpty());
        // The reason is shown on one line; it must not carry the line breaks it complains about.
        QVERIFY(!error.contains(u'\n') && !error.contains(u'\r') && !error.contains(QChar(0)));
        return;
    }
    QStringList got;
    for (const TMailAddress& address : addresses)
        got << address.Name + u'|' + address.Address;
    QCOMPARE(got, expected);
}

void TestEmailRules::shouldSendReport_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("onlyIfCancelled");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<bool>("connectionFailed");
    QTest::addColumn<bool>("expected");

    QTest::newRow("reports off") << false << false << false << false << false;
    QTest::newRow("reports off, cancelled") << false << false << true << false << false;
    QTest::newRow("reports off, could not connect") << false << true << true << true << false;
    QTest::newRow("every run, finished") << true << false << false << false << true;
    QTest::newRow("every run, cancelled") << true << false << true << false << true;
    QTest::newRow("only cancelled, finished") << true << true << false << false << false;
    QTest::newRow("only cancelled, cancelled") << true << true << true << false << true;
    QTest::newRow("only cancelled, could not connect") << true << true << true << true << true;
    QTest::newRow("only cancelled, could not connect, flag unset") << true << true << false << true << true;
}

void TestEmailRules::shouldSendReport() {
    QFETCH(bool, enabled);
    QFETCH(bool, onlyIfCancelled);
    QFETCH(bool, cancelled);
    QFETCH(bool, connectionFailed);
    QFETCH(bool, expected);

    TEmailOptions email;
    email.SendEmailNotificationWhenFinishedBackup = enabled;
    email.SendOnlyIfJobIscancelledDueToErrors = onlyIfCancelled;
    QCOMPARE(ShouldSendReport(email, cancelled, connectionFailed), expected);
}

void TestEmailRules::reportMessage() {
    QTemporaryDir logs;
    QVERIFY(logs.isValid());
    TJob_FilesAndFolders job(QStringLiteral("Nightly"));
    job.JobOptions.Email.Username = QStringLiteral("me@x.org");
    job.JobOptions.Email.RecipientEmail = QStringLiteral("a@x.org, b@y.org");
    job.JobOptions.Logging.PathForLogFiles = logs.path();
    // The job's own copy of the translation table decides the subject, not the program's.
    job.JobOptions.Language.Translations.Rows = {
        {QStringLiteral("English"), QStringLiteral("Deutsch")},
        {QStringLiteral("en"), QStringLiteral("de")},
        {QStringLiteral("Backup Report: "), QStringLiteral("Sicherungsbericht: ")},
    };
    job.JobOptions.Language.iLanguage = 1;
    job.LogList = {QStringLiteral("2024-03-04 07;08;09"), QStringLiteral("2024-03-05 07;08;09")};
    QVERIFY(QDir(logs.path()).mkpath(QStringLiteral("Nightly")));
    for (const QString& stamp : job.LogList) {
        QFile file(logs.path() + QStringLiteral("/Nightly/") + stamp + QStringLiteral(".txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(stamp.toUtf8());
    }

    const TMailMessage message = BuildReportMessage(job, QStringLiteral("07:10:00: Backup job is finished."));
    QCOMPARE(message.Subject, QStringLiteral("Sicherungsbericht: Nightly"));
    QCOMPARE(message.SenderAddress, QStringLiteral("me@x.org"));
    QCOMPARE(message.SenderName, QStringLiteral("Vaultora"));
    QCOMPARE(message.Recipients, QStringLiteral("a@x.org, b@y.org"));
    QCOMPARE(message.Text, QStringLiteral("07:10:00: Backup job is finished."));
    // The run's log is the newest entry of LogList.
    QCOMPARE(message.AttachmentName, QStringLiteral("2024-03-05 07;08;09.txt"));
    QCOMPARE(message.AttachmentData, QByteArray("2024-03-05 07;08;09"));
}

void TestEmailRules::reportAttachment_data() {
    QTest::addColumn<QStringList>("logList");
    QTest::addColumn<bool>("writeFile");
    QTest::addColumn<bool>("attached");

    QTest::newRow("no stored log") << QStringList{} << false << false;
    QTest::newRow("log file deleted") << QStringList{QStringLiteral("2024-03-05 07;08;09")} << false << false;
    QTest::newRow("log file present") << QStringList{QStringLiteral("2024-03-05 07;08;09")} << true << true;
}

void TestEmailRules::reportAttachment() {
    QFETCH(QStringList, logList);
    QFETCH(bool, writeFile);
    QFETCH(bool, attached);

    QTemporaryDir logs;
    QVERIFY(logs.isValid());
    TJob_FilesAndFolders job(QStringLiteral("Nightly"));
    job.JobOptions.Logging.PathForLogFiles = logs.path();
    job.LogList = logList;
    if (writeFile) {
        QVERIFY(QDir(logs.path()).mkpath(QStringLiteral("Nightly")));
        QFile file(ReportLogFilePath(job));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("log");
    }
    const TMailMessage message = BuildReportMessage(job, QStringLiteral("result"));
    QCOMPARE(!message.AttachmentName.isEmpty(), attached);
}

void TestEmailRules::refusedSettings_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("proxyEnabled");
    QTest::addColumn<int>("proxyType");
    QTest::addColumn<QString>("proxyHost");
    QTest::addColumn<QString>("proxyPort");
    QTest::addColumn<QString>("errorStart");

    const QString host = QStringLiteral("127.0.0.1");
    const QString port = QStringLiteral("25");
    const QString none;
    QTest::newRow("no server") << none << port << 0 << none << false << 0 << none << none
                               << QStringLiteral("Invalid SMTP server name");
    QTest::newRow("server name with a path") << QStringLiteral("mail.example.org/evil") << port << 0 << none << false
                                             << 0 << none << none << QStringLiteral("Invalid SMTP server name");
    QTest::newRow("server name with a user") << QStringLiteral("user@mail.example.org") << port << 0 << none << false
                                             << 0 << none << none << QStringLiteral("Invalid SMTP server name");
    QTest::newRow("port text") << host << QStringLiteral("smtp") << 0 << none << false << 0 << none << none
                               << QStringLiteral("The SMTP port is not a number");
    QTest::newRow("port empty") << host << none << 0 << none << false << 0 << none << none
                                << QStringLiteral("The SMTP port is not a number");
    QTest::newRow("port zero") << host << QStringLiteral("0") << 0 << none << false << 0 << none << none
                               << QStringLiteral("The SMTP port is not a number");
    QTest::newRow("port too large") << host << QStringLiteral("65536") << 0 << none << false << 0 << none << none
                                    << QStringLiteral("The SMTP port is not a number");
    QTest::newRow("unknown security") << host << port << 3 << none << false << 0 << none << none
                                      << QStringLiteral("Unknown security choice");
    QTest::newRow("sender with CR LF") << host << port << 0 << QStringLiteral("me@x.org\r\nBcc: evil@y.org") << false
                                       << 0 << none << none << QStringLiteral("Invalid sender address");
    QTest::newRow("sender with a blank") << host << port << 0 << QStringLiteral("me@x.org SIZE=1") << false << 0 << none
                                         << none << QStringLiteral("Invalid sender address");
    QTest::newRow("proxy port text") << host << port << 0 << none << true << 0 << host << QStringLiteral("http")
                                     << QStringLiteral("The proxy port is not a number");
    QTest::newRow("proxy without host") << host << port << 0 << none << true << 2 << none << QStringLiteral("1080")
                                        << QStringLiteral("Invalid proxy server name");
    QTest::newRow("unknown proxy type") << host << port << 0 << none << true << 3 << host << QStringLiteral("1080")
                                        << QStringLiteral("Unknown proxy type");
}

void TestEmailRules::refusedSettings() {
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(int, security);
    QFETCH(QString, sender);
    QFETCH(bool, proxyEnabled);
    QFETCH(int, proxyType);
    QFETCH(QString, proxyHost);
    QFETCH(QString, proxyPort);
    QFETCH(QString, errorStart);

    TSmtpSettings settings;
    settings.Host = host;
    settings.Port = port;
    settings.Security = security;
    settings.Proxy.Enabled = proxyEnabled;
    settings.Proxy.PrType = proxyType;
    settings.Proxy.Host = proxyHost;
    settings.Proxy.Port = proxyPort;
    TMailMessage message;
    message.SenderAddress = sender;
    message.Recipients = QStringLiteral("a@x.org");
    TSmtpClient client(settings);
    QVERIFY(!client.Send(message));
    QVERIFY2(client.ErrorText().startsWith(errorStart), qPrintable(client.ErrorText()));
    QVERIFY(!client.ErrorText().contains(u'\n'));
}

QTEST_GUILESS_MAIN(TestEmailRules)
#include "tst_emailrules.moc"
