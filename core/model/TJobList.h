#pragma once

#include "core/model/TJob.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// The job list in the order of the jobs list file. Headless: the main window and the command-line
// program own one each. Creating a job of a given kind is left to a factory, so the core does not
// depend on the job kinds' engines.
class TJobList {
public:
    using TJobFactory = std::function<std::unique_ptr<TJob>(int kind, const QString& name)>;

    explicit TJobList(TJobFactory factory);

    // Reads the jobs list file and every job file it names. False when the list file does not
    // exist or cannot be read. A name whose file kind cannot be determined is skipped.
    bool LoadJobsListAndJobs();
    // The job names of the jobs list file, in order; false when it does not exist or cannot be
    // read.
    bool ReadJobsList(QStringList& names) const;
    // Rewrites the jobs list file from the list; false on any failure.
    bool SaveJobsList() const;
    QString JobsListPath() const;

    int Count() const { return int(m_jobs.size()); }
    TJob* At(int index) const { return m_jobs.at(size_t(index)).get(); }
    // Exact (case-sensitive) lookup, as command-line names are matched.
    TJob* Find(const QString& name) const;
    // Lookup ignoring letter case, as new names are checked against existing ones.
    TJob* FindIgnoringCase(const QString& name) const;
    int IndexOf(const TJob* job) const;

    std::unique_ptr<TJob> CreateJob(int kind, const QString& name) const;
    TJob* Append(std::unique_ptr<TJob> job);
    std::unique_ptr<TJob> Take(int index);
    // Puts job in the place of the job at index and returns that one.
    std::unique_ptr<TJob> Replace(int index, std::unique_ptr<TJob> job);
    // Moves the job one place up (-1) or down (+1); false at the ends.
    bool Move(int index, int delta);
    void Clear() { m_jobs.clear(); }

private:
    TJobFactory m_factory;
    std::vector<std::unique_ptr<TJob>> m_jobs;
};
