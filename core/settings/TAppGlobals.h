#pragma once

// Room core/settings/: the options record, the process-wide globals, events log and translations.
// May use core/base and platform/.

#include "core/settings/TEventsLog.h"
#include "core/settings/TOptions.h"

#include <QString>

#include <atomic>
#include <initializer_list>

// Process-wide values of the program. They are set by the interface thread at start-up; workers
// only read them (IsQuitting is atomic because the interface sets it while workers run).
struct TAppGlobals {
    static constexpr const char16_t* ApplicationTitle = u"Vaultora";

    QString ApplicationDirectory;
    QString JobsListFileName = QStringLiteral("jobslist.vll");
    QString RemoteJobFileExtension = QStringLiteral(".vlj");
    // Where the files shipped with the program lie (transl.dt, mcs.dt, excluded-directories.txt).
    QString ProgramDataDirectory;
    std::atomic<bool> IsQuitting{false};
    bool IsElevatedInstance = false;

    TOptions Options; // interface thread only; jobs use their own copy
    TEventsLog EventsLog;

    // Cloud application credentials read from "mcs.dt".
    QString DropboxClientId, DropboxClientSecret, GoogleClientId, GoogleClientSecret, OneDriveClientId;

    // Set by workers when a job's progress fields changed; the window repaints from them at
    // most every ~100 ms and clears the flag.
    std::atomic<bool> RepaintRequested{false};
};

TAppGlobals& App();

// Looks text up in a translation table: untranslated while quitting or at language 0, when no
// row's source text equals it, or when the row's entry is empty.
QString TranslateWith(const TTranslationTable& table, int language, const QString& text);
// The lookup on the program's own table.
QString TranslateText(const QString& text);

// Adds a line to the events log. The message is translated, then its placeholders are filled.
void AddToEventsLog(const QString& text);
void AddToEventsLog(const QString& format, std::initializer_list<QString> values);
inline void AddToEventsLog(const QString& format, const QString& value) {
    AddToEventsLog(format, {value});
}
