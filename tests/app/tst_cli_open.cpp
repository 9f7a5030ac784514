// "vaultora-cli open": a job re-created on a new data folder from the stored job file its backups
// left on a local drive and on an FTP server (a private pyftpdlib on loopback), then restored and
// continued; and the refusals that add nothing.

#include "../net/TFtpServer.h"
#include "CliTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

bool Write(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestCliOpen : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    TFtpServer m_server;
    QString m_ftpProblem;

    QString Path(const QString& name) const { return m_root.filePath(name); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CACHE_HOME"_s, Path(u"cache"_s));
        environment.insert(u"HOME"_s, Path(u"home"_s));
        return environment;
    }

    // The program on the data folder data ("old" before the loss, "new" after).
    TRun Run(const QString& data, const QStringList& args) { return RunCli(Environment(), Path(data), args, true); }

    QStringList JobNames(const QString& data) {
        QStringList names;
        for (const QString& line : Run(data, {u"list"_s}).Out.split(u'\n', Qt::SkipEmptyParts))
            names.append(line.section(u'\t', 0, 0));
        return names;
    }

    int PointCount(const QString& data, const QString& job) {
        const TRun points = Run(data, {u"points"_s, job});
        return points.ExitCode == 0 ? int(points.Out.split(u'\n', Qt::SkipEmptyParts).size()) : -1;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_root.isValid());
        QDir().mkpath(Path(u"home"_s));
        QVERIFY(Write(Path(u"ftp-password"_s), TFtpServer::Password.toUtf8() + '\n'));
        m_ftpProblem = m_server.Start({});
    }

    // A job opened on another data folder from the file next to its backups restores them, and
    // its next backup joins the same list of restore points.
    void openedLocalJobRestoresAndContinues() {
        QVERIFY(Write(Path(u"src/a.txt"_s), "first"));
        QVERIFY(QDir().mkpath(Path(u"drive/Backups"_s)));
        QCOMPARE(Run(u"old"_s, {u"new"_s, u"Docs"_s, u"--source"_s, Path(u"src"_s), u"--to"_s, Path(u"drive/Backups"_s),
                                u"--type"_s, u"incremental"_s})
                     .ExitCode,
                 0);
        QCOMPARE(Run(u"old"_s, {u"backup"_s, u"Docs"_s}).ExitCode, 0);
        QVERIFY(QFile::exists(Path(u"drive/Backups/Docs.vlj"_s)));

        const TRun opened = Run(u"new"_s, {u"open"_s, Path(u"drive/Backups/Docs.vlj"_s)});
        QVERIFY2(opened.ExitCode == 0, qPrintable(opened.Out));
        QVERIFY2(opened.Out.contains(u"Job is open: \"Docs\"."_s), qPrintable(opened.Out));
        QCOMPARE(JobNames(u"new"_s), QStringList{u"Docs"_s});
        const TRun shown = Run(u"new"_s, {u"show"_s, u"Docs"_s, u"--json"_s});
        QVERIFY2(shown.Out.contains(Path(u"src"_s)), qPrintable(shown.Out)); // the settings came along

        const TRun restored = Run(u"new"_s, {u"restore"_s, u"Docs"_s, u"--to"_s, Path(u"out1"_s)});
        QVERIFY2(restored.ExitCode == 0, qPrintable(restored.Out));
        QCOMPARE(Read(Path(u"out1/src/a.txt"_s)), QByteArray("first"));

        QVERIFY(Write(Path(u"src/a.txt"_s), "second, longer"));
        const TRun continued = Run(u"new"_s, {u"backup"_s, u"Docs"_s});
        QVERIFY2(continued.ExitCode == 0, qPrintable(continued.Out));
        QCOMPARE(PointCount(u"new"_s, u"Docs"_s), 2);
        QCOMPARE(Run(u"new"_s, {u"restore"_s, u"Docs"_s, u"--to"_s, Path(u"out2"_s), u"--point"_s, u"1"_s}).ExitCode,
                 0);
        QCOMPARE(Read(Path(u"out2/src/a.txt"_s)), QByteArray("first"));
        QCOMPARE(Run(u"new"_s, {u"restore"_s, u"Docs"_s, u"--to"_s, Path(u"out3"_s)}).ExitCode, 0);
        QCOMPARE(Read(Path(u"out3/src/a.txt"_s)), QByteArray("second, longer"));
    }

    // Each refusal leaves the list and the data folder as they were.
    void refusalsAddNothing_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        // The name is taken (letter case ignored) before the storage is even reached.
        QTest::newRow("name taken") << Path(u"nowhere/DOCS.vlj"_s)
                                    << u"Job \"DOCS\" already exists. Please specify another name."_s;
        QTest::newRow("damaged") << Path(u"drive/Backups/Broken.vlj"_s)
                                 << u"Unable to open the job file from the backup storage."_s;
        QTest::newRow("missing") << Path(u"drive/Backups/Gone.vlj"_s)
                                 << u"Unable to open the job file from the backup storage."_s;
        QTest::newRow("no folder") << Path(u"nowhere/Gone.vlj"_s) << u"Unable to connect to the backup storage."_s;
        QTest::newRow("other file") << Path(u"drive/Backups/Docs.txt"_s)
                                    << u"Click \"Browse...\" and find the job file *.vlj."_s;
        QTest::newRow("dot name") << Path(u"drive/Backups/...vlj"_s) << u"This name cannot be used as a job name."_s;
    }

    void refusalsAddNothing() {
        QFETCH(QString, path);
        QFETCH(QString, message);
        // Half of a real stored job file: the header is whole, the lists end early.
        const QByteArray stored = Read(Path(u"drive/Backups/Docs.vlj"_s));
        QVERIFY(stored.size() > 40);
        QVERIFY(Write(Path(u"drive/Backups/Broken.vlj"_s), stored.left(stored.size() / 2)));
        const QByteArray list = Read(Path(u"new/jobslist.vll"_s));
        QVERIFY(!list.isEmpty());
        const TRun opened = Run(u"new"_s, {u"open"_s, path});
        QVERIFY2(opened.ExitCode != 0, qPrintable(opened.Out));
        QVERIFY2(opened.Out.contains(message), qPrintable(opened.Out));
        QCOMPARE(Read(Path(u"new/jobslist.vll"_s)), list);
        QCOMPARE(QDir(Path(u"new"_s)).entryList({u"*.vld"_s}), QStringList{u"Docs.vld"_s});
    }

    // The same from an FTP account: the job's folder is the one next to the file on the server.
    void openedFtpJobRestores() {
        if (!m_ftpProblem.isEmpty())
            QSKIP(qPrintable(m_ftpProblem));
        for (const QString& data : {u"old"_s, u"ftp-new"_s}) {
            const TRun added = Run(data, {u"ftp-account"_s, u"add"_s, u"Loopback"_s, u"--host"_s, u"127.0.0.1"_s,
                                          u"--port"_s, QString::number(m_server.Port()), u"--user"_s, TFtpServer::User,
                                          u"--password-file"_s, Path(u"ftp-password"_s)});
            QVERIFY2(added.ExitCode == 0, qPrintable(added.Out));
        }
        QVERIFY(Write(Path(u"ftp-src/b.txt"_s), "over ftp"));
        QCOMPARE(Run(u"old"_s, {u"new"_s, u"Remote"_s, u"--source"_s, Path(u"ftp-src"_s), u"--to"_s,
                                u"ftp://Loopback/store/jobs"_s})
                     .ExitCode,
                 0);
        const TRun backup = Run(u"old"_s, {u"backup"_s, u"Remote"_s});
        QVERIFY2(backup.ExitCode == 0, qPrintable(backup.Out));

        const TRun opened = Run(u"ftp-new"_s, {u"open"_s, u"ftp://Loopback/store/jobs/Remote.vlj"_s});
        QVERIFY2(opened.ExitCode == 0, qPrintable(opened.Out));
        const TRun shown = Run(u"ftp-new"_s, {u"show"_s, u"Remote"_s, u"--json"_s});
        QVERIFY2(shown.Out.contains(u"\"Subfolder\": \"/store/jobs\""_s), qPrintable(shown.Out));
        const TRun restored = Run(u"ftp-new"_s, {u"restore"_s, u"Remote"_s, u"--to"_s, Path(u"ftp-out"_s)});
        QVERIFY2(restored.ExitCode == 0, qPrintable(restored.Out));
        QCOMPARE(Read(Path(u"ftp-out/ftp-src/b.txt"_s)), QByteArray("over ftp"));

        // A file the server does not have adds nothing.
        const TRun missing = Run(u"ftp-new"_s, {u"open"_s, u"ftp://Loopback/store/Other.vlj"_s});
        QVERIFY2(missing.ExitCode != 0, qPrintable(missing.Out));
        QVERIFY(missing.Out.contains(u"Unable to open the job file from the backup storage."_s));
        QCOMPARE(JobNames(u"ftp-new"_s), QStringList{u"Remote"_s});
    }

    void cleanupTestCase() { m_server.Stop(); }
};

QTEST_GUILESS_MAIN(TestCliOpen)
#include "tst_cli_open.moc"
