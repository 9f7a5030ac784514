#pragma once

#include <QDateTime>

// OLE automation dates: days since 30 December 1899 (local wall-clock time), the fraction being
// the time of day. Zero means "never".
namespace OleDate {

double FromDateTime(const QDateTime& dateTime);
QDateTime ToDateTime(double oleDate);
double Now();

} // namespace OleDate
