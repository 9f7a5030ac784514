// libFuzzer harness for the ZIP reader: opens the input as an archive (password "password",
// which the seed corpus uses), decodes every entry and, for small archives, extracts all
// entries into a scratch folder. Any crash, sanitizer report or leak is a finding.

#include "archive/TZipReader.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("archive.zip", MFD_CLOEXEC);
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    static QTemporaryDir scratch;
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    TZipReader reader;
    if (!reader.Open(path, QByteArrayLiteral("password")))
        return 0;
    const int count = int(reader.Entries().size());
    for (int i = 0; i < count && i < 64; ++i) {
        QByteArray content;
        reader.ReadEntry(i, &content, 1 << 22);
    }
    if (count <= 16) {
        const QString output = scratch.filePath(QStringLiteral("out"));
        reader.ExtractAll(output);
        QDir(output).removeRecursively();
    }
    return 0;
}
