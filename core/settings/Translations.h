#pragma once

#include "core/settings/TOptions.h"

#include <QList>
#include <QString>

// "transl.dt": UTF-8 text, one entry per line. Line 0 holds the number of languages N; then come
// the rows of the table, each as N consecutive lines (language 1 first): the display names, the
// two-letter codes, then one row per text. Surplus lines are ignored.
//
// Reads the file into table. False with errorText (untranslated: the table is not there yet)
// when the file is missing, its first line is not a positive number, or it holds fewer lines
// than the names and codes rows need; the table is then empty.
bool LoadTranslationTable(const QString& path, TTranslationTable& table, QString* errorText);

// The column of a language code in the table; 0 (the source language) when it is not there.
int LanguageIndex(const TTranslationTable& table, const QString& code);

// The start-up step: loads the table into the language options and chooses iLanguage from
// LanguageOfInterface. A failure adds "ERROR: " + the reason to the events log and leaves the
// interface untranslated (iLanguage 0).
bool LoadTranslations(TLanguageOptions& language, const QString& path);

// The Language menu: one item per column, the current one checked.
struct TLanguageMenuItem {
    QString Name;
    QString Code;
    bool Checked = false;
};
QList<TLanguageMenuItem> LanguageMenuItems(const TLanguageOptions& language);
// Chooses a column: iLanguage and LanguageOfInterface follow it. False for a column that does
// not exist. The caller saves the options and translates its captions again.
bool SelectLanguage(TLanguageOptions& language, int column);

// The text of the "Add Language..." information box, translated.
QString AddLanguageInfoText();
