#pragma once

#include <cstdint>
#include <dirent.h>
#include <sys/stat.h>

// What a source walk makes of a directory entry.
enum class TEntryType : uint8_t { File, Directory, SymbolicLink, Other };

// The type of an entry from its lstat mode: a link is a link, never what it points to.
inline TEntryType EntryTypeOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return TEntryType::File;
    if (S_ISDIR(mode))
        return TEntryType::Directory;
    if (S_ISLNK(mode))
        return TEntryType::SymbolicLink;
    return TEntryType::Other;
}

// The type of an entry that was gone before it could be looked at, from what the listing said.
inline TEntryType EntryTypeOfListed(unsigned char direntType) {
    return direntType == DT_DIR ? TEntryType::Directory : TEntryType::File;
}
