#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>

// Record layouts and helpers of the ZIP format (PKWARE application note, the AES extension and
// the Info-ZIP extra fields). All integers are little-endian.
namespace ZipFormat {

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndSignature = 0x06054b50;
constexpr uint32_t Zip64EndSignature = 0x06064b50;
constexpr uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr uint32_t DataDescriptorSignature = 0x08074b50;

constexpr int LocalHeaderSize = 30;
constexpr int CentralHeaderSize = 46;
constexpr int EndRecordSize = 22;
constexpr int Zip64EndRecordSize = 56;
constexpr int Zip64LocatorSize = 20;

constexpr uint16_t ExtraZip64 = 0x0001;
constexpr uint16_t ExtraNtfs = 0x000a;
constexpr uint16_t ExtraTimestamp = 0x5455;
constexpr uint16_t ExtraUnicodePath = 0x7075;
constexpr uint16_t ExtraAes = 0x9901;

constexpr uint16_t MethodStored = 0;
constexpr uint16_t MethodDeflated = 8;
constexpr uint16_t MethodAes = 99;

constexpr uint16_t FlagEncrypted = 0x0001;
constexpr uint16_t FlagDeflateMax = 0x0002;
constexpr uint16_t FlagDeflateSuperFast = 0x0006;
constexpr uint16_t FlagDataDescriptor = 0x0008;
constexpr uint16_t FlagStrongEncryption = 0x0040;
constexpr uint16_t FlagUtf8 = 0x0800;

constexpr uint8_t HostMsDos = 0;
constexpr uint8_t HostUnix = 3;
constexpr uint8_t HostMacOsX = 19;
constexpr uint16_t VersionMadeBy = (uint16_t(HostUnix) << 8) | 63;
constexpr uint16_t VersionZip64 = 45;
constexpr uint16_t VersionAes = 51;

constexpr uint32_t DosReadOnly = 0x01;
constexpr uint32_t DosDirectory = 0x10;
constexpr uint32_t DosArchive = 0x20;

constexpr uint32_t Unknown32 = 0xffffffffu;
constexpr uint16_t Unknown16 = 0xffffu;

// AES extension: salt and key lengths by strength 1, 2, 3; the password verifier and the
// authentication code that frame the encrypted data.
constexpr int AesVerifierSize = 2;
constexpr int AesMacSize = 10;
constexpr int ZipCryptoHeaderSize = 12;
inline int AesKeyLength(int strength) {
    return 8 + 8 * strength;
}
inline int AesSaltLength(int strength) {
    return 4 + 4 * strength;
}

inline void PutU8(QByteArray& out, uint8_t v) {
    out.append(char(v));
}
inline void PutU16(QByteArray& out, uint16_t v) {
    const char b[2] = {char(v & 0xff), char(v >> 8)};
    out.append(b, 2);
}
inline void PutU32(QByteArray& out, uint32_t v) {
    const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char(v >> 24)};
    out.append(b, 4);
}
inline void PutU64(QByteArray& out, uint64_t v) {
    PutU32(out, uint32_t(v & 0xffffffffu));
    PutU32(out, uint32_t(v >> 32));
}
inline uint16_t GetU16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint16_t(u[0] | (u[1] << 8));
}
inline uint32_t GetU32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(u[0]) | (uint32_t(u[1]) << 8) | (uint32_t(u[2]) << 16) | (uint32_t(u[3]) << 24);
}
inline uint64_t GetU64(const char* p) {
    return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32);
}
inline void SetU32(char* p, uint32_t v) {
    p[0] = char(v & 0xff);
    p[1] = char((v >> 8) & 0xff);
    p[2] = char((v >> 16) & 0xff);
    p[3] = char(v >> 24);
}

// MS-DOS date and time in local time, two-second steps, clamped to 1980..2107.
struct TDosTime {
    uint16_t Time = 0;
    uint16_t Date = 0;
};
TDosTime ToDosTime(int64_t unixSeconds);
int64_t FromDosTime(uint16_t time, uint16_t date);

// Windows FILETIME (100 ns since 1601) and Unix nanoseconds.
constexpr int64_t FileTimeUnixEpoch = 116444736000000000LL;
inline uint64_t UnixNsToFileTime(int64_t ns) {
    return uint64_t(FileTimeUnixEpoch + ns / 100);
}
// False for times that Unix nanoseconds cannot hold (about 1678 to 2262).
inline bool FileTimeToUnixNs(uint64_t fileTime, int64_t* ns) {
    constexpr int64_t Span = INT64_MAX / 100;
    if (fileTime > uint64_t(FileTimeUnixEpoch + Span) || int64_t(fileTime) < FileTimeUnixEpoch - Span)
        return false;
    *ns = (int64_t(fileTime) - FileTimeUnixEpoch) * 100;
    return true;
}

// Names without the UTF-8 flag: IBM code page 437, the format's original character set.
QString DecodeCp437(const QByteArray& bytes);
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(const QByteArray& bytes);

// Splits a stored entry name into its path components. False for names that must not be
// written to disk: empty, absolute, with a ".." component or a NUL character. "." and empty
// components are dropped, so "./" gives no components at all (the base folder itself). A
// trailing "/" marks a folder and is not part of the components.
bool SplitEntryName(const QString& name, QStringList* components);

} // namespace ZipFormat
