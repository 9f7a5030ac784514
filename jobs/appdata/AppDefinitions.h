#pragma once

// The application definitions: plain-text "*.adp" files, one per category, each a list of blocks
// that name an application and the folders, files and settings keys that hold its data.

#include "jobs/appdata/TJob_AppsData.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One application definition. The same record travels in the stored job file, where its name
// field is called Name; AppName is that field.
using TAppData = TAppRecord;

// The longest definition file read; a longer one is an error of the load (definitions are a few
// kilobytes, and the whole file is held in memory).
inline constexpr qsizetype MaxDefinitionFileSize = 4 << 20;

// Decodes one definition file and applies the block rules: a block starts with a name line (the
// first line, or the line after an empty line, even an empty one), lines beginning with "HKEY_"
// are settings keys, other lines folder entries, and an empty line ends the block. The bytes are
// UTF-8 or UTF-16 when a byte-order mark says so, else in the locale's encoding; lines end with
// CR LF, LF or CR and are taken exactly as read. An odd last byte of UTF-16 is dropped.
QList<TAppData> ParseDefinitionFile(const QByteArray& bytes, const QString& category);

// Reads every "*.adp" of folder (by name order) into list, appending. False when any entry could
// not be read (a folder named like a definition file, an unreadable or oversized file: what was
// read before stays in list) or when no definition was read at all.
bool LoadDefinitionsFrom(const QString& folder, QList<TAppData>& list);

// The process-wide definition list, shared by the runs and the windows.
namespace AppDefinitions {
// The definitions' folder: "AppDataBackupPaths" in the program's data folder.
QString Folder();
// Rebuilds the list from Folder() (or from folder when given); sets and returns the loaded flag.
bool Load(const QString& folder = QString());
bool Loaded();
// A copy of the list (safe to keep while another thread reloads it).
QList<TAppData> List();
// The first definition named name (case-sensitive); false when there is none.
bool Find(const QString& name, TAppData& out);
} // namespace AppDefinitions
