#include "core/base/OleDate.h"

#include <cmath>

namespace OleDate {

namespace {
constexpr qint64 MSecsPerDay = 86'400'000;
const QDate Epoch(1899, 12, 30);
} // namespace

double FromDateTime(const QDateTime& dateTime) {
    if (!dateTime.isValid())
        return 0;
    const QDateTime local = dateTime.toLocalTime();
    return FromDateAndTime(local.date(), local.time().msecsSinceStartOfDay());
}

double FromDateAndTime(const QDate& date, int msecsSinceStartOfDay) {
    const qint64 days = Epoch.daysTo(date);
    const double fraction = double(msecsSinceStartOfDay) / double(MSecsPerDay);
    return double(days) + fraction;
}

QDateTime ToDateTime(double oleDate) {
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > 3.0e6)
        return {};
    double whole = std::floor(oleDate);
    qint64 msecs = std::llround((oleDate - whole) * double(MSecsPerDay));
    if (msecs >= MSecsPerDay) {
        whole += 1;
        msecs -= MSecsPerDay;
    }
    return QDateTime(Epoch.addDays(qint64(whole)), QTime::fromMSecsSinceStartOfDay(int(msecs)));
}

double Now() {
    return FromDateTime(QDateTime::currentDateTime());
}

} // namespace OleDate
