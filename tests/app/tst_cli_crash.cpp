// Backups stopped the hard way (the process ends at a named moment, as with kill -9 or a power
// cut) and the runs after them, in real vaultora-cli processes: no restore point may be lost or
// left half, and no leftover may block or pile up.

#include "CliTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int CrashExitCode = 86; // what a crash point ends the process with

using TContents = QMap<QString, QByteArray>; // relative path -> content ("/" ending: a folder)

TContents ReadContents(const QString& root) {
    TContents tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            tree.insert(rel + u'/', {});
        } else {
            QFile file(path);
            tree.insert(rel, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>"));
        }
    }
    return tree;
}

const QRegularExpression
    PointName(u"^\\d{4}-\\d{2}-\\d{2} \\d{2};\\d{2};\\d{2} \\((ZIPs? ?, )?(Full|Incremental|Differential)\\)$"_s);

} // namespace

class TestCliCrash : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_restores = 0;

    QString Path(const QString& name) const { return m_root.filePath(name); }

    TRun Run(const QStringList& args, const QString& crashAt = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CACHE_HOME"_s, Path(u"cache"_s));
        environment.insert(u"XDG_DOCUMENTS_DIR"_s, Path(u"documents"_s));
        environment.insert(u"HOME"_s, Path(u"home"_s));
        environment.remove(u"VAULTORA_TEST_CRASH_AT"_s);
        if (!crashAt.isEmpty())
            environment.insert(u"VAULTORA_TEST_CRASH_AT"_s, crashAt);
        return RunCli(environment, Path(u"data"_s), args, true);
    }

    // The restore points as the command lists them, oldest first, with their stored names.
    QStringList Points(const QString& job) {
        QStringList names;
        const TRun run = Run({u"points"_s, job});
        for (const QString& line : run.Out.split(u'\n', Qt::SkipEmptyParts)) {
            const qsizetype tab = line.indexOf(u'\t');
            if (tab > 0)
                names.append(line.mid(tab + 1).replace(u':', u';'));
        }
        return names;
    }

    // Restores point number (from 1) of job and compares it with snapshot; empty when equal.
    QString RestoreDiffers(const QString& job, int number, bool encrypted, const TContents& snapshot) {
        const QString output = Path(job + u"-restore-"_s + QString::number(++m_restores));
        QStringList args{u"restore"_s, job, u"--to"_s, output, u"--point"_s, QString::number(number)};
        if (encrypted)
            args << u"--password-file"_s << Path(u"password"_s);
        const TRun restore = Run(args);
        if (restore.ExitCode != 0)
            return restore.Out;
        if (ReadContents(output + u'/' + job + u"-src"_s) != snapshot)
            return u"the restore differs from the source"_s;
        return {};
    }

    QStringList PointFolders(const QString& jobFolder) const {
        QStringList names;
        for (const QString& name : QDir(jobFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (PointName.match(name).hasMatch())
                names.append(name);
        return names;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_root.isValid());
        QFile password(Path(u"password"_s));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write("secret\n");
    }

    // An incremental chain per storage mode in which a run is stopped at each crash point, each
    // followed by a normal run; then every listed point is restored and compared with the source
    // as it was when that point was made. The modes take turns, so that no run waits for a new
    // second to name its restore point.
    void everyPointRestoresAfterCrashes() {
        struct TChain {
            QString Mode;
            QString Job, Source, JobFolder;
            bool Encrypted = false;
            QMap<QString, TContents> Snapshots; // restore point name -> the source when it was made
        };
        const QString password = Path(u"password"_s);
        const std::pair<const char*, QStringList> modes[] = {
            {"plain", {}},
            {"one archive", {u"--zip"_s}},
            {"one archive, AES", {u"--zip"_s, u"--encrypt"_s, u"aes256"_s, u"--password-file"_s, password}},
            {"archive per file", {u"--zip"_s, u"--per-file"_s}},
            {"archive per file, traditional",
             {u"--zip"_s, u"--per-file"_s, u"--encrypt"_s, u"zipcrypto"_s, u"--password-file"_s, password}},
        };
        QList<TChain> chains;
        for (const auto& [mode, options] : modes) {
            TChain chain;
            chain.Mode = QString::fromLatin1(mode);
            chain.Job = u"Job"_s + QString::number(chains.size() + 1);
            chain.Source = Path(chain.Job + u"-src"_s);
            const QString dest = Path(chain.Job + u"-dest"_s);
            chain.JobFolder = dest + u'/' + chain.Job;
            chain.Encrypted = options.contains(u"--password-file"_s);
            QVERIFY(QDir().mkpath(chain.Source));
            QVERIFY(QDir().mkpath(dest));
            QCOMPARE(Run(QStringList{u"new"_s, chain.Job, u"--source"_s, chain.Source, u"--to"_s, dest,
                                     u"--full-every"_s, u"3"_s, u"--keep"_s, u"1"_s} +
                         options)
                         .ExitCode,
                     0);
            chains.append(chain);
        }

        QDateTime stamp = QDateTime::currentDateTime().addDays(-1);
        int step = 0;
        auto changeSources = [&] {
            ++step;
            stamp = stamp.addSecs(10);
            for (const TChain& chain : std::as_const(chains)) {
                const QString source = chain.Source;
                QVERIFY(Write(source + u"/a.txt"_s, "a" + QByteArray::number(step), stamp));
                QVERIFY(Write(source + u"/sub/n" + QString::number(step) + u".txt"_s, QByteArray::number(step), stamp));
                QVERIFY(Write(source + u"/sub/deep/b.txt"_s, QByteArray(step * 7, 'b'), stamp));
                QFile::remove(source + u"/sub/n" + QString::number(step - 2) + u".txt"_s);
                if (step == 1)
                    QVERIFY(Write(source + u"/gone/g.txt"_s, "g", stamp));
                if (step == 3)
                    QVERIFY(QDir(source + u"/gone"_s).removeRecursively());
            }
        };
        // Runs a backup and gives each new point folder the source as it is now.
        auto backup = [&](TChain& chain, const QString& crashAt) {
            const QStringList before = PointFolders(chain.JobFolder);
            const TContents now = ReadContents(chain.Source);
            TRun run = Run({u"backup"_s, chain.Job}, crashAt);
            for (const QString& name : PointFolders(chain.JobFolder))
                if (!before.contains(name))
                    chain.Snapshots.insert(name, now);
            return run;
        };

        changeSources();
        for (TChain& chain : chains)
            QCOMPARE(backup(chain, {}).ExitCode, 0);
        const QStringList crashPoints{u"folder-made"_s,  u"start-flag"_s,      u"file-loop:2"_s,
                                      u"lists-stored"_s, u"job-file-stored"_s, u"retention"_s};
        for (const QString& crashAt : crashPoints) {
            // Retention removes something only on some runs: go on until the point is reached.
            QList<bool> crashed(chains.size(), false);
            for (int attempt = 0; attempt < 5 && crashed.contains(false); ++attempt) {
                changeSources();
                for (qsizetype i = 0; i < chains.size(); ++i) {
                    if (crashed.at(i))
                        continue;
                    const int exitCode = backup(chains[i], crashAt).ExitCode;
                    QVERIFY2(exitCode == CrashExitCode || exitCode == 0,
                             qPrintable(chains.at(i).Mode + u' ' + crashAt));
                    crashed[i] = exitCode == CrashExitCode;
                }
            }
            QVERIFY2(!crashed.contains(false), qPrintable(crashAt + u" was never reached"_s));
            for (TChain& chain : chains) {
                const TRun next = backup(chain, {});
                const QString context = chain.Mode + u' ' + crashAt + u'\n' + next.Out;
                QVERIFY2(next.ExitCode == 0 || next.ExitCode == 1, qPrintable(context));
                QVERIFY2(!next.Out.contains(u"ERROR:"_s), qPrintable(context));
                // The newest point needs every point it builds on.
                const QStringList listed = Points(chain.Job);
                QVERIFY(!listed.isEmpty() && chain.Snapshots.contains(listed.last()));
                const QString differs =
                    RestoreDiffers(chain.Job, int(listed.size()), chain.Encrypted, chain.Snapshots[listed.last()]);
                QVERIFY2(differs.isEmpty(), qPrintable(chain.Mode + u' ' + crashAt + u'\n' + differs));
            }
        }

        for (const TChain& chain : std::as_const(chains)) {
            const QStringList listed = Points(chain.Job);
            QVERIFY(listed.size() >= 2);
            for (qsizetype i = 0; i < listed.size(); ++i) {
                const QString& name = listed.at(i);
                QVERIFY2(chain.Snapshots.contains(name), qPrintable(chain.Mode + u": unknown point "_s + name));
                const QString differs = RestoreDiffers(chain.Job, int(i + 1), chain.Encrypted, chain.Snapshots[name]);
                QVERIFY2(differs.isEmpty(), qPrintable(chain.Mode + u' ' + name + u'\n' + differs));
            }
            // Only listed points and finished ones (left by a stop during retention) stay.
            for (const QString& name : PointFolders(chain.JobFolder))
                QVERIFY2(listed.contains(name) || QFileInfo::exists(chain.JobFolder + u'/' + name + u"/_rf.vll"_s),
                         qPrintable(chain.Mode + u": unfinished folder left: "_s + name));
        }
    }

    // A user made room by deleting the folder of an interrupted point: the next run finds it
    // removed already and goes on.
    void deletedInterruptedPointDoesNotBlock() {
        const QString source = Path(u"del-src"_s), dest = Path(u"del-dest"_s);
        const QDateTime stamp = QDateTime::currentDateTime().addDays(-2);
        QVERIFY(Write(source + u"/a.txt"_s, "a", stamp));
        QVERIFY(Write(source + u"/b.txt"_s, "b", stamp));
        QVERIFY(QDir().mkpath(dest));
        QCOMPARE(Run({u"new"_s, u"Del"_s, u"--source"_s, source, u"--to"_s, dest, u"--type"_s, u"full"_s}).ExitCode, 0);
        QCOMPARE(Run({u"backup"_s, u"Del"_s}).ExitCode, 0);
        const QStringList before = PointFolders(dest + u"/Del"_s);
        QCOMPARE(Run({u"backup"_s, u"Del"_s}, u"file-loop"_s).ExitCode, CrashExitCode);
        QStringList killed = PointFolders(dest + u"/Del"_s);
        for (const QString& name : before)
            killed.removeAll(name);
        QCOMPARE(killed.size(), 1);
        QVERIFY(QDir(dest + u"/Del/"_s + killed.first()).removeRecursively());
        const TRun next = Run({u"backup"_s, u"Del"_s});
        QVERIFY2(next.ExitCode == 1, qPrintable(next.Out)); // the interruption is a warning
        QVERIFY2(!next.Out.contains(u"ERROR:"_s), qPrintable(next.Out));
        QCOMPARE(Run({u"backup"_s, u"Del"_s}).ExitCode, 0);
        QCOMPARE(Points(u"Del"_s).size(), 3);
    }

    // A listed restore point whose folder is gone (deleted by hand, or by a run stopped while
    // pruning before its backup) is taken off the list with the points that build on it, and
    // the next run starts a new chain: every listed point restores.
    void gonePointsAreTakenOffTheList_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("crashAt"); // empty: the second point is deleted by hand
        QTest::newRow("deleted by hand") << QStringList{} << QString();
        QTest::newRow("stopped while pruning first")
            << QStringList{u"--type"_s, u"full"_s, u"--keep"_s, u"1"_s, u"--prune-first"_s} << u"retention"_s;
    }

    void gonePointsAreTakenOffTheList() {
        QFETCH(QStringList, options);
        QFETCH(QString, crashAt);
        const QString job = u"Gone"_s + QString::number(++m_restores);
        const QString source = Path(job + u"-src"_s), dest = Path(job + u"-dest"_s);
        const QString jobFolder = dest + u'/' + job;
        QVERIFY(QDir().mkpath(source));
        QVERIFY(QDir().mkpath(dest));
        QCOMPARE(Run(QStringList{u"new"_s, job, u"--source"_s, source, u"--to"_s, dest} + options).ExitCode, 0);
        QMap<QString, TContents> snapshots;
        QDateTime stamp = QDateTime::currentDateTime().addDays(-3);
        auto backup = [&](int step, const QString& crash) {
            stamp = stamp.addSecs(10);
            Write(source + u"/a.txt"_s, "a" + QByteArray::number(step), stamp);
            Write(source + u"/n"_s + QString::number(step) + u".txt"_s, "n", stamp);
            const QStringList before = PointFolders(jobFolder);
            const TContents now = ReadContents(source);
            const int exitCode = Run({u"backup"_s, job}, crash).ExitCode;
            for (const QString& name : PointFolders(jobFolder))
                if (!before.contains(name))
                    snapshots.insert(name, now);
            return exitCode;
        };
        QCOMPARE(backup(1, {}), 0);
        QCOMPARE(backup(2, {}), 0);
        if (crashAt.isEmpty()) {
            QCOMPARE(backup(3, {}), 0);
            const QStringList listed = Points(job);
            QCOMPARE(listed.size(), 3);
            QVERIFY(QDir(jobFolder + u'/' + listed.at(1)).removeRecursively());
        } else {
            QCOMPARE(backup(3, crashAt), CrashExitCode);
        }
        QCOMPARE(backup(4, {}), 1); // a warning names the points taken off the list
        const QStringList listed = Points(job);
        QVERIFY(listed.last().endsWith(u"Full)"_s));
        for (qsizetype i = 0; i < listed.size(); ++i) {
            QVERIFY2(QFileInfo(jobFolder + u'/' + listed.at(i)).isDir(), qPrintable(listed.at(i)));
            const QString differs = RestoreDiffers(job, int(i + 1), false, snapshots.value(listed.at(i)));
            QVERIFY2(differs.isEmpty(), qPrintable(listed.at(i) + u'\n' + differs));
        }
    }

    // Temporary copies of the stored job file that a stopped run left go with the job's next
    // run; another job's stay.
    void storedJobFileLeftoversAreRemoved() {
        const QString source = Path(u"tmp-src"_s), dest = Path(u"tmp-dest"_s);
        QVERIFY(Write(source + u"/a.txt"_s, "a", QDateTime::currentDateTime().addDays(-2)));
        QVERIFY(QDir().mkpath(dest));
        QCOMPARE(Run({u"new"_s, u"Tmp"_s, u"--source"_s, source, u"--to"_s, dest}).ExitCode, 0);
        const QString temp = Path(u"cache/VaultoraTmp"_s);
        QVERIFY(QDir().mkpath(temp));
        const QStringList own{u"Tmp.vlj.tmp-a1B2c3"_s, u"Tmp.vlj.tmp-ZZZZZZ"_s};
        const QStringList others{u"Tmp2.vlj.tmp-a1B2c3"_s, u"Tmp.vlj.tmp-x.vlj.tmp-a1B2c3"_s, u"Tmp.vlj.keep"_s};
        for (const QString& name : own + others)
            QVERIFY(Write(temp + u'/' + name, "x", QDateTime::currentDateTime()));
        QCOMPARE(Run({u"backup"_s, u"Tmp"_s}).ExitCode, 0);
        for (const QString& name : own)
            QVERIFY2(!QFileInfo::exists(temp + u'/' + name), qPrintable(name));
        for (const QString& name : others)
            QVERIFY2(QFileInfo::exists(temp + u'/' + name), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestCliCrash)
#include "tst_cli_crash.moc"
