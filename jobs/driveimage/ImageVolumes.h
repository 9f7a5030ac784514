#pragma once

// What a volume name of the image tool stands for: a mount point (its block device is read), a
// block device, or a regular file holding a file-system image; and whether it is mounted.

#include <QString>

#include <sys/types.h>

struct TImageVolume {
    QString Name;   // as given
    QString Device; // the block device or file that is read or written
    bool IsFile = false;
    bool Mounted = false;          // the device (or the loop device over the file) is mounted
    bool MountedReadWrite = false; // ... and at least one of its mounts is read-write
    QString MountPoint;            // one of its mount points, when mounted
};

// Resolves name; false with error (a sentence) when it is none of the three.
bool ResolveImageVolume(const QString& name, TImageVolume& volume, QString& error);

// Mount state of the block device numbered dev, from /proc/self/mountinfo.
void FindMounts(dev_t dev, bool& mounted, bool& readWrite, QString& mountPoint);

// The mount point's source device, or empty when path is not a mount point.
QString MountSourceOf(const QString& path);
