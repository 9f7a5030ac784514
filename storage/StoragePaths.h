#pragma once

#include <QString>

// Path texts of the storage operations. Local, FTP and cloud paths all use "/" here.

// a joined with b: b appended to a with exactly one "/" between them; a alone when b is empty.
QString JoinPath(const QString& a, const QString& b);
// The extended-length form of a local path. Linux has no such prefix: the path itself.
QString ToLongPath(const QString& path);
// The part after the last "/" (the whole text when there is none).
QString LastPathComponent(const QString& path);
// The part up to and including the last "/" (empty when there is none).
QString FolderPart(const QString& path);
// Line breaks removed, so that a failure's message fits one log line.
QString WithoutLineBreaks(const QString& text);
// The program's own bookkeeping files (stored job files and list files), which the option
// DontLogCopyingInternalFiles keeps out of the copy lines of the log.
bool IsInternalFile(const QString& path, const QString& remoteJobFileExtension);
// True only when the local path is certainly not there (ENOENT or ENOTDIR from lstat); any other
// failure is left for the operation itself to report with its real reason. Any length works.
bool LocalPathIsMissing(const QString& path);
