#include "net/TMailAddress.h"

#include "net/MimeText.h"

namespace {

bool HasControlCharacter(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// Splits at commas that are not inside a quoted display name or between angle brackets.
QStringList SplitEntries(const QString& text) {
    QStringList entries;
    QString current;
    bool quoted = false;
    bool angled = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted && c == u'\\' && i + 1 < text.size()) {
            current.append(c);
            current.append(text.at(++i));
            continue;
        }
        if (c == u'"' && !angled)
            quoted = !quoted;
        else if (c == u'<' && !quoted)
            angled = true;
        else if (c == u'>' && !quoted)
            angled = false;
        if (c == u',' && !quoted && !angled) {
            entries.append(current);
            current.clear();
            continue;
        }
        current.append(c);
    }
    entries.append(current);
    return entries;
}

QString UnquoteName(QString name) {
    name = name.trimmed();
    if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"')) {
        QString plain;
        for (qsizetype i = 1; i + 1 < name.size(); ++i) {
            if (name.at(i) == u'\\' && i + 2 < name.size())
                ++i;
            plain.append(name.at(i));
        }
        return plain;
    }
    return name;
}

} // namespace

bool TMailAddress::IsUsableAddress(const QString& address) {
    for (const QChar c : address) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || c == u'<' || c == u'>')
            return false;
    }
    return true;
}

bool TMailAddress::ParseList(const QString& text, QList<TMailAddress>& addresses, QString& errorText) {
    addresses.clear();
    for (const QString& rawEntry : SplitEntries(text)) {
        const QString entry = rawEntry.trimmed();
        if (entry.isEmpty())
            continue;
        // A line break inside one entry would end the SMTP command or header it is written into.
        if (HasControlCharacter(entry)) {
            errorText = QStringLiteral("Invalid recipient address (control character): ") + MimeText::Printable(entry);
            return false;
        }
        TMailAddress mailbox;
        const qsizetype open = entry.lastIndexOf(u'<');
        if (open >= 0) {
            const qsizetype close = entry.indexOf(u'>', open);
            if (close < 0 || !entry.mid(close + 1).trimmed().isEmpty()) {
                errorText = QStringLiteral("Invalid recipient address: ") + entry;
                return false;
            }
            mailbox.Name = UnquoteName(entry.left(open));
            mailbox.Address = entry.mid(open + 1, close - open - 1).trimmed();
        } else {
            mailbox.Address = entry;
        }
        if (mailbox.Address.isEmpty() || !IsUsableAddress(mailbox.Address)) {
            errorText = QStringLiteral("Invalid recipient address: ") + entry;
            return false;
        }
        addresses.append(mailbox);
    }
    if (addresses.isEmpty()) {
        errorText = QStringLiteral("No recipient address.");
        return false;
    }
    return true;
}

QByteArray TMailAddress::ToHeaderText() const {
    const QByteArray address = '<' + Address.toUtf8() + '>';
    if (Name.isEmpty())
        return address;
    return MimeText::EncodePhrase(Name) + ' ' + address;
}
