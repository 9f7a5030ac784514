// Application data jobs through vaultora-cli: the list of known applications, a job made with
// --apps, its backup, and restores of some and of all applications into a home that moved on.

#include "CliTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestCliAppData : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;

    QString Path(const QString& rel) const { return m_root.filePath(rel); }
    QString Home(const QString& rel) const { return Path(u"home/"_s + rel); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Only the test's home: the XDG folders (and dconf's database) fall back below it.
        for (const QString& name :
             {u"XDG_CONFIG_HOME"_s, u"XDG_DATA_HOME"_s, u"XDG_STATE_HOME"_s, u"XDG_CACHE_HOME"_s, u"DCONF_PROFILE"_s})
            environment.remove(name);
        environment.insert(u"HOME"_s, Path(u"home"_s));
        return environment;
    }

    TRun Run(const QStringList& args) { return RunCli(Environment(), Path(u"data"_s), args); }

    static void Write(const QString& path, const QByteArray& data) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
    }
    static QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList Renamed() const {
        QStringList found;
        QDirIterator it(Path(u"home"_s), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            if (it.fileName().contains(u" - RENAMED ON "_s))
                found << it.fileName().section(u" - RENAMED ON "_s, 0, 0);
        }
        found.sort();
        return found;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_root.isValid());
        QDir().mkpath(Path(u"dest"_s));
        Write(Home(u".mozilla/firefox/abc.default/prefs.js"_s), "user_pref(1);");
        Write(Home(u".mozilla/firefox/profiles.ini"_s), "[Profile0]");
        Write(Home(u".config/GIMP/2.10/gimprc"_s), "(theme \"Dark\")");
        Write(Home(u".vimrc"_s), "set number");
    }

    void listsTheKnownApplications() {
        const TRun run = Run({u"apps"_s});
        QCOMPARE(run.ExitCode, 0);
        const QStringList lines = run.Out.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 60, qPrintable(run.Out));
        for (const QString& line : lines) {
            const QStringList fields = line.split(u'\t');
            QVERIFY2(fields.size() == 3 && !fields[0].isEmpty() && !fields[1].isEmpty(), qPrintable(line));
            QVERIFY2(fields[2] == u"present"_s || fields[2] == u"absent"_s, qPrintable(line));
        }
        QVERIFY(lines.contains(u"Browsers\tFirefox\tpresent"_s));
        QVERIFY(lines.contains(u"Graphics and photo\tGIMP\tpresent"_s));
        QVERIFY(lines.contains(u"Browsers\tChromium\tabsent"_s));
        // A single file does not make an application present; its folder would.
        QVERIFY(lines.contains(u"Development\tVim\tabsent"_s));
        QCOMPARE(lines.filter(u"\tpresent"_s).size(), 2);
    }

    void backupAndRestoreChain() {
        QCOMPARE(Run({u"new"_s, u"Bad"_s, u"--apps"_s, u"Firefox,No Such App"_s, u"--to"_s, Path(u"dest"_s)}).ExitCode,
                 64);
        TRun run = Run({u"new"_s, u"Apps"_s, u"--apps"_s, u"Firefox, GIMP,Vim"_s, u"--to"_s, Path(u"dest"_s)});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
        run = Run({u"show"_s, u"Apps"_s, u"--json"_s});
        QVERIFY2(run.Out.contains(u"\"AppNames\""_s) && run.Out.contains(u"\"GIMP\""_s), qPrintable(run.Out));

        run = Run({u"backup"_s, u"Apps"_s});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Out + run.Err));
        QCOMPARE(Read(Path(u"dest/Apps/Firefox/0/firefox/abc.default/prefs.js"_s)), "user_pref(1);"_ba);
        QCOMPARE(Read(Path(u"dest/Apps/Vim/0/.vimrc"_s)), "set number"_ba);
        QVERIFY(QFileInfo::exists(Path(u"dest/Apps.vlj"_s)));

        // The home moves on; only Firefox and Vim are restored.
        QVERIFY(QDir(Home(u".mozilla/firefox"_s)).removeRecursively());
        QVERIFY(QFile::remove(Home(u".vimrc"_s)));
        Write(Home(u".config/GIMP/2.10/gimprc"_s), "(theme \"Light\")");
        QCOMPARE(Run({u"restore"_s, u"Apps"_s, u"--apps"_s, u"Nope"_s}).ExitCode, 64);
        run = Run({u"restore"_s, u"Apps"_s, u"--apps"_s, u"Firefox,Vim"_s});
        // Every restore ends with the warning that old data was renamed.
        QVERIFY2(run.ExitCode == 1, qPrintable(run.Out + run.Err));
        QCOMPARE(Read(Home(u".mozilla/firefox/abc.default/prefs.js"_s)), "user_pref(1);"_ba);
        QCOMPARE(Read(Home(u".mozilla/firefox/profiles.ini"_s)), "[Profile0]"_ba);
        QCOMPARE(Read(Home(u".vimrc"_s)), "set number"_ba);
        QCOMPARE(Read(Home(u".config/GIMP/2.10/gimprc"_s)), "(theme \"Light\")"_ba);
        QCOMPARE(Renamed(), QStringList());

        // All of them by default: GIMP's folder is renamed out of the way and restored.
        run = Run({u"restore"_s, u"Apps"_s});
        QVERIFY2(run.ExitCode == 1, qPrintable(run.Out + run.Err));
        QCOMPARE(Read(Home(u".config/GIMP/2.10/gimprc"_s)), "(theme \"Dark\")"_ba);
        QCOMPARE(Renamed(), (QStringList{u".vimrc"_s, u"GIMP"_s, u"firefox"_s}));
        QVERIFY(Run({u"log"_s, u"Apps"_s}).Out.contains(u"Renaming the directory:"_s));

        run = Run({u"remove"_s, u"Apps"_s, u"--with-backup"_s});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
        QVERIFY(!QFileInfo::exists(Path(u"dest/Apps"_s)));
        QVERIFY(!QFileInfo::exists(Path(u"dest/Apps.vlj"_s)));
    }
};

QTEST_GUILESS_MAIN(TestCliAppData)
#include "tst_cli_appdata.moc"
