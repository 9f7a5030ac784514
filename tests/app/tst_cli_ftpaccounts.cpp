// vaultora-cli ftp-account add/edit/remove/list and "new --to ftp://ACCOUNT/folder".

#include "CliTestSupport.h"

#include "core/format/OptionsFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

QProcessEnvironment Environment(const QString& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    return environment;
}

QString S(const char* text) {
    return QString::fromUtf8(text);
}

QStringList Args(std::initializer_list<const char*> args) {
    QStringList list;
    for (const char* arg : args)
        list.append(QString::fromUtf8(arg));
    return list;
}

const QString Secret = QStringLiteral("s3cret pass");

} // namespace

class TestCliFtpAccounts : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;
    QString m_data;
    QString m_passwordFile;
    QString m_source;

    TRun Cli(const QStringList& args) {
        return RunCli(Environment(m_dir.filePath(QStringLiteral("home"))), m_data, args);
    }

    QJsonArray Accounts() {
        const TRun run = Cli({QStringLiteral("options"), QStringLiteral("--json")});
        if (run.ExitCode != 0)
            qFatal("options failed: %s", qPrintable(run.Err));
        return QJsonDocument::fromJson(run.Out.toUtf8()).object().value(QStringLiteral("FTPAccounts")).toArray();
    }

    QByteArray OptionsBytes() {
        QFile file(m_data + QStringLiteral("/options.vlo"));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("cannot read the options file");
        return file.readAll();
    }

    TOptions StoredOptions() {
        TOptions options;
        if (!LoadOptions(m_data + QStringLiteral("/options.vlo"), options))
            qFatal("cannot read the options file");
        return options;
    }

    QStringList Add(const QString& name) {
        return {QStringLiteral("ftp-account"),
                QStringLiteral("add"),
                name,
                QStringLiteral("--host"),
                QStringLiteral("ftp.example.org"),
                QStringLiteral("--user"),
                QStringLiteral("anna"),
                QStringLiteral("--password-file"),
                m_passwordFile};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_passwordFile = m_dir.filePath(QStringLiteral("password.txt"));
        QFile file(m_passwordFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Secret.toUtf8() + "\n");
        file.close();
        m_source = m_dir.filePath(QStringLiteral("source"));
        QVERIFY(QDir().mkpath(m_source));
    }

    // Each test starts on an empty data folder holding the one account "Main".
    void init() {
        m_data = m_dir.filePath(QStringLiteral("data%1").arg(++m_count));
        QVERIFY(QDir().mkpath(m_data));
        const TRun run = Cli(Add(QStringLiteral("Main")));
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
    }

    // A refused invocation says why and leaves the accounts exactly as they were.
    void refusedInvocationsChangeNothing_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const char* pw = "--password-file";
        const char* host = "--host";
        const char* user = "--user";
        const char* fa = "ftp-account";
        QTest::newRow("add without host") << Args({fa, "add", "B", user, "u", pw, "PW"}) << S("usage: ftp-account add");
        QTest::newRow("add without password file")
            << Args({fa, "add", "B", host, "h", user, "u"}) << S("usage: ftp-account add");
        QTest::newRow("add without user") << Args({fa, "add", "B", host, "h", pw, "PW"}) << S("usage: ftp-account add");
        QTest::newRow("add with a port that is no number")
            << Args({fa, "add", "B", host, "h", "--port", "2x1", user, "u", pw, "PW"}) << S("--port takes a number");
        QTest::newRow("add with a port out of range")
            << Args({fa, "add", "B", host, "h", "--port", "65536", user, "u", pw, "PW"}) << S("--port takes a number");
        QTest::newRow("add with port 0") << Args({fa, "add", "B", host, "h", "--port", "0", user, "u", pw, "PW"})
                                         << S("--port takes a number");
        QTest::newRow("add a duplicate name")
            << Args({fa, "add", "Main", host, "h", user, "u", pw, "PW"}) << S("\"Main\" exists already");
        QTest::newRow("add a duplicate differing in case")
            << Args({fa, "add", "MAIN", host, "h", user, "u", pw, "PW"}) << S("\"Main\" exists already");
        QTest::newRow("add a blank name")
            << Args({fa, "add", "  ", host, "h", user, "u", pw, "PW"}) << S("Please specify FTP Account Name");
        QTest::newRow("add a name with a slash")
            << Args({fa, "add", "a/b", host, "h", user, "u", pw, "PW"}) << S("no \"/\"");
        QTest::newRow("add a host with a line break")
            << Args({fa, "add", "B", host, "h\r\nDELE x", user, "u", pw, "PW"}) << S("not a host name");
        QTest::newRow("add with a missing password file")
            << Args({fa, "add", "B", host, "h", user, "u", pw, "/nonexistent/pw"})
            << S("cannot read the password file");
        QTest::newRow("edit an unknown account")
            << Args({fa, "edit", "Nope", "--port", "21"}) << S("no FTP account named");
        QTest::newRow("edit to another's name")
            << Args({fa, "edit", "Main", "--name", "main2"}) << S("\"Main2\" exists already");
        QTest::newRow("edit with a bad port after a good host")
            << Args({fa, "edit", "Main", host, "other.example.org", "--port", "http"}) << S("--port takes a number");
        QTest::newRow("edit active and passive")
            << Args({fa, "edit", "Main", "--active", "--passive"}) << S("exclude each other");
        QTest::newRow("remove an unknown account") << Args({fa, "remove", "Nope"}) << S("no FTP account named");
        QTest::newRow("unknown action") << Args({fa, "rename", "Main"}) << S("usage: ftp-account");
        QTest::newRow("new to an unknown account")
            << Args({"new", "J", "--source", "SRC", "--to", "ftp://Nope/backups"})
            << S("no FTP account named \"Nope\"");
        QTest::newRow("new to no account")
            << Args({"new", "J", "--source", "SRC", "--to", "ftp:///backups"}) << S("needs an FTP account name");
        QTest::newRow("new with a line break in the folder")
            << Args({"new", "J", "--source", "SRC", "--to", "ftp://Main/a\r\nDELE b"}) << S("control characters");
        QTest::newRow("new with a share user on FTP")
            << Args({"new", "J", "--source", "SRC", "--to", "ftp://Main/a", "--user", "u"})
            << S("are for a network share");
    }
    void refusedInvocationsChangeNothing() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        // "edit to another's name" needs a second account to collide with.
        const TRun second = Cli(Add(QStringLiteral("Main2")));
        QCOMPARE(second.ExitCode, 0);
        args.replaceInStrings(QStringLiteral("PW"), m_passwordFile);
        args.replaceInStrings(QStringLiteral("SRC"), m_source);
        // The options file stays byte for byte (read directly: a program run per look is slow).
        const QByteArray before = OptionsBytes();
        const TRun run = Cli(args);
        QCOMPARE(run.ExitCode, 64);
        QVERIFY2(run.Err.contains(message), qPrintable(run.Err));
        QCOMPARE(OptionsBytes(), before);
        const TRun list = Cli({QStringLiteral("list")});
        QCOMPARE(list.Out, QString());
    }

    void addStoresEveryFieldAndListShowsNoPassword() {
        const TRun run =
            Cli({QStringLiteral("ftp-account"), QStringLiteral("add"), QStringLiteral("Second"),
                 QStringLiteral("--host"), QStringLiteral("10.0.0.5"), QStringLiteral("--port"), QStringLiteral("2121"),
                 QStringLiteral("--user"), QStringLiteral("bob"), QStringLiteral("--password-file"), m_passwordFile,
                 QStringLiteral("--active"), QStringLiteral("--ftps")});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
        const TOptions options = StoredOptions();
        QCOMPARE(options.FTPAccounts.size(), 2);
        const TFTPAccount& main = options.FTPAccounts.at(0);
        QCOMPARE(main.AccName, QStringLiteral("Main"));
        QCOMPARE(main.Port, 21);
        QVERIFY(main.PassiveMode);
        QVERIFY(!main.FTPS);
        const TFTPAccount& second = options.FTPAccounts.at(1);
        QCOMPARE(second.ID, 2);
        QCOMPARE(second.AccName, QStringLiteral("Second"));
        QCOMPARE(second.Host, QStringLiteral("10.0.0.5"));
        QCOMPARE(second.Port, 2121);
        QCOMPARE(second.Username, QStringLiteral("bob"));
        QCOMPARE(second.Password, Secret);
        QVERIFY(!second.PassiveMode);
        QVERIFY(second.FTPS);
        QCOMPARE(options.LastFTPAccountID, 2);

        const TRun list = Cli({QStringLiteral("ftp-account"), QStringLiteral("list")});
        QCOMPARE(list.ExitCode, 0);
        QCOMPARE(list.Out, QStringLiteral("1\tMain\tanna@ftp.example.org:21\tpassive\tplain\tPassword is set\n"
                                          "2\tSecond\tbob@10.0.0.5:2121\tactive\tftps\tPassword is set\n"));
        QVERIFY(!list.Out.contains(QStringLiteral("s3cret")));
    }

    void editChangesOnlyTheGivenFields() {
        TRun run = Cli({QStringLiteral("ftp-account"), QStringLiteral("edit"), QStringLiteral("Main"),
                        QStringLiteral("--port"), QStringLiteral("990"), QStringLiteral("--ftps"),
                        QStringLiteral("--name"), QStringLiteral("Renamed")});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
        TFTPAccount account = StoredOptions().FTPAccounts.value(0);
        QCOMPARE(account.ID, 1);
        QCOMPARE(account.AccName, QStringLiteral("Renamed"));
        QCOMPARE(account.Host, QStringLiteral("ftp.example.org"));
        QCOMPARE(account.Port, 990);
        QCOMPARE(account.Username, QStringLiteral("anna"));
        QCOMPARE(account.Password, Secret);
        QVERIFY(account.PassiveMode);
        QVERIFY(account.FTPS);

        // An empty first line clears the password.
        const QString empty = m_dir.filePath(QStringLiteral("empty.txt"));
        QFile file(empty);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        run = Cli({QStringLiteral("ftp-account"), QStringLiteral("edit"), QStringLiteral("Renamed"),
                   QStringLiteral("--password-file"), empty, QStringLiteral("--no-ftps"), QStringLiteral("--active")});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
        account = StoredOptions().FTPAccounts.value(0);
        QCOMPARE(account.Password, QString());
        QVERIFY(!account.FTPS);
        QVERIFY(!account.PassiveMode);
        QCOMPARE(account.Port, 990);
    }

    // Jobs refer to accounts by ID: a new account never takes a removed one's.
    void removeThenAddGivesAFreshId() {
        QCOMPARE(Cli(Add(QStringLiteral("B"))).ExitCode, 0);
        QCOMPARE(Cli({QStringLiteral("ftp-account"), QStringLiteral("remove"), QStringLiteral("B")}).ExitCode, 0);
        QCOMPARE(Cli({QStringLiteral("ftp-account"), QStringLiteral("remove"), QStringLiteral("Main")}).ExitCode, 0);
        QCOMPARE(Accounts().size(), 0);
        QCOMPARE(Cli(Add(QStringLiteral("Main"))).ExitCode, 0);
        const TOptions options = StoredOptions();
        QCOMPARE(options.FTPAccounts.size(), 1);
        QCOMPARE(options.FTPAccounts.at(0).ID, 3);
        QCOMPARE(options.LastFTPAccountID, 3);
    }

    void newToFtpWritesTheDestination_data() {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("subfolder");
        QTest::newRow("folder") << S("ftp://Other/sub/folder") << S("/sub/folder");
        QTest::newRow("no folder") << S("ftp://Other") << S("/");
        QTest::newRow("root") << S("ftp://Other/") << S("/");
        QTest::newRow("doubled slashes") << S("ftp://Other//a//b/") << S("/a/b/");
        QTest::newRow("blanks and UTF-8") << S("ftp://Other/Sicherung März/x y") << S("/Sicherung März/x y");
    }
    void newToFtpWritesTheDestination() {
        QFETCH(QString, to);
        QFETCH(QString, subfolder);
        QCOMPARE(Cli(Add(QStringLiteral("Other"))).ExitCode, 0);
        const TRun run = Cli({QStringLiteral("new"), QStringLiteral("Daily"), QStringLiteral("--source"), m_source,
                              QStringLiteral("--to"), to});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
        const TRun show = Cli({QStringLiteral("show"), QStringLiteral("Daily"), QStringLiteral("--json")});
        QCOMPARE(show.ExitCode, 0);
        const QJsonObject destination =
            QJsonDocument::fromJson(show.Out.toUtf8()).object().value(QStringLiteral("DestinationSettings")).toObject();
        QCOMPARE(destination.value(QStringLiteral("DestinationType")).toInt(), 2);
        const QJsonObject ftp = destination.value(QStringLiteral("FTP")).toObject();
        QCOMPARE(ftp.value(QStringLiteral("AccountID")).toInt(), 2);
        QCOMPARE(ftp.value(QStringLiteral("Subfolder")).toString(), subfolder);
        const TRun shown = Cli({QStringLiteral("show"), QStringLiteral("Daily")});
        QVERIFY2(shown.Out.contains(QStringLiteral("Destination: Backup to FTP (Other): ") + subfolder + u'\n'),
                 qPrintable(shown.Out));
    }

    // The job keeps its account's ID: once the account is gone it names no server, and a new
    // account of the same name is another account.
    void jobOfARemovedAccountShowsNoDestination() {
        TRun run = Cli({QStringLiteral("new"), QStringLiteral("Daily"), QStringLiteral("--source"), m_source,
                        QStringLiteral("--to"), QStringLiteral("ftp://Main/backups")});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
        QCOMPARE(Cli({QStringLiteral("ftp-account"), QStringLiteral("remove"), QStringLiteral("Main")}).ExitCode, 0);
        QCOMPARE(Cli(Add(QStringLiteral("Main"))).ExitCode, 0);
        run = Cli({QStringLiteral("show"), QStringLiteral("Daily")});
        QVERIFY2(run.Out.contains(QStringLiteral("\nDestination: \n")), qPrintable(run.Out));
    }
};

QTEST_GUILESS_MAIN(TestCliFtpAccounts)
#include "tst_cli_ftpaccounts.moc"
