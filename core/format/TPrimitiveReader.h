#pragma once

// Room core/format/: the file formats (primitive encoding, cipher and envelope, options file, cloud
// credentials). May use core/base and core/settings.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>

// Thrown by TPrimitiveReader when the data ends early or a count cannot fit in what is left.
// Loaders catch it at their boundary; fields read before the failure keep their values.
class TDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the primitive encoding written by TPrimitiveWriter. Every length and count is checked
// against the bytes that are left before anything is allocated, so a damaged or hostile file
// fails cleanly instead of exhausting memory.
class TPrimitiveReader {
public:
    explicit TPrimitiveReader(const QByteArray& data)
        : m_data(data) {}

    int32_t ReadInt32();
    int64_t ReadInt64();
    uint8_t ReadByte();
    bool ReadBoolean() { return ReadByte() != 0; }
    double ReadDouble();
    QString ReadText();
    QStringList ReadStringList();
    // A list's count, checked as ReadStringList checks it.
    int32_t ReadListCount();
    // Skips a text, checked as ReadText checks it; returns where its UTF-16LE units begin in the
    // data and sets units to their count. Long lists are read this way without a copy per text.
    qsizetype SkipText(int32_t& units);

    qsizetype Remaining() const { return m_data.size() - m_pos; }
    bool AtEnd() const { return m_pos >= m_data.size(); }

private:
    const char* Take(qsizetype count);

    const QByteArray& m_data;
    qsizetype m_pos = 0;
};
