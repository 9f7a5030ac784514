// Settings keys of application data in a private dconf: existence, string values, saving a folder,
// renaming it out of the way and restoring it.

#include "tests/appdata/TPrivateDconf.h"

#include "jobs/appdata/TAppPathResolver.h"
#include "jobs/appdata/TAppRegistry.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestDconfRegistry : public QObject {
    Q_OBJECT

    TPrivateDconf m_dconf;
    QTemporaryDir m_files;

private Q_SLOTS:
    void initTestCase() {
        const QString missing = m_dconf.Start();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
    }

    void savesRenamesAndRestores() {
        using D = TPrivateDconf;
        QCOMPARE(D::Dconf({u"write"_s, u"/org/vaultora-test/app/name"_s, u"\"Ann's game\""_s}), 0);
        QCOMPARE(D::Dconf({u"write"_s, u"/org/vaultora-test/app/sub/size"_s, u"42"_s}), 0);
        TDconfRegistry registry;
        QVERIFY(registry.Available());
        const QString key = u"HKEY_CURRENT_USER/org/vaultora-test/app"_s;
        QVERIFY(registry.KeyExists(key));
        QVERIFY(registry.KeyExists(u"HKEY_CURRENT_USER\\org\\vaultora-test\\app\\sub"_s));
        QVERIFY(!registry.KeyExists(u"HKEY_CURRENT_USER/org/vaultora-test/none"_s));
        QVERIFY(!registry.KeyExists(u"HKEY_LOCAL_MACHINE/org/vaultora-test/app"_s));
        QCOMPARE(registry.ReadString(key + u"/name"_s), u"Ann's game"_s);
        QCOMPARE(registry.ReadString(key + u"/absent"_s), QString());

        // The REGISTRY variable reads through the same store.
        const TAppPathResolver resolver(QProcessEnvironment(), &registry);
        QCOMPARE(resolver.Resolve(u"%REGISTRY%/Saves|"_s + key + u"/name"_s), u"Ann's game/Saves"_s);

        const QString file = m_files.filePath(u"0.rgh"_s);
        QString error;
        QVERIFY2(registry.SaveKey(key, file, &error), qPrintable(error));
        QByteArray saved;
        QCOMPARE(D::Dconf({u"dump"_s, u"/org/vaultora-test/app/"_s}, &saved), 0);
        QFile stored(file);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), saved);

        QVERIFY2(registry.RenameKey(key, u"app - RENAMED ON 2026-12-11 10;00;00"_s, &error), qPrintable(error));
        QVERIFY(!registry.KeyExists(key));
        QCOMPARE(
            registry.ReadString(u"HKEY_CURRENT_USER/org/vaultora-test/app - RENAMED ON 2026-12-11 10;00;00/name"_s),
            u"Ann's game"_s);

        // Restoring replaces whatever the folder holds by then.
        QCOMPARE(D::Dconf({u"write"_s, u"/org/vaultora-test/app/stray"_s, u"true"_s}), 0);
        QVERIFY2(registry.RestoreKey(key, file, &error), qPrintable(error));
        QByteArray restored;
        QCOMPARE(D::Dconf({u"dump"_s, u"/org/vaultora-test/app/"_s}, &restored), 0);
        QCOMPARE(restored, saved);

        QVERIFY(!registry.SaveKey(u"HKEY_USERS/x"_s, file, &error));
        QCOMPARE(error, u"SaveRegKey1 HKEY_USERS/x"_s);
        QVERIFY(!registry.RestoreKey(u"HKEY_USERS/x"_s, file, &error));
        QCOMPARE(error, u"RestoreRegKey "_s + file);
    }

    void missingToolFailsQuietly() {
        TDconfRegistry registry(u"/nonexistent/dconf"_s);
        QVERIFY(!registry.Available());
        QVERIFY(!registry.KeyExists(u"HKEY_CURRENT_USER/org/vaultora-test/app"_s));
        QString error;
        QVERIFY(!registry.SaveKey(u"HKEY_CURRENT_USER/org/x"_s, m_files.filePath(u"x.rgh"_s), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDconfRegistry)
#include "tst_DconfRegistry.moc"
