// libFuzzer harness for the FTP listing parsers: the input is what a server sends on the data
// channel for MLSD, LIST or NLST. No name that comes out may be one a command could not carry.

#include "tests/fuzz/FuzzSupport.h"

#include "net/FtpListing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzz::Bytes(data, size);
    for (const TFtpEntry& entry : FtpListing::ParseMlsd(bytes))
        fuzz::Require(FtpListing::IsUsableName(entry.Name), "MLSD gave an unusable name");
    const QDateTime now(QDate(2024, 6, 15), QTime(12, 0), Qt::UTC);
    for (const TFtpEntry& entry : FtpListing::ParseList(bytes, now)) {
        fuzz::Require(FtpListing::IsUsableName(entry.Name), "LIST gave an unusable name");
        fuzz::Require(entry.Size >= -1, "LIST gave a negative size");
    }
    for (const QString& name : FtpListing::ParseNameList(bytes))
        fuzz::Require(FtpListing::IsUsableName(name), "NLST gave an unusable name");
    return 0;
}
