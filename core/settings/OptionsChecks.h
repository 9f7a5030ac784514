#pragma once

#include "core/settings/TOptions.h"

#include <QString>

// The checks of the Options dialog's OK button on the edited record, in order. Returns the
// translated text of the first failure for the error box, or an empty text when the record may
// be taken.
QString CheckOptionsForOK(const TOptions& edited);

// The password dialog: both entries must be equal after trimming blanks. Returns the error text
// ("Passwords do not match."), or an empty text with the trimmed password in accepted (empty
// clears the stored password).
QString CheckPasswordPair(const QString& password, const QString& confirmation, QString* accepted);

// The configuration password asked for before the main window shows: the trimmed input against
// the configured password.
bool ConfigurationPasswordMatches(const TOptions& options, const QString& input);

// The caption of the internal-files check box, naming the stored job files and the list files.
QString DontLogInternalFilesCaption();
