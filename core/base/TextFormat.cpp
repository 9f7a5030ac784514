#include "core/base/TextFormat.h"

#include <QDateTime>
#include <QLocale>

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

QString FormatSize(int64_t bytes) {
    int exponent = 1;
    auto power = [](int e) {
        long double value = 1;
        for (int i = 0; i < e; ++i)
            value *= 1024;
        return value;
    };
    while (exponent < 4 && (long double)bytes > power(exponent + 1))
        ++exponent;
    static const char* const Units[] = {"", "KB", "MB", "GB", "TB"};
    const double value = double((long double)bytes / power(exponent));
    // "###0.##": at most two decimals, trailing zeros dropped, the locale's decimal separator.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString number = locale.toString(value, 'f', 2);
    const QString point = locale.decimalPoint();
    if (number.contains(point)) {
        while (number.endsWith(u'0'))
            number.chop(1);
        if (number.endsWith(point))
            number.chop(1);
    }
    return number + u' ' + QLatin1String(Units[exponent]);
}
