#include "core/model/TJobList.h"

#include "core/base/AtomicFile.h"
#include "core/settings/TAppGlobals.h"

#include <QFile>

TJobList::TJobList(TJobFactory factory)
    : m_factory(std::move(factory)) {}

QString TJobList::JobsListPath() const {
    return App().ApplicationDirectory + u'/' + App().JobsListFileName;
}

bool TJobList::ReadJobsList(QStringList& names) const {
    names.clear();
    QFile file(JobsListPath());
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return false;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QStringList lines = QString::fromUtf8(data).split(u'\n');
    for (QString name : lines) {
        if (name.endsWith(u'\r'))
            name.chop(1);
        if (!name.isEmpty())
            names.append(name);
    }
    return true;
}

bool TJobList::LoadJobsListAndJobs() {
    QStringList names;
    if (!ReadJobsList(names))
        return false;
    for (const QString& name : std::as_const(names)) {
        const QString path = App().ApplicationDirectory + u'/' + name + QStringLiteral(".vld");
        const int kind = GetJobFileKind(path);
        std::unique_ptr<TJob> job = CreateJob(kind, name);
        if (!job)
            continue;
        TJob* added = Append(std::move(job));
        added->LoadLocalJobFile(path);
    }
    return true;
}

bool TJobList::SaveJobsList() const {
    QByteArray data("\xEF\xBB\xBF");
    for (const auto& job : m_jobs)
        data += job->stJobName.toUtf8() + "\r\n";
    return WriteFileAtomically(JobsListPath(), data, 0600);
}

TJob* TJobList::Find(const QString& name) const {
    for (const auto& job : m_jobs)
        if (job->stJobName == name)
            return job.get();
    return nullptr;
}

TJob* TJobList::FindIgnoringCase(const QString& name) const {
    for (const auto& job : m_jobs)
        if (job->stJobName.compare(name, Qt::CaseInsensitive) == 0)
            return job.get();
    return nullptr;
}

int TJobList::IndexOf(const TJob* job) const {
    for (size_t i = 0; i < m_jobs.size(); ++i)
        if (m_jobs[i].get() == job)
            return int(i);
    return -1;
}

std::unique_ptr<TJob> TJobList::CreateJob(int kind, const QString& name) const {
    if (kind < 1 || kind > 3 || !m_factory)
        return nullptr;
    return m_factory(kind, name);
}

TJob* TJobList::Append(std::unique_ptr<TJob> job) {
    m_jobs.push_back(std::move(job));
    return m_jobs.back().get();
}

std::unique_ptr<TJob> TJobList::Take(int index) {
    std::unique_ptr<TJob> job = std::move(m_jobs.at(size_t(index)));
    m_jobs.erase(m_jobs.begin() + index);
    return job;
}

std::unique_ptr<TJob> TJobList::Replace(int index, std::unique_ptr<TJob> job) {
    std::swap(m_jobs.at(size_t(index)), job);
    return job;
}

bool TJobList::Move(int index, int delta) {
    const int target = index + delta;
    if (index < 0 || index >= Count() || target < 0 || target >= Count())
        return false;
    std::swap(m_jobs[size_t(index)], m_jobs[size_t(target)]);
    return true;
}
