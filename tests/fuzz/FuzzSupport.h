#pragma once

// Shared pieces of the parsers' libFuzzer harnesses: the input as a file the real loaders open,
// a scratch folder for files the harnesses write back, and the check that ends the run with a
// finding when a property of the parser does not hold.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

// The fuzzer's bytes as they arrive.
inline QByteArray Bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A memory file reached through /proc: the loaders open, check and read it as any file.
class TInputFile {
public:
    explicit TInputFile(const char* name)
        : m_fd(memfd_create(name, MFD_CLOEXEC))
        , m_path(QStringLiteral("/proc/self/fd/%1").arg(m_fd)) {}

    // Replaces the file's content; false when the memory file is not there.
    bool Write(const QByteArray& data) const {
        return m_fd >= 0 && ftruncate(m_fd, 0) == 0 &&
               pwrite(m_fd, data.constData(), size_t(data.size()), 0) == ssize_t(data.size());
    }
    const QString& Path() const { return m_path; }

private:
    int m_fd;
    QString m_path;
};

// Files written back by a harness; on a memory file system where there is one, since saving
// flushes every file to its disk.
inline QString ScratchPath(const QString& name) {
    static QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists()
                                    ? QStringLiteral("/dev/shm/vaultora-fuzz-XXXXXX")
                                    : QDir::tempPath() + QStringLiteral("/vaultora-fuzz-XXXXXX"));
    return folder.filePath(name);
}

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A property that must hold for every input: a failure is a finding.
inline void Require(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "FINDING: %s\n", what);
    std::abort();
}

} // namespace fuzz
