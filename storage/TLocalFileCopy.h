#pragma once

#include "core/model/TShared.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <sys/types.h>

class TParentFolderCache;

// Which side of a copy failed; a cancelled copy has no side.
enum class TCopySide {
    None,
    Source,
    Target,
};

struct TFileCopyResult {
    // errno of the failure: 0 on success, ECANCELED when cancelled, NotRegularFile for a source
    // that is neither a regular file nor a symbolic link.
    int Error = 0;
    TCopySide Side = TCopySide::None;
    int64_t Bytes = 0;     // bytes copied (the length of the link text for a link)
    bool DirectIo = false; // some data went through O_DIRECT

    static constexpr int NotRegularFile = -1;

    bool Ok() const { return Error == 0; }
    bool Cancelled() const;
    // The system's text for Error.
    QString ErrorText() const;
};

// The copy routine of the local branch: one file (or symbolic link) to a new path, in chunks,
// with progress after each chunk and a cancel flag checked before each one.
//
// - A failed or cancelled copy leaves the target as it was (the old file, or none). A new target
//   is written under its name (mode 0600 until complete) and removed on failure; an existing one
//   is replaced only by a complete copy, made in a file without a name (or, where the file system
//   has none of those, a hidden file beside the target).
// - The copy gets the source's last-write time (nanoseconds) and permission bits; a link is
//   recreated as a link, never followed.
// - Buffered copies run in the kernel (copy_file_range) and fall back to read/write where the
//   file systems refuse it. Unbuffered copies use O_DIRECT with aligned buffers and fall back to
//   buffered I/O where the file system refuses O_DIRECT (and for the unaligned tail).
// - Paths of any length work (descriptor-relative).
class TLocalFileCopy {
public:
    static constexpr int64_t DefaultChunkSize = int64_t(8) << 20;

    int64_t ChunkSize = DefaultChunkSize;
    bool Unbuffered = false;
    const TShared<int32_t>* CancelFlag = nullptr;
    // Resolves the source's and target's folders; null: each copy opens them itself.
    TParentFolderCache* Folders = nullptr;
    // Called after each chunk with the bytes copied so far and the expected total.
    std::function<void(int64_t done, int64_t total)> OnProgress;
    // Called when the target exists already, before the copy that replaces it; a non-zero errno
    // stops the copy with that error on the target's side.
    std::function<int()> BeforeReplacing;

    TFileCopyResult Copy(const QString& source, const QString& target) const;

    // Writes fill(fd)'s data into target with the same guarantees as Copy (the old target, or
    // none, survives a failure), then gives it mode and, when given, the access and last-write
    // times. fill writes to the descriptor and returns 0, or an errno with the failing side set
    // (ECANCELED with None for a cancel). No flush to disk: like a copy, a restored file is as
    // durable as the file system makes any new file.
    using TFill = std::function<int(int fd, TCopySide& side)>;
    TFileCopyResult Receive(const QString& target, const TFill& fill, mode_t mode,
                            const struct timespec* times = nullptr) const;
};
