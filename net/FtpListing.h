#pragma once

#include "net/TFtpConnection.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// Parsers of what FTP servers send on the data channel. They take the raw bytes of a whole
// listing, never trust a count or a length in it, and drop lines they cannot read (and names
// that could not be sent back in a command: empty, ".", "..", or holding CR, LF or NUL).
namespace FtpListing {

// MLSD lines ("type=file;size=12;modify=20240101120000; name").
QList<TFtpEntry> ParseMlsd(const QByteArray& data);
// LIST lines in the Unix ("-rw-r--r-- 1 u g 12 Jan  1 12:00 name") or DOS
// ("01-01-24  12:00PM  <DIR>  name") format; now is the reference for Unix dates without a year.
QList<TFtpEntry> ParseList(const QByteArray& data, const QDateTime& now = QDateTime::currentDateTimeUtc());
// NLST: one name a line; a path is cut to its last part.
QStringList ParseNameList(const QByteArray& data);
// False for a name no command may carry.
bool IsUsableName(const QString& name);

} // namespace FtpListing
