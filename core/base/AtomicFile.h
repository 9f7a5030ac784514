#pragma once

// Room core/base/: file-system and text helpers, the program's folders and the clock seam. May use
// QtCore only; every other room may use it.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <functional>

// Replaces the file at path with data without ever leaving a half-written file: the data goes to
// a new file in the same folder, is flushed to disk, and is renamed over the old one. The new
// file gets the given permission bits (settings that hold passwords use 0600).
bool WriteFileAtomically(const QString& path, const QByteArray& data, mode_t mode, QString* error = nullptr);
// Test seam: a write whose path this returns true for fails as on a full disk (ENOSPC) once the
// new file was begun, so tests see what a full data folder does. Set it only while no other
// thread writes.
extern std::function<bool(const QString& path)> AtomicWriteFaultForTesting;

// Creates the folder with all missing parents (new folders get mode, less the umask), level by
// level relative to directory descriptors, so paths deeper than PATH_MAX are made like any other.
// True when the folder exists afterwards; false when the path is empty or a part of it is not a
// folder or cannot be made, and errorText (when given) says why. (It lives with the other
// descriptor-relative walks in DirectoryTree.cpp.)
bool CreateFolderPath(const QString& path, mode_t mode, QString* errorText = nullptr);
