#pragma once

#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// Names and choices around restore points: the folder names, the kind marker of the restore-point
// list, which kind a run makes and which old points retention removes.

enum class TRunKind { Full, Incremental, Differential, Mirror };

enum class TZipKind { None, OneArchive, ArchivePerFile };

// "yyyy-mm-dd hh;nn;ss (" + ZIP marker + kind suffix; empty for mirror runs.
QString RestorePointName(const QDateTime& start, TRunKind kind, const TCompression& compression);
// The marker written as entry 0 of the restore-point list for a backup type.
QString KindMarker(TBackupType type);
// The backup type a marker names; false when the text is no marker.
bool BackupTypeFromMarker(const QString& marker, TBackupType& type);
// The ZIP kind of a restore point from its folder name.
TZipKind ZipKindOfRestorePoint(const QString& name);
// A restore point whose archives are password-protected ("(ZIP ," or "(ZIPs ,").
bool RestorePointNeedsPassword(const QString& name);

struct TRunChoice {
    TRunKind Kind = TRunKind::Full;
    // The log line explaining a forced full copy (already translated and filled), or empty.
    QString Reason;
};

// Chooses the kind of the next run from the settings and the state kept at the destination.
// tr translates a message (the job's own lookup).
TRunChoice ChooseRunKind(const TBackupSettings& settings, const TRemoteBackupState& state,
                         const std::function<QString(const QString&)>& tr);

// Moves the restore points beyond the newest `keep` full copies (with everything made before
// them) out of mainBackupList (entry 0 is the marker) and returns them, newest first. keep <= 0
// keeps everything.
QStringList ChooseOldRestorePoints(QStringList& mainBackupList, int keep);
