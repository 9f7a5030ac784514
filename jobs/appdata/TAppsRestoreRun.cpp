#include "jobs/appdata/TAppsRestoreRun.h"

#include "jobs/appdata/AppLists.h"
#include "jobs/appdata/TAppRegistry.h"

#include "core/base/AtomicFile.h"
#include "core/base/OleDate.h"
#include "core/base/TClock.h"
#include "core/settings/TAppGlobals.h"
#include "storage/StoragePaths.h"
#include "storage/TSleeper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TAppsRestoreRun::TAppsRestoreRun(TJob_AppsData& job, TSleeper& sleeper, TClock& clock, TAppRegistry& registry,
                                 const QProcessEnvironment& environment, TStorageOperations::TBranchFactory branches)
    : m_job(job)
    , m_sleeper(sleeper)
    , m_clock(clock)
    , m_registry(registry)
    , m_resolver(environment, &registry)
    , m_storage(job, std::move(branches), &sleeper) {}

QString TAppsRestoreRun::TempPath(const QString& name) const {
    return JoinPath(JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName), name);
}

bool TAppsRestoreRun::WaitWhilePaused() {
    while (m_job.JobStatus == jsPaused)
        m_sleeper.Sleep(1000);
    return Cancelled();
}

void TAppsRestoreRun::Run() {
    // 1.
    const QDateTime start = m_clock.Now();
    const QString starting = m_job.TrFormat(QStringLiteral("Starting the \"%s\" restore."), {m_job.stJobName});
    m_job.AddLogLine(starting);
    App().EventsLog.AddToEventsLog(starting);
    m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Starting the restore.")), false);
    m_job.JobStatus = jsRunning;
    m_job.JobOperation = joRestore;
    m_job.BeginRunLog(start);
    // 2.
    const QString connected = m_storage.ConnectToStorage();
    if (m_storage.IsConnectError(connected)) {
        App().EventsLog.AddToEventsLog(connected);
        Cancel();
    } else {
        m_jobFolder = connected;
        CreateFolderPath(JoinPath(m_job.JobOptions.General.PathForTempFiles, m_job.stJobName), 0700);
        m_renameStamp =
            QStringLiteral(" - RENAMED ON ") + m_clock.Now().toString(QStringLiteral("yyyy-MM-dd hh;mm;ss"));
        // 3.
        for (const TAppData& definition : std::as_const(m_job.RemoteAppsData)) {
            if (Cancelled())
                break;
            if (m_job.RemoteAppsSelectedForRestore.contains(definition.Name))
                RestoreApplication(definition);
        }
    }
    WriteEnding(); // 6, 7, 8
}

void TAppsRestoreRun::RestoreApplication(const TAppData& definition) {
    m_job.AddPlainLine(QString());
    m_job.AddPlainLine(QString(26, u'-'));
    m_job.AddPlainLine(definition.Name);
    if (!IsUsableAppFolderName(definition.Name)) {
        m_job.AddErrorLine(Tr(QStringLiteral("The application name cannot be used as a folder name:")) + u' ' +
                           definition.Name);
        return;
    }
    const QString appFolder = JoinPath(m_jobFolder, definition.Name);
    for (qsizetype i = 0; i < definition.Folders.size() && !Cancelled(); ++i)
        if (!RestoreFolderEntry(appFolder, int(i), definition.Folders.at(i)))
            break;
    for (qsizetype k = 0; k < definition.RegistryPaths.size() && !Cancelled(); ++k)
        if (!RestoreRegistryEntry(appFolder, int(k), definition.RegistryPaths.at(k)))
            break;
}

bool TAppsRestoreRun::RenameLocalData(const QString& path) {
    const TAppEntryKind kind = TAppPathResolver::KindOf(path);
    if (kind == TAppEntryKind::Folder) {
        m_job.AddPlainLine(QString());
        m_job.AddLogLine(Tr(QStringLiteral("Renaming the directory:")) + u' ' + path);
        const QString clean = QDir::cleanPath(path);
        if (!QDir().rename(clean, clean + m_renameStamp)) {
            m_job.AddErrorLine(Tr(QStringLiteral("Unable to rename the directory.")) + u' ' + path);
            return false;
        }
        return true;
    }
    if (kind == TAppEntryKind::File) {
        m_job.AddPlainLine(QString());
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) {
            m_job.AddWarningLine(Tr(QStringLiteral("The source does not exist:")) + u' ' + path);
            return true;
        }
        m_job.AddLogLine(Tr(QStringLiteral("Renaming the file:")) + u' ' + path);
        if (!QFile::rename(path, path + m_renameStamp)) {
            m_job.AddErrorLine(
                m_job.TrFormat(QStringLiteral("Unable to rename the file \"%s\" to \"%s\" in directory: %s"),
                               {info.fileName(), info.fileName() + m_renameStamp, info.path()}));
            return false;
        }
        return true;
    }
    // A wildcard: every matching file of its folder.
    m_job.AddPlainLine(QString());
    m_job.AddLogLine(Tr(QStringLiteral("Renaming the file:")) + u' ' + path);
    const QString folder = TAppPathResolver::WildcardFolder(path);
    const QString mask = TAppPathResolver::WildcardMask(path);
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& file : files) {
        if (!TAppPathResolver::MatchesMask(file.fileName(), mask))
            continue;
        m_job.AddLogLine(Tr(QStringLiteral("Renaming the file:")) + u' ' + file.filePath());
        if (!file.exists()) {
            m_job.AddWarningLine(Tr(QStringLiteral("The file does not exist:")) + u' ' + file.filePath());
            continue;
        }
        QFile renamed(file.filePath());
        if (!renamed.rename(file.filePath() + m_renameStamp))
            m_job.AddErrorLine(WithoutLineBreaks(renamed.errorString()));
    }
    return true;
}

bool TAppsRestoreRun::RestoreFolderEntry(const QString& appFolder, int index, const QString& entry) {
    const QString path = m_resolver.Resolve(entry);
    if (path.isEmpty())
        return true;
    if (!RenameLocalData(path))
        return false;
    const QString entryFolder = JoinPath(appFolder, QString::number(index));
    QStringList files, folders;
    for (const auto& [name, list] :
         {std::pair{QStringLiteral("_rf.vll"), &files}, std::pair{QStringLiteral("_rd.vll"), &folders}}) {
        const QString local = TempPath(name);
        if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, local, JoinPath(entryFolder, name), 0, true) !=
                orSuccess ||
            !LoadAppList(local, *list))
            return false;
        QFile::remove(local);
    }
    if (files.isEmpty() && folders.isEmpty())
        return true;
    m_job.AddPlainLine(QString());
    m_job.AddLogLine(Tr(QStringLiteral("Restoring the directory:")) + u' ' + path);
    QString target = QDir::cleanPath(path);
    if (TAppPathResolver::KindOf(path) == TAppEntryKind::Wildcard)
        target = QDir::cleanPath(TAppPathResolver::WildcardFolder(path));
    else
        target = target.left(target.lastIndexOf(u'/'));
    if (target.isEmpty())
        target = QStringLiteral("/");
    // The lists come from the storage: only paths inside the target are written.
    const auto contained = [this](const QString& relative) {
        if (IsContainedRelativePath(relative))
            return true;
        m_job.AddWarningLine(Tr(QStringLiteral("The stored path is not valid and is skipped:")) + u' ' + relative);
        return false;
    };
    if (!QFileInfo(target).isDir()) {
        QString error;
        if (!CreateFolderPath(target, 0700, &error)) {
            m_job.AddErrorLine(error + u' ' + target);
            Cancel();
            return false;
        }
    }
    for (const QString& folder : std::as_const(folders)) {
        if (!contained(folder))
            continue;
        const QString local = JoinPath(target, folder);
        if (QFileInfo(local).isDir())
            continue;
        m_job.AddLogLine(Tr(QStringLiteral("Creating the directory:")) + u' ' + local);
        QString error;
        if (!CreateFolderPath(local, 0700, &error)) {
            m_job.AddErrorLine(error + u' ' + local);
            Cancel();
            return false;
        }
    }
    for (const QString& file : std::as_const(files)) {
        if (WaitWhilePaused())
            return false;
        if (!contained(file))
            continue;
        if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, JoinPath(target, file), JoinPath(entryFolder, file),
                                    Retries(), true) != orSuccess) {
            Cancel();
            return false;
        }
    }
    return !Cancelled();
}

bool TAppsRestoreRun::RestoreRegistryEntry(const QString& appFolder, int index, const QString& key) {
    m_job.AddPlainLine(QString());
    const QString name = QString::number(index) + QStringLiteral(".rgh");
    const QString local = TempPath(name);
    if (m_storage.FileOperation(atCopyFromRemoteToLocalFile, local, JoinPath(appFolder, name), 0, false) != orSuccess ||
        key.isEmpty())
        return true;
    QString error;
    if (m_registry.KeyExists(key)) {
        m_job.AddLogLine(Tr(QStringLiteral("Renaming the registry key:")) + u' ' + key);
        QString last = key;
        last.replace(u'\\', u'/');
        while (last.endsWith(u'/'))
            last.chop(1);
        last = LastPathComponent(last);
        if (!m_registry.RenameKey(key, last + m_renameStamp, &error)) {
            if (error.startsWith(QStringLiteral("RegKeyRename1 ")))
                m_job.AddLogLine(error);
            m_job.AddErrorLine(Tr(QStringLiteral("Unable to rename the registry key:")) + u' ' + key);
            return false;
        }
    }
    m_job.AddLogLine(Tr(QStringLiteral("Restoring the registry key:")) + u' ' + key);
    const bool restored = m_registry.RestoreKey(key, local, &error);
    QFile::remove(local);
    if (!restored) {
        if (error.startsWith(QStringLiteral("RestoreRegKey ")))
            m_job.AddLogLine(error);
        m_job.AddErrorLine(Tr(QStringLiteral("Unable to restore the registry key:")) + u' ' + key);
        return false;
    }
    return true;
}

void TAppsRestoreRun::WriteEnding() {
    // 6.
    m_job.AddPlainLine(QString());
    m_job.AddPlainLine(QString(49, u'-'));
    m_job.AddWarningLine(
        Tr(QStringLiteral(
            "Old directories and Registry keys of applications were renamed before the restore procedure.")) +
        u' ' +
        Tr(QStringLiteral(
            "If you are not satisfied with the results, you can always return the previous folders and keys.")) +
        u' ' +
        Tr(QStringLiteral(
            "Search this log for the word \"Renaming\" to see which directories and Registry keys have been "
            "renamed and where to find them.")) +
        QStringLiteral("\r\n"));
    // 7.
    const QString name = m_job.stJobName;
    if (Cancelled()) {
        m_job.AddLogLine(Tr(QStringLiteral("Restore is cancelled.")));
        m_job.AddEventtoBackupHistory(Tr(QStringLiteral("Restore is cancelled.")), false);
        App().EventsLog.AddToEventsLog(m_job.TrFormat(QStringLiteral("\"%s\" restore is cancelled."), {name}));
        m_job.LastJobResult.Cancelled = true;
    } else {
        const char16_t* text = u"Restore job \"%s\" is finished.";
        const char16_t* history = u"Restore job is finished.";
        if (m_job.LastJobResult.ErrorsCount >= 1) {
            text = u"Restore job \"%s\" is finished with errors.";
            history = u"Restore job is finished with errors.";
        } else if (m_job.LastJobResult.WarningsCount >= 1) {
            text = u"Restore job \"%s\" is finished with warnings.";
            history = u"Restore job is finished with warnings.";
        }
        const QString line = m_job.TrFormat(QString::fromUtf16(text), {name});
        m_job.AddLogLine(line);
        App().EventsLog.AddToEventsLog(line);
        m_job.AddEventtoBackupHistory(Tr(QString::fromUtf16(history)), false);
    }
    // 8.
    m_job.AddLogLine(Tr(QStringLiteral("Removing the temporary files.")));
    m_job.DeleteTempFiles();
    m_storage.DisconnectFromStorage();
    m_job.SaveRunLog();
    m_job.LastJobResult.EndTime = OleDate::Now();
    if (!App().IsQuitting)
        m_job.SaveLocalJobFileAtEndOfRun();
}
