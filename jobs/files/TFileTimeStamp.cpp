#include "jobs/files/TFileTimeStamp.h"

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(qint64 days, int& year, int& month, int& day) {
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 mp = (5 * dayOfYear + 2) / 153;
    day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

inline void Put(char16_t*& out, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = char16_t(u'0' + value % 10);
        value /= 10;
    }
    out += digits;
}

} // namespace

long TFileTimeStamp::OffsetFor(time_t seconds) {
    const qint64 bucket = qint64(seconds) / 900;
    if (bucket == m_lastBucket && bucket >= 0)
        return m_lastOffset;
    m_lastBucket = bucket;
    const auto found = m_offsets.constFind(bucket);
    if (found != m_offsets.cend())
        return m_lastOffset = found.value();
    struct tm local;
    const time_t probe = time_t(bucket * 900);
    long offset = 0;
    if (localtime_r(&probe, &local))
        offset = local.tm_gmtoff;
    m_offsets.insert(bucket, offset);
    return m_lastOffset = offset;
}

QString TFileTimeStamp::Format(const timespec& modified) {
    QString text(Length, Qt::Uninitialized);
    FormatTo(modified, reinterpret_cast<char16_t*>(text.data()));
    return text;
}

void TFileTimeStamp::FormatTo(const timespec& modified, char16_t* out) {
    const qint64 local = qint64(modified.tv_sec) + OffsetFor(modified.tv_sec);
    qint64 days = local / 86400;
    qint64 secondOfDay = local % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    int year, month, day;
    CivilFromDays(days, year, month, day);
    Put(out, year, 4);
    *out++ = u'-';
    Put(out, month, 2);
    *out++ = u'-';
    Put(out, day, 2);
    *out++ = u' ';
    Put(out, int(secondOfDay / 3600), 2);
    *out++ = u':';
    Put(out, int(secondOfDay / 60 % 60), 2);
    *out++ = u':';
    Put(out, int(secondOfDay % 60), 2);
    *out++ = u':';
    Put(out, int(modified.tv_nsec / 1000000), 3);
}
