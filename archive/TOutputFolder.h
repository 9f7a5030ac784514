#pragma once

#include "archive/TZipError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The folder an archive is extracted into. Everything below it is reached relative to folder
// descriptors and never through a symbolic link, so no entry can make a write land outside it:
// a link met on the way is refused, and a link in the place of a file is replaced, not followed.
// Files are written to a temporary name and renamed into place once complete, which also
// replaces read-only files.
class TOutputFolder {
public:
    TOutputFolder() = default;
    ~TOutputFolder();
    TOutputFolder(const TOutputFolder&) = delete;
    TOutputFolder& operator=(const TOutputFolder&) = delete;

    // Opens the folder, creating it and missing parents.
    bool Open(const QString& path, TZipError* error);
    const QString& Path() const { return m_path; }

    // The folder at components below the base, creating missing levels; -1 and error when a
    // level is a symbolic link or cannot be made. The caller closes the descriptor.
    int OpenFolder(const QStringList& components, const QString& entryName, TZipError* error) const;
    // A new, empty temporary file in the folder (mode 0600); -1 and error on failure.
    int CreateTemporary(int folder, QByteArray* name, const QString& entryName, TZipError* error) const;
    // A new temporary symbolic link in the folder.
    bool CreateTemporaryLink(int folder, const QByteArray& target, QByteArray* name, const QString& entryName,
                             TZipError* error) const;
    // Renames the temporary into place, replacing a file or link there.
    bool Commit(int folder, const QByteArray& temporary, const QString& leaf, const QString& entryName,
                TZipError* error) const;
    void Discard(int folder, const QByteArray& temporary) const;

private:
    QString m_path;
    int m_fd = -1;
};
