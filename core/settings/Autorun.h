#pragma once

#include <QString>

class TAutostart;

// Turns the logon autostart entry on or off. False when its folder cannot be reached; when the
// entry itself cannot be written or removed, also "Error writing to the autostart file. Make sure
// you have the rights." in the events log.
bool SetAutorun(bool on, TAutostart& autostart);

// The error box after the Options dialog could not change the autorun option.
QString AutorunChangeFailedText(const TAutostart& autostart);
