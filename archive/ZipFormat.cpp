#include "archive/ZipFormat.h"

#include <QStringDecoder>
#include <QStringList>

#include <ctime>

namespace ZipFormat {

TDosTime ToDosTime(int64_t unixSeconds) {
    // Round up to the next even second so that a restored file is never older than its source.
    const time_t t = time_t(unixSeconds + (unixSeconds & 1));
    struct tm local {};
    TDosTime dos;
    if (!localtime_r(&t, &local) || local.tm_year < 80) {
        dos.Date = (1 << 5) | 1; // 1980-01-01 00:00:00
        return dos;
    }
    if (local.tm_year > 207) {
        dos.Date = uint16_t((127 << 9) | (12 << 5) | 31);
        dos.Time = uint16_t((23 << 11) | (59 << 5) | 29);
        return dos;
    }
    dos.Date = uint16_t(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    dos.Time = uint16_t((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    return dos;
}

int64_t FromDosTime(uint16_t time, uint16_t date) {
    struct tm local {};
    local.tm_year = ((date >> 9) & 0x7f) + 80;
    local.tm_mon = std::max(((date >> 5) & 0x0f) - 1, 0);
    local.tm_mday = std::max(date & 0x1f, 1);
    local.tm_hour = (time >> 11) & 0x1f;
    local.tm_min = (time >> 5) & 0x3f;
    local.tm_sec = (time & 0x1f) * 2;
    local.tm_isdst = -1;
    return int64_t(mktime(&local));
}

QString DecodeCp437(const QByteArray& bytes) {
    static const char16_t high[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
        0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
        0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
        0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
        0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
        0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
        0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
        0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
        0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
        0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        text.append(u < 0x80 ? QChar(char16_t(u)) : QChar(high[u - 0x80]));
    }
    return text;
}

bool IsValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

bool SplitEntryName(const QString& name, QStringList* components) {
    components->clear();
    if (name.isEmpty() || name.startsWith(u'/') || name.contains(QChar(u'\0')))
        return false;
    const QStringList parts = name.split(u'/');
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QStringLiteral("."))
            continue;
        if (part == QStringLiteral(".."))
            return false;
        components->append(part);
    }
    return true;
}

} // namespace ZipFormat
