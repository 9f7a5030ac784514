#pragma once

#include <QByteArray>
#include <QString>

// Reads the five cloud application credentials from "mcs.dt" into App(): the user's own file in
// the data folder (ApplicationDirectory) when there is one, else the one shipped with the program
// (ProgramDataDirectory). A missing file leaves them empty, a damaged one adds a line to the
// events log.
void LoadCloudAppCredentials();

// The image of an "mcs.dt" holding these credentials (before enciphering).
QByteArray CloudAppCredentialsImage(const QString& dropboxId, const QString& dropboxSecret, const QString& googleId,
                                    const QString& googleSecret, const QString& oneDriveId);
