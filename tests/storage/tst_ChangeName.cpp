#include "StorageTestSupport.h"

#include "core/base/OleDate.h"
#include "core/model/JobNameCheck.h"
#include "core/model/TJobList.h"
#include "core/model/TJobLock.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "storage/ChangeName.h"
#include "storage/TStorageOperations.h"

#include "core/base/AtomicFile.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/wait.h>
#include <unistd.h>

using namespace StorageTest;

Q_DECLARE_METATYPE(TJobNameVerdict)

namespace {

std::unique_ptr<TJob> MakeFilesJob(int, const QString& name) {
    return std::make_unique<TJob_FilesAndFolders>(name);
}

bool EventsLogContains(const QString& text) {
    for (const QString& line : App().EventsLog.PendingLines())
        if (line.contains(text))
            return true;
    return false;
}

} // namespace

// Renaming a job: the name checks of the window and the command line, the destination, log and
// local parts, the failures that must leave everything as it was, and the command itself.
class tst_ChangeName : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void nameCheck_data();
    void nameCheck();

    void jobThatNeverRanRenamesOnlyItsLocalFile();
    void jobThatRanRenamesDestinationLogsAndLocalFile();
    void unreachableDestinationFailsAsAWhole();
    void failureAtTheDestinationLeavesItAsItWas_data();
    void failureAtTheDestinationLeavesItAsItWas();
    void failedLocalRenameUndoesTheDestination();
    void jobFolderLifecycleOnALocalDestination();
    void unwritableDataFolderLeavesEverythingAsItWas_data();
    void unwritableDataFolderLeavesEverythingAsItWas();
    void stopAtAnyStepLeavesAJobThatRuns_data();
    void stopAtAnyStepLeavesAJobThatRuns();
    void interruptedRenameIsFinishedOrUndoneAtStart_data();
    void interruptedRenameIsFinishedOrUndoneAtStart();

    void commandLine_data();
    void commandLine();

private:
    // A job saved in the data folder (and in the jobs list); one that ran has its folder, stored
    // job file and log folder.
    TJob_FilesAndFolders* AddJob(const QString& name, bool ran);
    // Runs the rename of the job to newName in a child process that dies just before the step.
    void RenameStoppedAt(TJob& job, const QString& newName, const QString& step);
    // The job names of the jobs list file.
    QStringList ListedNames() const;
    QString Destination(const QString& relative) const { return m_destination->filePath(relative); }
    QString Data(const QString& relative) const { return m_data->filePath(relative); }
    QString Logs(const QString& relative) const { return m_logs->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<QTemporaryDir> m_destination;
    std::unique_ptr<QTemporaryDir> m_logs;
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<TJobList> m_jobs;
};

void tst_ChangeName::init() {
    m_data = std::make_unique<QTemporaryDir>();
    m_destination = std::make_unique<QTemporaryDir>();
    m_logs = std::make_unique<QTemporaryDir>();
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_data->isValid() && m_destination->isValid() && m_logs->isValid() && m_temp->isValid());
    ResetGlobals(m_data->path());
    App().Options.Logging.PathForLogFiles = m_logs->path();
    App().Options.General.PathForTempFiles = m_temp->path();
    m_jobs = std::make_unique<TJobList>(&MakeFilesJob);
}

void tst_ChangeName::cleanup() {
    AtomicWriteFaultForTesting = nullptr;
    RenameStepHookForTesting = nullptr;
    m_jobs.reset();
    App().EventsLog.Clear();
}

TJob_FilesAndFolders* tst_ChangeName::AddJob(const QString& name, bool ran) {
    auto job = std::make_unique<TJob_FilesAndFolders>(name);
    job->DestinationSettings.LocalOrExternalDrive.Disk = m_destination->path();
    job->DestinationSettings.LocalOrExternalDrive.Subfolder = QStringLiteral("/");
    if (ran) {
        job->LastJobResult.StartTime = OleDate::Now();
        job->LastJobResult.EndTime = OleDate::Now();
        QDir().mkpath(Destination(name + QStringLiteral("/2024-05-01 Full")));
        WriteFile(Destination(name + QStringLiteral("/2024-05-01 Full/file.txt")), "backed up");
        WriteFile(Destination(name + QStringLiteral(".vlj")), "stored settings");
        QDir().mkpath(Logs(name));
        WriteFile(Logs(name + QStringLiteral("/2024-05-01 10;00;00.txt")), "log");
    }
    job->SaveLocalJobFile(job->LocalJobFilePath());
    auto* added = static_cast<TJob_FilesAndFolders*>(m_jobs->Append(std::move(job)));
    m_jobs->SaveJobsList();
    return added;
}

void tst_ChangeName::RenameStoppedAt(TJob& job, const QString& newName, const QString& step) {
    const QByteArray stop = step.toLatin1();
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        RenameStepHookForTesting = [&](const char* at) {
            if (stop == at)
                ::_exit(0);
        };
        ChangeName(*m_jobs, job, newName);
        ::_exit(1); // the step was never reached
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

QStringList tst_ChangeName::ListedNames() const {
    QStringList names;
    m_jobs->ReadJobsList(names);
    return names;
}

// ---- Name checks ----

void tst_ChangeName::nameCheck_data() {
    QTest::addColumn<QString>("renamed"); // empty: a new job
    QTest::addColumn<QString>("typed");
    QTest::addColumn<TJobNameVerdict>("verdict");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    const QString forbidden = QStringLiteral("The following symbols are not allowed in the title:\n\n<>:\"/\\|?*");
    const QString unusable = QStringLiteral("This name cannot be used as a job name.");
    QTest::newRow("new job, trimmed") << QString() << QStringLiteral("  Weekly ") << TJobNameVerdict::Accepted
                                      << QStringLiteral("Weekly") << QString();
    QTest::newRow("new job, taken in other case")
        << QString() << QStringLiteral("photos") << TJobNameVerdict::AlreadyExists << QStringLiteral("photos")
        << QStringLiteral("Job \"photos\" already exists. Please specify another name.");
    QTest::newRow("rename to the same name") << QStringLiteral("Daily") << QStringLiteral(" Daily ")
                                             << TJobNameVerdict::Unchanged << QStringLiteral("Daily") << QString();
    QTest::newRow("rename to its own name in other case")
        << QStringLiteral("Daily") << QStringLiteral("DAILY") << TJobNameVerdict::AlreadyExists
        << QStringLiteral("DAILY") << QStringLiteral("Job \"DAILY\" already exists. Please specify another name.");
    QTest::newRow("rename to another job's name")
        << QStringLiteral("Daily") << QStringLiteral("PHOTOS") << TJobNameVerdict::AlreadyExists
        << QStringLiteral("PHOTOS") << QStringLiteral("Job \"PHOTOS\" already exists. Please specify another name.");
    QTest::newRow("rename, fine") << QStringLiteral("Daily") << QStringLiteral("Nightly") << TJobNameVerdict::Accepted
                                  << QStringLiteral("Nightly") << QString();
    for (const QChar c : ForbiddenJobNameCharacters()) {
        const QString typed = QStringLiteral("a") + c + QStringLiteral("b");
        QTest::newRow(qPrintable(QStringLiteral("forbidden ") + c))
            << QStringLiteral("Daily") << typed << TJobNameVerdict::ForbiddenCharacters << typed << forbidden;
    }
    QTest::newRow("blank") << QString() << QStringLiteral("   ") << TJobNameVerdict::NotUsable << QString() << unusable;
    QTest::newRow("dot") << QStringLiteral("Daily") << QStringLiteral(".") << TJobNameVerdict::NotUsable
                         << QStringLiteral(".") << unusable;
    QTest::newRow("dot dot") << QString() << QStringLiteral("..") << TJobNameVerdict::NotUsable << QStringLiteral("..")
                             << unusable;
    QTest::newRow("line break inside") << QString() << QStringLiteral("two\nlines") << TJobNameVerdict::NotUsable
                                       << QStringLiteral("two\nlines") << unusable;
}

void tst_ChangeName::nameCheck() {
    QFETCH(QString, renamed);
    QFETCH(QString, typed);
    QFETCH(TJobNameVerdict, verdict);
    QFETCH(QString, name);
    QFETCH(QString, message);
    m_jobs->Append(MakeFilesJob(1, QStringLiteral("Daily")));
    m_jobs->Append(MakeFilesJob(1, QStringLiteral("Photos")));

    const TJobNameCheck check = CheckJobName(typed, *m_jobs, renamed.isEmpty() ? nullptr : m_jobs->Find(renamed));

    QCOMPARE(check.Verdict, verdict);
    QCOMPARE(check.Name, name);
    QCOMPARE(check.Message, message);
}

// ---- ChangeName ----

void tst_ChangeName::jobThatNeverRanRenamesOnlyItsLocalFile() {
    TJob* job = AddJob(QStringLiteral("Old"), false);
    job->DestinationSettings.LocalOrExternalDrive.Disk = Destination(QStringLiteral("unplugged"));
    QVERIFY(QDir().mkpath(Destination(QStringLiteral("Old"))));

    QVERIFY(ChangeName(*m_jobs, *job, QStringLiteral("New")));

    QCOMPARE(job->stJobName, QStringLiteral("New"));
    QVERIFY(QFileInfo::exists(Data(QStringLiteral("New.vld"))));
    QVERIFY(!QFileInfo::exists(Data(QStringLiteral("Old.vld"))));
    QVERIFY(QFileInfo(Destination(QStringLiteral("Old"))).isDir());
    QVERIFY(job->LastJobResult.Log.isEmpty());
    QCOMPARE(job->JobStatus.Load(), jsNone);
}

void tst_ChangeName::jobThatRanRenamesDestinationLogsAndLocalFile() {
    TJob* job = AddJob(QStringLiteral("Old"), true);

    QVERIFY(ChangeName(*m_jobs, *job, QStringLiteral("New")));

    QCOMPARE(job->stJobName, QStringLiteral("New"));
    QCOMPARE(ReadFile(Destination(QStringLiteral("New/2024-05-01 Full/file.txt"))), QByteArray("backed up"));
    QCOMPARE(ReadFile(Destination(QStringLiteral("New.vlj"))), QByteArray("stored settings"));
    QVERIFY(!QFileInfo::exists(Destination(QStringLiteral("Old"))));
    QVERIFY(!QFileInfo::exists(Destination(QStringLiteral("Old.vlj"))));
    QVERIFY(QFileInfo::exists(Logs(QStringLiteral("New/2024-05-01 10;00;00.txt"))));
    QVERIFY(!QFileInfo::exists(Logs(QStringLiteral("Old"))));
    QVERIFY(QFileInfo::exists(Data(QStringLiteral("New.vld"))));
    QVERIFY(!QFileInfo::exists(Data(QStringLiteral("Old.vld"))));
    const QString root = m_destination->path();
    QCOMPARE(Messages(*job), (QStringList{QStringLiteral("Connecting to the external drive. Directory: ") + root,
                                          QStringLiteral("Renaming the directory: ") + root + QStringLiteral("/Old"),
                                          QStringLiteral("Renaming the file: ") + root + QStringLiteral("/Old.vlj"),
                                          QStringLiteral("Disconnecting from device.")}));
    QCOMPARE(job->JobStatus.Load(), jsNone);
    QCOMPARE(job->JobOperation.Load(), joRename);
    QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 0);
    QCOMPARE(ListedNames(), QStringList{QStringLiteral("New")}); // the rename saved the jobs list
    QVERIFY(!QFileInfo::exists(Data(QStringLiteral("Old.vld.renaming"))));
}

void tst_ChangeName::unreachableDestinationFailsAsAWhole() {
    TJob* job = AddJob(QStringLiteral("Old"), true);
    job->DestinationSettings.LocalOrExternalDrive.Disk = Destination(QStringLiteral("unplugged"));

    QVERIFY(!ChangeName(*m_jobs, *job, QStringLiteral("New")));

    QCOMPARE(job->stJobName, QStringLiteral("Old"));
    QVERIFY(EventsLogContains(QStringLiteral(": ERROR: The directory does not exist: ") +
                              Destination(QStringLiteral("unplugged"))));
    QVERIFY(QFileInfo::exists(Data(QStringLiteral("Old.vld"))));
    QVERIFY(QFileInfo::exists(Destination(QStringLiteral("Old"))));
    QVERIFY(QFileInfo::exists(Logs(QStringLiteral("Old"))));
    QCOMPARE(job->JobStatus.Load(), jsNone); // the job must not stay "running"
}

void tst_ChangeName::failureAtTheDestinationLeavesItAsItWas_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("stored job file missing") << QStringLiteral("no stored file");
    QTest::newRow("new folder name taken") << QStringLiteral("folder taken");
    QTest::newRow("new stored file name taken") << QStringLiteral("stored file taken");
}

void tst_ChangeName::failureAtTheDestinationLeavesItAsItWas() {
    QFETCH(QString, fault);
    TJob* job = AddJob(QStringLiteral("Old"), true);
    if (fault == QStringLiteral("no stored file"))
        QVERIFY(QFile::remove(Destination(QStringLiteral("Old.vlj"))));
    if (fault == QStringLiteral("folder taken"))
        QVERIFY(QDir().mkpath(Destination(QStringLiteral("New/left by a removed job"))));
    if (fault == QStringLiteral("stored file taken"))
        QVERIFY(WriteFile(Destination(QStringLiteral("New.vlj")), "another job's settings"));

    QVERIFY(!ChangeName(*m_jobs, *job, QStringLiteral("New")));

    QCOMPARE(job->stJobName, QStringLiteral("Old"));
    QCOMPARE(ReadFile(Destination(QStringLiteral("Old/2024-05-01 Full/file.txt"))), QByteArray("backed up"));
    if (fault != QStringLiteral("no stored file"))
        QCOMPARE(ReadFile(Destination(QStringLiteral("Old.vlj"))), QByteArray("stored settings"));
    if (fault == QStringLiteral("stored file taken"))
        QCOMPARE(ReadFile(Destination(QStringLiteral("New.vlj"))), QByteArray("another job's settings"));
    QCOMPARE(QFileInfo::exists(Destination(QStringLiteral("New"))), fault == QStringLiteral("folder taken"));
    QVERIFY(QFileInfo::exists(Data(QStringLiteral("Old.vld"))));
    QVERIFY(QFileInfo::exists(Logs(QStringLiteral("Old"))));
    QVERIFY(EventsLogContains(QStringLiteral(": ERROR: ")));
    QCOMPARE(job->JobStatus.Load(), jsNone);
}

void tst_ChangeName::failedLocalRenameUndoesTheDestination() {
    TJob* job = AddJob(QStringLiteral("Old"), true);
    // A folder of the new file's name that cannot be removed blocks the local rename.
    QVERIFY(QDir().mkpath(Data(QStringLiteral("New.vld/inside"))));

    QVERIFY(!ChangeName(*m_jobs, *job, QStringLiteral("New")));

    QCOMPARE(job->stJobName, QStringLiteral("Old"));
    QVERIFY(QFileInfo::exists(Destination(QStringLiteral("Old/2024-05-01 Full/file.txt"))));
    QVERIFY(QFileInfo::exists(Destination(QStringLiteral("Old.vlj"))));
    QVERIFY(!QFileInfo::exists(Destination(QStringLiteral("New"))));
    QVERIFY(!QFileInfo::exists(Destination(QStringLiteral("New.vlj"))));
    QVERIFY(QFileInfo::exists(Logs(QStringLiteral("Old"))));
    QVERIFY(EventsLogContains(QStringLiteral("Unable to rename the file \"Old.vld\" to \"New.vld\" in directory: ") +
                              m_data->path()));
    QCOMPARE(job->JobStatus.Load(), jsNone);
}

void tst_ChangeName::jobFolderLifecycleOnALocalDestination() {
    TJob* job = AddJob(QStringLiteral("Documents"), false);
    job->OptionsToJobOptions();
    const QString source = m_temp->filePath(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(source));
    QVERIFY(WriteFile(source + QStringLiteral("/a.txt"), "alpha"));
    QVERIFY(WriteFile(source + QStringLiteral("/b.txt"), "beta"));
    QVERIFY(WriteFile(m_temp->filePath(QStringLiteral("Documents.vlj")), "settings"));
    const QString root = m_destination->path();

    {
        TStorageOperations storage(*job);
        const QString folder = storage.ConnectToStorage();
        QCOMPARE(folder, root + QStringLiteral("/Documents"));
        const QString point = folder + QStringLiteral("/2024-05-01 Full");
        QCOMPARE(storage.FileOperation(atCreateRemoteFolder, {}, folder, 0, false), orSuccess);
        QCOMPARE(storage.FileOperation(atCreateRemoteFolder, {}, point, 0, true), orSuccess);
        for (const QString& name : {QStringLiteral("a.txt"), QStringLiteral("b.txt")})
            QCOMPARE(storage.FileOperation(atCopyFromLocalToRemoteFileThroughTempFolder, source + u'/' + name,
                                           point + u'/' + name, 5, true),
                     orSuccess);
        QCOMPARE(storage.FileOperation(atCopyFromLocalToRemoteFile, m_temp->filePath(QStringLiteral("Documents.vlj")),
                                       folder + QStringLiteral(".vlj"), 5, true),
                 orSuccess);
        storage.DisconnectFromStorage();
    }
    QCOMPARE(job->CurrentBackupSize.Load(), int64_t(5 + 4 + 8));
    job->LastJobResult.EndTime = OleDate::Now();

    QVERIFY(ChangeName(*m_jobs, *job, QStringLiteral("Papers")));
    QCOMPARE(ReadFile(root + QStringLiteral("/Papers/2024-05-01 Full/b.txt")), QByteArray("beta"));

    {
        TStorageOperations storage(*job);
        const QString folder = storage.ConnectToStorage();
        QCOMPARE(folder, root + QStringLiteral("/Papers"));
        QCOMPARE(storage.FileOperation(atRemoveRemoteFile, {}, folder + QStringLiteral(".vlj"), 0, true), orSuccess);
        QCOMPARE(storage.FileOperation(atRemoveRemoteNotEmptyFolder, {}, folder, 0, true), orSuccess);
        storage.DisconnectFromStorage();
    }
    QVERIFY(QDir(root).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));

    const QString connecting = QStringLiteral("Connecting to the external drive. Directory: ") + root;
    const QString docs = root + QStringLiteral("/Documents");
    const QString papers = root + QStringLiteral("/Papers");
    QCOMPARE(Messages(*job),
             (QStringList{connecting, QStringLiteral("Creating the directory: ") + docs,
                          QStringLiteral("Creating the directory: ") + docs + QStringLiteral("/2024-05-01 Full"),
                          QStringLiteral("Copying the file: ") + source + QStringLiteral("/a.txt"),
                          QStringLiteral("Copying the file: ") + source + QStringLiteral("/b.txt"),
                          QStringLiteral("Copying the file: ") + m_temp->filePath(QStringLiteral("Documents.vlj")),
                          QStringLiteral("Disconnecting from device."), connecting,
                          QStringLiteral("Renaming the directory: ") + docs,
                          QStringLiteral("Renaming the file: ") + docs + QStringLiteral(".vlj"),
                          QStringLiteral("Disconnecting from device."), connecting,
                          QStringLiteral("Removing the file: ") + papers + QStringLiteral(".vlj"),
                          QStringLiteral("Removing the full directory: ") + papers,
                          QStringLiteral("Disconnecting from device.")}));
    QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 0);
    // Straight copies on a local destination: nothing went through the temporary folder.
    QVERIFY(!QFileInfo::exists(m_temp->filePath(QStringLiteral("Documents"))));
}

void tst_ChangeName::unwritableDataFolderLeavesEverythingAsItWas_data() {
    QTest::addColumn<bool>("ran");
    QTest::addColumn<QString>("failing"); // the file of the data folder that cannot be written
    QTest::newRow("jobs list, job that ran") << true << QStringLiteral("jobslist");
    QTest::newRow("jobs list, job that never ran") << false << QStringLiteral("jobslist");
    QTest::newRow("rename note") << true << QStringLiteral(".renaming");
    QTest::newRow("note of an unfinished rename") << true << QStringLiteral("unfinished");
}

void tst_ChangeName::unwritableDataFolderLeavesEverythingAsItWas() {
    QFETCH(bool, ran);
    QFETCH(QString, failing);
    AddJob(QStringLiteral("Old"), ran);
    TJob* job = m_jobs->Find(QStringLiteral("Old"));
    // An earlier rename to "Earlier" whose destination could not be put right yet: its note stays.
    const QByteArray unfinished("\xEF\xBB\xBF"
                                "Earlier\r\ndestination\r\n");
    if (failing == QStringLiteral("unfinished"))
        QVERIFY(WriteFile(Data(QStringLiteral("Old.vld.renaming")), unfinished));
    // A full data folder: no new file can be written there.
    AtomicWriteFaultForTesting = [&](const QString& path) { return path.contains(failing); };
    const bool renamed = ChangeName(*m_jobs, *job, QStringLiteral("New"));
    AtomicWriteFaultForTesting = nullptr;

    QVERIFY(!renamed);
    QCOMPARE(job->stJobName, QStringLiteral("Old"));
    if (failing == QStringLiteral("jobslist"))
        QVERIFY(EventsLogContains(QStringLiteral("Error: unable to save the jobs list:") + m_jobs->JobsListPath()));
    TJobList reloaded(&MakeFilesJob);
    QVERIFY(reloaded.LoadJobsListAndJobs());
    QCOMPARE(reloaded.Count(), 1);
    QCOMPARE(reloaded.At(0)->stJobName, QStringLiteral("Old"));
    QVERIFY(QFileInfo::exists(Data(QStringLiteral("Old.vld"))));
    QVERIFY(!QFileInfo::exists(Data(QStringLiteral("New.vld"))));
    if (failing == QStringLiteral("unfinished")) {
        QCOMPARE(ReadFile(Data(QStringLiteral("Old.vld.renaming"))), unfinished);
        QVERIFY(
            EventsLogContains(QStringLiteral("Unable to write the file: ") + Data(QStringLiteral("Old.vld.renaming"))));
    } else {
        QCOMPARE(QDir(m_data->path()).entryList({QStringLiteral("*.renaming")}, QDir::Files | QDir::Hidden),
                 QStringList());
    }
    if (ran) {
        QCOMPARE(ReadFile(Destination(QStringLiteral("Old/2024-05-01 Full/file.txt"))), QByteArray("backed up"));
        QCOMPARE(ReadFile(Destination(QStringLiteral("Old.vlj"))), QByteArray("stored settings"));
        QVERIFY(!QFileInfo::exists(Destination(QStringLiteral("New"))));
        QVERIFY(!QFileInfo::exists(Destination(QStringLiteral("New.vlj"))));
        QVERIFY(QFileInfo::exists(Logs(QStringLiteral("Old"))));
    }
    QCOMPARE(job->JobStatus.Load(), jsNone);
}

void tst_ChangeName::stopAtAnyStepLeavesAJobThatRuns_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("unplugged"); // the destination is away at the first start after the stop
    QTest::addColumn<QString>("nameAfter");
    for (const char* step : {"note", "local file", "destination folder", "destination file", "jobs list"})
        QTest::newRow(step) << QString::fromLatin1(step) << false << QStringLiteral("Old");
    QTest::newRow("clean up") << QStringLiteral("clean up") << false << QStringLiteral("New");
    QTest::newRow("destination file, destination away")
        << QStringLiteral("destination file") << true << QStringLiteral("Old");
}

void tst_ChangeName::stopAtAnyStepLeavesAJobThatRuns() {
    QFETCH(QString, step);
    QFETCH(bool, unplugged);
    QFETCH(QString, nameAfter);
    const QString source = m_temp->filePath(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(source));
    QVERIFY(WriteFile(source + QStringLiteral("/a.txt"), "alpha"));
    TJob_FilesAndFolders* job = AddJob(QStringLiteral("Old"), false);
    job->Settings.Sources.List = {source + QStringLiteral("/*")};
    job->Backup();
    job->WaitForWorker();
    QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 0);

    // The rename in a child process that dies at the step, as a killed command would.
    RenameStoppedAt(*job, QStringLiteral("New"), step);
    if (QTest::currentTestFailed())
        return;

    const auto cli = [&](const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_temp->path());
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_temp->filePath(QStringLiteral("cache")));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-cli"),
                      QStringList{QStringLiteral("--data-dir"), m_data->path()} + arguments);
        process.waitForFinished(120000);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        if (process.exitCode() != 0)
            qWarning().noquote() << arguments << out << process.readAllStandardError();
        return std::pair{process.exitCode(), out};
    };
    const QString root = m_destination->path();
    if (unplugged) {
        // The job is listed under its old name; the destination is renamed back once it is there.
        QVERIFY(QDir().rename(root, root + QStringLiteral("-away")));
        const auto [away, awayList] = cli({QStringLiteral("list")});
        QCOMPARE(away, 0);
        QVERIFY2(awayList.startsWith(QStringLiteral("Old\t")), qPrintable(awayList));
        QVERIFY(QFileInfo::exists(Data(QStringLiteral("Old.vld.renaming"))));
        QVERIFY(QDir().rename(root + QStringLiteral("-away"), root));
    }
    const auto [listed, list] = cli({QStringLiteral("list")});
    QCOMPARE(listed, 0);
    const QStringList lines = list.trimmed().split(u'\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith(nameAfter + u'\t'), qPrintable(list));
    // The job runs under that name and finds its earlier restore point.
    QCOMPARE(cli({QStringLiteral("backup"), nameAfter}).first, 0);
    const auto [pointed, points] = cli({QStringLiteral("points"), nameAfter});
    QCOMPARE(pointed, 0);
    QVERIFY2(points.trimmed().split(u'\n').size() == 2, qPrintable(points));
    QStringList files = QDir(m_data->path()).entryList({QStringLiteral("*.vld*")}, QDir::Files | QDir::Hidden);
    QCOMPARE(files, QStringList{nameAfter + QStringLiteral(".vld")});
    const QString other = nameAfter == QStringLiteral("Old") ? QStringLiteral("New") : QStringLiteral("Old");
    QVERIFY(!QFileInfo::exists(Destination(other)));
    QVERIFY(!QFileInfo::exists(Destination(other + QStringLiteral(".vlj"))));
}

void tst_ChangeName::interruptedRenameIsFinishedOrUndoneAtStart_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("nameAfter");
    QTest::newRow("stopped before the commit") << QStringLiteral("jobs list") << QStringLiteral("Old");
    QTest::newRow("stopped after the commit") << QStringLiteral("clean up") << QStringLiteral("New");
}

void tst_ChangeName::interruptedRenameIsFinishedOrUndoneAtStart() {
    QFETCH(QString, step);
    QFETCH(QString, nameAfter);
    TJob* job = AddJob(QStringLiteral("Old"), true);
    RenameStoppedAt(*job, QStringLiteral("New"), step);
    if (QTest::currentTestFailed())
        return;
    const QString other = nameAfter == QStringLiteral("Old") ? QStringLiteral("New") : QStringLiteral("Old");

    // A process that holds the job's lock is still renaming it: its rename is left alone.
    TJobList started(&MakeFilesJob);
    QVERIFY(started.LoadJobsListAndJobs());
    {
        TJobLock held;
        QVERIFY(held.TryLock(m_data->path(), QStringLiteral("Old")));
        CompleteInterruptedRenames(started);
        QVERIFY(QFileInfo::exists(Data(QStringLiteral("Old.vld.renaming"))));
    }
    CompleteInterruptedRenames(started);

    QCOMPARE(started.Count(), 1);
    QCOMPARE(started.At(0)->stJobName, nameAfter);
    QCOMPARE(ListedNames(), QStringList{nameAfter});
    QCOMPARE(QDir(m_data->path()).entryList({QStringLiteral("*.vld*")}, QDir::Files | QDir::Hidden),
             QStringList{nameAfter + QStringLiteral(".vld")});
    QCOMPARE(ReadFile(Destination(nameAfter + QStringLiteral("/2024-05-01 Full/file.txt"))), QByteArray("backed up"));
    QCOMPARE(ReadFile(Destination(nameAfter + QStringLiteral(".vlj"))), QByteArray("stored settings"));
    QVERIFY(!QFileInfo::exists(Destination(other)));
    QVERIFY(!QFileInfo::exists(Destination(other + QStringLiteral(".vlj"))));
    QVERIFY(QFileInfo::exists(Logs(nameAfter + QStringLiteral("/2024-05-01 10;00;00.txt"))));
    QVERIFY(!QFileInfo::exists(Logs(other)));
    // The recovery leaves the job's log as its last run left it.
    QVERIFY(started.At(0)->LastJobResult.Log.isEmpty());
    QCOMPARE(started.At(0)->JobStatus.Load(), jsNone);
}

// ---- vaultora-cli rename ----

void tst_ChangeName::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stderrHas");
    QTest::addColumn<QStringList>("jobsAfter");
    QTest::newRow("renamed") << QStringList{QStringLiteral("Old"), QStringLiteral("  New ")} << 0 << QString()
                             << QStringList{QStringLiteral("New"), QStringLiteral("Other")};
    QTest::newRow("unchanged") << QStringList{QStringLiteral("Old"), QStringLiteral("Old")} << 0 << QString()
                               << QStringList{QStringLiteral("Old"), QStringLiteral("Other")};
    QTest::newRow("taken ignoring case") << QStringList{QStringLiteral("Old"), QStringLiteral("OTHER")} << 64
                                         << QStringLiteral("already exists")
                                         << QStringList{QStringLiteral("Old"), QStringLiteral("Other")};
    QTest::newRow("forbidden character") << QStringList{QStringLiteral("Old"), QStringLiteral("a/b")} << 64
                                         << QStringLiteral("The following symbols are not allowed in the title:")
                                         << QStringList{QStringLiteral("Old"), QStringLiteral("Other")};
    QTest::newRow("unknown job") << QStringList{QStringLiteral("Missing"), QStringLiteral("New")} << 64
                                 << QStringLiteral("no job named")
                                 << QStringList{QStringLiteral("Old"), QStringLiteral("Other")};
    QTest::newRow("destination unreachable")
        << QStringList{QStringLiteral("Other"), QStringLiteral("New")} << 2
        << QStringLiteral("Unable to rename the job. Please learn last error messages in the Events log.")
        << QStringList{QStringLiteral("Old"), QStringLiteral("Other")};
}

void tst_ChangeName::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stderrHas);
    QFETCH(QStringList, jobsAfter);
    AddJob(QStringLiteral("Old"), true);
    TJob* other = AddJob(QStringLiteral("Other"), true);
    other->DestinationSettings.LocalOrExternalDrive.Disk = Destination(QStringLiteral("unplugged"));
    other->SaveLocalJobFile(other->LocalJobFilePath());

    QProcess cli;
    cli.start(QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-cli"),
              QStringList{QStringLiteral("--data-dir"), m_data->path(), QStringLiteral("rename")} + arguments);
    QVERIFY(cli.waitForFinished(60000));
    const QString err = QString::fromUtf8(cli.readAllStandardError());

    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == exitCode, qPrintable(err));
    if (!stderrHas.isEmpty())
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
    TJobList reloaded(&MakeFilesJob);
    QVERIFY(reloaded.LoadJobsListAndJobs());
    QStringList names;
    for (int i = 0; i < reloaded.Count(); ++i)
        names << reloaded.At(i)->stJobName;
    QCOMPARE(names, jobsAfter);
    for (const QString& name : jobsAfter)
        QVERIFY(QFileInfo::exists(Data(name + QStringLiteral(".vld"))));
    QCOMPARE(QFileInfo::exists(Destination(QStringLiteral("New.vlj"))), jobsAfter.contains(QStringLiteral("New")));
}

QTEST_GUILESS_MAIN(tst_ChangeName)
#include "tst_ChangeName.moc"
