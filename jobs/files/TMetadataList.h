#pragma once

#include "jobs/files/EntryType.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <vector>

struct stat;

// What a restore point records of an item besides its content, so that a restore gives it back
// whatever the destination kept: the restore point's "_rm.vll".
struct TItemMetadata {
    enum class TKind : char { Unknown = 0, File = 'f', Folder = 'd', Link = 'l' };

    int64_t ModifiedSeconds = 0; // the last-write time as the file system holds it
    int32_t ModifiedNanoseconds = 0;
    uint32_t Owner = 0;
    uint32_t Group = 0;
    uint16_t Mode = 0; // permission bits, set-user-ID, set-group-ID and sticky included
    TKind Kind = TKind::Unknown;

    // Kind Unknown for anything that is not a file, a folder or a link.
    static TItemMetadata FromStat(const struct stat& st);
    static TKind KindOf(TEntryType type);
};

// The metadata list of a restore point, in the style of the other list files: UTF-8 with a
// byte-order mark, one item per line, CR LF after every line. A line holds, separated by tabs:
// the relative path, the kind ("f" file, "d" folder, "l" symbolic link), the permission bits as
// four octal digits, owner and group as decimal numbers, the last-write time as seconds "."
// nine digits of nanoseconds (a timespec's two fields), and for a link its target. Paths and
// link targets are escaped so that any name round-trips: "\\" for a backslash, "\t", "\n", "\r",
// and "\xHH" for other control characters and for bytes that are not UTF-8.
class TMetadataListWriter {
public:
    static constexpr qsizetype BufferSize = 256 << 10;

    // Starts a new list at path. The list is a working file of the run (uploaded from there), so
    // it is not forced to the disk.
    bool Open(const QString& path, QString* error = nullptr);
    bool IsOpen() const { return m_file != nullptr; }
    void Add(QStringView path, const TItemMetadata& item, QByteArrayView linkTarget = {});
    // Writes what is left; false (with the reason, the file removed) when any write failed.
    bool Commit(QString* error = nullptr);
    // Removes the unfinished list.
    void Discard();

private:
    void Flush();

    std::unique_ptr<QFile> m_file;
    QByteArray m_buffer;
    QByteArray m_scratch;
    bool m_failed = false;
};

// One line of a metadata list as read.
struct TMetadataLine {
    qsizetype Number = 0; // from 1
    // The line could not be read as a list line, or its path does not name an item strictly
    // below the restore point: nothing of it may be used.
    bool Damaged = false;
    QByteArray Path; // unescaped UTF-8
    TItemMetadata Item;
    QByteArray LinkTarget; // links: unescaped, raw bytes
};

// Reads a metadata list line by line in large pieces. A list comes from the destination and may
// hold anything: every line is checked on its own and a damaged one is reported as such.
class TMetadataListReader {
public:
    // Longer lines are damaged (the deepest real paths are far shorter).
    static constexpr qsizetype MaxLineLength = 1 << 20;

    bool Open(const QString& path);
    // The next line; false at the end of the list or when reading failed (ReadFailed).
    bool Next(TMetadataLine& line);
    bool ReadFailed() const { return m_readFailed; }

    // Parses one line without its line end; exposed for tests.
    static void Parse(QByteArrayView text, TMetadataLine& line);

private:
    bool Fill();

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_position = 0;
    qsizetype m_lineNumber = 0;
    bool m_atEnd = false;
    bool m_readFailed = false;
};

// A whole metadata list held for a restore.
class TMetadataList {
public:
    struct TEntry {
        QString Path;
        TItemMetadata Item;
        QByteArray LinkTarget;
    };
    static constexpr qsizetype MaxDamagedLinesKept = 20;

    // False when the file cannot be read; damaged lines are left out and counted.
    bool Load(const QString& path);
    void Clear();

    const std::vector<TEntry>& Entries() const { return m_entries; }
    qsizetype DamagedCount() const { return m_damagedCount; }
    // The numbers of the first damaged lines (at most MaxDamagedLinesKept).
    const std::vector<qsizetype>& DamagedLines() const { return m_damagedLines; }

private:
    std::vector<TEntry> m_entries;
    std::vector<qsizetype> m_damagedLines;
    qsizetype m_damagedCount = 0;
};
