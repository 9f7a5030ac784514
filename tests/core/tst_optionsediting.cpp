// What the Options dialog and the FTP account lists do to the record.

#include "core/settings/FTPAccounts.h"
#include "core/settings/OptionsChecks.h"
#include "core/settings/TAppGlobals.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

class TestOptionsEditing : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static TFTPAccount Account(const QString& name) {
        TFTPAccount account;
        account.AccName = name;
        account.Host = name + QStringLiteral(".example.org");
        return account;
    }
    static QList<int32_t> Ids(const TOptions& o) {
        QList<int32_t> ids;
        for (const TFTPAccount& a : o.FTPAccounts)
            ids.append(a.ID);
        return ids;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("temp"))));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("logs"))));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("Logs"))));
        App().IsQuitting = false;
    }

    void okButtonChecks_data() {
        QTest::addColumn<bool>("protect");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("temp");
        QTest::addColumn<QString>("logs");
        QTest::addColumn<QString>("error");
        const QString temp = m_dir.filePath(QStringLiteral("temp"));
        const QString logs = m_dir.filePath(QStringLiteral("logs"));
        const QString missing = m_dir.filePath(QStringLiteral("missing"));
        const QString passwordText = QStringLiteral("Please specify a password for configuration protection.");
        const QString tempText = QStringLiteral("Please choose a correct path for the temporary files.");
        const QString logText = QStringLiteral("Please choose a correct path for the log files.");
        const QString sameText = QStringLiteral("Unable to set the same path for temporary files and log files.");
        QTest::addRow("accepted") << false << QString() << temp << logs << QString();
        QTest::addRow("protected with a password") << true << "pw" << temp << logs << QString();
        QTest::addRow("protected without password") << true << QString() << temp << logs << passwordText;
        QTest::addRow("password checked first") << true << QString() << missing << missing << passwordText;
        QTest::addRow("empty temporary path") << false << QString() << QString() << logs << tempText;
        QTest::addRow("missing temporary path") << false << QString() << missing << logs << tempText;
        QTest::addRow("temporary path is a file")
            << false << QString() << QStringLiteral(VAULTORA_SOURCE_DIR "/CMakeLists.txt") << logs << tempText;
        QTest::addRow("empty log path") << false << QString() << temp << QString() << logText;
        QTest::addRow("missing log path") << false << QString() << temp << missing << logText;
        QTest::addRow("same paths") << false << QString() << temp << temp << sameText;
        QTest::addRow("log path with blanks does not exist")
            << false << QString() << temp << (temp + QStringLiteral("  ")) << logText;
        QTest::addRow("paths differing in case are different")
            << false << QString() << logs << m_dir.filePath(QStringLiteral("Logs")) << QString();
    }
    void okButtonChecks() {
        QFETCH(bool, protect);
        QFETCH(QString, password);
        QFETCH(QString, temp);
        QFETCH(QString, logs);
        QFETCH(QString, error);
        TOptions o;
        o.General.ProtectConfigurationbyPassword = protect;
        o.General.strProtectConfiguration_Password = password;
        o.General.PathForTempFiles = temp;
        o.Logging.PathForLogFiles = logs;
        QCOMPARE(CheckOptionsForOK(o), error);
    }

    // The trimmed comparison matters when both paths exist as typed: a folder named with a
    // trailing blank next to its twin.
    void samePathAfterTrimmingIsRefused() {
        const QString temp = m_dir.filePath(QStringLiteral("temp"));
        const QString blank = temp + QStringLiteral(" ");
        QVERIFY(QDir().mkpath(blank));
        TOptions o;
        o.General.PathForTempFiles = temp;
        o.Logging.PathForLogFiles = blank;
        QCOMPARE(CheckOptionsForOK(o),
                 QStringLiteral("Unable to set the same path for temporary files and log files."));
    }

    void passwordDialog_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<bool>("acceptedAtAll");
        QTest::addColumn<QString>("accepted");
        QTest::addRow("equal") << "secret"
                               << "secret" << true << "secret";
        QTest::addRow("equal after trimming") << "  secret "
                                              << "secret  " << true << "secret";
        QTest::addRow("blanks inside count") << "sec ret"
                                             << "secret" << false << "";
        QTest::addRow("different") << "secret"
                                   << "Secret" << false << "";
        QTest::addRow("both empty clears") << ""
                                           << "   " << true << "";
    }
    void passwordDialog() {
        QFETCH(QString, password);
        QFETCH(QString, confirmation);
        QFETCH(bool, acceptedAtAll);
        QFETCH(QString, accepted);
        QString taken = QStringLiteral("unchanged");
        const QString error = CheckPasswordPair(password, confirmation, &taken);
        QCOMPARE(error, acceptedAtAll ? QString() : QStringLiteral("Passwords do not match."));
        QCOMPARE(taken, acceptedAtAll ? accepted : QStringLiteral("unchanged"));
    }

    void configurationPassword_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("matches");
        QTest::addRow("same") << "open sesame" << true;
        QTest::addRow("blanks around") << " open sesame  " << true;
        QTest::addRow("other case") << "Open sesame" << false;
        QTest::addRow("empty") << "" << false;
    }
    void configurationPassword() {
        QFETCH(QString, input);
        QFETCH(bool, matches);
        TOptions o;
        o.General.ProtectConfigurationbyPassword = true;
        o.General.strProtectConfiguration_Password = QStringLiteral("open sesame");
        QCOMPARE(ConfigurationPasswordMatches(o, input), matches);
    }

    void internalFilesCaption() {
        App().RemoteJobFileExtension = QStringLiteral(".vlk");
        QCOMPARE(DontLogInternalFilesCaption(),
                 QStringLiteral("Do not log copying of the internal database files (*.vlk, *.vll)"));
        App().RemoteJobFileExtension = QStringLiteral(".vlj");
    }

    void accountIdsAreNeverReused() {
        TOptions o;
        QCOMPARE(AddFTPAccount(o, Account(QStringLiteral("a"))), 1);
        QCOMPARE(AddFTPAccount(o, Account(QStringLiteral("b"))), 2);
        QCOMPARE(AddFTPAccount(o, Account(QStringLiteral("c"))), 3);
        QCOMPARE(RemoveFTPAccount(o, 2), 1); // the last one: the previous entry is selected
        QCOMPARE(AddFTPAccount(o, Account(QStringLiteral("d"))), 4);
        QCOMPARE(Ids(o), (QList<int32_t>{1, 2, 4}));
        QCOMPARE(o.LastFTPAccountID, 4);
        QCOMPARE(o.FTPAccounts.last().AccName, QStringLiteral("d"));
    }

    void removingKeepsOrderAndSelectsNeighbour_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QList<int32_t>>("ids");
        QTest::addRow("first") << 0 << 0 << QList<int32_t>{2, 3};
        QTest::addRow("middle") << 1 << 1 << QList<int32_t>{1, 3};
        QTest::addRow("last") << 2 << 1 << QList<int32_t>{1, 2};
        QTest::addRow("out of range") << 3 << -1 << QList<int32_t>{1, 2, 3};
        QTest::addRow("negative") << -1 << -1 << QList<int32_t>{1, 2, 3};
    }
    void removingKeepsOrderAndSelectsNeighbour() {
        QFETCH(int, index);
        QFETCH(int, selected);
        QFETCH(QList<int32_t>, ids);
        TOptions o;
        for (const char* name : {"a", "b", "c"})
            AddFTPAccount(o, Account(QString::fromLatin1(name)));
        QCOMPARE(RemoveFTPAccount(o, index), selected);
        QCOMPARE(Ids(o), ids);
    }

    void removingTheOnlyAccountSelectsNothing() {
        TOptions o;
        AddFTPAccount(o, Account(QStringLiteral("a")));
        QCOMPARE(RemoveFTPAccount(o, 0), -1);
        QVERIFY(o.FTPAccounts.isEmpty());
        QCOMPARE(AddFTPAccount(o, Account(QStringLiteral("b"))), 2);
    }

    // A file whose counter lags behind its accounts must not hand out an ID in use.
    void counterBelowExistingIdStillGivesFreshId() {
        TOptions o;
        TFTPAccount existing = Account(QStringLiteral("old"));
        existing.ID = 9;
        o.FTPAccounts.append(existing);
        o.LastFTPAccountID = 3;
        QCOMPARE(AddFTPAccount(o, Account(QStringLiteral("new"))), 10);
        QCOMPARE(o.LastFTPAccountID, 10);
    }

    void noIdLeftIsRefused() {
        TOptions o;
        o.LastFTPAccountID = std::numeric_limits<int32_t>::max();
        QCOMPARE(AddFTPAccount(o, Account(QStringLiteral("a"))), -1);
        QVERIFY(o.FTPAccounts.isEmpty());
        QCOMPARE(o.LastFTPAccountID, std::numeric_limits<int32_t>::max());
    }

    void editingKeepsTheId() {
        TOptions o;
        AddFTPAccount(o, Account(QStringLiteral("a")));
        const int32_t id = AddFTPAccount(o, Account(QStringLiteral("b")));
        TFTPAccount fields = Account(QStringLiteral("renamed"));
        fields.ID = 77;
        fields.Port = 2121;
        fields.FTPS = true;
        QVERIFY(EditFTPAccount(o, id, fields));
        const TFTPAccount* edited = FindFTPAccount(o, id);
        QVERIFY(edited);
        QCOMPARE(edited->AccName, QStringLiteral("renamed"));
        QCOMPARE(edited->Port, 2121);
        QVERIFY(edited->FTPS);
        QVERIFY(!FindFTPAccount(o, 77));
        QVERIFY(!EditFTPAccount(o, 99, fields));
        QCOMPARE(o.LastFTPAccountID, 2);
    }

    // A hand-written file may repeat an ID: jobs reach the later account, and editing changes it.
    void aRepeatedIdMeansTheLaterAccount() {
        TOptions o;
        TFTPAccount first = Account(QStringLiteral("first"));
        first.ID = 5;
        TFTPAccount second = Account(QStringLiteral("second"));
        second.ID = 5;
        o.FTPAccounts = {first, second};
        QCOMPARE(FindFTPAccount(o, 5)->AccName, QStringLiteral("second"));
        QVERIFY(EditFTPAccount(o, 5, Account(QStringLiteral("edited"))));
        QCOMPARE(o.FTPAccounts[0].AccName, QStringLiteral("first"));
        QCOMPARE(FindFTPAccount(o, 5)->AccName, QStringLiteral("edited"));
    }
};

QTEST_GUILESS_MAIN(TestOptionsEditing)
#include "tst_optionsediting.moc"
