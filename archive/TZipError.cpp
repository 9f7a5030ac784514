#include "archive/TZipError.h"

#include <cstring>

QString TZipError::Fill(const QString& format) const {
    QString result;
    result.reserve(format.size() + 64);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'%' && i + 1 < format.size()) {
            if (format.at(i + 1) == u'%') {
                result.append(u'%');
                ++i;
                continue;
            }
            if (format.at(i + 1) == u's') {
                if (next < Arguments.size())
                    result.append(Arguments.at(next++));
                ++i;
                continue;
            }
        }
        result.append(c);
    }
    return result;
}

TZipError TZipError::Make(TZipErrorCode code, const QString& format, const QStringList& arguments, int nativeError) {
    TZipError error;
    error.Code = code;
    error.Format = format;
    error.Arguments = arguments;
    error.NativeError = nativeError;
    return error;
}

TZipError TZipError::System(TZipErrorCode code, const QString& format, const QString& subject, int nativeError) {
    char buffer[256] = {};
    const char* text = strerror_r(nativeError, buffer, sizeof buffer);
    return Make(code, format, {subject, QString::fromLocal8Bit(text)}, nativeError);
}
