#include "core/format/CloudAppCredentials.h"

#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/settings/TAppGlobals.h"

void LoadCloudAppCredentials() {
    TAppGlobals& app = App();
    const QString path = app.ProgramDataDirectory + QStringLiteral("/mcs.dt");
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
