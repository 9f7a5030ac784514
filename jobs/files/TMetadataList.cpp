#include "jobs/files/TMetadataList.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

// The length of the UTF-8 sequence starting at text (at most left bytes), or 0 when the bytes
// there are not one: overlong forms, surrogates and values beyond U+10FFFF included.
size_t Utf8SequenceLength(const unsigned char* text, size_t left) {
    const unsigned char c = text[0];
    auto continuation = [&](size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
        return i < left && text[i] >= low && text[i] <= high;
    };
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (c == 0xE0)
        return continuation(1, 0xA0) && continuation(2) ? 3 : 0;
    if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF)
        return continuation(1) && continuation(2) ? 3 : 0;
    if (c == 0xED)
        return continuation(1, 0x80, 0x9F) && continuation(2) ? 3 : 0;
    if (c == 0xF0)
        return continuation(1, 0x90) && continuation(2) && continuation(3) ? 4 : 0;
    if (c >= 0xF1 && c <= 0xF3)
        return continuation(1) && continuation(2) && continuation(3) ? 4 : 0;
    if (c == 0xF4)
        return continuation(1, 0x80, 0x8F) && continuation(2) && continuation(3) ? 4 : 0;
    return 0;
}

bool IsUtf8(QByteArrayView bytes) {
    const auto* text = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = size_t(bytes.size());
    for (size_t i = 0; i < size;) {
        if (text[i] < 0x80) {
            ++i;
            continue;
        }
        const size_t length = Utf8SequenceLength(text + i, size - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

void AppendHexEscape(QByteArray& out, unsigned char c) {
    const char escape[4] = {'\\', 'x', HexDigits[c >> 4], HexDigits[c & 15]};
    out.append(escape, 4);
}

void AppendEscaped(QByteArray& out, QByteArrayView bytes) {
    const auto* text = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = size_t(bytes.size());
    for (size_t i = 0; i < size;) {
        const unsigned char c = text[i];
        if (c >= 0x80) {
            const size_t length = Utf8SequenceLength(text + i, size - i);
            if (length == 0) {
                AppendHexEscape(out, c);
                ++i;
            } else {
                out.append(reinterpret_cast<const char*>(text + i), qsizetype(length));
                i += length;
            }
            continue;
        }
        switch (c) {
        case '\\':
            out.append("\\\\", 2);
            break;
        case '\t':
            out.append("\\t", 2);
            break;
        case '\n':
            out.append("\\n", 2);
            break;
        case '\r':
            out.append("\\r", 2);
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                AppendHexEscape(out, c);
            else
                out.append(char(c));
        }
        ++i;
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// False for a raw control character or an escape this format does not write.
bool Unescape(QByteArrayView field, QByteArray& out) {
    // Most fields hold nothing to undo: they are taken as they are.
    qsizetype plain = 0;
    while (plain < field.size()) {
        const unsigned char c = static_cast<unsigned char>(field[plain]);
        if (c < 0x20 || c == 0x7F || c == '\\')
            break;
        ++plain;
    }
    out.resize(plain);
    std::memcpy(out.data(), field.data(), size_t(plain));
    if (plain == field.size())
        return true;
    for (qsizetype i = plain; i < field.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (c < 0x20 || c == 0x7F)
            return false;
        if (c != '\\') {
            out.append(char(c));
            continue;
        }
        if (++i >= field.size())
            return false;
        switch (field[i]) {
        case '\\':
            out.append('\\');
            break;
        case 't':
            out.append('\t');
            break;
        case 'n':
            out.append('\n');
            break;
        case 'r':
            out.append('\r');
            break;
        case 'x': {
            if (i + 2 >= field.size())
                return false;
            const int high = HexValue(field[i + 1]);
            const int low = HexValue(field[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out.append(char(high * 16 + low));
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

// A path that names an item strictly below the folder it is relative to: not empty, not
// absolute, no empty, "." or ".." component, no NUL.
bool IsPathBelow(QByteArrayView path) {
    if (path.isEmpty() || path.front() == '/' || path.contains('\0'))
        return false;
    qsizetype start = 0;
    for (;;) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        const QByteArrayView part = path.sliced(start, end - start);
        if (part.isEmpty() || part == "." || part == "..")
            return false;
        if (end == path.size())
            return true;
        start = end + 1;
    }
}

template <typename T>
bool ParseDecimal(QByteArrayView text, int maxDigits, T& value) {
    if (text.isEmpty() || text.size() > maxDigits || (text.size() > 1 && text.front() == '0'))
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseMode(QByteArrayView text, uint16_t& mode) {
    if (text.size() != 4)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '7')
            return false;
        value = value * 8 + unsigned(c - '0');
    }
    mode = uint16_t(value);
    return true;
}

bool ParseId(QByteArrayView text, uint32_t& id) {
    uint64_t value = 0;
    // (uid_t)-1 means "leave unchanged" to chown: never an owner.
    if (!ParseDecimal(text, 10, value) || value >= 0xFFFFFFFFull)
        return false;
    id = uint32_t(value);
    return true;
}

bool ParseTime(QByteArrayView text, TItemMetadata& item) {
    const qsizetype dot = text.indexOf('.');
    if (dot < 0 || text.size() - dot - 1 != 9)
        return false;
    QByteArrayView seconds = text.first(dot);
    const bool negative = seconds.startsWith('-');
    if (negative)
        seconds = seconds.sliced(1);
    // Twelve digits reach beyond the year 30000.
    int64_t value = 0;
    if (!ParseDecimal(seconds, 12, value))
        return false;
    int32_t nanoseconds = 0;
    const QByteArrayView fraction = text.sliced(dot + 1);
    for (char c : fraction) {
        if (c < '0' || c > '9')
            return false;
        nanoseconds = nanoseconds * 10 + (c - '0');
    }
    item.ModifiedSeconds = negative ? -value : value;
    item.ModifiedNanoseconds = nanoseconds;
    return true;
}

// Writes the decimal digits of value at out (at most 20 bytes); returns the end.
template <typename T>
char* PutNumber(char* out, T value) {
    char digits[24];
    const size_t length = size_t(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    std::memcpy(out, digits, std::min<size_t>(length, 20));
    return out + std::min<size_t>(length, 20);
}

} // namespace

TItemMetadata TItemMetadata::FromStat(const struct stat& st) {
    TItemMetadata item;
    item.ModifiedSeconds = int64_t(st.st_mtim.tv_sec);
    item.ModifiedNanoseconds = int32_t(st.st_mtim.tv_nsec);
    item.Owner = uint32_t(st.st_uid);
    item.Group = uint32_t(st.st_gid);
    item.Mode = uint16_t(st.st_mode & 07777);
    item.Kind = KindOf(EntryTypeOfMode(st.st_mode));
    return item;
}

TItemMetadata::TKind TItemMetadata::KindOf(TEntryType type) {
    switch (type) {
    case TEntryType::File:
        return TKind::File;
    case TEntryType::Directory:
        return TKind::Folder;
    case TEntryType::SymbolicLink:
        return TKind::Link;
    case TEntryType::Other:
        break;
    }
    return TKind::Unknown;
}

bool TMetadataListWriter::Open(const QString& path, QString* error) {
    Discard();
    m_file = std::make_unique<QFile>(path);
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = m_file->errorString();
        m_file.reset();
        return false;
    }
    m_failed = false;
    m_buffer.reserve(BufferSize + 4096);
    m_buffer.resize(0);
    m_buffer.append("\xEF\xBB\xBF", 3);
    return true;
}

void TMetadataListWriter::Add(QStringView path, const TItemMetadata& item, QByteArrayView linkTarget) {
    if (!m_file || item.Kind == TItemMetadata::TKind::Unknown)
        return;
    // Most paths are plain printable ASCII: those go in as they are.
    bool plain = true;
    for (const QChar unit : path) {
        const char16_t c = unit.unicode();
        if (c < 0x20 || c >= 0x7F || c == u'\\') {
            plain = false;
            break;
        }
    }
    if (plain) {
        const qsizetype at = m_buffer.size();
        m_buffer.resize(at + path.size());
        char* out = m_buffer.data() + at;
        for (const QChar unit : path)
            *out++ = char(unit.unicode());
    } else {
        m_scratch = path.toUtf8();
        AppendEscaped(m_buffer, m_scratch);
    }
    // The fields after the path, put together here and appended at once.
    char fields[80];
    char* out = fields;
    *out++ = '\t';
    *out++ = char(item.Kind);
    *out++ = '\t';
    for (int shift = 9; shift >= 0; shift -= 3)
        *out++ = char('0' + ((item.Mode >> shift) & 7));
    *out++ = '\t';
    out = PutNumber(out, item.Owner);
    *out++ = '\t';
    out = PutNumber(out, item.Group);
    *out++ = '\t';
    out = PutNumber(out, item.ModifiedSeconds);
    *out++ = '.';
    int32_t nanoseconds = item.ModifiedNanoseconds;
    for (int i = 8; i >= 0; --i) {
        out[i] = char('0' + nanoseconds % 10);
        nanoseconds /= 10;
    }
    out += 9;
    m_buffer.append(fields, qsizetype(out - fields));
    if (item.Kind == TItemMetadata::TKind::Link) {
        m_buffer.append('\t');
        AppendEscaped(m_buffer, linkTarget);
    }
    m_buffer.append("\r\n", 2);
    if (m_buffer.size() >= BufferSize)
        Flush();
}

void TMetadataListWriter::Flush() {
    if (!m_failed && m_file->write(m_buffer) != m_buffer.size())
        m_failed = true;
    m_buffer.resize(0);
}

bool TMetadataListWriter::Commit(QString* error) {
    if (!m_file) {
        if (error)
            *error = QStringLiteral("The metadata list was not started.");
        return false;
    }
    Flush();
    m_file->close(); // network file systems report some write errors only here
    const bool ok = !m_failed && m_file->error() == QFileDevice::NoError;
    if (!ok) {
        if (error)
            *error = m_file->errorString();
        m_file->remove();
    }
    m_file.reset();
    m_buffer = QByteArray();
    return ok;
}

void TMetadataListWriter::Discard() {
    if (m_file) {
        m_file->close();
        m_file->remove();
    }
    m_file.reset();
    m_buffer = QByteArray();
}

bool TMetadataListReader::Open(const QString& path) {
    m_file.close();
    m_file.setFileName(path);
    m_buffer.resize(0);
    m_position = 0;
    m_lineNumber = 0;
    m_atEnd = false;
    m_readFailed = false;
    if (!m_file.open(QIODevice::ReadOnly))
        return false;
    if (!Fill() && m_readFailed)
        return false;
    if (m_buffer.startsWith("\xEF\xBB\xBF"))
        m_position = 3;
    return true;
}

bool TMetadataListReader::Fill() {
    if (m_atEnd)
        return false;
    if (m_position > 0) {
        m_buffer.remove(0, m_position);
        m_position = 0;
    }
    constexpr qsizetype Piece = 256 << 10;
    const qsizetype had = m_buffer.size();
    m_buffer.resize(had + Piece);
    const qint64 got = m_file.read(m_buffer.data() + had, Piece);
    if (got < 0) {
        m_readFailed = true;
        m_atEnd = true;
        m_buffer.resize(had);
        return false;
    }
    m_buffer.resize(had + qsizetype(got));
    if (got == 0)
        m_atEnd = true;
    return got > 0;
}

bool TMetadataListReader::Next(TMetadataLine& line) {
    bool tooLong = false;
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n', m_position);
        if (end >= 0) {
            ++m_lineNumber;
            if (tooLong) {
                line = TMetadataLine();
                line.Number = m_lineNumber;
                line.Damaged = true;
            } else {
                Parse(QByteArrayView(m_buffer).sliced(m_position, end - m_position), line);
                line.Number = m_lineNumber;
            }
            m_position = end + 1;
            return true;
        }
        if (m_buffer.size() - m_position > MaxLineLength) {
            // Drop what has been read of the line and look for its end.
            tooLong = true;
            m_position = m_buffer.size();
        }
        if (!Fill()) {
            if (m_readFailed)
                return false;
            if (m_position >= m_buffer.size() && !tooLong)
                return false;
            // The last line has no line end.
            ++m_lineNumber;
            if (tooLong) {
                line = TMetadataLine();
                line.Damaged = true;
            } else {
                Parse(QByteArrayView(m_buffer).sliced(m_position), line);
            }
            line.Number = m_lineNumber;
            m_position = m_buffer.size();
            return true;
        }
    }
}

void TMetadataListReader::Parse(QByteArrayView text, TMetadataLine& line) {
    line.Damaged = true;
    line.Item = TItemMetadata();
    line.Path.resize(0);
    line.LinkTarget.resize(0);
    if (text.endsWith('\r'))
        text.chop(1);
    QByteArrayView fields[8];
    int count = 0;
    for (qsizetype start = 0;;) {
        if (count == 8)
            return;
        const qsizetype tab = text.indexOf('\t', start);
        fields[count++] = text.sliced(start, (tab < 0 ? text.size() : tab) - start);
        if (tab < 0)
            break;
        start = tab + 1;
    }
    if (count < 6 || fields[1].size() != 1)
        return;
    TItemMetadata item;
    switch (fields[1].front()) {
    case 'f':
        item.Kind = TItemMetadata::TKind::File;
        break;
    case 'd':
        item.Kind = TItemMetadata::TKind::Folder;
        break;
    case 'l':
        item.Kind = TItemMetadata::TKind::Link;
        break;
    default:
        return;
    }
    const bool link = item.Kind == TItemMetadata::TKind::Link;
    if (count != (link ? 7 : 6))
        return;
    if (!Unescape(fields[0], line.Path) || !IsUtf8(line.Path) || !IsPathBelow(line.Path))
        return;
    if (!ParseMode(fields[2], item.Mode) || !ParseId(fields[3], item.Owner) || !ParseId(fields[4], item.Group) ||
        !ParseTime(fields[5], item))
        return;
    if (link && (!Unescape(fields[6], line.LinkTarget) || line.LinkTarget.isEmpty() ||
                 line.LinkTarget.size() >= PATH_MAX || line.LinkTarget.contains('\0')))
        return;
    line.Item = item;
    line.Damaged = false;
}

bool TMetadataList::Load(const QString& path) {
    Clear();
    TMetadataListReader reader;
    if (!reader.Open(path))
        return false;
    TMetadataLine line;
    while (reader.Next(line)) {
        if (line.Damaged) {
            if (qsizetype(m_damagedLines.size()) < MaxDamagedLinesKept)
                m_damagedLines.push_back(line.Number);
            ++m_damagedCount;
            continue;
        }
        m_entries.push_back({QString::fromUtf8(line.Path), line.Item, line.LinkTarget});
    }
    return !reader.ReadFailed();
}

void TMetadataList::Clear() {
    m_entries.clear();
    m_damagedLines.clear();
    m_damagedCount = 0;
}
