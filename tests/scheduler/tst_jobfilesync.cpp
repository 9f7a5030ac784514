// A job list without windows follows the job files that other processes change: reloads, new
// and removed jobs, running jobs left alone, damaged files.

#include "core/model/TJobList.h"
#include "core/schedule/TJobFileSync.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/JobKinds.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList Names(const TJobList& jobs) {
    QStringList names;
    for (int i = 0; i < jobs.Count(); ++i)
        names.append(jobs.At(i)->stJobName);
    return names;
}

// What a command-line process does: load everything, change, save.
class TOtherProcess {
public:
    TOtherProcess()
        : m_jobs(&CreateJobOfKind) {
        m_jobs.LoadJobsListAndJobs();
    }
    TJob& Job(const QString& name) { return *m_jobs.Find(name); }
    void SaveJob(const QString& name) { QVERIFY(Job(name).SaveLocalJobFile(Job(name).LocalJobFilePath())); }
    void Add(const QString& name) {
        TJob* job = m_jobs.Append(m_jobs.CreateJob(1, name));
        QVERIFY(job->SaveLocalJobFile(job->LocalJobFilePath()));
        QVERIFY(m_jobs.SaveJobsList());
    }
    void Remove(const QString& name) {
        TJob* job = m_jobs.Find(name);
        QFile::remove(job->LocalJobFilePath());
        m_jobs.Take(m_jobs.IndexOf(job));
        QVERIFY(m_jobs.SaveJobsList());
    }

private:
    TJobList m_jobs;
};

void ScheduleMondays(TJob& job, const QString& time) {
    job.SchedulingSettings.SchedulingType = stDaysOfWeek;
    job.SchedulingSettings.DaysOfWeek.at(1) = true;
    job.SchedulingSettings.TimeTable = {time};
}

} // namespace

class TestJobFileSync : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TJobList> m_jobs;

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        App().ApplicationDirectory = m_dir->path();
        App().EventsLog.Clear();
        {
            TOtherProcess creator;
            creator.Add(u"A"_s);
            creator.Add(u"B"_s);
        }
        m_jobs = std::make_unique<TJobList>(&CreateJobOfKind);
        QVERIFY(m_jobs->LoadJobsListAndJobs());
    }

    void cleanup() {
        m_jobs.reset();
        m_dir.reset();
    }

    void aChangedScheduleIsReloaded() {
        TJobFileSync sync(*m_jobs);
        TJob* untouched = m_jobs->At(1);
        QVERIFY(sync.IsCurrent(*m_jobs->At(0)));
        TOtherProcess other;
        ScheduleMondays(other.Job(u"A"_s), u"10:00:00"_s);
        other.SaveJob(u"A"_s);
        QVERIFY(!sync.IsCurrent(*m_jobs->At(0)));
        QVERIFY(sync.Refresh());
        QCOMPARE(m_jobs->At(0)->SchedulingSettings.TimeTable, QStringList{u"10:00:00"_s});
        QVERIFY(sync.IsCurrent(*m_jobs->At(0)));
        QCOMPARE(m_jobs->At(1), untouched);
        QVERIFY(!sync.Refresh());
    }

    void aRunningJobIsReloadedOnceIdle() {
        TJobFileSync sync(*m_jobs);
        TJob* running = m_jobs->At(0);
        running->JobStatus = jsRunning;
        TOtherProcess other;
        ScheduleMondays(other.Job(u"A"_s), u"10:00:00"_s);
        other.SaveJob(u"A"_s);
        sync.Refresh();
        QCOMPARE(m_jobs->At(0), running);
        QVERIFY(running->SchedulingSettings.TimeTable.isEmpty());
        running->JobStatus = jsNone;
        sync.Refresh();
        QCOMPARE(m_jobs->At(0)->SchedulingSettings.TimeTable, QStringList{u"10:00:00"_s});
    }

    // A file this process wrote from the job itself is adopted and not read back: a job set
    // waiting right after its save keeps waiting.
    void anAdoptedFileIsNotReadBack() {
        TJobFileSync sync(*m_jobs);
        TJob* own = m_jobs->At(0);
        ScheduleMondays(*own, u"11:00:00"_s);
        QVERIFY(own->SaveLocalJobFile(own->LocalJobFilePath()));
        // A modification time of its own, whatever the file system's time resolution.
        QFile saved(own->LocalJobFilePath());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.setFileTime(QDateTime(QDate(2026, 1, 5), QTime(9, 30)), QFileDevice::FileModificationTime));
        saved.close();
        own->JobStatus = jsWaiting;
        sync.Adopt(*own);
        QVERIFY(sync.IsCurrent(*own));
        QVERIFY(!sync.Refresh());
        QCOMPARE(m_jobs->At(0), own);
        QCOMPARE(own->JobStatus.Load(), jsWaiting);
        own->JobStatus = jsNone;
    }

    void jobsComeAndGoWithTheList_data() {
        QTest::addColumn<bool>("removedJobRuns");
        QTest::newRow("idle") << false;
        QTest::newRow("running") << true;
    }

    void jobsComeAndGoWithTheList() {
        QFETCH(bool, removedJobRuns);
        TJobFileSync sync(*m_jobs);
        TJob* b = m_jobs->At(1);
        if (removedJobRuns)
            b->JobStatus = jsRunning;
        TOtherProcess other;
        other.Add(u"C"_s);
        other.Remove(u"B"_s);
        QVERIFY(sync.Refresh());
        if (removedJobRuns) {
            // Its worker still uses it; it goes when it is done.
            QCOMPARE(Names(*m_jobs), (QStringList{u"A"_s, u"C"_s, u"B"_s}));
            QCOMPARE(m_jobs->At(2), b);
            b->JobStatus = jsNone;
            sync.Refresh();
        }
        QCOMPARE(Names(*m_jobs), (QStringList{u"A"_s, u"C"_s}));
    }

    void aDamagedFileKeepsTheJobAndIsReportedOnce() {
        TJobFileSync sync(*m_jobs);
        ScheduleMondays(*m_jobs->At(0), u"09:00:00"_s);
        TJob* before = m_jobs->At(0);
        QFile file(before->LocalJobFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("not a job file");
        file.close();
        sync.Refresh();
        sync.Refresh();
        QCOMPARE(m_jobs->At(0), before);
        QCOMPARE(before->SchedulingSettings.TimeTable, QStringList{u"09:00:00"_s});
        const QStringList events = App().EventsLog.PendingLines();
        QCOMPARE(events.size(), 1);
        QVERIFY(events.first().endsWith(u"Error loading job \"A\". Code: 1"_s));
    }
};

QTEST_GUILESS_MAIN(TestJobFileSync)
#include "tst_jobfilesync.moc"
