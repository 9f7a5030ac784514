#include "archive/TZipCrypto.h"

#include <openssl/rand.h>
#include <zlib.h>

namespace {
inline uint32_t Crc32Step(uint32_t crc, uint8_t byte) {
    static const z_crc_t* table = get_crc_table();
    return uint32_t(table[(crc ^ byte) & 0xff]) ^ (crc >> 8);
}
} // namespace

TZipCrypto::TZipCrypto(const QByteArray& password)
    : m_keys{0x12345678u, 0x23456789u, 0x34567890u} {
    for (const char c : password)
        Update(uint8_t(c));
}

void TZipCrypto::Update(uint8_t plain) {
    m_keys[0] = Crc32Step(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xff)) * 134775813u + 1;
    m_keys[2] = Crc32Step(m_keys[2], uint8_t(m_keys[1] >> 24));
}

uint8_t TZipCrypto::StreamByte() const {
    const uint32_t temp = (m_keys[2] | 2) & 0xffff;
    return uint8_t((temp * (temp ^ 1)) >> 8);
}

void TZipCrypto::Encrypt(char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t plain = uint8_t(data[i]);
        data[i] = char(plain ^ StreamByte());
        Update(plain);
    }
}

void TZipCrypto::Decrypt(char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t plain = uint8_t(uint8_t(data[i]) ^ StreamByte());
        data[i] = char(plain);
        Update(plain);
    }
}

bool TZipCrypto::MakeHeader(uint8_t checkByte, char header[12]) {
    if (RAND_bytes(reinterpret_cast<unsigned char*>(header), 11) != 1)
        return false;
    header[11] = char(checkByte);
    Encrypt(header, 12);
    return true;
}
