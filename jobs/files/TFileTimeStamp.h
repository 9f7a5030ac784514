#pragma once

#include <QHash>
#include <QString>

#include <ctime>

// Formats a file's last-write time as the run compares it: local time, "yyyy-mm-dd hh:nn:ss:zzz"
// (milliseconds). A run formats hundreds of thousands of stamps, so the local-time offset is
// looked up once per quarter hour of file times, not once per file.
class TFileTimeStamp {
public:
    static constexpr qsizetype Length = 23;

    QString Format(const timespec& modified);
    // The same text into out (Length units), without an allocation.
    void FormatTo(const timespec& modified, char16_t* out);

private:
    long OffsetFor(time_t seconds);

    QHash<qint64, long> m_offsets; // quarter hour (UTC) -> seconds east of UTC
    // Files of one folder tend to share the quarter hour: the last answer is kept at hand.
    qint64 m_lastBucket = -1;
    long m_lastOffset = 0;
};
