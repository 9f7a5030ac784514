// Backups to an FTP server and restores from it with vaultora-cli, in real processes, against a
// private pyftpdlib on loopback. The account goes into the options and the job's destination
// into its job file directly, as the program's own settings code writes them.

#include "../net/TFtpServer.h"
#include "CliTestSupport.h"

#include "core/format/OptionsFile.h"
#include "core/settings/FTPAccounts.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

class TestCliFtp : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    TFtpServer m_server;
    QString m_problem;
    int32_t m_account = -1;

    QString Path(const QString& name) const { return m_root.filePath(name); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CACHE_HOME"_s, Path(u"cache"_s));
        environment.insert(u"HOME"_s, Path(u"home"_s));
        return environment;
    }

    TRun Run(const QStringList& args) { return RunCli(Environment(), Path(u"data"_s), args, true); }

    // Points the job's destination at the account and a folder on the server.
    bool MoveJobToFtp(const QString& name, const QString& subfolder, int32_t account) {
        App().ApplicationDirectory = Path(u"data"_s);
        TJob_FilesAndFolders job(name);
        if (!job.LoadLocalJobFile(job.LocalJobFilePath()))
            return false;
        job.DestinationSettings.DestinationType = dtFTP;
        job.DestinationSettings.FTP.AccountID = account;
        job.DestinationSettings.FTP.Subfolder = subfolder;
        return job.SaveLocalJobFile(job.LocalJobFilePath());
    }

private Q_SLOTS:
    void initTestCase() {
        QDir().mkpath(Path(u"home"_s));
        QDir().mkpath(Path(u"data"_s));
        m_problem = m_server.Start({});
        if (!m_problem.isEmpty())
            QSKIP(qPrintable(m_problem));
        QFile zipPassword(Path(u"zip-password"_s));
        QVERIFY(zipPassword.open(QIODevice::WriteOnly));
        zipPassword.write("zip secret\n");
        zipPassword.close();
        // The options the program starts with, then the account added as the account list does.
        QVERIFY(Run({u"list"_s}).ExitCode == 0);
        App().ApplicationDirectory = Path(u"data"_s);
        TOptions options;
        if (!LoadOptions(OptionsFilePath(), options)) {
            // No options saved yet: the folders the program would default to, under this test's home.
            options.General.PathForTempFiles = Path(u"cache/VaultoraTmp"_s);
            options.Logging.PathForLogFiles = Path(u"home/Vaultora"_s);
        }
        TFTPAccount account;
        account.AccName = u"Loopback"_s;
        account.Host = u"127.0.0.1"_s;
        account.Port = m_server.Port();
        account.Username = TFtpServer::User;
        account.Password = TFtpServer::Password;
        m_account = AddFTPAccount(options, account);
        QVERIFY(m_account > 0);
        QVERIFY(SaveOptions(OptionsFilePath(), options));
    }

    // Full, incremental, differential and ZIP chains through the server restore what the source
    // was: content, last-write times, modes and links (the server keeps none of those three).
    void chainsRestoreThroughFtp_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("incremental") << QStringList{u"--type"_s, u"incremental"_s};
        QTest::newRow("differential") << QStringList{u"--type"_s, u"differential"_s};
        QTest::newRow("full") << QStringList{u"--type"_s, u"full"_s};
        QTest::newRow("zip aes") << QStringList{u"--zip"_s, u"--encrypt"_s, u"aes256"_s, u"--password-file"_s,
                                                Path(u"zip-password"_s)};
    }

    void chainsRestoreThroughFtp() {
        QFETCH(QStringList, options);
        QDir().mkpath(Path(u"placeholder"_s));
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString source = Path(u"src-"_s + tag);
        QDateTime stamp = QDateTime::currentDateTime().addDays(-1);
        stamp.setTime(QTime(stamp.time().hour(), stamp.time().minute(), stamp.time().second()));
        QVERIFY(Write(source + u"/a.txt"_s, "first", stamp));
        QVERIFY(Write(source + u"/odd: name*? \"q\" \u00e9.txt"_s, "reserved characters", stamp));
        QVERIFY(Write(source + u"/sub/100% b.bin"_s, QByteArray(300000, 'b'), stamp));
        QVERIFY(QFile::link(u"a.txt"_s, source + u"/link to a"_s));
        QVERIFY(Write(source + u"/run.sh"_s, "#!/bin/sh\n", stamp));
        QVERIFY(::chmod(QFile::encodeName(source + u"/run.sh"_s).constData(), 0755) == 0);
        QVERIFY(Write(source + u"/sub/read-only.txt"_s, "keep", stamp));
        QVERIFY(::chmod(QFile::encodeName(source + u"/sub/read-only.txt"_s).constData(), 0444) == 0);
        QVERIFY(QDir().mkpath(source + u"/private"_s));
        QVERIFY(::chmod(QFile::encodeName(source + u"/private"_s).constData(), 0700) == 0);
        const QString job = u"Ftp-"_s + tag;
        const TRun created =
            Run(QStringList{u"new"_s, job, u"--source"_s, source, u"--to"_s, Path(u"placeholder"_s)} + options);
        QVERIFY2(created.ExitCode == 0, qPrintable(created.Out));
        QVERIFY(MoveJobToFtp(job, u"/backups/"_s + tag, m_account));
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
            QVERIFY2(backup.Out.contains(u"Connecting to the FTP: Loopback(127.0.0.1); Subfolder: /backups/"_s + tag),
                     qPrintable(backup.Out));
            QVERIFY(!backup.Out.contains(TFtpServer::Password));
        }
        QVERIFY(QFileInfo(m_server.Root() + u"/backups/"_s + tag + u'/' + job).isDir());
        for (int point = 1; point <= 3; ++point) {
            const QString out = Path(u"out-%1-%2"_s.arg(tag).arg(point));
            QStringList args{u"restore"_s, job, u"--to"_s, out, u"--point"_s, QString::number(point)};
            if (encrypted)
                args << u"--password-file"_s << Path(u"zip-password"_s);
            const TRun restore = Run(args);
            QVERIFY2(restore.ExitCode == 0, qPrintable(restore.Out));
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
        // No part file was left behind.
        QDirIterator it(m_server.Root(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY2(!it.next().endsWith(u".part"_s), qPrintable(it.filePath()));
    }

    void removedAccountEndsTheRunWithItsReason() {
        const QString job = u"Ftp-no-account"_s;
        QDir().mkpath(Path(u"src-none"_s));
        QDir().mkpath(Path(u"placeholder"_s));
        QCOMPARE(Run({u"new"_s, job, u"--source"_s, Path(u"src-none"_s), u"--to"_s, Path(u"placeholder"_s)}).ExitCode,
                 0);
        QVERIFY(MoveJobToFtp(job, u"/"_s, m_account + 100));
        const TRun backup = Run({u"backup"_s, job});
        QVERIFY2(backup.ExitCode != 0, qPrintable(backup.Out));
        QVERIFY2(backup.Out.contains(u"ERROR: Related FTP record no longer exists."_s), qPrintable(backup.Out));
    }

    void cleanupTestCase() { m_server.Stop(); }
};

QTEST_GUILESS_MAIN(TestCliFtp)
#include "tst_cli_ftp.moc"
