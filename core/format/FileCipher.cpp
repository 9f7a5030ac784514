#include "core/format/FileCipher.h"

#include "core/base/AtomicFile.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"
#include "core/settings/TAppGlobals.h"

#include <QFile>

#include <thread>

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

// The key before byte i is x * Multiplier + Increment, where x is the low byte of the plain byte
// before it plus the key's low byte before that. The key's low byte is multiplied by an even
// constant (0x5C = 4 * 23) at every byte, so x depends on the last four plain bytes only:
// x[i] = q[i] + 0x5C q[i-1] + 0x10 q[i-2] + 0xC0 q[i-3] (mod 256) with q = plain + 0x91, from
// the fifth byte of a run on.
// With the plain text at hand, sealing therefore has no chain from byte to byte.
struct TKeyTables {
    uint8_t High[256]; // the key's high byte for each x
    constexpr TKeyTables()
        : High() {
        for (int x = 0; x < 256; ++x)
            High[x] = uint8_t(uint16_t(x * Multiplier + Increment) >> 8);
    }
};
constexpr TKeyTables KeyTables;

inline uint8_t XAfter(const uint8_t* plain) { // plain points at the last of four plain bytes
    constexpr uint8_t Low = uint8_t(Increment & 0xFF);
    return uint8_t(uint8_t(plain[0] + Low) + uint8_t(0x5C * uint8_t(plain[-1] + Low)) +
                   uint8_t(0x10 * uint8_t(plain[-2] + Low)) + uint8_t(0xC0 * uint8_t(plain[-3] + Low)));
}

// Enciphers and inverts in place from key; returns the key after the last byte.
uint16_t SealRun(uint8_t* data, size_t size, uint16_t key) {
    constexpr size_t Head = 5; // the keys before these still depend on the key carried in
    if (size <= Head) {
        for (size_t i = 0; i < size; ++i) {
            const uint8_t plain = data[i];
            data[i] = uint8_t(~(plain ^ (key >> 8)));
            key = AdvanceKey(key, plain);
        }
        return key;
    }
    const uint16_t last = uint16_t(XAfter(data + size - 1) * Multiplier + Increment);
    // Back to front, so that the plain bytes each key comes from are still there.
    for (size_t i = size - 1; i >= Head; --i)
        data[i] = uint8_t(~(data[i] ^ KeyTables.High[XAfter(data + i - 1)]));
    for (size_t i = 0; i < Head; ++i) {
        const uint8_t plain = data[i];
        data[i] = uint8_t(~(plain ^ (key >> 8)));
        key = AdvanceKey(key, plain);
    }
    return last;
}

// The key's low byte is multiplied by an even constant (0x5C = 4 * 23) at every byte, so after
// five plain bytes the key no longer depends on the key before them. A long run can therefore be
// split: each part after the first starts from the five plain bytes in front of it.
constexpr size_t KeySyncBytes = 5;
constexpr size_t ParallelSealThreshold = size_t(1) << 20;

uint16_t KeyAfterSync(const uint8_t* plainBefore) {
    uint16_t key = StartKey;
    for (size_t i = 0; i < KeySyncBytes; ++i)
        key = AdvanceKey(key, plainBefore[i]);
    return key;
}

} // namespace

uint16_t SealStreamBytes(std::span<uint8_t> data, uint16_t key) {
    if (data.size() < ParallelSealThreshold)
        return SealRun(data.data(), data.size(), key);
    // The second half's key is taken from the plain bytes before they are overwritten.
    const size_t half = data.size() / 2;
    const uint16_t secondKey = KeyAfterSync(data.data() + half - KeySyncBytes);
    std::thread first([&] { SealRun(data.data(), half, key); });
    const uint16_t last = SealRun(data.data() + half, data.size() - half, secondKey);
    first.join();
    return last;
}

uint16_t SealStartKey() {
    return StartKey;
}

namespace {

// Inverts and deciphers in place from key; returns the key after the last byte.
uint16_t OpenRun(uint8_t* data, size_t size, uint16_t key) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t plain = uint8_t(uint8_t(~data[i]) ^ (key >> 8));
        data[i] = plain;
        key = AdvanceKey(key, plain);
    }
    return key;
}

// The key OpenRun would end with, without writing.
uint16_t KeyAfterOpening(const uint8_t* data, size_t size, uint16_t key) {
    for (size_t i = 0; i < size; ++i)
        key = AdvanceKey(key, uint8_t(uint8_t(~data[i]) ^ (key >> 8)));
    return key;
}

} // namespace

void OpenEnvelopeInPlace(std::span<uint8_t> data, size_t syncBytes) {
    if (data.size() < ParallelSealThreshold || syncBytes == 0 || syncBytes >= data.size() / 2) {
        OpenRun(data.data(), data.size(), StartKey);
        return;
    }
    // Deciphering needs the key before each byte, and that key comes from the plain bytes before
    // it. But the keys of any two starts meet within a few hundred bytes of real data, so the
    // second half starts from the key a run over the syncBytes before it ends with, from any key.
    // The first half's real end key confirms that guess; where it differs, the second half is
    // sealed back with the guessed key and opened again with the real one.
    const size_t half = data.size() / 2;
    uint8_t* second = data.data() + half;
    const uint16_t guess = KeyAfterOpening(second - syncBytes, syncBytes, StartKey);
    uint16_t firstEnd = 0;
    std::thread first([&] { firstEnd = OpenRun(data.data(), half, StartKey); });
    OpenRun(second, data.size() - half, guess);
    first.join();
    if (firstEnd != guess) {
        SealRun(second, data.size() - half, guess);
        OpenRun(second, data.size() - half, firstEnd);
    }
}

void OpenEnvelopeInPlace(std::span<uint8_t> data) {
    OpenEnvelopeInPlace(data, size_t(64) << 10);
}

namespace {
std::span<uint8_t> Bytes(QByteArray& data) {
    return {reinterpret_cast<uint8_t*>(data.data()), size_t(data.size())};
}
} // namespace

QByteArray SealEnvelope(const QByteArray& plain) {
    QByteArray sealed = plain;
    SealStreamBytes(Bytes(sealed), StartKey);
    return sealed;
}

QByteArray OpenEnvelope(const QByteArray& sealed) {
    QByteArray plain = sealed;
    OpenEnvelopeInPlace(Bytes(plain));
    return plain;
}

TEncipheredReadResult ReadEncipheredFile(const QString& path, QByteArray& plain) {
    QFile file(path);
    if (!file.exists())
        return TEncipheredReadResult::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return TEncipheredReadResult::OpenFailed;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return TEncipheredReadResult::OpenFailed;
    OpenEnvelopeInPlace(Bytes(data));
    plain = std::move(data);
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
