#include "ui/TDriveCombo.h"

#include <QLocale>
#include <QStorageInfo>

namespace {

constexpr int OpticalRole = Qt::UserRole + 1;

QString ItemText(const TVolume& volume) {
    const QLocale locale;
    QString text = volume.RootPath;
    if (!volume.Name.isEmpty() && volume.Name != volume.RootPath)
        text += QStringLiteral("  (") + volume.Name + u')';
    if (volume.BytesTotal > 0)
        text += QStringLiteral("  ") + locale.formattedDataSize(volume.BytesFree) + QStringLiteral(" / ") +
                locale.formattedDataSize(volume.BytesTotal);
    return text;
}

} // namespace

bool IsPseudoFileSystem(const QString& fileSystem) {
    static const QStringList Pseudo{QStringLiteral("proc"),
                                    QStringLiteral("sysfs"),
                                    QStringLiteral("devtmpfs"),
                                    QStringLiteral("devpts"),
                                    QStringLiteral("tmpfs"),
                                    QStringLiteral("cgroup"),
                                    QStringLiteral("cgroup2"),
                                    QStringLiteral("securityfs"),
                                    QStringLiteral("pstore"),
                                    QStringLiteral("debugfs"),
                                    QStringLiteral("tracefs"),
                                    QStringLiteral("mqueue"),
                                    QStringLiteral("hugetlbfs"),
                                    QStringLiteral("configfs"),
                                    QStringLiteral("fusectl"),
                                    QStringLiteral("bpf"),
                                    QStringLiteral("autofs"),
                                    QStringLiteral("binfmt_misc"),
                                    QStringLiteral("rpc_pipefs"),
                                    QStringLiteral("nsfs"),
                                    QStringLiteral("efivarfs"),
                                    QStringLiteral("squashfs"),
                                    QStringLiteral("ramfs"),
                                    QStringLiteral("fuse.portal"),
                                    QStringLiteral("fuse.gvfsd-fuse"),
                                    QStringLiteral("selinuxfs")};
    return Pseudo.contains(fileSystem);
}

QList<TVolume> MountedVolumes() {
    QList<TVolume> volumes;
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        if (!storage.isValid() || !storage.isReady())
            continue;
        const QString fileSystem = QString::fromUtf8(storage.fileSystemType());
        if (IsPseudoFileSystem(fileSystem) && storage.rootPath() != QStringLiteral("/"))
            continue;
        TVolume volume;
        volume.RootPath = storage.rootPath();
        volume.Name = storage.displayName();
        const QString device = QString::fromUtf8(storage.device());
        if (volume.Name == volume.RootPath)
            volume.Name = device;
        volume.FileSystem = fileSystem;
        volume.BytesFree = storage.bytesAvailable();
        volume.BytesTotal = storage.bytesTotal();
        volume.Optical = fileSystem == QStringLiteral("udf") || fileSystem == QStringLiteral("iso9660") ||
                         device.startsWith(QStringLiteral("/dev/sr"));
        bool known = false;
        for (const TVolume& other : std::as_const(volumes))
            known = known || other.RootPath == volume.RootPath; // bind mounts repeat a mount point
        if (known)
            continue;
        if (volume.RootPath == QStringLiteral("/"))
            volumes.prepend(volume);
        else
            volumes.append(volume);
    }
    return volumes;
}

TDriveCombo::TDriveCombo(QWidget* parent)
    : QComboBox(parent) {
    setObjectName(QStringLiteral("cmbDrive"));
    Refill();
}

void TDriveCombo::Refill() {
    const QString selected = Disk();
    clear();
    for (const TVolume& volume : MountedVolumes()) {
        addItem(ItemText(volume), volume.RootPath);
        setItemData(count() - 1, volume.Optical, OpticalRole);
    }
    if (!selected.isEmpty())
        SelectDisk(selected);
}

void TDriveCombo::SelectDisk(const QString& path) {
    if (path.isEmpty()) {
        setCurrentIndex(-1);
        return;
    }
    int index = findData(path);
    if (index < 0) {
        addItem(path, path);
        index = count() - 1;
    }
    setCurrentIndex(index);
}

QString TDriveCombo::Disk() const {
    return currentIndex() >= 0 ? currentData().toString() : QString();
}

bool TDriveCombo::SelectedIsOptical() const {
    return currentIndex() >= 0 && currentData(OpticalRole).toBool();
}

QString TDriveCombo::DiskOf(const QString& folder) const {
    // The volume's mount point, as the command line records a destination folder.
    QString root = QStorageInfo(folder).rootPath();
    if (root.isEmpty() || !(folder == root || folder.startsWith(root.endsWith(u'/') ? root : root + u'/')))
        root = QStringLiteral("/");
    return root;
}
