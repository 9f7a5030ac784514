#pragma once

// Runs vaultora-cli in a real process, as a user would, for the command-line tests.

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

inline const QString Cli = QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-cli");
inline const QString McsTool = QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-mcs");

struct TRun {
    int ExitCode = -1; // -1: still running after two minutes; -2: ended by a signal
    QString Out;
    QString Err;
};

// Runs program with args in environment and waits for it. With mergeChannels, standard error
// goes to Out too.
inline TRun RunProgram(const QString& program, const QProcessEnvironment& environment, const QStringList& args,
                       bool mergeChannels = false) {
    QProcess process;
    process.setProcessEnvironment(environment);
    if (mergeChannels)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    TRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    if (!mergeChannels)
        run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Runs vaultora-cli --data-dir dataDir args.
inline TRun RunCli(const QProcessEnvironment& environment, const QString& dataDir, const QStringList& args,
                   bool mergeChannels = false) {
    return RunProgram(Cli, environment, QStringList{QStringLiteral("--data-dir"), dataDir} + args, mergeChannels);
}

// A tree as the tests compare a source with what came back from a restore.
// relative path -> content (a link: "-> target"), last-write time in seconds, permission bits
// ("/" ending: a folder)
struct TItem {
    QByteArray Data;
    qint64 Time = 0;
    int Mode = 0;
    bool operator==(const TItem&) const = default;
};
using TTree = QMap<QString, TItem>;

inline TTree ReadTree(const QString& root) {
    TTree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        const int mode = int(st.st_mode & 07777);
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
            tree.insert(relative, {"-> " + QByteArray(target, int(std::max<ssize_t>(length, 0))), 0, 0});
        } else if (S_ISDIR(st.st_mode)) {
            tree.insert(relative + u'/', {{}, 0, mode});
        } else {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                tree.insert(relative, {file.readAll(), qint64(st.st_mtim.tv_sec), mode});
        }
    }
    return tree;
}

inline bool Write(const QString& path, const QByteArray& data, const QDateTime& time) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        return false;
    return file.setFileTime(time, QFileDevice::FileModificationTime);
}

inline QString Differences(const TTree& expected, const TTree& restored) {
    QString differences;
    for (auto it = expected.begin(); it != expected.end(); ++it)
        if (restored.value(it.key()) != it.value())
            differences += it.key() + u' ' + QString::number(it.value().Time) + u' ' +
                           QString::number(restored.value(it.key()).Time) + u' ' + QString::number(it.value().Mode, 8) +
                           u' ' + QString::number(restored.value(it.key()).Mode, 8) + u'\n';
    for (auto it = restored.begin(); it != restored.end(); ++it)
        if (!expected.contains(it.key()))
            differences += QStringLiteral("extra: ") + it.key() + u'\n';
    return differences;
}
