#pragma once

#include "core/settings/TOptions.h"

#include <QString>

#include <cstdint>

// The options file "options.vlo" in the application directory: the primitive encoding inside the
// file envelope. Versions 1 to 8 are read; version 8 is written.
constexpr int32_t OptionsFormatVersion = 8;

QString OptionsFilePath(); // ApplicationDirectory + "/options.vlo"

// False when the file does not exist. A file that cannot be opened adds "Error loading options.
// Code: 2" to the events log, one that cannot be decoded "Code: 1"; the result is then false and
// the fields read before the failure keep their new values. iLanguage and the translation table
// are not stored and stay as they are.
bool LoadOptions(const QString& path, TOptions& options);
// Replaces the file atomically, readable by the owner only (it holds passwords). False on any
// failure.
bool SaveOptions(const QString& path, const TOptions& options);

// The program's own options and file.
bool LoadOptions();
bool SaveOptions();
