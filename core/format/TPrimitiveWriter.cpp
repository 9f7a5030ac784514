#include "core/format/TPrimitiveWriter.h"

#include <QtEndian>

#include <cstring>

void TPrimitiveWriter::WriteInt32(int32_t value) {
    char bytes[4];
    qToLittleEndian<int32_t>(value, bytes);
    m_data.append(bytes, 4);
}

void TPrimitiveWriter::WriteInt64(int64_t value) {
    char bytes[8];
    qToLittleEndian<int64_t>(value, bytes);
    m_data.append(bytes, 8);
}

void TPrimitiveWriter::WriteByte(uint8_t value) {
    m_data.append(char(value));
}

void TPrimitiveWriter::WriteDouble(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    WriteInt64(int64_t(bits));
}

void TPrimitiveWriter::WriteText(const QString& text) {
    WriteInt32(int32_t(text.size()));
    const qsizetype offset = m_data.size();
    m_data.resize(offset + text.size() * 2);
    char* out = m_data.data() + offset;
    for (QChar unit : text) {
        qToLittleEndian<uint16_t>(unit.unicode(), out);
        out += 2;
    }
}

void TPrimitiveWriter::WriteStringList(const QStringList& list) {
    WriteInt32(int32_t(list.size()));
    for (const QString& text : list)
        WriteText(text);
}
