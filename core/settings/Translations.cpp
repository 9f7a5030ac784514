#include "core/settings/Translations.h"

#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"

#include <QFile>

namespace {

// Splits on CR LF, LF or CR; a line break at the very end does not start another line.
QStringList SplitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\n' && c != u'\r')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

} // namespace

bool LoadTranslationTable(const QString& path, TTranslationTable& table, QString* errorText) {
    table = TTranslationTable();
    auto fail = [&](const QString& reason) {
        if (errorText)
            *errorText = reason;
        return false;
    };
    QFile file(path);
    if (!file.exists())
        return fail(QStringLiteral("Cannot find translation file:") + path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Unable to read translation file:") + u' ' + path);
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("Unable to read translation file:") + u' ' + path);
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QStringList lines = SplitLines(QString::fromUtf8(data));
    bool ok = false;
    const int languages = lines.isEmpty() ? 0 : lines.first().trimmed().toInt(&ok);
    if (!ok || languages <= 0)
        return fail(QStringLiteral("Invalid number of languages in translation file:") + u' ' + path);
    // The count is checked against the lines there are before anything is built: a first line
    // announcing more languages than the file holds must not leave a table without codes.
    const qsizetype rows = (lines.size() - 1) / languages;
    if (rows < 2)
        return fail(QStringLiteral("Translation file is incomplete:") + u' ' + path);
    table.Rows.reserve(rows);
    for (qsizetype row = 0; row < rows; ++row)
        table.Rows.append(lines.mid(1 + row * languages, languages));
    return true;
}

int LanguageIndex(const TTranslationTable& table, const QString& code) {
    if (table.Rows.size() < 2)
        return 0;
    const qsizetype index = table.Rows.at(1).indexOf(code);
    return index < 0 ? 0 : int(index);
}

bool LoadTranslations(TLanguageOptions& language, const QString& path) {
    QString error;
    const bool loaded = LoadTranslationTable(path, language.Translations, &error);
    if (!loaded) {
        language.iLanguage = 0;
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("ERROR:")) + u' ' + error);
        return false;
    }
    language.iLanguage = LanguageIndex(language.Translations, language.LanguageOfInterface);
    return true;
}

QList<TLanguageMenuItem> LanguageMenuItems(const TLanguageOptions& language) {
    QList<TLanguageMenuItem> items;
    const TTranslationTable& table = language.Translations;
    if (table.Rows.size() < 2)
        return items;
    for (int column = 0; column < table.LanguageCount(); ++column)
        items.append({table.Rows.at(0).value(column), table.Rows.at(1).value(column), column == language.iLanguage});
    return items;
}

bool SelectLanguage(TLanguageOptions& language, int column) {
    const TTranslationTable& table = language.Translations;
    if (table.Rows.size() < 2 || column < 0 || column >= table.LanguageCount())
        return false;
    language.iLanguage = column;
    language.LanguageOfInterface = table.Rows.at(1).at(column);
    return true;
}

QString AddLanguageInfoText() {
    const QString title = QString::fromUtf16(TAppGlobals::ApplicationTitle);
    const QString paragraphs[] = {
        FormatText(TranslateText(QStringLiteral("Do you want to help us to translate %s to your language?")), {title}),
        TranslateText(QStringLiteral("Please find the file ~transl.dt in the installation folder. Open it with a text "
                                     "editor, and fill the empty lines with translated strings.")),
        TranslateText(QStringLiteral("Replace the line [NEW_LANGUAGE_NAME]  with the name of your language, for "
                                     "example: Français")),
        TranslateText(QStringLiteral("Replace the line [NEW_LANGUAGE_CODE]  with the two-character language code, for "
                                     "example: fr")) +
            u'\n' +
            TranslateText(QStringLiteral(
                "The following language codes are currently supported: en (English), de (German), es (Spanish), it "
                "(Italian), fr (French), pt (Portuguese), nl (Dutch), tr (Turkish), pl (Polish), ar (Arabic), cn "
                "(Chinese), jp (Japanese), kr (Korean).")),
        TranslateText(QStringLiteral("Save the file as transl.dt by rewriting the existing file (UTF-8 encoding).")),
        FormatText(TranslateText(QStringLiteral("Restart %s, and select newly added language in menu -> Tools -> "
                                                "Language.")),
                   {title}),
        TranslateText(QStringLiteral("Send us the transl.dt if you want to see your translation in the next version of "
                                     "the software. We would love that!")) +
            u'\n' + TranslateText(QStringLiteral("THANK YOU!")),
    };
    QString text;
    for (const QString& paragraph : paragraphs) {
        if (!text.isEmpty())
            text += QStringLiteral("\n\n");
        text += paragraph;
    }
    return text;
}
