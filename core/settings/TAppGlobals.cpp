#include "core/settings/TAppGlobals.h"

#include "core/base/TextFormat.h"

TAppGlobals& App() {
    static TAppGlobals globals;
    return globals;
}

QString TranslateWith(const TTranslationTable& table, int language, const QString& text) {
    if (language <= 0 || App().IsQuitting.load())
        return text;
    for (qsizetype row = 2; row < table.Rows.size(); ++row) {
        const QStringList& entries = table.Rows.at(row);
        if (!entries.isEmpty() && entries.first() == text) {
            if (language < entries.size() && !entries.at(language).isEmpty())
                return entries.at(language);
            return text;
        }
    }
    return text;
}

QString TranslateText(const QString& text) {
    const TLanguageOptions& language = App().Options.Language;
    return TranslateWith(language.Translations, language.iLanguage, text);
}

void AddToEventsLog(const QString& text) {
    App().EventsLog.AddToEventsLog(TranslateText(text));
}

void AddToEventsLog(const QString& format, std::initializer_list<QString> values) {
    App().EventsLog.AddToEventsLog(FormatText(TranslateText(format), values));
}
