#pragma once

#include <QString>

// Where a network share is: the server, its port, the share and a folder below it.
struct TSharePath {
    QString Server;
    int Port = 0; // 0: the protocol's own port
    QString Share;
    QString Folder; // "/"-separated below the share, without a "/" at either end; may be empty

    // The path in its canonical form: "smb://server[:port]/share[/folder]".
    QString ToUrlText() const;
};

// Reads a share path in any of the forms a user types: "\\server\share\path",
// "//server/share/path" and "smb://server[:port]/share/path" (the folder optional in each).
// Surrounding blanks are ignored, as are repeated separators and a trailing one. False when the
// text is none of these, or names no share, or holds a "." or ".." component or a bad port.
bool ParseSharePath(const QString& text, TSharePath& path);

// The names a share without POSIX extensions refuses (\ : * ? " < > |) are stored as the private
// code points U+F000 + character, the mapping other SMB clients and the server's own name
// translation use; names that hold none of them are stored as they are.
QString ToShareName(const QString& name);
QString FromShareName(const QString& name);
// The private code point that stands for the ASCII character c in a stored name (U+F000 + c), and
// back: the ASCII character that such a code point stands for, or 0 for any other character.
// Destinations with further rules for names (cloud drives) map their own characters with these.
QChar ToPrivateNameChar(char16_t c);
char16_t FromPrivateNameChar(QChar c);

// The client library's URL of the item below the share: path is "/"-separated, relative to the
// share's root; each of its names is mapped with ToShareName and percent-encoded.
QByteArray ShareItemUrl(const TSharePath& share, const QString& path);
