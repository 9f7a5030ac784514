#include "core/settings/Autorun.h"

#include "core/settings/TAppGlobals.h"
#include "platform/TAutostart.h"

bool SetAutorun(bool on, TAutostart& autostart) {
    switch (autostart.SetAutostart(on)) {
    case TAutostart::TResult::Done:
        return true;
    case TAutostart::TResult::CannotOpen:
        return false;
    case TAutostart::TResult::WriteFailed:
        AddToEventsLog(QStringLiteral("Error writing to the autostart file. Make sure you have the rights."));
        return false;
    }
    return false;
}

QString AutorunChangeFailedText(const TAutostart& autostart) {
    return TranslateText(QStringLiteral("Unable to change the autorun option. Make sure you have the rights to "
                                        "create/remove the files in the following folder:")) +
           QStringLiteral("\n\n") + autostart.Location();
}
