// The translation table: its file layout and failures, the lookup rule, the Language menu, and
// the shipped table against every text the program passes to a translation call.

#include "core/settings/TAppGlobals.h"
#include "core/settings/Translations.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString ShippedTable = QStringLiteral(VAULTORA_BINARY_DIR "/bin/transl.dt");
const QString ShippedTemplate = QStringLiteral(VAULTORA_BINARY_DIR "/bin/~transl.dt");

TTranslationTable LookupTable() {
    TTranslationTable table;
    table.Rows = {
        {QStringLiteral("English"), QStringLiteral("Deutsch"), QStringLiteral("Français")},
        {QStringLiteral("en"), QStringLiteral("de"), QStringLiteral("fr")},
        {QStringLiteral("Hello"), QStringLiteral("Hallo"), QStringLiteral("Bonjour")},
        {QStringLiteral("Only French"), QString(), QStringLiteral("Seulement français")},
        {QStringLiteral("Hello"), QStringLiteral("Servus"), QStringLiteral("Salut")},
        {QStringLiteral("Short row"), QStringLiteral("Kurze Zeile")},
        {QStringLiteral("Copy %s to %s"), QStringLiteral("%s nach %s kopieren"), QString()},
    };
    return table;
}

QStringList Strings(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts)
        list.append(QString::fromUtf8(text));
    return list;
}

// C++ string literal body to text.
QString Unescape(QStringView body) {
    QString text;
    for (qsizetype i = 0; i < body.size(); ++i) {
        QChar c = body.at(i);
        if (c == u'\\' && i + 1 < body.size()) {
            const QChar next = body.at(++i);
            c = next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t') : next;
        }
        text += c;
    }
    return text;
}

// Every literal text passed to a translating call in the program's sources, with where it is.
// TEventsLog's own AddToEventsLog takes text that is already translated and is not looked at.
QMap<QString, QString> TranslatedLiterals() {
    // A call, an optional string macro, then one or more adjacent literals.
    static const QRegularExpression call(
        QString::fromLatin1("(?:(?<![\\w])(?:TranslateText|TrFormat|Tr)|(?<![\\w.>])AddToEventsLog)\\s*\\(\\s*"
                            "(?:QStringLiteral\\s*\\(|QLatin1String\\s*\\(|QString::fromUtf8\\s*\\()?\\s*"
                            "((?:(?:u8?)?\"(?:[^\"\\\\]|\\\\.)*\"\\s*)+)"));
    static const QRegularExpression literal(QString::fromLatin1("\"((?:[^\"\\\\]|\\\\.)*)\""));
    QMap<QString, QString> found;
    const QString root = QStringLiteral(VAULTORA_SOURCE_DIR);
    QDirIterator it(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(root.size() + 1);
        if (relative.startsWith(QStringLiteral("build")) || relative.startsWith(QStringLiteral("tests/")) ||
            relative.startsWith(QStringLiteral("bench/")))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString source = QString::fromUtf8(file.readAll());
        auto calls = call.globalMatch(source);
        while (calls.hasNext()) {
            const QRegularExpressionMatch match = calls.next();
            QString text;
            auto parts = literal.globalMatch(match.captured(1));
            while (parts.hasNext())
                text += Unescape(parts.next().capturedView(1));
            const int line = int(source.left(match.capturedStart()).count(u'\n')) + 1;
            found.insert(text, relative + u':' + QString::number(line));
        }
    }
    return found;
}

QStringList Placeholders(const QString& text) {
    static const QRegularExpression placeholder(QStringLiteral("%[sd%]"));
    QStringList list;
    auto it = placeholder.globalMatch(text);
    while (it.hasNext())
        list.append(it.next().captured());
    return list;
}

} // namespace

class TestTranslations : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString WriteFile(const QByteArray& content) {
        const QString path = m_dir.filePath(QStringLiteral("transl.dt"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write the table");
        file.write(content);
        return path;
    }

private Q_SLOTS:
    void init() {
        App().IsQuitting = false;
        App().EventsLog.Clear();
    }
    void cleanup() { App().IsQuitting = false; }

    void lookup_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("quitting");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addRow("source language looks nothing up") << 0 << false << "Hello"
                                                          << "Hello";
        QTest::addRow("first matching row wins") << 1 << false << "Hello"
                                                 << "Hallo";
        QTest::addRow("other column") << 2 << false << "Hello"
                                      << "Bonjour";
        QTest::addRow("case-sensitive") << 1 << false << "hello"
                                        << "hello";
        QTest::addRow("whole text only") << 1 << false << "Hello "
                                         << "Hello ";
        QTest::addRow("absent text stays English") << 2 << false << "Goodbye"
                                                   << "Goodbye";
        QTest::addRow("empty entry falls back") << 1 << false << "Only French"
                                                << "Only French";
        QTest::addRow("entry present in the other column") << 2 << false << "Only French"
                                                           << "Seulement français";
        QTest::addRow("row shorter than the table") << 2 << false << "Short row"
                                                    << "Short row";
        QTest::addRow("column beyond the table") << 5 << false << "Hello"
                                                 << "Hello";
        QTest::addRow("negative column") << -1 << false << "Hello"
                                         << "Hello";
        QTest::addRow("names row is no text") << 1 << false << "English"
                                              << "English";
        QTest::addRow("codes row is no text") << 1 << false << "en"
                                              << "en";
        QTest::addRow("placeholders are part of the text") << 1 << false << "Copy %s to %s"
                                                           << "%s nach %s kopieren";
        QTest::addRow("untranslated while quitting") << 1 << true << "Hello"
                                                     << "Hello";
    }
    void lookup() {
        QFETCH(int, language);
        QFETCH(bool, quitting);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        App().IsQuitting = quitting;
        QCOMPARE(TranslateWith(LookupTable(), language, text), expected);
        // The program's own lookup follows the same rule on the options' table.
        App().Options.Language.Translations = LookupTable();
        App().Options.Language.iLanguage = language;
        QCOMPARE(TranslateText(text), expected);
        App().Options.Language = TLanguageOptions();
    }

    void loadsTable() {
        // Byte-order mark, CR LF, no break after the last line, two surplus lines.
        const QString path = WriteFile("\xEF\xBB\xBF"
                                       "3\r\nEnglish\r\nDeutsch\r\nFran\xC3\xA7"
                                       "ais\r\nen\r\nde\r\nfr\r\n"
                                       "Ready\r\nBereit\r\n\r\n"
                                       "Paused\r\nAngehalten\r\nEn pause\r\n"
                                       "surplus\r\nlines");
        TLanguageOptions language;
        language.LanguageOfInterface = QStringLiteral("fr");
        QVERIFY(LoadTranslations(language, path));
        QCOMPARE(language.Translations.Rows.size(), 4);
        QCOMPARE(language.Translations.Rows.at(0).at(2), QStringLiteral("Français"));
        QCOMPARE(language.Translations.Rows.at(2), Strings({"Ready", "Bereit", ""}));
        QCOMPARE(language.Translations.Rows.at(3), Strings({"Paused", "Angehalten", "En pause"}));
        QCOMPARE(language.iLanguage, 2);
        QCOMPARE(TranslateWith(language.Translations, language.iLanguage, QStringLiteral("Ready")),
                 QStringLiteral("Ready"));
        QCOMPARE(App().EventsLog.PendingLines(), QStringList());
    }

    void unknownCodeStartsInFirstColumn() {
        const QString path = WriteFile("2\nEnglish\nDeutsch\nen\nde\nReady\nBereit\n");
        TLanguageOptions language;
        language.LanguageOfInterface = QStringLiteral("ru");
        language.iLanguage = 1;
        QVERIFY(LoadTranslations(language, path));
        QCOMPARE(language.iLanguage, 0);
    }

    void brokenFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        const QString count = QStringLiteral("Invalid number of languages in translation file: ");
        const QString incomplete = QStringLiteral("Translation file is incomplete: ");
        QTest::addRow("empty file") << QByteArray() << count;
        QTest::addRow("zero languages") << QByteArray("0\nEnglish\nen\n") << count;
        QTest::addRow("not a number") << QByteArray("two\nEnglish\nDeutsch\nen\nde\n") << count;
        QTest::addRow("negative") << QByteArray("-2\nEnglish\nDeutsch\nen\nde\n") << count;
        QTest::addRow("beyond Int32") << QByteArray("4294967298\nEnglish\nen\n") << count;
        QTest::addRow("more languages than lines") << QByteArray("1000000\nEnglish\nen\nReady\n") << incomplete;
        QTest::addRow("names without codes") << QByteArray("3\nEnglish\nDeutsch\nFrancais\nen\n") << incomplete;
        QTest::addRow("names only") << QByteArray("2\nEnglish\nDeutsch\n") << incomplete;
    }
    void brokenFile() {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString path = WriteFile(content);
        TLanguageOptions language;
        language.LanguageOfInterface = QStringLiteral("de");
        language.iLanguage = 1;
        language.Translations = LookupTable();
        QVERIFY(!LoadTranslations(language, path));
        QCOMPARE(language.iLanguage, 0);
        QVERIFY(language.Translations.Rows.isEmpty());
        QCOMPARE(language.LanguageOfInterface, QStringLiteral("de"));
        const QStringList lines = App().EventsLog.PendingLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(QStringLiteral(": ERROR: ") + message + path), qPrintable(lines.first()));
    }

    void missingFile() {
        const QString path = m_dir.filePath(QStringLiteral("nowhere/transl.dt"));
        TLanguageOptions language;
        language.iLanguage = 2;
        QVERIFY(!LoadTranslations(language, path));
        QCOMPARE(language.iLanguage, 0);
        const QStringList lines = App().EventsLog.PendingLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(QStringLiteral(": ERROR: Cannot find translation file:") + path),
                 qPrintable(lines.first()));
    }

    void languageMenu() {
        TLanguageOptions language;
        language.Translations = LookupTable();
        language.iLanguage = 1;
        const QList<TLanguageMenuItem> items = LanguageMenuItems(language);
        QCOMPARE(items.size(), 3);
        QCOMPARE(items.at(2).Name, QStringLiteral("Français"));
        QCOMPARE(items.at(2).Code, QStringLiteral("fr"));
        QCOMPARE(items.at(0).Checked, false);
        QCOMPARE(items.at(1).Checked, true);
        QVERIFY(SelectLanguage(language, 2));
        QCOMPARE(language.iLanguage, 2);
        QCOMPARE(language.LanguageOfInterface, QStringLiteral("fr"));
        QVERIFY(!SelectLanguage(language, 3));
        QVERIFY(!SelectLanguage(language, -1));
        QCOMPARE(language.iLanguage, 2);
        QVERIFY(LanguageMenuItems(TLanguageOptions()).isEmpty());
    }

    void shippedTableLoads() {
        TTranslationTable table;
        QString error;
        QVERIFY2(LoadTranslationTable(ShippedTable, table, &error), qPrintable(error));
        QCOMPARE(table.Rows.at(1), Strings({"en", "de", "fr"}));
        QCOMPARE(LanguageIndex(table, QStringLiteral("de")), 1);
        QCOMPARE(TranslateWith(table, 1, QStringLiteral("ERROR:")), QStringLiteral("FEHLER:"));
    }

    // The template has the shipped languages, one more column to fill, and every text.
    void templateMatchesTable() {
        TTranslationTable table, empty;
        QString error;
        QVERIFY2(LoadTranslationTable(ShippedTable, table, &error), qPrintable(error));
        QVERIFY2(LoadTranslationTable(ShippedTemplate, empty, &error), qPrintable(error));
        QCOMPARE(empty.LanguageCount(), table.LanguageCount() + 1);
        QCOMPARE(empty.Rows.size(), table.Rows.size());
        QCOMPARE(empty.Rows.at(0).last(), QStringLiteral("[NEW_LANGUAGE_NAME]"));
        QCOMPARE(empty.Rows.at(1).last(), QStringLiteral("[NEW_LANGUAGE_CODE]"));
        for (qsizetype row = 2; row < table.Rows.size(); ++row) {
            QCOMPARE(empty.Rows.at(row).mid(0, table.LanguageCount()), table.Rows.at(row));
            QCOMPARE(empty.Rows.at(row).last(), QString());
        }
    }

    void everyTranslatedTextHasARow() {
        TTranslationTable table;
        QString error;
        QVERIFY2(LoadTranslationTable(ShippedTable, table, &error), qPrintable(error));
        QSet<QString> rows;
        for (qsizetype row = 2; row < table.Rows.size(); ++row)
            rows.insert(table.Rows.at(row).first());
        const QMap<QString, QString> literals = TranslatedLiterals();
        QVERIFY(literals.contains(QStringLiteral("ERROR:"))); // the scan finds the calls at all
        QStringList missing;
        for (auto it = literals.begin(); it != literals.end(); ++it)
            if (!rows.contains(it.key()))
                missing.append(QStringLiteral("%1 (%2)").arg(it.key(), it.value()));
        // The whole list goes to the output: a failure message is cut short.
        for (const QString& line : std::as_const(missing))
            qWarning("no row in data/translations.tsv: %s", qPrintable(line));
        QVERIFY2(missing.isEmpty(), qPrintable(QString::number(missing.size()) +
                                               QStringLiteral(" texts have no row in data/translations.tsv")));
    }

    // A translation that drops, adds or reorders a placeholder fills in the wrong values.
    void translationsKeepPlaceholders() {
        TTranslationTable table;
        QString error;
        QVERIFY2(LoadTranslationTable(ShippedTable, table, &error), qPrintable(error));
        QStringList wrong;
        for (qsizetype row = 2; row < table.Rows.size(); ++row) {
            const QStringList& entries = table.Rows.at(row);
            for (qsizetype column = 1; column < entries.size(); ++column)
                if (!entries.at(column).isEmpty() && Placeholders(entries.at(column)) != Placeholders(entries.first()))
                    wrong.append(entries.first() + QStringLiteral(" -> ") + entries.at(column));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u'\n')));
    }

    void addLanguageText() {
        const QString text = AddLanguageInfoText();
        QVERIFY(text.startsWith(QStringLiteral("Do you want to help us to translate Vaultora to your language?\n\n")));
        QVERIFY(text.contains(QStringLiteral("for example: fr\nThe following language codes")));
        QVERIFY(text.endsWith(QStringLiteral("We would love that!\nTHANK YOU!")));
        QCOMPARE(text.count(QStringLiteral("\n\n")), 6);
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
