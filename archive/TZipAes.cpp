#include "archive/TZipAes.h"

#include "archive/ZipFormat.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <cstring>

TZipAes::TZipAes() = default;

TZipAes::~TZipAes() {
    EVP_CIPHER_CTX_free(m_cipher);
    EVP_MAC_CTX_free(m_mac);
    OPENSSL_cleanse(m_keystream, sizeof m_keystream);
}

bool TZipAes::MakeSalt(int strength, QByteArray* salt) {
    salt->resize(ZipFormat::AesSaltLength(strength));
    return RAND_bytes(reinterpret_cast<unsigned char*>(salt->data()), int(salt->size())) == 1;
}

bool TZipAes::Init(int strength, const QByteArray& password, const QByteArray& salt, QByteArray* verifier) {
    if (strength < 1 || strength > 3 || salt.size() != ZipFormat::AesSaltLength(strength))
        return false;
    const int keyLength = ZipFormat::AesKeyLength(strength);
    unsigned char derived[2 * 32 + 2];
    const int derivedLength = 2 * keyLength + ZipFormat::AesVerifierSize;
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.constData()), int(salt.size()), 1000, EVP_sha1(),
                          derivedLength, derived) != 1)
        return false;
    const EVP_CIPHER* cipher = strength == 1   ? EVP_aes_128_ecb()
                               : strength == 2 ? EVP_aes_192_ecb()
                                               : EVP_aes_256_ecb();
    m_cipher = EVP_CIPHER_CTX_new();
    bool ok = m_cipher && EVP_EncryptInit_ex(m_cipher, cipher, nullptr, derived, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_padding(m_cipher, 0) == 1;
    EVP_MAC* hmac = ok ? EVP_MAC_fetch(nullptr, "HMAC", nullptr) : nullptr;
    if (hmac) {
        m_mac = EVP_MAC_CTX_new(hmac);
        EVP_MAC_free(hmac);
        char digest[] = "SHA1";
        const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                     OSSL_PARAM_construct_end()};
        ok = m_mac && EVP_MAC_init(m_mac, derived + keyLength, size_t(keyLength), params) == 1;
    } else {
        ok = false;
    }
    *verifier = QByteArray(reinterpret_cast<const char*>(derived + 2 * keyLength), 2);
    OPENSSL_cleanse(derived, sizeof derived);
    m_counter = 0;
    m_keystreamPos = sizeof m_keystream;
    return ok;
}

void TZipAes::Refill() {
    unsigned char counters[sizeof m_keystream];
    std::memset(counters, 0, sizeof counters);
    for (int block = 0; block < KeystreamBlocks; ++block) {
        uint64_t value = ++m_counter;
        for (int i = 0; i < 8; ++i, value >>= 8)
            counters[block * 16 + i] = static_cast<unsigned char>(value & 0xff);
    }
    int produced = 0;
    EVP_EncryptUpdate(m_cipher, m_keystream, &produced, counters, int(sizeof counters));
    m_keystreamPos = 0;
}

void TZipAes::Crypt(char* data, size_t size) {
    for (size_t i = 0; i < size;) {
        if (m_keystreamPos == sizeof m_keystream)
            Refill();
        const size_t n = std::min(size - i, sizeof m_keystream - m_keystreamPos);
        for (size_t k = 0; k < n; ++k)
            data[i + k] = char(uint8_t(data[i + k]) ^ m_keystream[m_keystreamPos + k]);
        i += n;
        m_keystreamPos += n;
    }
}

void TZipAes::Encrypt(char* data, size_t size) {
    Crypt(data, size);
    EVP_MAC_update(m_mac, reinterpret_cast<const unsigned char*>(data), size);
}

void TZipAes::Decrypt(char* data, size_t size) {
    EVP_MAC_update(m_mac, reinterpret_cast<const unsigned char*>(data), size);
    Crypt(data, size);
}

QByteArray TZipAes::Finish() {
    unsigned char code[EVP_MAX_MD_SIZE];
    size_t length = 0;
    EVP_MAC_final(m_mac, code, &length, sizeof code);
    return QByteArray(reinterpret_cast<const char*>(code), std::min<int>(int(length), ZipFormat::AesMacSize));
}
