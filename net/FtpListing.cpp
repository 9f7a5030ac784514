#include "net/FtpListing.h"

#include <QDate>
#include <QTime>

namespace FtpListing {

namespace {

// The lines of a listing, CR LF or LF ended; a lone CR inside a line stays (and makes the name
// unusable below).
QList<QByteArray> Lines(const QByteArray& data) {
    QList<QByteArray> lines = data.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

struct TToken {
    qsizetype Begin = 0;
    qsizetype End = 0;
};

QList<TToken> Tokens(const QByteArray& line, int most) {
    QList<TToken> tokens;
    qsizetype i = 0;
    while (i < line.size() && tokens.size() < most) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        const qsizetype begin = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        tokens.append({begin, i});
    }
    return tokens;
}

QByteArray Text(const QByteArray& line, const TToken& token) {
    return line.mid(token.Begin, token.End - token.Begin);
}

bool AllDigits(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

int Month(const QByteArray& text) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    const QByteArray lower = text.toLower();
    for (int i = 0; i < 12; ++i)
        if (lower == names[i])
            return i + 1;
    return 0;
}

bool ParseUnixLine(const QByteArray& line, const QDateTime& now, TFtpEntry& entry) {
    const char kind = line.isEmpty() ? '\0' : line[0];
    if (kind != '-' && kind != 'd' && kind != 'l' && kind != 'b' && kind != 'c' && kind != 'p' && kind != 's')
        return false;
    // The owner and group columns vary (some servers leave the group out): the date, three
    // tokens after a size, anchors the line.
    const QList<TToken> tokens = Tokens(line, 9);
    for (qsizetype i = 2; i + 2 < tokens.size(); ++i) {
        const int month = Month(Text(line, tokens[i]));
        const QByteArray day = Text(line, tokens[i + 1]);
        const QByteArray when = Text(line, tokens[i + 2]);
        const QByteArray size = Text(line, tokens[i - 1]);
        if (month == 0 || !AllDigits(day) || day.size() > 2 || !AllDigits(size))
            continue;
        int year = 0;
        QTime time(0, 0);
        if (when.size() == 5 && when[2] == ':' && AllDigits(when.left(2)) && AllDigits(when.mid(3))) {
            time = QTime(when.left(2).toInt(), when.mid(3).toInt());
            // Without a year the date lies within the last twelve months.
            year = now.date().year();
            const QDate candidate(year, month, 1);
            if (candidate.isValid() && candidate > now.date().addMonths(1))
                --year;
        } else if (when.size() == 4 && AllDigits(when)) {
            year = when.toInt();
        } else {
            continue;
        }
        // Exactly one blank separates the date from the name, which may begin with blanks.
        const qsizetype nameBegin = tokens[i + 2].End + 1;
        if (nameBegin >= line.size())
            return false;
        QByteArray name = line.mid(nameBegin);
        entry = TFtpEntry();
        entry.IsFolder = kind == 'd';
        entry.IsLink = kind == 'l';
        if (entry.IsLink) {
            const qsizetype arrow = name.indexOf(" -> ");
            if (arrow > 0)
                name.truncate(arrow);
        }
        entry.Name = QString::fromUtf8(name);
        entry.Size = entry.IsFolder ? -1 : size.toLongLong();
        const QDate date(year, month, day.toInt());
        if (date.isValid() && time.isValid())
            entry.Modified = QDateTime(date, time, Qt::UTC);
        return true;
    }
    return false;
}

bool ParseDosLine(const QByteArray& line, TFtpEntry& entry) {
    const QList<TToken> tokens = Tokens(line, 3);
    if (tokens.size() < 3)
        return false;
    const QByteArray date = Text(line, tokens[0]);
    QByteArray time = Text(line, tokens[1]).toUpper();
    const QByteArray what = Text(line, tokens[2]);
    const QList<QByteArray> parts = date.split('-');
    if (parts.size() != 3 || !AllDigits(parts[0]) || !AllDigits(parts[1]) || !AllDigits(parts[2]))
        return false;
    int year = parts[2].toInt();
    if (parts[2].size() == 2)
        year += year < 70 ? 2000 : 1900;
    bool pm = false;
    bool am = false;
    if (time.endsWith("PM") || time.endsWith("AM")) {
        pm = time.endsWith("PM");
        am = !pm;
        time.chop(2);
    }
    const QList<QByteArray> clock = time.split(':');
    if (clock.size() != 2 || !AllDigits(clock[0]) || !AllDigits(clock[1]))
        return false;
    int hour = clock[0].toInt();
    if (pm && hour < 12)
        hour += 12;
    if (am && hour == 12)
        hour = 0;
    const bool folder = what.toUpper() == "<DIR>";
    if (!folder && !AllDigits(what))
        return false;
    qsizetype nameBegin = tokens[2].End;
    while (nameBegin < line.size() && (line[nameBegin] == ' ' || line[nameBegin] == '\t'))
        ++nameBegin;
    if (nameBegin >= line.size())
        return false;
    entry = TFtpEntry();
    entry.Name = QString::fromUtf8(line.mid(nameBegin));
    entry.IsFolder = folder;
    entry.Size = folder ? -1 : what.toLongLong();
    const QDate day(year, parts[0].toInt(), parts[1].toInt());
    const QTime at(hour, clock[1].toInt());
    if (day.isValid() && at.isValid())
        entry.Modified = QDateTime(day, at, Qt::UTC);
    return true;
}

QDateTime ParseMlsdTime(const QByteArray& text) {
    if (text.size() < 14 || !AllDigits(text.left(14)))
        return {};
    const QDate date(text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
    const QTime time(text.mid(8, 2).toInt(), text.mid(10, 2).toInt(), text.mid(12, 2).toInt());
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

} // namespace

bool IsUsableName(const QString& name) {
    if (name.isEmpty() || name == u'.' || name == QStringLiteral(".."))
        return false;
    for (const QChar c : name)
        if (c == u'\r' || c == u'\n' || c == u'\0' || c == u'/')
            return false;
    return true;
}

QList<TFtpEntry> ParseMlsd(const QByteArray& data) {
    QList<TFtpEntry> entries;
    for (const QByteArray& line : Lines(data)) {
        const qsizetype blank = line.indexOf(' ');
        if (blank < 0)
            continue;
        TFtpEntry entry;
        entry.Name = QString::fromUtf8(line.mid(blank + 1));
        bool skip = false;
        for (const QByteArray& fact : line.left(blank).split(';')) {
            const qsizetype equals = fact.indexOf('=');
            if (equals <= 0)
                continue;
            const QByteArray key = fact.left(equals).toLower();
            const QByteArray value = fact.mid(equals + 1);
            if (key == "type") {
                const QByteArray type = value.toLower();
                if (type == "cdir" || type == "pdir")
                    skip = true;
                entry.IsFolder = type == "dir";
                entry.IsLink = type.startsWith("os.unix=slink") || type.startsWith("os.unix=symlink");
            } else if (key == "size" && AllDigits(value)) {
                entry.Size = value.toLongLong();
            } else if (key == "modify") {
                entry.Modified = ParseMlsdTime(value);
            }
        }
        if (entry.IsFolder)
            entry.Size = -1;
        if (!skip && IsUsableName(entry.Name))
            entries.append(entry);
    }
    return entries;
}

QList<TFtpEntry> ParseList(const QByteArray& data, const QDateTime& now) {
    QList<TFtpEntry> entries;
    for (const QByteArray& line : Lines(data)) {
        TFtpEntry entry;
        if ((ParseUnixLine(line, now, entry) || ParseDosLine(line, entry)) && IsUsableName(entry.Name))
            entries.append(entry);
    }
    return entries;
}

QStringList ParseNameList(const QByteArray& data) {
    QStringList names;
    for (const QByteArray& line : Lines(data)) {
        QString name = QString::fromUtf8(line);
        // Some servers answer NLST with paths.
        const qsizetype slash = name.lastIndexOf(u'/');
        if (slash >= 0)
            name = name.mid(slash + 1);
        if (IsUsableName(name))
            names.append(name);
    }
    return names;
}

} // namespace FtpListing
