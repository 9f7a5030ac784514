// The files-and-folders commands of vaultora-cli as a user runs them, in real processes.

#include "CliTestSupport.h"
#include "core/format/FileCipher.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

void Write(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

} // namespace

class TestCliFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString Path(const QString& name) const { return m_root.filePath(name); }

    QProcessEnvironment Environment() const {
        // The program's default folders (temporary files, logs) live below XDG folders: keep them
        // inside the test's own folder.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CACHE_HOME"_s, Path(u"cache"_s));
        environment.insert(u"XDG_DOCUMENTS_DIR"_s, Path(u"documents"_s));
        environment.insert(u"HOME"_s, Path(u"home"_s));
        return environment;
    }

    TRun Run(const QStringList& args) { return RunCli(Environment(), Path(u"data"_s), args); }

private Q_SLOTS:
    void initTestCase() {
        Write(Path(u"src/a.txt"_s), "a");
        Write(Path(u"src/sub/b.txt"_s), "b");
        Write(Path(u"other/sub/c.txt"_s), "c");
        QDir().mkpath(Path(u"dest"_s));
        Write(Path(u"password"_s), "secret\n");
        Write(Path(u"long-password"_s), QByteArray(5000, 'a') + "\n");
    }

    void newRefusesWhatTheWizardRefuses_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString src = Path(u"src"_s), dest = Path(u"dest"_s);
        QTest::newRow("forbidden character")
            << QStringList{u"new"_s, u"a:b"_s, u"--source"_s, src, u"--to"_s, dest} << u"not allowed"_s;
        QTest::newRow("missing source") << QStringList{u"new"_s,        u"X"_s,    u"--source"_s,
                                                       Path(u"nope"_s), u"--to"_s, dest}
                                        << u"The source does not exist:"_s;
        QTest::newRow("missing destination")
            << QStringList{u"new"_s, u"X"_s, u"--source"_s, src, u"--to"_s, Path(u"nowhere"_s)}
            << u"The directory does not exist:"_s;
        QTest::newRow("two folders of one name")
            << QStringList{u"new"_s,  u"X"_s, u"--source"_s, Path(u"src/sub"_s), u"--source"_s, Path(u"other/sub"_s),
                           u"--to"_s, dest}
            << u"having the same name"_s;
        QTest::newRow("bad extension list")
            << QStringList{u"new"_s, u"X"_s, u"--source"_s, src, u"--to"_s, dest, u"--include"_s, u"*.txt"_s}
            << u"are not allowed"_s;
        QTest::newRow("mirror with compression")
            << QStringList{u"new"_s, u"X"_s, u"--source"_s, src, u"--to"_s, dest, u"--type"_s, u"mirror"_s, u"--zip"_s}
            << u"Compression is not supported for Mirror type"_s;
        QTest::newRow("encryption without a password file")
            << QStringList{u"new"_s, u"X"_s,     u"--source"_s,  src,        u"--to"_s,
                           dest,     u"--zip"_s, u"--encrypt"_s, u"aes256"_s}
            << u"--password-file"_s;
        // Only the first line of a password file is read, and at most 4 KiB of it: an endless file
        // must not grow memory without bound.
        QTest::newRow("endless password file")
            << QStringList{u"new"_s,      u"X"_s,     u"--source"_s,  src,         u"--to"_s,
                           dest,          u"--zip"_s, u"--encrypt"_s, u"aes256"_s, u"--password-file"_s,
                           u"/dev/zero"_s}
            << u"is longer than 4096 bytes"_s;
        QTest::newRow("huge first line") << QStringList{u"new"_s,
                                                        u"X"_s,
                                                        u"--source"_s,
                                                        src,
                                                        u"--to"_s,
                                                        dest,
                                                        u"--zip"_s,
                                                        u"--encrypt"_s,
                                                        u"aes256"_s,
                                                        u"--password-file"_s,
                                                        Path(u"long-password"_s)}
                                         << u"is longer than 4096 bytes"_s;
    }

    void newRefusesWhatTheWizardRefuses() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const TRun run = Run(args);
        QCOMPARE(run.ExitCode, 64);
        QVERIFY2(run.Err.contains(message), qPrintable(run.Err));
    }

    void backupRestoreAndTheRest() {
        QCOMPARE(
            Run({u"new"_s, u"Docs"_s, u"--source"_s, Path(u"src"_s), u"--to"_s, Path(u"dest"_s), u"--include"_s,
                 u"TXT; doc ;"_s, u"--zip"_s, u"--encrypt"_s, u"aes128"_s, u"--password-file"_s, Path(u"password"_s)})
                .ExitCode,
            0);
        const TRun taken = Run({u"new"_s, u"docs"_s, u"--source"_s, Path(u"src"_s), u"--to"_s, Path(u"dest"_s)});
        QCOMPARE(taken.ExitCode, 64); // names are unique ignoring case
        const TRun shown = Run({u"show"_s, u"Docs"_s, u"--json"_s});
        QVERIFY(shown.Out.contains(u"\"Extensions\": \"txt;doc\""_s));
        QVERIFY(!shown.Out.contains(u"secret"_s));

        const TRun backup = Run({u"backup"_s, u"Docs"_s});
        QCOMPARE(backup.ExitCode, 0);
        QVERIFY(backup.Out.contains(u"Backup job \"Docs\" is finished. Files copied: 2."_s));
        Write(Path(u"src/a.txt"_s), "a changed");
        QCOMPARE(Run({u"backup"_s, u"Docs"_s}).ExitCode, 0);

        // No file written to the destination holds the password, in any encoding, the stored job file
        // deciphered included.
        QDirIterator written(Path(u"dest"_s), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        int scanned = 0;
        while (written.hasNext()) {
            const QString path = written.next();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QList<QByteArray> images{file.readAll()};
            if (path.endsWith(u".vlj"_s)) {
                QByteArray plain;
                QCOMPARE(int(ReadEncipheredFile(path, plain)), int(TEncipheredReadResult::Ok));
                images.append(plain);
            }
            for (const QByteArray& image : images)
                QVERIFY2(!image.contains("secret") && !image.contains(QByteArray("s\0e\0c\0r\0e\0t\0", 12)),
                         qPrintable(path));
            ++scanned;
        }
        QVERIFY(scanned >= 3); // the stored job file and the two points' archives at least

        const TRun points = Run({u"points"_s, u"Docs"_s});
        QCOMPARE(points.ExitCode, 0);
        const QStringList lines = points.Out.trimmed().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith(u"1\t"_s) && lines[0].endsWith(u"(ZIP , Full)"_s));
        QVERIFY(lines[0].contains(u':'));
        QVERIFY(lines[1].startsWith(u"2\t"_s) && lines[1].endsWith(u"(ZIP , Incremental)"_s));

        QCOMPARE(Run({u"restore"_s, u"Docs"_s, u"--to"_s, Path(u"out1"_s), u"--point"_s, u"1"_s, u"--password-file"_s,
                      Path(u"password"_s)})
                     .ExitCode,
                 0);
        QFile first(Path(u"out1/src/a.txt"_s));
        QVERIFY(first.open(QIODevice::ReadOnly));
        QCOMPARE(first.readAll(), QByteArray("a"));
        const TRun wrong = Run({u"restore"_s, u"Docs"_s, u"--to"_s, Path(u"out2"_s), u"--latest"_s});
        QCOMPARE(wrong.ExitCode, 3); // no password: the encrypted archive fails, the restore is cancelled
        QCOMPARE(Run({u"restore"_s, u"Docs"_s, u"--to"_s, Path(u"out3"_s), u"--password-file"_s, Path(u"password"_s)})
                     .ExitCode,
                 0);
        QFile latest(Path(u"out3/src/a.txt"_s));
        QVERIFY(latest.open(QIODevice::ReadOnly));
        QCOMPARE(latest.readAll(), QByteArray("a changed"));

        const TRun log = Run({u"log"_s, u"Docs"_s});
        QCOMPARE(log.ExitCode, 0);
        QVERIFY(log.Out.contains(u"Restore job \"Docs\" is finished."_s));
        const TRun history = Run({u"log"_s, u"Docs"_s, u"--history"_s});
        QCOMPARE(history.ExitCode, 0);
        QVERIFY(history.Out.contains(u"Target: incremental copy of the source."_s));
        QVERIFY(history.Out.contains(u"Restore is cancelled."_s));

        QCOMPARE(Run({u"remove"_s, u"Docs"_s, u"--with-backup"_s}).ExitCode, 0);
        QVERIFY(!QFileInfo::exists(Path(u"dest/Docs"_s)));
        QVERIFY(!QFileInfo::exists(Path(u"dest/Docs.vlj"_s)));
        QCOMPARE(Run({u"show"_s, u"Docs"_s}).ExitCode, 64);
    }

    void ctrlCCancelsCleanlyAndASecondRunIsRefused() {
#ifndef VAULTORA_TEST_HOOKS
        QSKIP("needs the test hooks to hold the run inside its file loop");
#endif
        for (int i = 0; i < 20; ++i)
            Write(Path(u"many/f"_s + QString::number(i)), QByteArray(2048, 'x'));
        QCOMPARE(Run({u"new"_s, u"Many"_s, u"--source"_s, Path(u"many"_s), u"--to"_s, Path(u"dest"_s)}).ExitCode, 0);
        // The run waits after its first file until the signal has cancelled it: the signal
        // arrives inside the file loop, however fast or slow the machine.
        QProcessEnvironment environment = Environment();
        environment.insert(u"VAULTORA_TEST_PAUSE_AT"_s, u"file-loop"_s);
        QProcess backup;
        backup.setProcessEnvironment(environment);
        backup.setReadChannel(QProcess::StandardError);
        backup.start(Cli, {u"--data-dir"_s, Path(u"data"_s), u"backup"_s, u"Many"_s});
        QVERIFY(backup.waitForStarted());
        QString errors;
        while (!errors.contains(u"test pause: file-loop"_s) && backup.state() == QProcess::Running) {
            backup.waitForReadyRead(5000);
            errors += QString::fromUtf8(backup.readAllStandardError());
        }
        QVERIFY2(errors.contains(u"test pause: file-loop"_s), qPrintable(errors));
        QString seen = QString::fromUtf8(backup.readAllStandardOutput());
        // The job runs in one process at a time.
        const TRun second = Run({u"backup"_s, u"Many"_s});
        QCOMPARE(second.ExitCode, 64);
        QVERIFY(second.Err.contains(u"running"_s));
        ::kill(pid_t(backup.processId()), SIGINT);
        QVERIFY(backup.waitForFinished(60000));
        seen += QString::fromUtf8(backup.readAllStandardOutput());
        QCOMPARE(backup.exitStatus(), QProcess::NormalExit);
        QCOMPARE(backup.exitCode(), 3);
        QVERIFY(seen.contains(u"Backup is cancelled."_s));
        QVERIFY(QFileInfo::exists(Path(u"dest/Many/_startflag.vll"_s)));
    }
};

QTEST_GUILESS_MAIN(TestCliFiles)
#include "tst_cli_files.moc"
