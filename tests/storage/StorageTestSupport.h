#pragma once

#include "core/model/TJob.h"
#include "core/settings/TAppGlobals.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

// Helpers shared by the storage tests.
namespace StorageTest {

// The job log without the time prefix of each line ("hh:mm:ss: ").
inline QStringList Messages(const TJob& job) {
    static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: "));
    QStringList result;
    for (QString line : job.LastJobResult.Log)
        result << line.remove(time);
    return result;
}

inline int CountStartingWith(const QStringList& lines, const QString& prefix) {
    int count = 0;
    for (const QString& line : lines)
        count += line.startsWith(prefix) ? 1 : 0;
    return count;
}

inline bool WriteFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Deterministic content that differs at every position, so misplaced chunks show.
inline QByteArray Pattern(qsizetype size, int seed = 1) {
    QByteArray data(size, Qt::Uninitialized);
    uint32_t state = uint32_t(seed) * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = char(state >> 24);
    }
    return data;
}

inline mode_t ModeOf(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : mode_t(~0u);
}

// Names of the copy routine's hidden files left in a folder.
inline QStringList LeftoverPartFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".vaultora-*.part")}, QDir::Hidden | QDir::Files | QDir::System);
}

// A job's options as a test wants them: no translation, waits of 60 seconds (the default).
inline void ResetGlobals(const QString& dataFolder) {
    TAppGlobals& app = App();
    app.ApplicationDirectory = dataFolder;
    app.RemoteJobFileExtension = QStringLiteral(".vlj");
    app.Options = TOptions();
    app.EventsLog.Clear();
}

} // namespace StorageTest
