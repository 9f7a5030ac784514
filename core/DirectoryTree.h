#pragma once

#include <QString>

// Deletes a folder with everything below it. Works relative to directory descriptors, so trees
// deeper than PATH_MAX are removed too; symbolic links are removed, never followed. The first
// failure stops the walk; the result is false and errorText (when given) says why.
bool DeleteDirectoryTree(const QString& folder, QString* errorText = nullptr);
