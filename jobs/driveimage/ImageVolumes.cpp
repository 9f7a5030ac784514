#include "jobs/driveimage/ImageVolumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

struct TMountLine {
    unsigned Major = 0;
    unsigned Minor = 0;
    QString MountPoint;
    QString Options;
    QString Source;
};

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
QString Unescape(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = false;
            const int value = digits.toInt(&ok, 8);
            if (ok && digits.size() == 3) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(field.at(i));
    }
    return QFile::decodeName(out);
}

QList<TMountLine> ReadMountInfo() {
    QList<TMountLine> mounts;
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return mounts;
    // /proc files report no size: read until the end rather than by size.
    const QByteArray all = file.readAll();
    for (const QByteArray& line : all.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf(QByteArray("-"));
        if (fields.size() < 6 || dash < 6 || dash + 2 >= fields.size())
            continue;
        const QList<QByteArray> numbers = fields.at(2).split(':');
        if (numbers.size() != 2)
            continue;
        TMountLine mount;
        mount.Major = numbers.at(0).toUInt();
        mount.Minor = numbers.at(1).toUInt();
        mount.MountPoint = Unescape(fields.at(4));
        mount.Options = QString::fromLatin1(fields.at(5));
        mount.Source = Unescape(fields.at(dash + 2));
        mounts.append(mount);
    }
    return mounts;
}

// The loop device whose backing file is path, as its device number; 0 when none.
dev_t LoopDeviceOver(const QString& canonicalPath) {
    const QDir block(QStringLiteral("/sys/block"));
    for (const QString& name : block.entryList({QStringLiteral("loop*")}, QDir::Dirs | QDir::System)) {
        QFile backing(block.filePath(name + QStringLiteral("/loop/backing_file")));
        if (!backing.open(QIODevice::ReadOnly))
            continue;
        const QString file = QFile::decodeName(backing.readAll().trimmed());
        if (file != canonicalPath)
            continue;
        QFile numbers(block.filePath(name + QStringLiteral("/dev")));
        if (!numbers.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> parts = numbers.readAll().trimmed().split(':');
        if (parts.size() == 2)
            return makedev(parts.at(0).toUInt(), parts.at(1).toUInt());
    }
    return 0;
}

} // namespace

void FindMounts(dev_t dev, bool& mounted, bool& readWrite, QString& mountPoint) {
    mounted = false;
    readWrite = false;
    for (const TMountLine& mount : ReadMountInfo()) {
        if (mount.Major != major(dev) || mount.Minor != minor(dev))
            continue;
        mounted = true;
        if (mountPoint.isEmpty())
            mountPoint = mount.MountPoint;
        if (mount.Options.split(u',').contains(QStringLiteral("rw")))
            readWrite = true;
    }
}

QString MountSourceOf(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const TMountLine& mount : ReadMountInfo())
        if (mount.MountPoint == canonical)
            return mount.Source;
    return {};
}

bool ResolveImageVolume(const QString& name, TImageVolume& volume, QString& error) {
    volume = TImageVolume();
    volume.Name = name;
    struct stat info {};
    if (name.isEmpty() || ::stat(QFile::encodeName(name).constData(), &info) != 0) {
        error = QStringLiteral("The volume %1 was not found.").arg(name);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        const QString source = MountSourceOf(name);
        struct stat device {};
        if (source.isEmpty() || ::stat(QFile::encodeName(source).constData(), &device) != 0 ||
            !S_ISBLK(device.st_mode)) {
            error = QStringLiteral("The folder %1 is not the mount point of a block device.").arg(name);
            return false;
        }
        volume.Device = source;
        FindMounts(device.st_rdev, volume.Mounted, volume.MountedReadWrite, volume.MountPoint);
        return true;
    }
    if (S_ISBLK(info.st_mode)) {
        volume.Device = name;
        FindMounts(info.st_rdev, volume.Mounted, volume.MountedReadWrite, volume.MountPoint);
        return true;
    }
    if (S_ISREG(info.st_mode)) {
        volume.Device = name;
        volume.IsFile = true;
        if (const dev_t loop = LoopDeviceOver(QFileInfo(name).canonicalFilePath()))
            FindMounts(loop, volume.Mounted, volume.MountedReadWrite, volume.MountPoint);
        return true;
    }
    error = QStringLiteral("%1 is not a mount point, a block device or an image file.").arg(name);
    return false;
}
