#include "storage/ChangeName.h"

#include "core/base/TextFile.h"
#include "core/model/TJob.h"
#include "core/model/TJobList.h"
#include "core/model/TJobLock.h"
#include "core/settings/TAppGlobals.h"
#include "storage/StoragePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

std::function<void(const char* step)> RenameStepHookForTesting;

namespace {

// The note's second line: whether the destination is renamed too.
constexpr QLatin1StringView NoteSuffix(".vld.renaming");
constexpr QLatin1StringView DestinationMark("destination");
constexpr QLatin1StringView LocalMark("local");
constexpr qint64 MaxNoteSize = 4096;

void Step(const char* name) {
    if (RenameStepHookForTesting)
        RenameStepHookForTesting(name);
}

QString LocalFile(const QString& name) {
    return App().ApplicationDirectory + u'/' + name + QStringLiteral(".vld");
}

QString NotePath(const QString& oldName) {
    return App().ApplicationDirectory + u'/' + oldName + NoteSuffix;
}

// The user is sent to the events log when a rename fails: the reasons the destination gave
// are in the job log, so they are copied there.
void CopyErrorLinesToEventsLog(const TJob& job, qsizetype firstLine) {
    const QString marker = QStringLiteral(": ") + job.Tr(QStringLiteral("ERROR:"));
    const QStringList& log = job.LastJobResult.Log;
    for (qsizetype i = firstLine; i < log.size(); ++i) {
        const qsizetype at = log.at(i).indexOf(marker);
        if (at >= 0)
            App().EventsLog.AddToEventsLog(log.at(i).mid(at + 2) + QStringLiteral(" (") + job.stJobName + u')');
    }
}

void RenameLogFolder(const QString& oldName, const QString& newName) {
    const QString logs = App().Options.Logging.PathForLogFiles;
    if (logs.isEmpty())
        return;
    const QString oldFolder = JoinPath(logs, oldName);
    const QString newFolder = JoinPath(logs, newName);
    // The logs are a convenience: failures are ignored, and a folder of the new name is kept.
    if (QFileInfo(oldFolder).isDir() && !QFileInfo::exists(newFolder))
        QDir().rename(oldFolder, newFolder);
}

// Gives the local job file its new name beside the old one. A hard link takes no room on a full
// disk; where links are not possible the file is copied.
bool AddNewLocalFile(const TJob& job, const QString& oldName, const QString& newName) {
    const QString from = LocalFile(oldName);
    const QString to = LocalFile(newName);
    // The name is free among the jobs: a file of that name was left by a removed job.
    const QFileInfo stale(to);
    if ((stale.exists() || stale.isSymLink()) && !QFile::remove(to))
        return false;
    if (!QFileInfo::exists(from))
        return job.SaveLocalJobFile(to);
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 || QFile::copy(from, to);
}

// The steps from the note to the commit; a failure undoes the steps taken. storage is null for a
// job that never ran.
bool RenameSteps(TJobList& jobs, TJob& job, const QString& newName, TStorageOperations* storage,
                 const QString& oldFolder) {
    const QString oldName = job.stJobName;
    const QString note = NotePath(oldName);
    Step("note");
    QString error;
    // The note of an earlier rename that could not be finished (its destination was away) tells
    // the next start how to put the destination right: it is never replaced.
    const bool earlierRename = QFileInfo::exists(note);
    if (earlierRename)
        error = QString::fromLocal8Bit(std::strerror(EEXIST));
    if (earlierRename ||
        !WriteTextFileLines(note, {newName, storage ? QString(DestinationMark) : QString(LocalMark)}, 0600, &error)) {
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Unable to write the file:")) + u' ' + note +
                                       QStringLiteral(" (") + error + u')');
        return false;
    }
    Step("local file");
    if (!AddNewLocalFile(job, oldName, newName)) {
        AddToEventsLog(
            QStringLiteral("Unable to rename the file \"%s\" to \"%s\" in directory: %s"),
            {oldName + QStringLiteral(".vld"), newName + QStringLiteral(".vld"), App().ApplicationDirectory});
        QFile::remove(note);
        return false;
    }
    const QString newFolder = FolderPart(oldFolder) + newName;
    const QString extension = App().RemoteJobFileExtension;
    bool folderRenamed = false;
    bool fileRenamed = false;
    const auto undo = [&] {
        // The job keeps its old name, so the destination must keep it too. When that fails the
        // note stays, and the next start renames the destination back.
        bool undone = !fileRenamed || storage->FileOperation(atRenameRemoteFile, oldFolder + extension,
                                                             newFolder + extension, 0, true) == orSuccess;
        undone = undone && (!folderRenamed ||
                            storage->FileOperation(atRenameRemoteFolder, oldFolder, newFolder, 0, true) == orSuccess);
        if (!undone)
            return;
        QFile::remove(LocalFile(newName));
        QFile::remove(note);
    };
    if (storage) {
        // The interface waits for a rename: one attempt each, no waits between attempts.
        Step("destination folder");
        if (storage->FileOperation(atRenameRemoteFolder, newFolder, oldFolder, 0, true) != orSuccess) {
            undo();
            return false;
        }
        folderRenamed = true;
        // Without its stored job file the renamed folder would not be found again.
        Step("destination file");
        if (storage->FileOperation(atRenameRemoteFile, newFolder + extension, oldFolder + extension, 0, true) !=
            orSuccess) {
            undo();
            return false;
        }
        fileRenamed = true;
    }
    Step("jobs list");
    job.stJobName = newName;
    if (!jobs.SaveJobsList()) {
        job.stJobName = oldName;
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Error: unable to save the jobs list:")) +
                                       jobs.JobsListPath());
        undo();
        return false;
    }
    Step("clean up");
    QFile::remove(LocalFile(oldName));
    if (storage)
        RenameLogFolder(oldName, newName);
    QFile::remove(note);
    return true;
}

// Renames the job's folder and stored job file at its destination back from newName to the job's
// name, as far as the rename got. False when the destination cannot be reached.
bool UndoDestinationRename(TJob& job, const QString& newName, TStorageOperations::TBranchFactory factory) {
    const qsizetype lines = job.LastJobResult.Log.size();
    job.JobStatus = jsRunning;
    job.JobOperation = joRename;
    job.OptionsToJobOptions();
    bool reached = false;
    {
        TStorageOperations storage(job, std::move(factory));
        const QString oldFolder = storage.ConnectToStorage();
        if (storage.IsConnectError(oldFolder)) {
            App().EventsLog.AddToEventsLog(oldFolder + QStringLiteral(" (") + job.stJobName + u')');
        } else {
            reached = true;
            const QString newFolder = FolderPart(oldFolder) + newName;
            const QString extension = App().RemoteJobFileExtension;
            // A step that was not taken fails harmlessly: a rename never replaces an item.
            storage.FileOperation(atRenameRemoteFile, oldFolder + extension, newFolder + extension, 0, false);
            storage.FileOperation(atRenameRemoteFolder, oldFolder, newFolder, 0, false);
        }
        storage.DisconnectFromStorage();
    }
    // The job log is that of the job's last run: the recovery leaves it as it was.
    while (job.LastJobResult.Log.size() > lines)
        job.LastJobResult.Log.removeLast();
    job.CurrentFileOperationType = atNone;
    job.CurrentFileOperationPath.Clear();
    job.JobStatus = jsNone;
    return reached;
}

QStringList ReadNote(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = file.read(MaxNoteSize);
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    return QString::fromUtf8(data).split(QStringLiteral("\r\n"));
}

} // namespace

bool ChangeName(TJobList& jobs, TJob& job, const QString& newname, TStorageOperations::TBranchFactory factory) {
    if (job.LastJobResult.EndTime == 0)
        return RenameSteps(jobs, job, newname, nullptr, QString()); // nothing at the destination yet

    job.JobStatus = jsRunning;
    job.JobOperation = joRename;
    job.OptionsToJobOptions();
    const qsizetype firstLine = job.LastJobResult.Log.size();
    TStorageOperations storage(job, std::move(factory));
    const QString oldFolder = storage.ConnectToStorage();
    bool renamed = false;
    if (storage.IsConnectError(oldFolder)) {
        App().EventsLog.AddToEventsLog(oldFolder);
    } else {
        renamed = RenameSteps(jobs, job, newname, &storage, oldFolder);
        if (!renamed)
            CopyErrorLinesToEventsLog(job, firstLine);
    }
    storage.DisconnectFromStorage();
    job.CurrentFileOperationType = atNone;
    job.CurrentFileOperationPath.Clear();
    job.JobStatus = jsNone;
    job.RequestRepaint();
    return renamed;
}

void CompleteInterruptedRenames(TJobList& jobs, const TStorageOperations::TBranchFactory& factory) {
    const QString folder = App().ApplicationDirectory;
    const QStringList notes =
        QDir(folder).entryList({QStringLiteral("*") + NoteSuffix}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : notes) {
        const QString oldName = name.chopped(NoteSuffix.size());
        const QString note = folder + u'/' + name;
        // A process renaming the job holds its lock: that rename is not interrupted.
        TJobLock lock;
        if (oldName.isEmpty() || !lock.TryLock(folder, oldName))
            continue;
        const QStringList lines = ReadNote(note);
        const QString newName = lines.value(0);
        if (newName.isEmpty() || newName == oldName) {
            QFile::remove(note);
            continue;
        }
        const bool destination = lines.value(1) == DestinationMark;
        // The list on disk decides: it may have been saved after this process loaded it.
        QStringList listed;
        if (!jobs.ReadJobsList(listed))
            continue;
        if (listed.contains(newName) && !listed.contains(oldName)) {
            // Committed: only the clean-up is left.
            if (TJob* loaded = jobs.Find(oldName); loaded && !jobs.Find(newName))
                loaded->stJobName = newName;
            if (QFileInfo::exists(LocalFile(newName)))
                QFile::remove(LocalFile(oldName));
            else
                QFile::rename(LocalFile(oldName), LocalFile(newName));
            if (destination)
                RenameLogFolder(oldName, newName);
            QFile::remove(note);
        } else if (listed.contains(oldName) && !listed.contains(newName)) {
            // Not committed: the job keeps its old name everywhere.
            if (destination) {
                TJob* job = jobs.Find(oldName);
                if (!job || !UndoDestinationRename(*job, newName, factory))
                    continue; // tried again at the next start
            }
            if (QFileInfo::exists(LocalFile(oldName)))
                QFile::remove(LocalFile(newName));
            QFile::remove(note);
        } else {
            QFile::remove(note); // the list has changed since: nothing here is this rename's any more
        }
    }
}
