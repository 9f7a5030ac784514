#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// The traditional PKWARE stream cipher. Weak by today's measure; offered because older tools
// can only read this one.
class TZipCrypto {
public:
    explicit TZipCrypto(const QByteArray& password);

    void Encrypt(char* data, size_t size);
    void Decrypt(char* data, size_t size);

    // The 12-byte header that starts an encrypted entry: 11 random bytes and the check byte,
    // encrypted. False when no random bytes could be had.
    bool MakeHeader(uint8_t checkByte, char header[12]);

private:
    void Update(uint8_t plain);
    uint8_t StreamByte() const;

    uint32_t m_keys[3];
};
