#pragma once

#include <QDateTime>

// OLE automation dates: days since 30 December 1899 (local wall-clock time), the fraction being
// the time of day. Zero means "never".
namespace OleDate {

double FromDateTime(const QDateTime& dateTime);
// The date plus a time of day given in milliseconds after midnight, as wall-clock arithmetic:
// no time zone is consulted, so a time that a daylight-saving change skips still has a value.
double FromDateAndTime(const QDate& date, int msecsSinceStartOfDay);
QDateTime ToDateTime(double oleDate);
double Now();

} // namespace OleDate
