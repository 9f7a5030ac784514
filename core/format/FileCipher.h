#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>

// The stream cipher and envelope of every binary file of the program (job files, options, token
// files, cloud credentials).

// Enciphers input into output; both must have the same length, otherwise nothing is done and the
// result is false.
bool EncipherBuffer(std::span<const uint8_t> input, std::span<uint8_t> output);
bool DecipherBuffer(std::span<const uint8_t> input, std::span<uint8_t> output);
// Bitwise NOT of every byte, in place.
void InvertStreamBytes(std::span<uint8_t> buffer);

// Enciphers and inverts a piece of a file in place, going on from key (SealStartKey() for the
// first piece); returns the key for the next piece. Long pieces use two threads.
uint16_t SealStreamBytes(std::span<uint8_t> data, uint16_t key);
uint16_t SealStartKey();
// Inverts and deciphers a whole file image in place. Long images use two threads; syncBytes is
// how far before the second thread's part it looks to find its starting key (tests vary it).
void OpenEnvelopeInPlace(std::span<uint8_t> data);
void OpenEnvelopeInPlace(std::span<uint8_t> data, size_t syncBytes);

// Plain image -> file bytes (encipher, then invert), and back.
QByteArray SealEnvelope(const QByteArray& plain);
QByteArray OpenEnvelope(const QByteArray& sealed);

enum class TEncipheredReadResult {
    Ok,
    Missing,    // the file does not exist
    OpenFailed, // exists but cannot be opened or read ("Code: 2")
};

// Reads and opens the envelope of a file.
TEncipheredReadResult ReadEncipheredFile(const QString& path, QByteArray& plain);
// Seals the image and replaces the file atomically with mode 0600.
bool WriteEncipheredFile(const QString& path, const QByteArray& plain, QString* error = nullptr);

// The enciphered single-text file (cloud refresh tokens).
bool SaveEncipheredText(const QString& path, const QString& text);
// Missing file: empty text. Failures: empty text and an events-log line.
QString LoadEncipheredText(const QString& path);
