// The defaults applied when there is no options file: every field, the autostart entry, the
// desktop's language and the excluded folders file.

#include "core/settings/DefaultOptions.h"
#include "core/settings/TAppGlobals.h"
#include "platform/TFakeAutostart.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

TTranslationTable ThreeLanguages() {
    TTranslationTable table;
    table.Rows = {{QStringLiteral("English"), QStringLiteral("Deutsch"), QStringLiteral("Français")},
                  {QStringLiteral("en"), QStringLiteral("de"), QStringLiteral("fr")},
                  {QStringLiteral("Ready"), QStringLiteral("Bereit"), QStringLiteral("Prête")}};
    return table;
}

} // namespace

class TestDefaultOptions : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    TDefaultOptionsSources Sources(const QString& excludedText) {
        TDefaultOptionsSources sources;
        sources.LanguageCode = QStringLiteral("de");
        sources.PathForTempFiles = QStringLiteral("/cache/VaultoraTmp");
        sources.PathForLogFiles = QStringLiteral("/docs/Vaultora");
        sources.ExcludedDirectoriesFile = m_dir.filePath(QStringLiteral("excluded-directories.txt"));
        QFile file(sources.ExcludedDirectoriesFile);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write the excluded folders file");
        file.write(excludedText.toUtf8());
        sources.Environment.insert(QStringLiteral("HOME"), QStringLiteral("/home/Alice"));
        return sources;
    }

    // A record with every field away from its default, as a loaded file may leave it.
    static TOptions Edited() {
        TOptions o;
        o.Language.Translations = ThreeLanguages();
        o.Language.LanguageOfInterface = QStringLiteral("fr");
        o.Language.iLanguage = 2;
        o.General = {false, false, true, QStringLiteral("pw"), 3, QStringLiteral("/t")};
        o.Logging = {1, 2, 3, true, QStringLiteral("/l")};
        o.Processing = {true, 1, 2, 1, true, false, true, true, true};
        o.ExcludedDirs = {QStringLiteral("/old")};
        o.Email = {true,
                   true,
                   QStringLiteral("a@b"),
                   QStringLiteral("h"),
                   QStringLiteral("25"),
                   QStringLiteral("u"),
                   QStringLiteral("p"),
                   2};
        TFTPAccount account;
        account.ID = 4;
        account.AccName = QStringLiteral("n");
        o.FTPAccounts = {account};
        o.Proxy = {true, 2, QStringLiteral("h"), QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("p")};
        o.LastFTPAccountID = 4;
        return o;
    }

private Q_SLOTS:
    void init() {
        App().EventsLog.Clear();
        App().IsQuitting = false;
    }

    void appliesEveryDefault() {
        TOptions o = Edited();
        TFakeAutostart autostart;
        SetDefaultOptions(o, Sources(QStringLiteral("%HOME%/.cache\n/tmp\n")), autostart);

        QCOMPARE(o.Language.Translations, ThreeLanguages()); // not an option: kept
        QCOMPARE(o.Language.LanguageOfInterface, QStringLiteral("de"));
        QCOMPARE(o.Language.iLanguage, 1);
        QCOMPARE(o.General.RunProgramAtLogon, true);
        QCOMPARE(o.General.BlockSleepModeifJobIsScheduled, true);
        QCOMPARE(o.General.ProtectConfigurationbyPassword, false);
        QCOMPARE(o.General.strProtectConfiguration_Password, QString());
        QCOMPARE(o.General.ProcessPriority, 1);
        QCOMPARE(o.General.PathForTempFiles, QStringLiteral("/cache/VaultoraTmp"));
        QCOMPARE(o.Logging.MaxNumberOfLogsForEachJob, 20);
        QCOMPARE(o.Logging.MaxNumberOfLinesInHistory, 500);
        QCOMPARE(o.Logging.MaxNumberOfLinesInEventsLog, 50);
        QCOMPARE(o.Logging.DontLogCopyingInternalFiles, false);
        QCOMPARE(o.Logging.PathForLogFiles, QStringLiteral("/docs/Vaultora"));
        QCOMPARE(o.Processing.RunOnlyOneJobAtATime, false);
        QCOMPARE(o.Processing.IfDestinationNotAvailable_Retry_Times, 5);
        QCOMPARE(o.Processing.IfDestinationNotAvailable_Wait_Sec, 60);
        QCOMPARE(o.Processing.IfDestinationNotAvailable_Then, 0);
        QCOMPARE(o.Processing.PreventOtherAppsFromWritingDuringZipping, false);
        QCOMPARE(o.Processing.RemovePreviousBackupIfCancelled, true);
        QCOMPARE(o.Processing.DontUseBufferingForCopyOperations, false);
        QCOMPARE(o.Processing.SkipHiddenSystemFiles, false);
        QCOMPARE(o.Processing.SkipLockedFiles, false);
        QCOMPARE(o.ExcludedDirs, (QStringList{QStringLiteral("/home/Alice/.cache"), QStringLiteral("/tmp")}));
        QCOMPARE(o.Email, TEmailOptions());
        QVERIFY(!o.Email.SendEmailNotificationWhenFinishedBackup);
        QCOMPARE(o.Email.Security, 0);
        QCOMPARE(o.FTPAccounts.size(), 0);
        QCOMPARE(o.LastFTPAccountID, 0);
        QCOMPARE(o.Proxy.Enabled, false);
        QCOMPARE(o.Proxy.PrType, 0);
        QCOMPARE(o.Proxy.Host, QString());
        QCOMPARE(o.Proxy.Password, QString());
        QCOMPARE(autostart.Calls, 1);
        QVERIFY(autostart.On);
    }

    // A language the table does not hold starts in the first column.
    void unknownLanguageStartsInFirstColumn() {
        TOptions o = Edited();
        TFakeAutostart autostart;
        TDefaultOptionsSources sources = Sources(QString());
        sources.LanguageCode = QStringLiteral("ru");
        SetDefaultOptions(o, sources, autostart);
        QCOMPARE(o.Language.LanguageOfInterface, QStringLiteral("ru"));
        QCOMPARE(o.Language.iLanguage, 0);
    }

    void autostartOutcome_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("registering");
        QTest::addColumn<bool>("entryBefore");
        QTest::addColumn<bool>("runAtLogon");
        QTest::addColumn<bool>("eventLine");
        QTest::addRow("registered") << int(TAutostart::TResult::Done) << true << false << true << false;
        QTest::addRow("folder unreachable") << int(TAutostart::TResult::CannotOpen) << true << false << false << false;
        QTest::addRow("entry not written") << int(TAutostart::TResult::WriteFailed) << true << false << false << true;
        QTest::addRow("not registering, no entry")
            << int(TAutostart::TResult::Done) << false << false << false << false;
        QTest::addRow("not registering, entry there")
            << int(TAutostart::TResult::Done) << false << true << true << false;
    }
    void autostartOutcome() {
        QFETCH(int, result);
        QFETCH(bool, registering);
        QFETCH(bool, entryBefore);
        QFETCH(bool, runAtLogon);
        QFETCH(bool, eventLine);
        TOptions o = Edited();
        TFakeAutostart autostart;
        autostart.NextResult = TAutostart::TResult(result);
        autostart.On = entryBefore;
        SetDefaultOptions(o, Sources(QString()), autostart, registering);
        QCOMPARE(o.General.RunProgramAtLogon, runAtLogon);
        QCOMPARE(autostart.Calls, registering ? 1 : 0);
        const QStringList lines = App().EventsLog.PendingLines();
        QCOMPARE(lines.size(), eventLine ? 1 : 0);
        if (eventLine)
            QVERIFY(lines.first().endsWith(
                QStringLiteral(": Error writing to the autostart file. Make sure you have the rights.")));
    }

    void languageCodes_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("code");
        const std::pair<QLocale::Language, const char*> table[] = {
            {QLocale::Arabic, "ar"},     {QLocale::Chinese, "cn"},  {QLocale::German, "de"},
            {QLocale::Greek, "el"},      {QLocale::Spanish, "es"},  {QLocale::French, "fr"},
            {QLocale::Hungarian, "hu"},  {QLocale::Italian, "it"},  {QLocale::Japanese, "jp"},
            {QLocale::Korean, "kr"},     {QLocale::Dutch, "nl"},    {QLocale::Polish, "pl"},
            {QLocale::Portuguese, "pt"}, {QLocale::Romanian, "ro"}, {QLocale::Russian, "ru"},
            {QLocale::Turkish, "tr"},    {QLocale::English, "en"},  {QLocale::Swedish, "en"},
            {QLocale::Czech, "en"},      {QLocale::C, "en"},
        };
        for (const auto& [language, code] : table)
            QTest::addRow("%s", qPrintable(QLocale::languageToString(language)))
                << int(language) << QString::fromLatin1(code);
    }
    void languageCodes() {
        QFETCH(int, language);
        QFETCH(QString, code);
        QCOMPARE(LanguageCodeFor(QLocale::Language(language)), code);
    }

    void expandsExcludedDirectory_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expanded");
        QTest::addRow("variable at the start") << "%HOME%/.cache"
                                               << "/home/Alice/.cache";
        QTest::addRow("letter case of the value kept") << "%HOME%/Videos"
                                                       << "/home/Alice/Videos";
        QTest::addRow("variable alone") << "%HOME%"
                                        << "/home/Alice";
        QTest::addRow("only the first occurrence") << "%HOME%/a/%HOME%"
                                                   << "/home/Alice/a/%HOME%";
        QTest::addRow("unset variable") << "%NOT_SET%/x"
                                        << "%NOT_SET%/x";
        QTest::addRow("empty variable") << "%EMPTY%/x"
                                        << "%EMPTY%/x";
        QTest::addRow("names are case-sensitive here") << "%home%/x"
                                                       << "%home%/x";
        QTest::addRow("no closing percent") << "%HOME/x"
                                            << "%HOME/x";
        QTest::addRow("empty name") << "%%/x"
                                    << "%%/x";
        QTest::addRow("variable not at the start") << "/x/%HOME%"
                                                   << "/x/%HOME%";
        QTest::addRow("rule for any path") << "%anypath%/node_modules"
                                           << "%anypath%/node_modules";
        QTest::addRow("plain folder") << "/Var/Tmp"
                                      << "/Var/Tmp";
    }
    void expandsExcludedDirectory() {
        QFETCH(QString, line);
        QFETCH(QString, expanded);
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("HOME"), QStringLiteral("/home/Alice"));
        environment.insert(QStringLiteral("EMPTY"), QString());
        QCOMPARE(ExpandExcludedDirectory(line, environment), expanded);
    }

    void readsExcludedDirectoriesFile() {
        const TDefaultOptionsSources sources =
            Sources(QStringLiteral("\uFEFF%HOME%/.cache\r\n\r\n   \r\n/tmp\r\n/media/ü\n%NOT_SET%/x"));
        QCOMPARE(LoadExcludedDirectories(sources.ExcludedDirectoriesFile, sources.Environment),
                 (QStringList{QStringLiteral("/home/Alice/.cache"), QStringLiteral("/tmp"), QStringLiteral("/media/ü"),
                              QStringLiteral("%NOT_SET%/x")}));
        QCOMPARE(LoadExcludedDirectories(m_dir.filePath(QStringLiteral("missing.txt")), sources.Environment),
                 QStringList());
    }

    // The shipped file names real folders once expanded.
    void shippedExcludedDirectoriesExpand() {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("HOME"), QStringLiteral("/home/Alice"));
        const QStringList folders =
            LoadExcludedDirectories(QStringLiteral(VAULTORA_SOURCE_DIR "/data/excluded-directories.txt"), environment);
        QVERIFY(folders.contains(QStringLiteral("/home/Alice/.cache")));
        QVERIFY(folders.contains(QStringLiteral("/home/Alice/.local/share/Trash")));
        for (const QString& folder : folders)
            QVERIFY2(folder.startsWith(u'/') || folder.startsWith(u'%'), qPrintable(folder));
    }
};

QTEST_GUILESS_MAIN(TestDefaultOptions)
#include "tst_defaultoptions.moc"
