#pragma once

#include <QString>
#include <QStringList>

// The run's list files ("_rf.vll", "_rd.vll", "_rrf.vll", "_rrd.vll", "_startflag.vll"): UTF-8
// with a byte-order mark, one entry per line, CR LF after every line; an empty list is the mark
// alone. Written once per run with one buffer.
bool SaveListFile(const QString& path, const QStringList& lines, QString* error = nullptr);
// Reads a list file; false when it cannot be read. Accepts files without the mark and with LF ends.
bool LoadListFile(const QString& path, QStringList& lines);
