#include "core/format/TPrimitiveReader.h"

#include <QtEndian>

#include <cstring>

const char* TPrimitiveReader::Take(qsizetype count) {
    if (count < 0 || count > Remaining())
        throw TDecodeError("unexpected end of data");
    const char* at = m_data.constData() + m_pos;
    m_pos += count;
    return at;
}

int32_t TPrimitiveReader::ReadInt32() {
    return qFromLittleEndian<int32_t>(Take(4));
}

int64_t TPrimitiveReader::ReadInt64() {
    return qFromLittleEndian<int64_t>(Take(8));
}

uint8_t TPrimitiveReader::ReadByte() {
    return uint8_t(*Take(1));
}

double TPrimitiveReader::ReadDouble() {
    const uint64_t bits = uint64_t(ReadInt64());
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

QString TPrimitiveReader::ReadText() {
    const int32_t units = ReadInt32();
    if (units < 0 || qsizetype(units) * 2 > Remaining())
        throw TDecodeError("text length runs past the end of data");
    const char* bytes = Take(qsizetype(units) * 2);
    QString text(units, Qt::Uninitialized);
    QChar* out = text.data();
    for (int32_t i = 0; i < units; ++i)
        out[i] = QChar(qFromLittleEndian<uint16_t>(bytes + 2 * i));
    return text;
}

int32_t TPrimitiveReader::ReadListCount() {
    const int32_t count = ReadInt32();
    // Every text takes at least its 4-byte length.
    if (count < 0 || qsizetype(count) * 4 > Remaining())
        throw TDecodeError("list count runs past the end of data");
    return count;
}

qsizetype TPrimitiveReader::SkipText(int32_t& units) {
    units = ReadInt32();
    if (units < 0 || qsizetype(units) * 2 > Remaining())
        throw TDecodeError("text length runs past the end of data");
    const qsizetype at = m_pos;
    Take(qsizetype(units) * 2);
    return at;
}

QStringList TPrimitiveReader::ReadStringList() {
    const int32_t count = ReadListCount();
    QStringList list;
    list.reserve(count);
    for (int32_t i = 0; i < count; ++i)
        list.append(ReadText());
    return list;
}
