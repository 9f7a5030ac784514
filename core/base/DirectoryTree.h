#pragma once

#include "core/base/TFileDescriptor.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Folder walks that work relative to directory descriptors, so that trees and paths deeper than
// PATH_MAX are reached, created and removed like any other.

// Deletes a folder with everything below it. Symbolic links are removed, never followed; the
// folder itself must not be a link. At most a few descriptors are open at any depth. The first
// failure stops the walk; the result is false and errorText (when given) says why. Refuses "/"
// and paths ending in "." or "..".
bool DeleteDirectoryTree(const QString& folder, QString* errorText = nullptr);

// Folders with their missing parents are made by CreateFolderPath (core/base/AtomicFile.h).

// Opens a folder path of any length with the given open flags (O_DIRECTORY and O_CLOEXEC are
// added). Links on the way are followed as the kernel follows them. False with errno set.
bool OpenFolderPath(const QByteArray& path, int flags, TFileDescriptor& folder);

// Opens the folder that holds path's last component (as an O_PATH descriptor) and gives that
// component in leaf, for the *at() calls. Trailing slashes are ignored. False with errno set; a
// path without a last component ("", "/") or ending in "." or ".." gives EINVAL.
// Splits path into its folder's native path (empty when path has no slash: the working folder)
// and its last component; false (errno EINVAL) when that component is empty, "." or "..".
bool SplitParentPath(const QString& path, QByteArray& folder, QByteArray& leaf);
bool OpenParentFolder(const QString& path, TFileDescriptor& parent, QByteArray& leaf);
