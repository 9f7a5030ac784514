#include "ZipTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZipTest {

TToolResult Run(const QString& program, const QStringList& arguments, const QString& workingFolder,
                const QByteArray& input) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingFolder.isEmpty())
        process.setWorkingDirectory(workingFolder);
    process.start(program, arguments);
    TToolResult result;
    if (!process.waitForStarted(30000)) {
        result.Output = "cannot start " + program.toUtf8();
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(600000);
    result.Output = process.readAll();
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QString Python() {
    return QStringLiteral("/usr/bin/python3");
}

QMap<QString, TFileState> ReadTree(const QString& root) {
    QMap<QString, TFileState> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString relative = path.mid(root.size() + 1);
        struct stat status {};
        if (lstat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        TFileState state;
        state.MTimeSeconds = status.st_mtim.tv_sec;
        state.Mode = status.st_mode;
        if (S_ISLNK(status.st_mode)) {
            char target[4096];
            const ssize_t n = readlink(QFile::encodeName(path).constData(), target, sizeof target);
            state.Content = QByteArray(target, int(std::max<ssize_t>(n, 0)));
        } else if (S_ISDIR(status.st_mode)) {
            relative += u'/';
        } else {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                state.Content = file.readAll();
        }
        tree.insert(relative, state);
    }
    return tree;
}

void WriteFile(const QString& path, const QByteArray& content, int64_t mtimeSeconds, uint32_t mode) {
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), content.size());
    file.close();
    const QByteArray native = QFile::encodeName(path);
    QCOMPARE(chmod(native.constData(), mode), 0);
    struct timespec times[2] = {{mtimeSeconds, 0}, {mtimeSeconds, 0}};
    QCOMPARE(utimensat(AT_FDCWD, native.constData(), times, 0), 0);
}

QByteArray TextBytes(int64_t size, int seed) {
    static const char* words[] = {"backup ", "archive ", "folder ", "restore ", "point ", "file ",
                                  "copy ",   "zip ",     "entry\n", "time ",    "size ",  "job "};
    QRandomGenerator random{uint32_t(seed)};
    QByteArray text;
    text.reserve(qsizetype(size) + 16);
    while (text.size() < size)
        text.append(words[random.bounded(12)]);
    text.truncate(qsizetype(size));
    return text;
}

QByteArray RandomBytes(int64_t size, int seed) {
    QRandomGenerator random{uint32_t(seed) * 7919u + 1};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

QByteArray LocalExtraOf(const QByteArray& archive, const QByteArray& name) {
    for (qsizetype pos = archive.indexOf("PK\x03\x04"); pos >= 0 && pos + 30 <= archive.size();
         pos = archive.indexOf("PK\x03\x04", pos + 4)) {
        const auto u16 = [&](qsizetype at) { return int(uint8_t(archive[at])) | (int(uint8_t(archive[at + 1])) << 8); };
        const int nameLength = u16(pos + 26);
        const int extraLength = u16(pos + 28);
        if (archive.mid(pos + 30, nameLength) == name)
            return archive.mid(pos + 30 + nameLength, extraLength);
    }
    return {};
}

QByteArray ExtraField(const QByteArray& extra, uint16_t id) {
    for (qsizetype pos = 0; pos + 4 <= extra.size();) {
        const uint16_t fieldId = uint16_t(uint8_t(extra[pos]) | (uint8_t(extra[pos + 1]) << 8));
        const int length = int(uint8_t(extra[pos + 2]) | (uint8_t(extra[pos + 3]) << 8));
        if (fieldId == id)
            return extra.mid(pos + 4, length);
        pos += 4 + length;
    }
    return {};
}

} // namespace ZipTest
