#pragma once

#include <QComboBox>
#include <QList>
#include <QString>

// A mounted volume as the drive lists show it.
struct TVolume {
    QString RootPath;
    QString Name;       // the volume's label, else its device
    QString FileSystem; // "ext4", "iso9660", ...
    qint64 BytesFree = 0;
    qint64 BytesTotal = 0;
    bool Optical = false; // a CD, DVD or Blu-ray (UDF or ISO 9660, or a /dev/sr device)
};

// The mounted volumes that hold files a user backs up or backs up to: pseudo file systems
// (proc, sysfs, cgroups, tmpfs, ...) and snap images are left out. "/" comes first.
QList<TVolume> MountedVolumes();
bool IsPseudoFileSystem(const QString& fileSystem);

// The "Disk:" combo: the mounted volumes with their names and free space; the item data is the
// mount point. A stored disk that is no mounted volume (a base folder, a volume not plugged in)
// is shown as an item of its own so that it is kept.
class TDriveCombo : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveCombo(QWidget* parent = nullptr);

    void Refill();
    // Selects the item of path, adding one for it when no volume has that mount point.
    void SelectDisk(const QString& path);
    // The selected mount point; empty when none is selected.
    QString Disk() const;
    // The selected item is an optical drive.
    bool SelectedIsOptical() const;
    // The volume (its mount point) a folder lies on.
    QString DiskOf(const QString& folder) const;
};
