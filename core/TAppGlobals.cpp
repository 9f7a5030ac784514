#include "core/TAppGlobals.h"

#include "core/FileCipher.h"
#include "core/TPrimitiveReader.h"
#include "core/TextFormat.h"

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

void LoadCloudAppCredentials() {
    TAppGlobals& app = App();
    const QString path = app.ProgramDataDirectory + QStringLiteral("/mcs.dt");
    QByteArray plain;
    switch (ReadEncipheredFile(path, plain)) {
    case TEncipheredReadResult::Missing:
        return;
    case TEncipheredReadResult::OpenFailed:
        AddToEventsLog(QStringLiteral("Error loading %s. Code: 2"), QStringLiteral("mcs.dt"));
        return;
    case TEncipheredReadResult::Ok:
        break;
    }
    try {
        TPrimitiveReader reader(plain);
        app.DropboxClientId = reader.ReadText();
        app.DropboxClientSecret = reader.ReadText();
        app.GoogleClientId = reader.ReadText();
        app.GoogleClientSecret = reader.ReadText();
        app.OneDriveClientId = reader.ReadText();
        for (int unused = 0; unused < 3; ++unused)
            reader.ReadText();
    } catch (const TDecodeError&) {
        AddToEventsLog(QStringLiteral("Error loading %s. Code: 1"), QStringLiteral("mcs.dt"));
    }
}
