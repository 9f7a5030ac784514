#include "net/MimeText.h"

#include <QStringList>

namespace {

bool IsPlainAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

QString BlankControls(const QString& text) {
    QString result = text;
    for (QChar& c : result) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return result;
}

// Encoded words of at most 75 characters; a character's UTF-8 bytes never straddle two words,
// since each word must decode on its own.
QByteArray EncodedWords(const QString& text) {
    constexpr qsizetype MaxBytesPerWord = 45; // 60 base64 characters + 12 of framing
    QList<QByteArray> words;
    QByteArray chunk;
    const QList<uint> codePoints = text.toUcs4();
    for (const uint codePoint : codePoints) {
        const char32_t single[1] = {char32_t(codePoint)};
        const QByteArray bytes = QString::fromUcs4(single, 1).toUtf8();
        if (chunk.size() + bytes.size() > MaxBytesPerWord) {
            words.append(chunk);
            chunk.clear();
        }
        chunk.append(bytes);
    }
    if (!chunk.isEmpty() || words.isEmpty())
        words.append(chunk);
    QByteArray result;
    for (const QByteArray& word : words) {
        if (!result.isEmpty())
            result.append("\r\n ");
        result.append("=?UTF-8?B?" + word.toBase64() + "?=");
    }
    return result;
}

} // namespace

namespace MimeText {

QByteArray EncodeUnstructured(const QString& text) {
    const QString clean = BlankControls(text);
    // 998 is the longest line a message may hold; 900 leaves room for the header's name.
    if (IsPlainAscii(clean) && !clean.contains(QStringLiteral("=?")) && clean.size() <= 900)
        return clean.toLatin1();
    return EncodedWords(clean);
}

QByteArray EncodePhrase(const QString& name) {
    const QString clean = BlankControls(name);
    if (!IsPlainAscii(clean) || clean.contains(QStringLiteral("=?")) || clean.size() > 200)
        return EncodedWords(clean);
    QByteArray quoted = "\"";
    for (const QChar c : clean) {
        if (c == u'"' || c == u'\\')
            quoted.append('\\');
        quoted.append(char(c.unicode()));
    }
    quoted.append('"');
    return quoted;
}

QByteArray Parameter(const char* name, const QString& value) {
    if (IsPlainAscii(value) && !value.contains(u'"') && !value.contains(u'\\'))
        return QByteArray(name) + "=\"" + value.toLatin1() + '"';
    return QByteArray(name) + "*=UTF-8''" + value.toUtf8().toPercentEncoding();
}

QByteArray Base64Lines(const QByteArray& data) {
    const QByteArray encoded = data.toBase64();
    QByteArray result;
    result.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
    for (qsizetype at = 0; at < encoded.size(); at += 76) {
        result.append(encoded.mid(at, 76));
        result.append("\r\n");
    }
    return result;
}

QString Printable(const QString& text) {
    QString result;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            result += QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QChar(u'0'));
        else
            result += c;
    }
    return result;
}

} // namespace MimeText
