#include "core/schedule/TJobFileSync.h"

#include "core/model/TJobList.h"
#include "core/settings/TAppGlobals.h"

#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

TJobFileSync::TJobFileSync(TJobList& jobs)
    : m_jobs(jobs) {
    m_listStamp = StampOf(m_jobs.JobsListPath());
    m_jobs.ReadJobsList(m_listNames);
    for (int i = 0; i < m_jobs.Count(); ++i) {
        const QString& name = m_jobs.At(i)->stJobName;
        m_fileStamps.insert(name, StampOf(JobFilePath(name)));
    }
}

TJobFileSync::TFileStamp TJobFileSync::StampOf(const QString& path) {
    struct stat info {};
    TFileStamp stamp;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return stamp;
    stamp.Exists = true;
    stamp.Device = info.st_dev;
    stamp.Inode = info.st_ino;
    stamp.ModifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    stamp.Size = qint64(info.st_size);
    return stamp;
}

QString TJobFileSync::JobFilePath(const QString& name) {
    return App().ApplicationDirectory + u'/' + name + QStringLiteral(".vld");
}

std::unique_ptr<TJob> TJobFileSync::LoadJob(const QString& name) {
    const QString path = JobFilePath(name);
    std::unique_ptr<TJob> job = m_jobs.CreateJob(GetJobFileKind(path), name);
    if (!job || !job->LoadLocalJobFile(path))
        return nullptr;
    return job;
}

bool TJobFileSync::IsCurrent(const TJob& job) const {
    const auto known = m_fileStamps.constFind(job.stJobName);
    return known != m_fileStamps.constEnd() && *known == StampOf(JobFilePath(job.stJobName));
}

void TJobFileSync::Adopt(const TJob& job) {
    m_fileStamps.insert(job.stJobName, StampOf(JobFilePath(job.stJobName)));
}

bool TJobFileSync::ApplyJobsList() {
    std::vector<std::unique_ptr<TJob>> previous;
    while (m_jobs.Count() > 0)
        previous.push_back(m_jobs.Take(0));
    bool changed = false;
    for (const QString& name : std::as_const(m_listNames)) {
        auto kept = std::find_if(previous.begin(), previous.end(),
                                 [&name](const std::unique_ptr<TJob>& job) { return job && job->stJobName == name; });
        if (kept != previous.end()) {
            m_jobs.Append(std::move(*kept));
            continue;
        }
        const TFileStamp stamp = StampOf(JobFilePath(name));
        if (std::unique_ptr<TJob> job = LoadJob(name)) {
            m_jobs.Append(std::move(job));
            m_fileStamps.insert(name, stamp);
            changed = true;
        }
    }
    // A job that left the list goes once it is no longer active; its worker still uses it.
    for (std::unique_ptr<TJob>& job : previous) {
        if (!job)
            continue;
        if (job->IsActive()) {
            m_jobs.Append(std::move(job));
        } else {
            m_fileStamps.remove(job->stJobName);
            changed = true;
        }
    }
    return changed;
}

bool TJobFileSync::Refresh() {
    bool changed = false;
    const TFileStamp listStamp = StampOf(m_jobs.JobsListPath());
    bool reorder = false;
    if (listStamp != m_listStamp) {
        m_listStamp = listStamp;
        QStringList names;
        // A list that cannot be read leaves the jobs as they are.
        if (m_jobs.ReadJobsList(names)) {
            m_listNames = names;
            reorder = true;
        }
    }
    for (int i = 0; i < m_jobs.Count() && !reorder; ++i)
        reorder = !m_listNames.contains(m_jobs.At(i)->stJobName) && !m_jobs.At(i)->IsActive();
    if (reorder)
        changed = ApplyJobsList();

    for (int i = 0; i < m_jobs.Count(); ++i) {
        TJob* job = m_jobs.At(i);
        if (job->IsActive())
            continue;
        const QString name = job->stJobName;
        const TFileStamp stamp = StampOf(JobFilePath(name));
        const auto known = m_fileStamps.find(name);
        if (known != m_fileStamps.end() && *known == stamp)
            continue;
        // Seen once, also when it cannot be read: a damaged file is reported once, not every tick.
        m_fileStamps.insert(name, stamp);
        if (!stamp.Exists)
            continue;
        if (std::unique_ptr<TJob> fresh = LoadJob(name)) {
            // The job's own save at the end of a run also lands here; reading it back is harmless.
            m_jobs.Replace(i, std::move(fresh));
            changed = true;
        }
    }
    return changed;
}
