// The XDG autostart entry that starts the program hidden at logon.

#include "platform/TXdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestAutostart : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void execLine_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::addRow("plain") << "/usr/bin/vaultora"
                               << "Exec=\"/usr/bin/vaultora\" /hide";
        QTest::addRow("blanks") << "/opt/My Apps/vaultora"
                                << "Exec=\"/opt/My Apps/vaultora\" /hide";
        QTest::addRow("quote") << "/opt/a\"b/vaultora"
                               << "Exec=\"/opt/a\\\\\"b/vaultora\" /hide";
        QTest::addRow("dollar") << "/opt/$HOME/vaultora"
                                << "Exec=\"/opt/\\\\$HOME/vaultora\" /hide";
        QTest::addRow("backquote") << "/opt/`x`/vaultora"
                                   << "Exec=\"/opt/\\\\`x\\\\`/vaultora\" /hide";
        QTest::addRow("backslash") << "/opt/a\\b/vaultora"
                                   << "Exec=\"/opt/a\\\\\\\\b/vaultora\" /hide";
        QTest::addRow("percent") << "/opt/100%/vaultora"
                                 << "Exec=\"/opt/100%%/vaultora\" /hide";
    }
    void execLine() {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        const QStringList lines = TXdgAutostart::EntryText(path).split(u'\n');
        QVERIFY(lines.contains(QStringLiteral("[Desktop Entry]")));
        QVERIFY(lines.contains(QStringLiteral("Type=Application")));
        QVERIFY2(lines.contains(exec), qPrintable(lines.join(u'|')));
    }

    // A line break cannot be written in an Exec line: no entry rather than a broken one.
    void lineBreakInPathIsRefused() {
        QCOMPARE(TXdgAutostart::EntryText(QStringLiteral("/opt/a\nb/vaultora")), QString());
        TXdgAutostart autostart(m_dir.filePath(QStringLiteral("newline")), QStringLiteral("/opt/a\nb/vaultora"));
        QCOMPARE(autostart.SetAutostart(true), TAutostart::TResult::WriteFailed);
        QVERIFY(!autostart.IsAutostartOn());
    }

    void turnsOnAndOff() {
        const QString config = m_dir.filePath(QStringLiteral("config"));
        TXdgAutostart autostart(config, QStringLiteral("/usr/bin/vaultora"));
        QCOMPARE(autostart.Location(), config + QStringLiteral("/autostart"));
        QVERIFY(!autostart.IsAutostartOn());
        QCOMPARE(autostart.SetAutostart(false), TAutostart::TResult::Done); // nothing to remove
        QCOMPARE(autostart.SetAutostart(true), TAutostart::TResult::Done);
        QVERIFY(autostart.IsAutostartOn());
        QFile entry(config + QStringLiteral("/autostart/vaultora.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(entry.readAll()), TXdgAutostart::EntryText(QStringLiteral("/usr/bin/vaultora")));
        entry.close();
        QCOMPARE(autostart.SetAutostart(true), TAutostart::TResult::Done); // again: replaced
        QCOMPARE(autostart.SetAutostart(false), TAutostart::TResult::Done);
        QVERIFY(!entry.exists());
        QVERIFY(!autostart.IsAutostartOn());
    }

    // The folder cannot be made: a file stands where it should be.
    void folderUnreachable() {
        const QString config = m_dir.filePath(QStringLiteral("blocked"));
        QVERIFY(QDir().mkpath(config));
        QFile blocker(config + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TXdgAutostart autostart(config, QStringLiteral("/usr/bin/vaultora"));
        QCOMPARE(autostart.SetAutostart(true), TAutostart::TResult::CannotOpen);
    }

    // The entry itself cannot be written or removed: a folder stands in its place.
    void entryNotWritable() {
        const QString config = m_dir.filePath(QStringLiteral("occupied"));
        QVERIFY(QDir().mkpath(config + QStringLiteral("/autostart/vaultora.desktop/inside")));
        TXdgAutostart autostart(config, QStringLiteral("/usr/bin/vaultora"));
        QCOMPARE(autostart.SetAutostart(true), TAutostart::TResult::WriteFailed);
        QCOMPARE(autostart.SetAutostart(false), TAutostart::TResult::WriteFailed);
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
