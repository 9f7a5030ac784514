#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <memory>

class TJob;
class TJobList;

// Keeps a job list that runs without windows ("vaultora-cli run-scheduler") in step with the job
// files that other processes write: the commands new, schedule, rename and remove change the
// jobs list and the local job files while the scheduler runs. Without this the scheduler would
// go on with the schedule it loaded, and its next save of a job file would silently undo the
// change.
//
// Jobs that are not active are reloaded when their local job file is replaced; jobs that appear
// in the jobs list are added, and jobs that leave it are dropped once they are not active. Every
// file is recognised by its identity and modification time: job files are always replaced whole.
class TJobFileSync {
public:
    // Takes the files as they are now as the ones the list was loaded from.
    explicit TJobFileSync(TJobList& jobs);

    // Brings the list in step with the files; true when a job was added, dropped or reloaded.
    bool Refresh();
    // The job's local job file is still the one its settings came from.
    bool IsCurrent(const TJob& job) const;
    // This process has just written the job's local job file from the job itself: the file as it
    // is now is the job's own, and is not read back. The window saves jobs it keeps working with
    // (a new job set waiting, say), whose state a reload would lose.
    void Adopt(const TJob& job);

private:
    struct TFileStamp {
        bool Exists = false;
        dev_t Device = 0;
        ino_t Inode = 0;
        qint64 ModifiedNs = 0;
        qint64 Size = 0;
        bool operator==(const TFileStamp&) const = default;
    };

    static TFileStamp StampOf(const QString& path);
    static QString JobFilePath(const QString& name);
    // A new job object read from its local job file; nullptr when the file cannot be read.
    std::unique_ptr<TJob> LoadJob(const QString& name);
    bool ApplyJobsList();

    TJobList& m_jobs;
    TFileStamp m_listStamp;
    QStringList m_listNames;
    QHash<QString, TFileStamp> m_fileStamps; // by job name
};
