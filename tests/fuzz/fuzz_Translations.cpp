// libFuzzer harness for the translation table "transl.dt": the input is the file, loaded with
// LoadTranslations as at start-up (the interface language chosen by its code), then used as the
// program uses it: the Language menu, choosing each column, looking texts up.

#include "tests/fuzz/FuzzSupport.h"

#include "core/settings/TAppGlobals.h"
#include "core/settings/Translations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::TInputFile input("transl.dt");
    App().EventsLog.Clear();
    if (!input.Write(fuzz::Bytes(data, size)))
        return 0;
    TLanguageOptions language;
    language.LanguageOfInterface = QStringLiteral("de");
    if (!LoadTranslations(language, input.Path()))
        return 0;
    const TTranslationTable& table = language.Translations;
    const int columns = table.LanguageCount();
    fuzz::Require(table.Rows.size() >= 2 && columns > 0, "a loaded table lacks its names and codes");
    for (const QStringList& row : table.Rows)
        fuzz::Require(row.size() == columns, "a row of the table has another number of columns");
    fuzz::Require(language.iLanguage >= 0 && language.iLanguage < columns, "the chosen column is not in the table");
    const QList<TLanguageMenuItem> items = LanguageMenuItems(language);
    fuzz::Require(items.size() == columns, "the Language menu does not show every column");
    for (int column = 0; column < columns; ++column) {
        fuzz::Require(SelectLanguage(language, column), "a column of the table cannot be chosen");
        for (qsizetype row = 2; row < table.Rows.size() && row < 64; ++row)
            TranslateWith(table, column, table.Rows.at(row).first());
        TranslateWith(table, column, QStringLiteral("Backup is cancelled."));
    }
    fuzz::Require(!SelectLanguage(language, columns), "a column past the table can be chosen");
    return 0;
}
