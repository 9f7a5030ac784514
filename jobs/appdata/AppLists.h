#pragma once

// The lists an application data backup keeps per entry ("_rf.vll" files, "_rft.vll" their stamps,
// "_rd.vll" folders) and the start flag: UTF-8 with a byte-order mark, one entry per line, CR LF
// after every line; an empty list is the mark alone (the format of the files kind's lists).

#include <QString>
#include <QStringList>

bool SaveAppList(const QString& path, const QStringList& lines, QString* error = nullptr);
// False when the file cannot be read. Accepts files without the mark and with LF ends.
bool LoadAppList(const QString& path, QStringList& lines);

// A file's last-write time as the lists keep it: local time, "yyyy-MM-dd hh:mm:ss:zzz".
QString AppFileStamp(const QString& path);

// Whether a list entry read from the storage is a relative path that stays inside the folder it
// is taken against: not empty, no leading "/", no empty, "." or ".." component.
bool IsContainedRelativePath(const QString& path);

// Whether an application name can be its folder at the destination: one path component.
bool IsUsableAppFolderName(const QString& name);
