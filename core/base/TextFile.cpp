#include "core/base/TextFile.h"

#include "core/base/AtomicFile.h"

bool WriteTextFileLines(const QString& path, const QStringList& lines, mode_t mode, QString* errorText) {
    QByteArray data("\xEF\xBB\xBF");
    for (const QString& line : lines)
        data += line.toUtf8() + "\r\n";
    return WriteFileAtomically(path, data, mode, errorText);
}
