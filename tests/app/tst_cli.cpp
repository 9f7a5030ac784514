// vaultora-cli as a user runs it: a data folder holding job files written by someone else.

#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString GoldenDir = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/data/jobfiles");

TRun Run(const QStringList& args) {
    // Keep the program's default folders (temporary files, logs) out of the real home folder.
    static QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral(".cache")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    return RunProgram(Cli, environment, args);
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_data;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(
            QFile::copy(GoldenDir + QStringLiteral("/files-v5.vld"), m_data.filePath(QStringLiteral("Documents.vld"))));
        QVERIFY(QFile::copy(GoldenDir + QStringLiteral("/driveimage-v4.vld"),
                            m_data.filePath(QStringLiteral("System.vld"))));
        QFile list(m_data.filePath(QStringLiteral("jobslist.vll")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("\xEF\xBB\xBF"
                   "Documents\r\nSystem\r\n");
    }

    void listShowsOneLinePerJob() {
        const TRun run = Run({QStringLiteral("--data-dir"), m_data.path(), QStringLiteral("list")});
        QCOMPARE(run.ExitCode, 0);
        const QStringList lines = run.Out.trimmed().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith(
            QStringLiteral("Documents\tFiles and Folders Backup\tBackup to drive: /media/anna/Backup "
                           "Drive/Vaultora/Jobs\tReady\tCancelled on ")));
        QVERIFY(lines[1].startsWith(
            QStringLiteral("System\tDrive Image Backup\tBackup to network: //nas/share/backups\tReady\t")));
    }

    void showJsonHasEveryFieldAndNoPassword() {
        const TRun run = Run({QStringLiteral("show"), QStringLiteral("Documents"), QStringLiteral("--json"),
                              QStringLiteral("--data-dir=") + m_data.path()});
        QCOMPARE(run.ExitCode, 0);
        const QJsonObject job = QJsonDocument::fromJson(run.Out.toUtf8()).object();
        QCOMPARE(job[QStringLiteral("Kind")].toInt(), 1);
        QCOMPARE(job[QStringLiteral("stJobName")].toString(), QStringLiteral("Documents"));
        QCOMPARE(job[QStringLiteral("LastJobResult")].toObject()[QStringLiteral("WarningsCount")].toInt(), 7);
        QCOMPARE(job[QStringLiteral("Settings")]
                     .toObject()[QStringLiteral("Compression")]
                     .toObject()[QStringLiteral("PasswordIsSet")]
                     .toBool(),
                 true);
        QVERIFY(!run.Out.contains(QStringLiteral("zip-P")));
        QVERIFY(!run.Out.contains(QStringLiteral("net-secret")));
    }

    void unknownJobAndBadUsageExit64_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown job") << QStringList{QStringLiteral("show"), QStringLiteral("documents")};
        QTest::newRow("no job name") << QStringList{QStringLiteral("show")};
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")};
        QTest::newRow("no command") << QStringList{};
    }

    void unknownJobAndBadUsageExit64() {
        QFETCH(QStringList, args);
        const TRun run = Run(QStringList{QStringLiteral("--data-dir"), m_data.path()} + args);
        QCOMPARE(run.ExitCode, 64);
        QVERIFY(!run.Err.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
