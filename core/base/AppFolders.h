#pragma once

#include <QString>

// The default data folder (ApplicationDirectory): the XDG data folder + "/Vaultora".
QString DefaultApplicationDirectory();
// Where the files shipped with the program lie (transl.dt, ~transl.dt, mcs.dt,
// excluded-directories.txt): the executable's folder when transl.dt is there (build tree), else
// <prefix>/share/vaultora.
QString DefaultProgramDataDirectory();

// A legacy jobs list "jobs.vll" in the data folder switches the jobs-list name and the extension
// of stored job files to the legacy pair together.
bool UsesLegacyJobFileNames(const QString& applicationDirectory);
QString JobsListFileNameFor(const QString& applicationDirectory);       // "jobslist.vll" or "jobs.vll"
QString RemoteJobFileExtensionFor(const QString& applicationDirectory); // ".vlj" or ".vlk"
