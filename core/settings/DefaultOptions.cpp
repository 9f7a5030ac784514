#include "core/settings/DefaultOptions.h"

#include "core/settings/Autorun.h"
#include "core/settings/Translations.h"
#include "platform/TAutostart.h"

#include <QFile>
#include <QStandardPaths>

TDefaultOptionsSources SystemDefaultOptionsSources(const QString& programDataDirectory) {
    TDefaultOptionsSources sources;
    sources.LanguageCode = DesktopLanguageCode();
    sources.PathForTempFiles =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/VaultoraTmp");
    sources.PathForLogFiles =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Vaultora");
    sources.ExcludedDirectoriesFile = programDataDirectory + QStringLiteral("/excluded-directories.txt");
    sources.Environment = QProcessEnvironment::systemEnvironment();
    return sources;
}

QString LanguageCodeFor(QLocale::Language language) {
    switch (language) {
    case QLocale::Arabic:
        return QStringLiteral("ar");
    case QLocale::Chinese:
        return QStringLiteral("cn");
    case QLocale::German:
        return QStringLiteral("de");
    case QLocale::Greek:
        return QStringLiteral("el");
    case QLocale::Spanish:
        return QStringLiteral("es");
    case QLocale::French:
        return QStringLiteral("fr");
    case QLocale::Hungarian:
        return QStringLiteral("hu");
    case QLocale::Italian:
        return QStringLiteral("it");
    case QLocale::Japanese:
        return QStringLiteral("jp");
    case QLocale::Korean:
        return QStringLiteral("kr");
    case QLocale::Dutch:
        return QStringLiteral("nl");
    case QLocale::Polish:
        return QStringLiteral("pl");
    case QLocale::Portuguese:
        return QStringLiteral("pt");
    case QLocale::Romanian:
        return QStringLiteral("ro");
    case QLocale::Russian:
        return QStringLiteral("ru");
    case QLocale::Turkish:
        return QStringLiteral("tr");
    default:
        return QStringLiteral("en");
    }
}

QString DesktopLanguageCode() {
    // The interface language is the first of the desktop's message languages, not the locale of
    // numbers and dates.
    const QStringList languages = QLocale::system().uiLanguages();
    const QLocale locale = languages.isEmpty() ? QLocale::system() : QLocale(languages.first());
    return LanguageCodeFor(locale.language());
}

void SetDefaultOptions(TOptions& options, const TDefaultOptionsSources& sources, TAutostart& autostart,
                       bool registerAutorun) {
    const TTranslationTable translations = options.Language.Translations;
    options = TOptions();
    options.Language.Translations = translations;
    options.Language.LanguageOfInterface = sources.LanguageCode;
    options.Language.iLanguage = LanguageIndex(translations, sources.LanguageCode);

    options.General.RunProgramAtLogon = true;
    options.General.BlockSleepModeifJobIsScheduled = true;
    options.General.ProtectConfigurationbyPassword = false;
    options.General.strProtectConfiguration_Password.clear();
    options.General.ProcessPriority = 1;
    options.General.PathForTempFiles = sources.PathForTempFiles;

    options.Logging.MaxNumberOfLogsForEachJob = 20;
    options.Logging.MaxNumberOfLinesInHistory = 500;
    options.Logging.MaxNumberOfLinesInEventsLog = 50;
    options.Logging.DontLogCopyingInternalFiles = false;
    options.Logging.PathForLogFiles = sources.PathForLogFiles;

    options.Processing.RunOnlyOneJobAtATime = false;
    options.Processing.IfDestinationNotAvailable_Retry_Times = 5;
    options.Processing.IfDestinationNotAvailable_Wait_Sec = 60;
    options.Processing.IfDestinationNotAvailable_Then = 0;
    options.Processing.PreventOtherAppsFromWritingDuringZipping = false;
    options.Processing.RemovePreviousBackupIfCancelled = true;
    options.Processing.DontUseBufferingForCopyOperations = false;
    options.Processing.SkipHiddenSystemFiles = false;
    options.Processing.SkipLockedFiles = false;

    options.Email = TEmailOptions();
    options.FTPAccounts.clear();
    options.LastFTPAccountID = 0;
    options.Proxy = TProxyOptions();

    if (registerAutorun)
        options.General.RunProgramAtLogon = SetAutorun(true, autostart);
    else
        options.General.RunProgramAtLogon = autostart.IsAutostartOn();
    options.ExcludedDirs = LoadExcludedDirectories(sources.ExcludedDirectoriesFile, sources.Environment);
}

QString ExpandExcludedDirectory(const QString& line, const QProcessEnvironment& environment) {
    if (!line.startsWith(u'%'))
        return line;
    const qsizetype end = line.indexOf(u'%', 1);
    if (end < 0)
        return line;
    const QString name = line.mid(1, end - 1);
    const QString value = name.isEmpty() ? QString() : environment.value(name);
    if (value.isEmpty())
        return line;
    // File names are case-sensitive here: the line keeps its letter case, or the expanded folder
    // would name a different (usually missing) folder and nothing would be excluded.
    return value + line.mid(end + 1);
}

QStringList LoadExcludedDirectories(const QString& path, const QProcessEnvironment& environment) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = file.readAll();
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QStringList folders;
    for (QString line : QString::fromUtf8(data).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        folders.append(ExpandExcludedDirectory(line, environment));
    }
    return folders;
}
