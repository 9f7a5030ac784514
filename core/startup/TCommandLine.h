#pragma once

#include <QString>
#include <QStringList>

// The program's command line. Switches are recognised anywhere, as "/" or "-" followed by the
// word, ignoring letter case; the job name of "backup", "restore" and "remove" is always the
// second argument, and the first argument may name a stored job file to open. "--data-dir DIR"
// (or "--data-dir=DIR") chooses the data folder and is removed before the rest is read.
class TCommandLine {
public:
    // arguments: without the program name. False with errorText set for a malformed line.
    bool Parse(const QStringList& arguments, QString* errorText = nullptr);

    bool Backup = false;
    bool Restore = false;
    bool Remove = false;
    bool Admin = false;
    bool Hide = false;
    QString JobName;       // the second argument, matched exactly against job names
    QString FirstArgument; // may be a stored job file
    QString DataDirectory; // empty when not given
    QStringList Arguments; // what is left after --data-dir

    // Started with one of the elevation switches "backup", "restore", "remove", "admin".
    bool IsElevatedInstance() const { return Backup || Restore || Remove || Admin; }
    // The first argument when its extension equals remoteJobFileExtension, else empty.
    QString JobFileToOpen(const QString& remoteJobFileExtension) const;
    // The job file a second process hands to the running instance, as an absolute path (the
    // running instance has another working folder); empty when it only asks to be shown.
    QString JobFileToHandOver(const QString& remoteJobFileExtension, const QString& workingDirectory) const;

    // The extension of a path's file name from its last dot ("" when there is none).
    static QString FileExtension(const QString& path);
};
