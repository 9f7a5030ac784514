#pragma once

#include <QList>
#include <QString>

class TJob;

// What the View Log and View History actions and the log menu of an idle job open. Interface
// thread; pathForLogFiles is the program's option.
struct TLogFileLookup {
    enum TResult {
        Open,    // Path exists: open it in the log viewer
        Missing, // show MessageText ("Log file does not exist:" + " " + path)
        Refused, // the job is not idle, or the file could not be written: show MessageText
    };
    TResult Result = Missing;
    QString Path;
    QString MessageText;
};

// View Log: the last entry of LogList.
TLogFileLookup LastLogFile(const TJob& job, const QString& pathForLogFiles);

// The log menu: at most the 30 most recent stored logs, oldest of them first; a caption is the
// stamp with every ";" shown as ":".
struct TLogMenuEntry {
    QString Caption;
    QString Stamp;
};
constexpr int MaxLogMenuEntries = 30;
QList<TLogMenuEntry> LogMenuEntries(const TJob& job);
// The file of a chosen menu caption (":" back to ";").
TLogFileLookup LogFileForMenuCaption(const TJob& job, const QString& pathForLogFiles, const QString& caption);

// View History: exports the history and names the file to open.
TLogFileLookup HistoryFile(const TJob& job, const QString& pathForLogFiles);

// "Unable to complete the action at the moment. Please try again in several seconds."
QString JobNotIdleText();
