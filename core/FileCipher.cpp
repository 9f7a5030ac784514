#include "core/FileCipher.h"

#include "core/AtomicFile.h"
#include "core/TAppGlobals.h"
#include "core/TPrimitiveReader.h"
#include "core/TPrimitiveWriter.h"

#include <QFile>

namespace {

// The 6-byte key constant 5C 2E 91 F4 47 9B: multiplier, increment and start key as
// little-endian 16-bit words.
constexpr uint16_t Multiplier = 0x2E5C;
constexpr uint16_t Increment = 0xF491;
constexpr uint16_t StartKey = 0x9B47;

inline uint16_t AdvanceKey(uint16_t key, uint8_t plain) {
    return uint16_t(uint16_t((plain + (key & 0xFF)) & 0xFF) * Multiplier + Increment);
}

} // namespace

bool EncipherBuffer(std::span<const uint8_t> input, std::span<uint8_t> output) {
    if (input.size() != output.size())
        return false;
    uint16_t key = StartKey;
    for (size_t i = 0; i < input.size(); ++i) {
        const uint8_t plain = input[i];
        output[i] = uint8_t(plain ^ (key >> 8));
        key = AdvanceKey(key, plain);
    }
    return true;
}

bool DecipherBuffer(std::span<const uint8_t> input, std::span<uint8_t> output) {
    if (input.size() != output.size())
        return false;
    uint16_t key = StartKey;
    for (size_t i = 0; i < input.size(); ++i) {
        const uint8_t plain = uint8_t(input[i] ^ (key >> 8));
        output[i] = plain;
        key = AdvanceKey(key, plain);
    }
    return true;
}

void InvertStreamBytes(std::span<uint8_t> buffer) {
    for (uint8_t& byte : buffer)
        byte = uint8_t(~byte);
}

namespace {
std::span<const uint8_t> Bytes(const QByteArray& data) {
    return {reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())};
}
std::span<uint8_t> Bytes(QByteArray& data) {
    return {reinterpret_cast<uint8_t*>(data.data()), size_t(data.size())};
}
} // namespace

QByteArray SealEnvelope(const QByteArray& plain) {
    QByteArray sealed(plain.size(), Qt::Uninitialized);
    EncipherBuffer(Bytes(plain), Bytes(sealed));
    InvertStreamBytes(Bytes(sealed));
    return sealed;
}

QByteArray OpenEnvelope(const QByteArray& sealed) {
    QByteArray inverted = sealed;
    InvertStreamBytes(Bytes(inverted));
    QByteArray plain(inverted.size(), Qt::Uninitialized);
    DecipherBuffer(Bytes(inverted), Bytes(plain));
    return plain;
}

TEncipheredReadResult ReadEncipheredFile(const QString& path, QByteArray& plain) {
    QFile file(path);
    if (!file.exists())
        return TEncipheredReadResult::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return TEncipheredReadResult::OpenFailed;
    const QByteArray sealed = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return TEncipheredReadResult::OpenFailed;
    plain = OpenEnvelope(sealed);
    return TEncipheredReadResult::Ok;
}

bool WriteEncipheredFile(const QString& path, const QByteArray& plain, QString* error) {
    return WriteFileAtomically(path, SealEnvelope(plain), 0600, error);
}

bool SaveEncipheredText(const QString& path, const QString& text) {
    TPrimitiveWriter writer;
    writer.WriteText(text);
    return WriteEncipheredFile(path, writer.Data());
}

QString LoadEncipheredText(const QString& path) {
    QByteArray plain;
    switch (ReadEncipheredFile(path, plain)) {
    case TEncipheredReadResult::Missing:
        return {};
    case TEncipheredReadResult::OpenFailed:
        AddToEventsLog(QStringLiteral("Error loading %s. Code: 2"), path);
        return {};
    case TEncipheredReadResult::Ok:
        break;
    }
    try {
        TPrimitiveReader reader(plain);
        return reader.ReadText();
    } catch (const TDecodeError&) {
        AddToEventsLog(QStringLiteral("Error loading %s. Code: 1"), path);
        return {};
    }
}
