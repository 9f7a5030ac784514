#pragma once

#include "jobs/files/EntryType.h"

#include <QString>

#include <ctime>
#include <dirent.h>

// Reads one folder of a source tree, relative to its parent's descriptor, so walks go deeper than
// PATH_MAX and no per-entry path is resolved from the root. Symbolic links are reported as links
// and never followed.
class TDirectoryReader {
public:
    using TEntryType = ::TEntryType;

    struct TEntry {
        QString Name;
        TEntryType Type = TEntryType::Other;
        timespec Modified{};
        bool Hidden = false;   // the name begins with "."
        bool Vanished = false; // listed, but gone when it was looked at
    };

    TDirectoryReader() = default;
    ~TDirectoryReader();
    TDirectoryReader(const TDirectoryReader&) = delete;
    TDirectoryReader& operator=(const TDirectoryReader&) = delete;

    // Opens path (absolute, or relative to parent when parent is open). False with errno set.
    bool Open(const QString& path, const TDirectoryReader* parent = nullptr);
    // The next entry other than "." and ".."; false at the end or on a read error.
    bool Next(TEntry& entry);
    void Close();
    bool IsOpen() const { return m_dir != nullptr; }
    int Descriptor() const;
    // Whether the entry still exists (checked again before it is used).
    bool Exists(const QString& name) const;

private:
    DIR* m_dir = nullptr;
};
