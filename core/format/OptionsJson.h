#pragma once

#include "core/settings/TOptions.h"

#include <QJsonObject>

// The options record as "vaultora-cli options --json" shows it: the record's group and field
// names, passwords replaced by "<field>IsSet" Booleans. The translation table is not an option
// of the file and is left out; the language shows its code and column.
QJsonObject OptionsToJson(const TOptions& options);
