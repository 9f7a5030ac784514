#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <initializer_list>

// Fills the "%s" and "%d" placeholders of a (translated) message in order; "%%" gives "%".
// Messages are translated with their placeholders and filled afterwards.
QString FormatText(const QString& format, std::initializer_list<QString> values);

// Date and time texts of logs and histories.
QString LongTimeText(const QDateTime& moment); // "hh:mm:ss"
QString DateTimeText(const QDateTime& moment); // short date + long time
QString LogFileStamp(const QDateTime& moment); // "yyyy-mm-dd hh;nn;ss"

// A byte count as text in KB, MB, GB or TB with at most two decimals ("###0.##", the locale's
// decimal separator), as logs, reports and progress show sizes.
QString FormatSize(int64_t bytes);

// The text with control characters (C0, DEL, C1, the Unicode line and paragraph separators) shown
// as "\xNN" and a backslash as "\\", for names from outside (a destination) printed on a
// terminal: an escape sequence or a line break in a name cannot act or fake a line.
QString EscapeControlCharacters(const QString& text);
