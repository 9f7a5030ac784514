#include "jobs/files/RestorePoints.h"

#include "core/base/TextFormat.h"

QString RestorePointName(const QDateTime& start, TRunKind kind, const TCompression& compression) {
    if (kind == TRunKind::Mirror)
        return {};
    QString marker;
    if (compression.Enabled) {
        marker = compression.CreateIndividualZipForEachItem ? QStringLiteral("ZIPs") : QStringLiteral("ZIP");
        // A blank before the comma marks password-protected archives.
        marker += compression.ProtectWithPassword ? QStringLiteral(" , ") : QStringLiteral(", ");
    }
    QString suffix;
    switch (kind) {
    case TRunKind::Full:
        suffix = QStringLiteral("Full)");
        break;
    case TRunKind::Incremental:
        suffix = QStringLiteral("Incremental)");
        break;
    case TRunKind::Differential:
        suffix = QStringLiteral("Differential)");
        break;
    case TRunKind::Mirror:
        break;
    }
    return LogFileStamp(start) + QStringLiteral(" (") + marker + suffix;
}

QString KindMarker(TBackupType type) {
    switch (type) {
    case btIncremental:
        return QStringLiteral("Incremental)");
    case btDifferential:
        return QStringLiteral("Differential)");
    case btFull:
        return QStringLiteral("Full)");
    case btSynchronization:
        return QStringLiteral("Syncronization)");
    }
    return {};
}

bool BackupTypeFromMarker(const QString& marker, TBackupType& type) {
    for (TBackupType candidate : {btIncremental, btDifferential, btFull, btSynchronization}) {
        if (marker == KindMarker(candidate)) {
            type = candidate;
            return true;
        }
    }
    return false;
}

TZipKind ZipKindOfRestorePoint(const QString& name) {
    if (name.contains(QStringLiteral("(ZIPs,")) || name.contains(QStringLiteral("(ZIPs ,")))
        return TZipKind::ArchivePerFile;
    if (name.contains(QStringLiteral("(ZIP,")) || name.contains(QStringLiteral("(ZIP ,")))
        return TZipKind::OneArchive;
    return TZipKind::None;
}

bool RestorePointNeedsPassword(const QString& name) {
    return name.contains(QStringLiteral("(ZIP ,")) || name.contains(QStringLiteral("(ZIPs ,"));
}

TRunChoice ChooseRunKind(const TBackupSettings& settings, const TRemoteBackupState& state,
                         const std::function<QString(const QString&)>& tr) {
    TRunChoice choice;
    if (settings.BackupType == btFull)
        return choice;
    if (settings.BackupType == btSynchronization) {
        choice.Kind = TRunKind::Mirror;
        return choice;
    }
    const QStringList& list = state.MainBackupList;
    // N: restore points after the newest full one (entry 0, the marker, is never examined).
    int sinceFull = -1;
    for (qsizetype i = list.size() - 1; i >= 1; --i) {
        if (list.at(i).endsWith(QStringLiteral("Full)"))) {
            sinceFull = int(list.size() - 1 - i);
            break;
        }
    }
    if (sinceFull < 0)
        return choice;
    const bool incremental = settings.BackupType == btIncremental;
    if (settings.PerformFullBackup_Condition == bcEveryCopies) {
        if (sinceFull >= settings.PerformFullBackup_EveryCopies) {
            choice.Reason = FormatText(
                tr(incremental ? QStringLiteral("The number of incremental copies (%s) has reached the specified value "
                                                "(%s). We need to perform a full backup.")
                               : QStringLiteral("The number of differential copies (%s) has reached the specified "
                                                "value (%s). We need to perform a full backup.")),
                {QString::number(sinceFull), QString::number(settings.PerformFullBackup_EveryCopies)});
            return choice;
        }
    } else if (state.SizeOfLastFullBackup > 0) {
        // The product is a 64-bit integer; the division is exact (no rounding before comparing).
        const long double percent = (long double)(state.SizeOfAllIncrementsOrLastDifferentialCopy * 100) /
                                    (long double)state.SizeOfLastFullBackup;
        if (percent >= (long double)settings.PerformFullBackup_SumExceedsPercentOfFullBackup) {
            choice.Reason = FormatText(
                tr(incremental ? QStringLiteral("The total size of all increments (%s) exceeds %s%% of the size of "
                                                "the full backup (%s). We need to perform a full backup.")
                               : QStringLiteral("The size of differential copy (%s) exceeds %s%% of the size of the "
                                                "full backup (%s). We need to perform a full backup.")),
                {FormatSize(state.SizeOfAllIncrementsOrLastDifferentialCopy),
                 QString::number(settings.PerformFullBackup_SumExceedsPercentOfFullBackup),
                 FormatSize(state.SizeOfLastFullBackup)});
            return choice;
        }
    }
    choice.Kind = incremental ? TRunKind::Incremental : TRunKind::Differential;
    return choice;
}

QStringList ChooseOldRestorePoints(QStringList& mainBackupList, int keep) {
    QStringList removed;
    if (keep <= 0)
        return removed;
    int fullSeen = 0;
    for (qsizetype i = mainBackupList.size() - 1; i >= 1; --i) {
        if (fullSeen == keep) {
            removed.append(mainBackupList.takeAt(i));
        } else if (mainBackupList.at(i).endsWith(QStringLiteral("Full)"))) {
            ++fullSeen;
        }
    }
    return removed;
}
