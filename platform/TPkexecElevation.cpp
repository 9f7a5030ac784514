#include "platform/TPkexecElevation.h"

#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

bool TPkexecElevation::CanAccess(const QString& path, bool write) const {
    return ::access(QFile::encodeName(path).constData(), write ? W_OK : R_OK) == 0;
}

void TPkexecElevation::Elevate(QString& program, QStringList& args) const {
    // pkexec wants the program's absolute path; it runs it with a clean environment.
    args.prepend(program);
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    program = pkexec.isEmpty() ? QStringLiteral("/usr/bin/pkexec") : pkexec;
}
