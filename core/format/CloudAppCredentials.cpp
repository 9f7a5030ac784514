#include "core/format/CloudAppCredentials.h"

#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"
#include "core/settings/TAppGlobals.h"

#include <QFileInfo>

void LoadCloudAppCredentials() {
    TAppGlobals& app = App();
    // A user's own keys in the data folder come before the ones shipped with the program.
    QString path = app.ApplicationDirectory + QStringLiteral("/mcs.dt");
    if (app.ApplicationDirectory.isEmpty() || !QFileInfo::exists(path))
        path = app.ProgramDataDirectory + QStringLiteral("/mcs.dt");
    QByteArray plain;
    switch (ReadEncipheredFile(path, plain)) {
    case TEncipheredReadResult::Missing:
        return;
    case TEncipheredReadResult::OpenFailed:
        AddToEventsLog(QStringLiteral("Error loading %s. Code: 2"), QStringLiteral("mcs.dt"));
        return;
    case TEncipheredReadResult::Ok:
        break;
    }
    try {
        TPrimitiveReader reader(plain);
        app.DropboxClientId = reader.ReadText();
        app.DropboxClientSecret = reader.ReadText();
        app.GoogleClientId = reader.ReadText();
        app.GoogleClientSecret = reader.ReadText();
        app.OneDriveClientId = reader.ReadText();
        for (int unused = 0; unused < 3; ++unused)
            reader.ReadText();
    } catch (const TDecodeError&) {
        AddToEventsLog(QStringLiteral("Error loading %s. Code: 1"), QStringLiteral("mcs.dt"));
    }
}

QByteArray CloudAppCredentialsImage(const QString& dropboxId, const QString& dropboxSecret, const QString& googleId,
                                    const QString& googleSecret, const QString& oneDriveId) {
    TPrimitiveWriter writer;
    for (const QString& text : {dropboxId, dropboxSecret, googleId, googleSecret, oneDriveId})
        writer.WriteText(text);
    // Three texts the reader skips, kept for the file's layout.
    for (int unused = 0; unused < 3; ++unused)
        writer.WriteText(QString());
    return writer.Data();
}
