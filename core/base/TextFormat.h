#pragma once

#include <QDateTime>
#include <QString>

#include <initializer_list>

// Fills the "%s" and "%d" placeholders of a (translated) message in order; "%%" gives "%".
// Messages are translated with their placeholders and filled afterwards.
QString FormatText(const QString& format, std::initializer_list<QString> values);

// Date and time texts of logs and histories.
QString LongTimeText(const QDateTime& moment); // "hh:mm:ss"
QString DateTimeText(const QDateTime& moment); // short date + long time
QString LogFileStamp(const QDateTime& moment); // "yyyy-mm-dd hh;nn;ss"
