#include "core/base/TextFormat.h"

#include <QDateTime>

QString FormatText(const QString& format, std::initializer_list<QString> values) {
    QString result;
    result.reserve(format.size() + 32);
    auto next = values.begin();
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'%' && i + 1 < format.size()) {
            const QChar kind = format.at(i + 1);
            if (kind == u'%') {
                result.append(u'%');
                ++i;
                continue;
            }
            if (kind == u's' || kind == u'd') {
                if (next != values.end())
                    result.append(*next++);
                ++i;
                continue;
            }
        }
        result.append(c);
    }
    return result;
}

QString LongTimeText(const QDateTime& moment) {
    return moment.toString(QStringLiteral("HH:mm:ss"));
}

QString DateTimeText(const QDateTime& moment) {
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString LogFileStamp(const QDateTime& moment) {
    return moment.toString(QStringLiteral("yyyy-MM-dd HH;mm;ss"));
}

QString EscapeControlCharacters(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            shown += QStringLiteral("\\\\");
        else if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029)
            shown += QStringLiteral("\\x") + QString::number(int(u), 16).rightJustified(2, u'0');
        else
            shown += c;
    }
    return shown;
}
