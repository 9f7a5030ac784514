// Key derivation runs SHA-1 block by block (SHA1_Transform), which OpenSSL 3 marks as
// deprecated but still ships: its generic PBKDF2 spends three times as long per round, and every
// entry needs its own 1000-round derivation.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "archive/TZipAes.h"

#include "archive/ZipFormat.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

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
    DeriveKey(password, salt, 1000, derived, derivedLength);
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

namespace {

// One SHA-1 block over a state: the 20-byte message that every PBKDF2 round hashes, padded.
void HashDigestBlock(const SHA_CTX& start, const unsigned char digest[20], unsigned char out[20]) {
    unsigned char block[64] = {};
    std::memcpy(block, digest, 20);
    block[20] = 0x80;
    block[62] = 0x02; // message length: one 64-byte key block + 20 bytes = 672 bits
    block[63] = 0xa0;
    SHA_CTX state = start;
    SHA1_Transform(&state, block);
    const uint32_t words[5] = {state.h0, state.h1, state.h2, state.h3, state.h4};
    for (int i = 0; i < 5; ++i) {
        out[4 * i] = static_cast<unsigned char>(words[i] >> 24);
        out[4 * i + 1] = static_cast<unsigned char>(words[i] >> 16);
        out[4 * i + 2] = static_cast<unsigned char>(words[i] >> 8);
        out[4 * i + 3] = static_cast<unsigned char>(words[i]);
    }
    OPENSSL_cleanse(&state, sizeof state);
}

} // namespace

void TZipAes::DeriveKey(const QByteArray& password, const QByteArray& salt, int iterations, unsigned char* output,
                        int length) {
    unsigned char key[64] = {};
    if (password.size() > 64)
        SHA1(reinterpret_cast<const unsigned char*>(password.constData()), size_t(password.size()), key);
    else
        std::memcpy(key, password.constData(), size_t(password.size()));
    unsigned char pad[64];
    SHA_CTX inner, outer;
    for (int i = 0; i < 64; ++i)
        pad[i] = key[i] ^ 0x36;
    SHA1_Init(&inner);
    SHA1_Update(&inner, pad, 64);
    for (int i = 0; i < 64; ++i)
        pad[i] = key[i] ^ 0x5c;
    SHA1_Init(&outer);
    SHA1_Update(&outer, pad, 64);
    for (int block = 1, done = 0; done < length; ++block) {
        // U1 = HMAC(salt || block number); later rounds hash only the previous 20 bytes.
        unsigned char u[20], t[20];
        const unsigned char number[4] = {static_cast<unsigned char>(block >> 24),
                                         static_cast<unsigned char>(block >> 16),
                                         static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
        SHA_CTX state = inner;
        SHA1_Update(&state, salt.constData(), size_t(salt.size()));
        SHA1_Update(&state, number, 4);
        SHA1_Final(u, &state);
        state = outer;
        SHA1_Update(&state, u, 20);
        SHA1_Final(u, &state);
        std::memcpy(t, u, 20);
        for (int round = 1; round < iterations; ++round) {
            HashDigestBlock(inner, u, u);
            HashDigestBlock(outer, u, u);
            for (int i = 0; i < 20; ++i)
                t[i] ^= u[i];
        }
        const int take = std::min(20, length - done);
        std::memcpy(output + done, t, size_t(take));
        done += take;
        OPENSSL_cleanse(u, sizeof u);
        OPENSSL_cleanse(t, sizeof t);
        OPENSSL_cleanse(&state, sizeof state);
    }
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(pad, sizeof pad);
    OPENSSL_cleanse(&inner, sizeof inner);
    OPENSSL_cleanse(&outer, sizeof outer);
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
