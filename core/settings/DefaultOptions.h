#pragma once

#include "core/settings/TOptions.h"

#include <QLocale>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class TAutostart;

// What the defaults are made of on this desktop.
struct TDefaultOptionsSources {
    QString LanguageCode;            // from the desktop's interface language
    QString PathForTempFiles;        // the user's cache folder + "/VaultoraTmp"
    QString PathForLogFiles;         // the user's documents folder + "/Vaultora"
    QString ExcludedDirectoriesFile; // "excluded-directories.txt" beside the program
    QProcessEnvironment Environment; // expanded in that file
};

// The sources of this user and desktop; the shipped files are looked for in programDataDirectory.
TDefaultOptionsSources SystemDefaultOptionsSources(const QString& programDataDirectory);

// The two-letter code of a language as the translation table knows it; "en" for languages the
// program has no code for.
QString LanguageCodeFor(QLocale::Language language);
// The code of the desktop's interface language.
QString DesktopLanguageCode();

// Applies every default. The translation table is kept (it is not an option) and iLanguage is
// the column of the default language in it. With registerAutorun the autostart entry is turned
// on and RunProgramAtLogon becomes false when that fails; without it (vaultora-cli is no logon
// program) RunProgramAtLogon tells whether the entry exists.
void SetDefaultOptions(TOptions& options, const TDefaultOptionsSources& sources, TAutostart& autostart,
                       bool registerAutorun = true);

// "excluded-directories.txt": one folder per line. A line that starts with "%" names an
// environment variable up to the next "%"; when the variable has a value it replaces that
// "%NAME%". Lines without a variable, or whose variable is empty, stay as they are; blank lines
// are skipped. A missing file gives an empty list.
QStringList LoadExcludedDirectories(const QString& path, const QProcessEnvironment& environment);
QString ExpandExcludedDirectory(const QString& line, const QProcessEnvironment& environment);
