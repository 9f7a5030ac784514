#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// Builds the plain image of the program's binary files: little-endian integers, one-byte
// Booleans, doubles for date-times, texts as a 32-bit count of UTF-16 units plus UTF-16LE.
class TPrimitiveWriter {
public:
    void WriteInt32(int32_t value);
    void WriteInt64(int64_t value);
    void WriteByte(uint8_t value);
    void WriteBoolean(bool value) { WriteByte(value ? 1 : 0); }
    void WriteDouble(double value);
    void WriteText(const QString& text);
    void WriteStringList(const QStringList& list);

    const QByteArray& Data() const { return m_data; }

private:
    QByteArray m_data;
};
