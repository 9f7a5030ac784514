#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_mac_ctx_st EVP_MAC_CTX;

// One entry's AES encryption as the ZIP AES extension defines it: keys from PBKDF2-HMAC-SHA1
// (1000 rounds) over the password and the entry's salt, AES in counter mode with a
// little-endian counter starting at 1, and HMAC-SHA1 over the encrypted bytes, cut to 10 bytes.
class TZipAes {
public:
    TZipAes();
    ~TZipAes();
    TZipAes(const TZipAes&) = delete;
    TZipAes& operator=(const TZipAes&) = delete;

    // Derives the keys; verifier receives the 2-byte password verification value. False when
    // the cryptographic library fails.
    bool Init(int strength, const QByteArray& password, const QByteArray& salt, QByteArray* verifier);
    // A fresh random salt for the strength.
    static bool MakeSalt(int strength, QByteArray* salt);
    // PBKDF2 with HMAC-SHA1 into output (length bytes).
    static void DeriveKey(const QByteArray& password, const QByteArray& salt, int iterations, unsigned char* output,
                          int length);

    void Encrypt(char* data, size_t size);
    void Decrypt(char* data, size_t size);
    // The authentication code of everything encrypted or decrypted so far.
    QByteArray Finish();

private:
    void Crypt(char* data, size_t size);
    void Refill();

    EVP_CIPHER_CTX* m_cipher = nullptr;
    EVP_MAC_CTX* m_mac = nullptr;
    uint64_t m_counter = 0;
    static constexpr int KeystreamBlocks = 64;
    unsigned char m_keystream[16 * KeystreamBlocks];
    size_t m_keystreamPos = sizeof m_keystream;
};
