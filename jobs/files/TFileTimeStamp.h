#pragma once

#include <QHash>
#include <QString>

#include <ctime>

// Formats a file's last-write time as the run compares it: local time, "yyyy-mm-dd hh:nn:ss:zzz"
// (milliseconds). A run formats hundreds of thousands of stamps, so the local-time offset is
// looked up once per quarter hour of file times, not once per file.
class TFileTimeStamp {
public:
    QString Format(const timespec& modified);

private:
    long OffsetFor(time_t seconds);

    QHash<qint64, long> m_offsets; // quarter hour (UTC) -> seconds east of UTC
};
