#pragma once

// Small ext4 volumes in image files for the drive image tests: made with mkfs.ext4 (no root
// needed), changed with debugfs, checked with fsck.ext4 -n; and the image tool run as a child.

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

struct TToolRun {
    int Exit = -1;
    QString Output;
};

inline QString ImageToolPath() {
    return QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-imagetool");
}

// The system tools the fixture needs; empty when all are there, else what is missing.
inline QString MissingFilesystemTools() {
    QStringList missing;
    const QStringList dirs{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")};
    for (const char* tool : {"mkfs.ext4", "debugfs", "fsck.ext4"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool), dirs).isEmpty())
            missing.append(QString::fromLatin1(tool));
    return missing.join(QStringLiteral(", "));
}

inline QString SystemTool(const char* name) {
    return QStandardPaths::findExecutable(
        QString::fromLatin1(name),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
}

inline TToolRun RunProgram(const QString& program, const QStringList& args,
                           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    TToolRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.Output = QString::fromLocal8Bit(process.readAll());
    run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    return run;
}

// Incompressible bytes from a seed.
inline QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
    return data;
}

inline bool WriteBytes(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

inline QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An ext4 volume of sizeMiB in image, filled from a folder of a few random files.
inline bool MakeVolume(const QString& image, const QString& scratch, int sizeMiB, quint32 seed) {
    const QString content = scratch + QStringLiteral("/content");
    QDir(content).removeRecursively();
    QDir().mkpath(content + QStringLiteral("/docs"));
    WriteBytes(content + QStringLiteral("/a.bin"), RandomBytes(1024 * 1024, seed));
    WriteBytes(content + QStringLiteral("/docs/b.bin"), RandomBytes(1536 * 1024, seed + 1));
    WriteBytes(content + QStringLiteral("/docs/c.txt"), QByteArray(300 * 1024, 'c'));
    const TToolRun run =
        RunProgram(SystemTool("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-d"), content,
                                             image, QStringLiteral("%1M").arg(sizeMiB)});
    return run.Exit == 0;
}

// Adds (or replaces) one file in the volume with debugfs.
inline bool PutFileIntoVolume(const QString& image, const QString& name, const QByteArray& data,
                              const QString& scratch) {
    const QString local = scratch + QStringLiteral("/put.bin");
    if (!WriteBytes(local, data))
        return false;
    RunProgram(SystemTool("debugfs"),
               {QStringLiteral("-w"), QStringLiteral("-R"), QStringLiteral("rm ") + name, image});
    return RunProgram(SystemTool("debugfs"), {QStringLiteral("-w"), QStringLiteral("-R"),
                                              QStringLiteral("write %1 %2").arg(local, name), image})
               .Exit == 0;
}

inline bool FsckClean(const QString& image) {
    return RunProgram(SystemTool("fsck.ext4"), {QStringLiteral("-n"), QStringLiteral("-f"), image}).Exit == 0;
}

inline QByteArray Sha256OfFile(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}
