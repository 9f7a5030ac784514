#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <sys/types.h>

// Writes an enciphered file piece by piece, as WriteEncipheredFile writes it whole: the same bytes,
// the same atomic replacement (a new file beside the target, flushed, renamed over it) and
// permission bits. A stored job file over hundreds of thousands of files is tens of megabytes;
// writing it this way never holds a second copy of it in memory.
class TEncipheredFileWriter {
public:
    TEncipheredFileWriter(const QString& path, mode_t mode);
    ~TEncipheredFileWriter();
    TEncipheredFileWriter(const TEncipheredFileWriter&) = delete;
    TEncipheredFileWriter& operator=(const TEncipheredFileWriter&) = delete;

    // Appends plain bytes. Failures are kept and reported by Commit.
    void Append(const char* data, qsizetype size);
    void Append(const QByteArray& data) { Append(data.constData(), data.size()); }
    // Writes what is left, flushes and renames the file over the target; false with the reason.
    bool Commit(QString* error = nullptr);

private:
    void Flush();
    void Fail(int error);

    QByteArray m_target;
    QByteArray m_temporary;
    int m_fd = -1;
    mode_t m_mode;
    int m_error = 0;
    uint16_t m_key;
    off_t m_written = 0;
    QByteArray m_buffer;
};
