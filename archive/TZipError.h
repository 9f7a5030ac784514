#pragma once

#include <QString>
#include <QStringList>

// Codes of the archive engine's failures. 12 is the one callers single out: a source file that
// cannot be opened (a locked file on other systems).
enum TZipErrorCode : int {
    zeNone = 0,
    zeCannotOpenFile = 12,
    zeCannotReadFile = 13,
    zeCannotWriteArchive = 14,
    zeInvalidEntryName = 15,
    zeCannotOpenArchive = 20,
    zeDamagedArchive = 21,
    zeWrongPassword = 22,
    zeIntegrityCheckFailed = 23,
    zeUnsupported = 24,
    zeUnsafeEntry = 25,
    zeCannotWriteOutput = 26,
    zeEntryNotFound = 27,
    zeCancelled = 28,
};

// One failure: an English message with "%s" placeholders and their values, kept apart so the
// caller can translate the message before filling it in.
struct TZipError {
    TZipErrorCode Code = zeNone;
    QString Format;
    QStringList Arguments;
    int NativeError = 0; // errno where the system reported one

    bool IsSet() const { return Code != zeNone; }
    QString Text() const { return Fill(Format); }
    // Fills the placeholders of a (translated) format with the arguments.
    QString Fill(const QString& format) const;

    static TZipError Make(TZipErrorCode code, const QString& format, const QStringList& arguments = {},
                          int nativeError = 0);
    // A system call failure: the second argument is the system's error text.
    static TZipError System(TZipErrorCode code, const QString& format, const QString& subject, int nativeError);
};
