// The application definitions: the block rules of the definition files (with damaged input), the
// loading of a folder, the expansion of path variables and the settings-key paths.

#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/TAppPathResolver.h"
#include "jobs/appdata/TAppRegistry.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// One line per definition: name, then "F:" folder entries and "R:" keys, "|" between fields.
QString Describe(const QList<TAppData>& definitions) {
    QStringList lines;
    for (const TAppData& d : definitions)
        lines << d.Category + u'/' + d.Name + u"|F:"_s + d.Folders.join(u',') + u"|R:"_s + d.RegistryPaths.join(u',');
    return lines.join(u'\n');
}

void WriteFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

// A settings store held in memory: keys are folders of values.
class TMemoryRegistry : public TAppRegistry {
public:
    QMap<QString, QString> Values; // dconf key -> value
    bool KeyExists(const QString& path) override {
        QString folder;
        if (!DconfFolderOf(path, folder))
            return false;
        for (auto it = Values.cbegin(); it != Values.cend(); ++it)
            if (it.key().startsWith(folder))
                return true;
        return false;
    }
    QString ReadString(const QString& path) override {
        QString key;
        return DconfKeyOf(path, key) ? Values.value(key) : QString();
    }
    bool SaveKey(const QString&, const QString&, QString*) override { return false; }
    bool RestoreKey(const QString&, const QString&, QString*) override { return false; }
    bool RenameKey(const QString&, const QString&, QString*) override { return false; }
};

} // namespace

class TestAppDefinitions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void blockRules_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two blocks, LF") << "Firefox\n%HOME%/.mozilla\n\nGIMP\n%XDG_CONFIG_HOME%/GIMP\n"_ba
                                        << u"Cat/Firefox|F:%HOME%/.mozilla|R:\nCat/GIMP|F:%XDG_CONFIG_HOME%/GIMP|R:"_s;
        QTest::newRow("CR LF and CR ends") << "A\r\nx\r\n\r\nB\ry\r"_ba << u"Cat/A|F:x|R:\nCat/B|F:y|R:"_s;
        QTest::newRow("no break at the end") << "A\nx"_ba << u"Cat/A|F:x|R:"_s;
        QTest::newRow("registry keys and lower-case hkey")
            << "A\nHKEY_CURRENT_USER/org/a\nhkey_current_user/org/b\nHKEY_LOCAL_MACHINE\\x\n"_ba
            << u"Cat/A|F:hkey_current_user/org/b|R:HKEY_CURRENT_USER/org/a,HKEY_LOCAL_MACHINE\\x"_s;
        QTest::newRow("two empty lines add a nameless application")
            << "A\nx\n\n\nB\ny\n"_ba << u"Cat/A|F:x|R:\nCat/|F:B,y|R:"_s;
        QTest::newRow("leading empty line") << "\nA\nx\n"_ba << u"Cat/|F:A,x|R:"_s;
        QTest::newRow("lines kept exactly") << " A \n x \n"_ba << u"Cat/ A |F: x |R:"_s;
        QTest::newRow("empty file") << QByteArray() << QString();
        QTest::newRow("only breaks") << "\n\n\n"_ba << u"Cat/|F:|R:\nCat/|F:|R:"_s;
        QTest::newRow("UTF-8 mark") << "\xEF\xBB\xBFJe\xC5\xBC\nx\n"_ba << u"Cat/Jeż|F:x|R:"_s;
        QTest::newRow("UTF-8 mark alone") << "\xEF\xBB\xBF"_ba << QString();
        QTest::newRow("UTF-16LE") << QByteArray("\xFF\xFE"
                                                "A\0\n\0x\0",
                                                8)
                                  << u"Cat/A|F:x|R:"_s;
        QTest::newRow("UTF-16BE") << QByteArray("\xFE\xFF\0A\0\n\0x", 8) << u"Cat/A|F:x|R:"_s;
        QTest::newRow("UTF-16 odd last byte dropped") << QByteArray("\xFF\xFE"
                                                                    "A\0\n\0x\0y",
                                                                    9)
                                                      << u"Cat/A|F:x|R:"_s;
        QTest::newRow("UTF-16 mark alone, one stray byte") << QByteArray("\xFF\xFE\x41", 3) << QString();
        QTest::newRow("NUL bytes stay in the line") << QByteArray("A\0B\nx\n", 6) << u"Cat/A\0B|F:x|R:"_s;
        QTest::newRow("invalid UTF-8 after the mark") << "\xEF\xBB\xBF\xFF\xC3\nx\n"_ba << u"Cat/\uFFFD\uFFFD|F:x|R:"_s;
    }

    void blockRules() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(Describe(ParseDefinitionFile(bytes, u"Cat"_s)), expected);
    }

    void loadsAFolder() {
        QTemporaryDir dir;
        QList<TAppData> list;
        // Nothing to read is a failed load.
        QVERIFY(!LoadDefinitionsFrom(dir.path(), list));
        QVERIFY(list.isEmpty());
        QVERIFY(!LoadDefinitionsFrom(dir.filePath(u"absent"_s), list));

        WriteFile(dir.filePath(u"Games.adp"_s), "Game\n%HOME%/g\n");
        WriteFile(dir.filePath(u"Browsers.adp"_s), "Web\n%HOME%/w\n\nWeb\n%HOME%/second\n");
        WriteFile(dir.filePath(u"notes.txt"_s), "Ignored\nx\n");
        QVERIFY(LoadDefinitionsFrom(dir.path(), list));
        QCOMPARE(Describe(list),
                 u"Browsers/Web|F:%HOME%/w|R:\nBrowsers/Web|F:%HOME%/second|R:\nGames/Game|F:%HOME%/g|R:"_s);

        // The first definition of a name wins.
        QVERIFY(AppDefinitions::Load(dir.path()));
        QVERIFY(AppDefinitions::Loaded());
        TAppData found;
        QVERIFY(AppDefinitions::Find(u"Web"_s, found));
        QCOMPARE(found.Folders, QStringList{u"%HOME%/w"_s});
        QVERIFY(!AppDefinitions::Find(u"web"_s, found));

        // A folder named like a definition file fails the load; what came before it stays.
        QVERIFY(QDir(dir.path()).mkdir(u"Chat.adp"_s));
        list.clear();
        QVERIFY(!LoadDefinitionsFrom(dir.path(), list));
        QCOMPARE(list.size(), 2); // Browsers.adp was read first
        QVERIFY(!AppDefinitions::Load(dir.path()));
        QVERIFY(!AppDefinitions::Loaded());
        QCOMPARE(AppDefinitions::List().size(), 2);
    }

    void refusesOversizedFiles() {
        QTemporaryDir dir;
        WriteFile(dir.filePath(u"Big.adp"_s), QByteArray(MaxDefinitionFileSize + 1, 'a'));
        QList<TAppData> list;
        QVERIFY(!LoadDefinitionsFrom(dir.path(), list));
    }

    void resolves_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("expected"); // "<root>" stands for the test's home folder
        QTest::newRow("plain path") << u"/opt/app/data"_s << u"/opt/app/data"_s;
        QTest::newRow("HOME") << u"%HOME%/.mozilla"_s << u"<root>/.mozilla"_s;
        QTest::newRow("lower-case variable") << u"%home%/.mozilla"_s << u"<root>/.mozilla"_s;
        QTest::newRow("set XDG variable") << u"%XDG_CONFIG_HOME%/app"_s << u"/custom/config/app"_s;
        QTest::newRow("unset XDG data") << u"%XDG_DATA_HOME%/app"_s << u"<root>/.local/share/app"_s;
        QTest::newRow("unset XDG state") << u"%XDG_STATE_HOME%/app"_s << u"<root>/.local/state/app"_s;
        QTest::newRow("empty XDG cache") << u"%XDG_CACHE_HOME%/app"_s << u"<root>/.cache/app"_s;
        QTest::newRow("unknown variable") << u"%NO_SUCH_VARIABLE%/x"_s << QString();
        QTest::newRow("no closing percent") << u"%HOME/x"_s << QString();
        QTest::newRow("empty name") << u"%%/x"_s << QString();
        QTest::newRow("only the first variable") << u"%HOME%/%HOME%"_s << u"<root>/%HOME%"_s;
        QTest::newRow("STEAM") << u"%STEAM%/steamapps/common/G"_s << u"<root>/.local/share/Steam/steamapps/common/G"_s;
        QTest::newRow("lower-case steam is an environment name") << u"%steam%/x"_s << QString();
        QTest::newRow("STEAM_CLOUD, folder in the second account")
            << u"%STEAM_CLOUD%/123/remote"_s << u"<root>/.local/share/Steam/userdata/2222/123/remote"_s;
        QTest::newRow("STEAM_CLOUD, nothing") << u"%STEAM_CLOUD%/999/remote"_s << QString();
        QTest::newRow("UPLAY without launcher") << u"%UPLAY%/x"_s << QString();
        QTest::newRow("SAVED_GAMES") << u"%SAVED_GAMES%/Game"_s << QString();
        QTest::newRow("REGISTRY") << u"%REGISTRY%/Saves|HKEY_CURRENT_USER/org/vendor/game/install-dir"_s
                                  << u"/games/vendor/Saves"_s;
        QTest::newRow("REGISTRY with backslashes")
            << u"%REGISTRY%/Saves|HKEY_CURRENT_USER\\org\\vendor\\game\\install-dir"_s << u"/games/vendor/Saves"_s;
        QTest::newRow("REGISTRY, missing value")
            << u"%REGISTRY%/Saves|HKEY_CURRENT_USER/org/vendor/none"_s << QString();
        QTest::newRow("REGISTRY, other root")
            << u"%REGISTRY%/S|HKEY_LOCAL_MACHINE/org/vendor/game/install-dir"_s << QString();
        QTest::newRow("REGISTRY without bar") << u"%REGISTRY%/Saves"_s << QString();
    }

    void resolves() {
        QFETCH(QString, entry);
        QFETCH(QString, expected);
        QTemporaryDir home;
        const QString steam = home.filePath(u".local/share/Steam"_s);
        QVERIFY(QDir().mkpath(steam + u"/userdata/1111/123"_s));
        // A file of that name in the first account does not count; the folder in the second does.
        WriteFile(steam + u"/userdata/1111/123/remote"_s, "file");
        QVERIFY(QDir().mkpath(steam + u"/userdata/2222/123/remote"_s));
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, home.path());
        environment.insert(u"XDG_CONFIG_HOME"_s, u"/custom/config"_s);
        environment.insert(u"XDG_CACHE_HOME"_s, QString());
        TMemoryRegistry registry;
        registry.Values[u"/org/vendor/game/install-dir"_s] = u"/games/vendor"_s;
        const TAppPathResolver resolver(environment, &registry);
        QCOMPARE(resolver.SteamPath(), steam);
        QCOMPARE(resolver.Resolve(entry), QString(expected).replace(u"<root>"_s, home.path()));
    }

    void findsSteamInItsPlaces_data() {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("native") << QStringList{u".local/share/Steam"_s, u".steam/steam"_s} << u".local/share/Steam"_s;
        QTest::newRow("old link") << QStringList{u".steam/steam"_s} << u".steam/steam"_s;
        QTest::newRow("Flatpak") << QStringList{u".var/app/com.valvesoftware.Steam/.local/share/Steam"_s}
                                 << u".var/app/com.valvesoftware.Steam/.local/share/Steam"_s;
    }

    void findsSteamInItsPlaces() {
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        QTemporaryDir home;
        for (const QString& path : existing)
            QVERIFY(QDir(home.path()).mkpath(path));
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, home.path());
        const TAppPathResolver resolver(environment);
        QCOMPARE(resolver.SteamPath(), expected.isEmpty() ? QString() : home.filePath(expected));
    }

    void kindsOfEntries() {
        QTemporaryDir dir;
        WriteFile(dir.filePath(u"file.txt"_s), "x");
        QCOMPARE(TAppPathResolver::KindOf(QString()), TAppEntryKind::Missing);
        QCOMPARE(TAppPathResolver::KindOf(dir.path()), TAppEntryKind::Folder);
        QCOMPARE(TAppPathResolver::KindOf(dir.filePath(u"file.txt"_s)), TAppEntryKind::File);
        QCOMPARE(TAppPathResolver::KindOf(dir.filePath(u"absent.txt"_s)), TAppEntryKind::File);
        const QString wildcard = dir.filePath(u"*.sav"_s);
        QCOMPARE(TAppPathResolver::KindOf(wildcard), TAppEntryKind::Wildcard);
        QCOMPARE(TAppPathResolver::WildcardFolder(wildcard), dir.path() + u'/');
        QCOMPARE(TAppPathResolver::WildcardMask(wildcard), u"*.sav"_s);
        QVERIFY(TAppPathResolver::MatchesMask(u"slot1.SAV"_s, u"*.sav"_s));
        QVERIFY(TAppPathResolver::MatchesMask(u"a.b.sav"_s, u"*.Sav"_s));
        QVERIFY(!TAppPathResolver::MatchesMask(u"slot.sav.bak"_s, u"*.sav"_s));
        QVERIFY(!TAppPathResolver::MatchesMask(u"sav"_s, u"*.sav"_s));
    }

    void settingsKeyPaths_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder"); // empty: not a key of this desktop
        QTest::newRow("slashes") << u"HKEY_CURRENT_USER/org/gnome/desktop/interface"_s
                                 << u"/org/gnome/desktop/interface/"_s;
        QTest::newRow("backslashes") << u"HKEY_CURRENT_USER\\org\\mate\\panel"_s << u"/org/mate/panel/"_s;
        QTest::newRow("doubled separators") << u"HKEY_CURRENT_USER//org//x/"_s << u"/org/x/"_s;
        QTest::newRow("machine root") << u"HKEY_LOCAL_MACHINE/org/x"_s << QString();
        QTest::newRow("users root") << u"HKEY_USERS/org/x"_s << QString();
        QTest::newRow("lower-case root") << u"hkey_current_user/org/x"_s << QString();
        QTest::newRow("root alone") << u"HKEY_CURRENT_USER"_s << QString();
        QTest::newRow("root and separator") << u"HKEY_CURRENT_USER/"_s << QString();
        QTest::newRow("root glued to a name") << u"HKEY_CURRENT_USERorg/x"_s << QString();
    }

    void settingsKeyPaths() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QString actual;
        QCOMPARE(DconfFolderOf(path, actual), !folder.isEmpty());
        if (!folder.isEmpty())
            QCOMPARE(actual, folder);
    }

    void shippedDefinitions() {
        // Each file on its own, so that a broken one is named.
        const QString folder = QStringLiteral(VAULTORA_BINARY_DIR "/bin/AppDataBackupPaths");
        const QStringList files = QDir(folder).entryList({u"*.adp"_s}, QDir::Files, QDir::Name);
        QCOMPARE(files, (QStringList{u"Audio and video.adp"_s, u"Browsers.adp"_s, u"Desktop settings.adp"_s,
                                     u"Development.adp"_s, u"Games.adp"_s, u"Graphics and photo.adp"_s,
                                     u"Mail and chat.adp"_s, u"Office.adp"_s, u"Utilities.adp"_s}));
        QStringList names;
        for (const QString& name : files) {
            QFile file(folder + u'/' + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QList<TAppData> definitions = ParseDefinitionFile(file.readAll(), QFileInfo(name).completeBaseName());
            QVERIFY2(!definitions.isEmpty(), qPrintable(name));
            for (const TAppData& d : definitions) {
                const QString where = name + u": "_s + d.Name;
                QVERIFY2(!d.Name.isEmpty() && d.Name.trimmed() == d.Name, qPrintable(where));
                QVERIFY2(!names.contains(d.Name), qPrintable(u"twice: "_s + where));
                names << d.Name;
                QVERIFY2(!d.Folders.isEmpty() || !d.RegistryPaths.isEmpty(), qPrintable(where));
                for (const QString& entry : d.Folders) {
                    const QString context = where + u": "_s + entry;
                    QVERIFY2(entry.startsWith(u'%') && entry.indexOf(u'%', 1) > 1, qPrintable(context));
                    const QString variable = entry.mid(1, entry.indexOf(u'%', 1) - 1);
                    QVERIFY2(TAppPathResolver::KnownVariables().contains(variable), qPrintable(context));
                    QVERIFY2(!entry.contains(u'\\') && !entry.contains(u"//"_s) && !entry.endsWith(u'/'),
                             qPrintable(context));
                    // Caches, keys and keyrings are not application data to bring back.
                    for (const char16_t* never : {u"/.cache", u"%XDG_CACHE_HOME%", u"/.ssh", u"/.gnupg", u"/keyrings",
                                                  u"/Cache", u"/..", u"/./"})
                        QVERIFY2(!entry.contains(QString::fromUtf16(never)), qPrintable(context));
                }
                for (const QString& key : d.RegistryPaths) {
                    QString dconfFolder;
                    QVERIFY2(DconfFolderOf(key, dconfFolder), qPrintable(where + u": "_s + key));
                }
            }
        }
        QVERIFY2(names.size() >= 60, qPrintable(QString::number(names.size())));
        QList<TAppData> all;
        QVERIFY(LoadDefinitionsFrom(folder, all));
        QCOMPARE(all.size(), names.size());
    }
};

QTEST_GUILESS_MAIN(TestAppDefinitions)
#include "tst_AppDefinitions.moc"
