#pragma once

#include <QByteArray>
#include <QString>

// Text forms of Internet mail (RFC 5322 headers, RFC 2047 encoded words, RFC 2231 parameters).
// Everything returned is 7-bit and free of line breaks except the folds these functions insert
// themselves, so no caller's text can end a header early.
namespace MimeText {

// Unstructured header text (Subject): control characters become blanks; non-ASCII text, "=?"
// and very long texts are carried in UTF-8 encoded words, folded onto continuation lines.
QByteArray EncodeUnstructured(const QString& text);

// A display name: a quoted string, or encoded words when it is not plain ASCII.
QByteArray EncodePhrase(const QString& name);

// A MIME parameter, name="value", or name*=UTF-8''... when the value needs it.
QByteArray Parameter(const char* name, const QString& value);

// Base64 in lines of 76 characters, each ended by CR LF.
QByteArray Base64Lines(const QByteArray& data);

// The text with its control characters shown as \xNN, for one-line error messages.
QString Printable(const QString& text);

} // namespace MimeText
