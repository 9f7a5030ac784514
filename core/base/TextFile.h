#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

// The program's text files (job logs, history exports, the saved events log): UTF-8 with a
// byte-order mark and CR LF after every line, replaced atomically.
bool WriteTextFileLines(const QString& path, const QStringList& lines, mode_t mode, QString* errorText = nullptr);
