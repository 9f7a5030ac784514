#include "StorageTestSupport.h"
#include "TFakeArchiver.h"
#include "TFakeSleeper.h"
#include "TFaultInjectingBranch.h"

#include "jobs/files/TJob_FilesAndFolders.h"
#include "storage/StoragePaths.h"
#include "storage/TStorageOperations.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace StorageTest;

Q_DECLARE_METATYPE(TOperationResult)
Q_DECLARE_METATYPE(TFileOperationType)
Q_DECLARE_METATYPE(TDestinationType)
Q_DECLARE_METATYPE(TJobStatus)

// The dispatcher every engine goes through: connect and disconnect, the attempt loop, its log
// lines, the temporary files, the archive operations and the unavailable-destination policy.
class tst_StorageOperations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void connectToLocalDrive_data();
    void connectToLocalDrive();
    void destinationTypesNotInThisBuild_data();
    void destinationTypesNotInThisBuild();
    void disconnectLogsAndReportsFailures();

    void attemptsAndRetries_data();
    void attemptsAndRetries();
    void failuresWithoutLogErrorWriteNoErrorLines();
    void thrownFailureBecomesAnErrorLine();
    void vanishedLocalFileFailsAtOnce_data();
    void vanishedLocalFileFailsAtOnce();
    void cancelDuringTheWaitStopsTheAttempts();
    void cancelDuringALargeUploadLeavesNoFile();
    void internalFilesLogRule_data();
    void internalFilesLogRule();
    void throughTemporaryFolder_data();
    void throughTemporaryFolder();

    void archiveOperationsWithoutArchiver_data();
    void archiveOperationsWithoutArchiver();
    void addToZip_data();
    void addToZip();
    void createFolderInZipClearsTheStoredName();
    void zipInTemporaryFolderIsUploadedAndDeleted();
    void failedSingleFileArchiveIsDeletedAndNotUploaded();

    void cancelPolicy_data();
    void cancelPolicy();
    void pausePolicy_data();
    void pausePolicy();
    void policyLoopRepeatsTheItemAfterResume();

private:
    std::unique_ptr<TStorageOperations> Operations(const std::function<void(TFaultInjectingBranch&)>& setup = {});
    QString ConnectedJobFolder(TStorageOperations& operations);
    QString LocalFile(const QString& name, const QByteArray& data = "content");

    std::unique_ptr<TJob_FilesAndFolders> m_job;
    std::unique_ptr<QTemporaryDir> m_destination;
    std::unique_ptr<QTemporaryDir> m_local;
    std::unique_ptr<QTemporaryDir> m_temp;
    TFakeSleeper m_sleeper;
    TFaultInjectingBranch* m_branch = nullptr;
};

void tst_StorageOperations::init() {
    ResetGlobals(QString());
    m_destination = std::make_unique<QTemporaryDir>();
    m_local = std::make_unique<QTemporaryDir>();
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_destination->isValid() && m_local->isValid() && m_temp->isValid());
    m_job = std::make_unique<TJob_FilesAndFolders>(QStringLiteral("Job"));
    m_job->DestinationSettings.LocalOrExternalDrive.Disk = m_destination->path();
    m_job->DestinationSettings.LocalOrExternalDrive.Subfolder = QStringLiteral("/");
    m_job->JobOptions.General.PathForTempFiles = m_temp->path();
    m_sleeper = TFakeSleeper();
    m_branch = nullptr;
}

void tst_StorageOperations::cleanup() {
    m_branch = nullptr;
    m_job.reset();
}

std::unique_ptr<TStorageOperations>
tst_StorageOperations::Operations(const std::function<void(TFaultInjectingBranch&)>& setup) {
    return std::make_unique<TStorageOperations>(
        *m_job,
        [this, setup](TJob& job) {
            auto branch = std::make_unique<TFaultInjectingBranch>(job);
            if (setup)
                setup(*branch);
            m_branch = branch.get();
            return branch;
        },
        &m_sleeper);
}

QString tst_StorageOperations::ConnectedJobFolder(TStorageOperations& operations) {
    const QString folder = operations.ConnectToStorage();
    if (folder.startsWith(QStringLiteral("ERROR:")) || !QDir().mkpath(folder))
        return {};
    return folder;
}

QString tst_StorageOperations::LocalFile(const QString& name, const QByteArray& data) {
    const QString path = m_local->filePath(name);
    return WriteFile(path, data) ? path : QString();
}

// ---- Connection ----

void tst_StorageOperations::connectToLocalDrive_data() {
    QTest::addColumn<QString>("disk"); // "<root>" stands for the destination folder
    QTest::addColumn<QString>("subfolder");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("connectingPath");
    QTest::newRow("subfolder below the disk")
        << QStringLiteral("<root>") << QStringLiteral("/backups") << QStringLiteral("<root>/backups/Job")
        << QStringLiteral("<root>/backups");
    QTest::newRow("the disk itself") << QStringLiteral("<root>") << QStringLiteral("/") << QStringLiteral("<root>/Job")
                                     << QStringLiteral("<root>");
    QTest::newRow("disk ending in a slash") << QStringLiteral("<root>/") << QStringLiteral("/backups")
                                            << QStringLiteral("<root>/backups/Job") << QStringLiteral("<root>/backups");
    QTest::newRow("subfolder without a leading slash")
        << QStringLiteral("<root>") << QStringLiteral("backups") << QStringLiteral("<root>/backups/Job")
        << QStringLiteral("<root>/backups");
    QTest::newRow("missing subfolder") << QStringLiteral("<root>") << QStringLiteral("/absent")
                                       << QStringLiteral("ERROR: The directory does not exist: <root>/absent")
                                       << QStringLiteral("<root>/absent");
    QTest::newRow("no disk") << QString() << QStringLiteral("/backups")
                             << QStringLiteral("ERROR: The directory does not exist: /backups")
                             << QStringLiteral("/backups");
    QTest::newRow("relative disk") << QStringLiteral("backups") << QStringLiteral("/")
                                   << QStringLiteral("ERROR: The directory does not exist: backups")
                                   << QStringLiteral("backups");
}

void tst_StorageOperations::connectToLocalDrive() {
    QFETCH(QString, disk);
    QFETCH(QString, subfolder);
    QFETCH(QString, expected);
    QFETCH(QString, connectingPath);
    const QString root = m_destination->path();
    QVERIFY(QDir().mkpath(root + QStringLiteral("/backups")));
    m_job->DestinationSettings.LocalOrExternalDrive.Disk = QString(disk).replace(QStringLiteral("<root>"), root);
    m_job->DestinationSettings.LocalOrExternalDrive.Subfolder = subfolder;
    m_job->CurrentFileOperationType = atCopyFromLocalToRemoteFile;
    m_job->CurrentFileOperationPath.Set(QStringLiteral("left from before"));

    TStorageOperations operations(*m_job, {}, &m_sleeper);
    const QString result = operations.ConnectToStorage();

    expected.replace(QStringLiteral("<root>"), root);
    connectingPath.replace(QStringLiteral("<root>"), root);
    QCOMPARE(result, expected);
    const bool failed = expected.startsWith(QStringLiteral("ERROR:"));
    QStringList lines{QStringLiteral("Connecting to the external drive. Directory: ") + connectingPath};
    if (failed)
        lines << expected;
    QCOMPARE(Messages(*m_job), lines);
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), failed ? 1 : 0);
    QCOMPARE(operations.IsConnected(), !failed);
    QCOMPARE(m_job->CurrentFileOperationType.Load(), atNone);
    QVERIFY(m_job->CurrentFileOperationPath.Get().isEmpty());
}

void tst_StorageOperations::destinationTypesNotInThisBuild_data() {
    QTest::addColumn<TDestinationType>("type");
    QTest::newRow("cloud") << dtCloud;
}

void tst_StorageOperations::destinationTypesNotInThisBuild() {
    QFETCH(TDestinationType, type);
    m_job->DestinationSettings.DestinationType = type;

    TStorageOperations operations(*m_job, {}, &m_sleeper);
    const QString result = operations.ConnectToStorage();

    QVERIFY(result.startsWith(QStringLiteral("ERROR: ")));
    QVERIFY2(result.contains(QStringLiteral("not available in this build")), qPrintable(result));
    QCOMPARE(Messages(*m_job), QStringList{result});
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 1);
    QVERIFY(!operations.IsConnected());
    // An engine that went on anyway gets failures, not silence.
    QCOMPARE(operations.FileOperation(atCreateRemoteFolder, {}, QStringLiteral("Job"), 0, true), orERROR_RemoteAccess);
    QCOMPARE(Messages(*m_job).last(), QStringLiteral("ERROR: Not connected to the storage."));
    operations.DisconnectFromStorage();
    QCOMPARE(Messages(*m_job).last(), QStringLiteral("Disconnecting from device."));
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 2);
}

void tst_StorageOperations::disconnectLogsAndReportsFailures() {
    auto operations = Operations([](TFaultInjectingBranch& branch) {
        branch.DisconnectError = QStringLiteral("The connection was lost\r\nwhile closing.");
    });
    QVERIFY(!ConnectedJobFolder(*operations).isEmpty());

    operations->DisconnectFromStorage();
    operations->DisconnectFromStorage(); // closing twice closes once

    const QStringList lines = Messages(*m_job);
    QCOMPARE(lines.mid(1), (QStringList{QStringLiteral("Disconnecting from device."),
                                        QStringLiteral("ERROR: The connection was lost while closing."),
                                        QStringLiteral("Disconnecting from device.")}));
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 1);
    QVERIFY(!operations->IsConnected());
    QVERIFY(operations->Branch() == nullptr);
}

// ---- Attempts ----

void tst_StorageOperations::attemptsAndRetries_data() {
    QTest::addColumn<int>("retryCount");
    QTest::addColumn<int>("failingAttempts"); // -1: the destination stays down
    QTest::addColumn<TOperationResult>("result");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<int>("retryLines");
    QTest::addColumn<int>("errorLines");
    QTest::newRow("no retries, destination down") << 0 << -1 << orERROR_RemoteAccess << 1 << 0 << 1;
    QTest::newRow("two retries, destination down") << 2 << -1 << orERROR_RemoteAccess << 3 << 2 << 3;
    QTest::newRow("two retries, back after one failure") << 2 << 1 << orSuccess << 2 << 1 << 1;
    QTest::newRow("negative retry count still tries once") << -1 << -1 << orERROR_RemoteAccess << 1 << 0 << 1;
    QTest::newRow("works at once") << 5 << 0 << orSuccess << 1 << 0 << 0;
}

void tst_StorageOperations::attemptsAndRetries() {
    QFETCH(int, retryCount);
    QFETCH(int, failingAttempts);
    QFETCH(TOperationResult, result);
    QFETCH(int, attempts);
    QFETCH(int, retryLines);
    QFETCH(int, errorLines);
    auto operations = Operations();
    const QString folder = ConnectedJobFolder(*operations);
    QVERIFY(!folder.isEmpty());
    m_branch->Down = failingAttempts < 0;
    m_branch->FailNextAttempts = std::max(failingAttempts, 0);
    const QString local = LocalFile(QStringLiteral("file.txt"), Pattern(3000));
    m_job->CurrentBackupSize = 100;

    const TOperationResult actual = operations->FileOperation(atCopyFromLocalToRemoteFile, local,
                                                              folder + QStringLiteral("/file.txt"), retryCount, true);

    QCOMPARE(actual, result);
    QCOMPARE(m_branch->Attempts, attempts);
    const QStringList lines = Messages(*m_job);
    QCOMPARE(lines.count(QStringLiteral("Retry after 60 seconds.")), retryLines);
    QCOMPARE(lines.count(QStringLiteral("ERROR: The device is not ready.")), errorLines);
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), errorLines);
    QCOMPARE(m_sleeper.TotalMilliseconds, 60000LL * retryLines);
    // Bytes count once, and only when they arrived.
    QCOMPARE(m_job->CurrentBackupSize.Load(), int64_t(result == orSuccess ? 3100 : 100));
    QCOMPARE(QFileInfo::exists(folder + QStringLiteral("/file.txt")), result == orSuccess);
    QCOMPARE(m_branch->AfterOperationCalls, 1);
    QCOMPARE(m_job->CurrentFileOperationProgress.Load(), 0);
    QCOMPARE(m_job->CurrentFileOperationType.Load(), atCopyFromLocalToRemoteFile);
    QCOMPARE(m_job->CurrentFileOperationPath.Get(), local);
}

void tst_StorageOperations::failuresWithoutLogErrorWriteNoErrorLines() {
    auto operations = Operations([](TFaultInjectingBranch& branch) { branch.FailAfter = 0; });
    const QString folder = ConnectedJobFolder(*operations);

    const TOperationResult result =
        operations->FileOperation(atRemoveRemoteFile, {}, folder + QStringLiteral("/_startflag.vll"), 1, false);

    QCOMPARE(result, orERROR_RemoteAccess);
    QCOMPARE(m_branch->Attempts, 2);
    QCOMPARE(CountStartingWith(Messages(*m_job), QStringLiteral("ERROR:")), 0);
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 0);
    QCOMPARE(Messages(*m_job).count(QStringLiteral("Retry after 60 seconds.")), 1);
}

void tst_StorageOperations::thrownFailureBecomesAnErrorLine() {
    auto operations = Operations([](TFaultInjectingBranch& branch) { branch.ThrowOnFailure = true; });
    const QString folder = ConnectedJobFolder(*operations);
    m_branch->Down = true;
    m_job->JobOptions.Processing.IfDestinationNotAvailable_Wait_Sec = 0;

    const TOperationResult result =
        operations->FileOperation(atCreateRemoteFolder, {}, folder + QStringLiteral("/sub"), 1, true);

    QCOMPARE(result, orERROR_RemoteAccess);
    QCOMPARE(Messages(*m_job).count(QStringLiteral("ERROR: connection reset by peer")), 2);
    QCOMPARE(Messages(*m_job).count(QStringLiteral("Retry after 0 seconds.")), 1);
    QCOMPARE(m_sleeper.Calls, 0);
    QCOMPARE(m_branch->FailedAttemptCalls, 2);
}

void tst_StorageOperations::vanishedLocalFileFailsAtOnce_data() {
    QTest::addColumn<TFileOperationType>("operation");
    QTest::addColumn<bool>("temporaryCopies");
    QTest::addColumn<QString>("errorLine"); // "<local>" stands for the file's path
    QTest::newRow("upload") << atCopyFromLocalToRemoteFile << false
                            << QStringLiteral("ERROR: The file does not exist. <local>");
    QTest::newRow("through the temporary folder, copied straight")
        << atCopyFromLocalToRemoteFileThroughTempFolder << false
        << QStringLiteral("ERROR: The file does not exist. <local>");
    QTest::newRow("through the temporary folder, with a copy")
        << atCopyFromLocalToRemoteFileThroughTempFolder << true << QStringLiteral("ERROR: The file does not exist.");
}

void tst_StorageOperations::vanishedLocalFileFailsAtOnce() {
    QFETCH(TFileOperationType, operation);
    QFETCH(bool, temporaryCopies);
    QFETCH(QString, errorLine);
    auto operations =
        Operations([temporaryCopies](TFaultInjectingBranch& branch) { branch.TemporaryCopyUploads = temporaryCopies; });
    const QString folder = ConnectedJobFolder(*operations);
    const QString local = m_local->filePath(QStringLiteral("vanished.txt"));

    const TOperationResult result =
        operations->FileOperation(operation, local, folder + QStringLiteral("/vanished.txt"), 3, true);

    QCOMPARE(result, orERROR_LocalAccess);
    const QStringList lines = Messages(*m_job);
    QCOMPARE(CountStartingWith(lines, QStringLiteral("ERROR:")), 1);
    QVERIFY(lines.contains(errorLine.replace(QStringLiteral("<local>"), local)));
    QCOMPARE(CountStartingWith(lines, QStringLiteral("Retry after")), 0);
    QVERIFY(m_branch->Attempts <= 1);
    QCOMPARE(m_sleeper.Calls, 0);
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 1);
}

void tst_StorageOperations::cancelDuringTheWaitStopsTheAttempts() {
    auto operations = Operations();
    const QString folder = ConnectedJobFolder(*operations);
    QVERIFY(!folder.isEmpty());
    m_branch->Down = true;
    m_job->JobStatus = jsRunning;
    m_sleeper.OnSleep = [this](int call) {
        if (call == 2)
            m_job->Cancel();
    };

    const TOperationResult result = operations->FileOperation(
        atCopyFromLocalToRemoteFile, LocalFile(QStringLiteral("a.txt")), folder + QStringLiteral("/a.txt"), 5, true);

    QCOMPARE(result, orERROR_RemoteAccess);
    QCOMPARE(m_branch->Attempts, 1);
    QCOMPARE(m_sleeper.Calls, 2); // the rest of the wait is skipped
    QCOMPARE(m_job->JobStatus.Load(), jsCancelling);
    QCOMPARE(m_job->CancelCurrentFileOperation.Load(), 0);

    // A job that is cancelling starts no new attempt.
    QCOMPARE(operations->FileOperation(atCreateRemoteFolder, {}, folder + QStringLiteral("/x"), 5, true),
             orERROR_RemoteAccess);
    QCOMPARE(m_branch->Attempts, 1);
}

void tst_StorageOperations::cancelDuringALargeUploadLeavesNoFile() {
    TStorageOperations operations(
        *m_job,
        [this](TJob& job) {
            auto branch = std::make_unique<TLocalDriveBranch>(job);
            branch->CopyChunkSize = 65536;
            branch->OnProgress = [this](int64_t done, int64_t) {
                if (done >= 2 * 65536)
                    m_job->Cancel();
            };
            return branch;
        },
        &m_sleeper);
    const QString folder = ConnectedJobFolder(operations);
    m_job->JobStatus = jsRunning;
    const QString local = LocalFile(QStringLiteral("large.bin"), Pattern(16 * 65536));

    const TOperationResult result =
        operations.FileOperation(atCopyFromLocalToRemoteFile, local, folder + QStringLiteral("/large.bin"), 3, true);

    QCOMPARE(result, orERROR_RemoteAccess);
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/large.bin")));
    QVERIFY(LeftoverPartFiles(folder).isEmpty());
    QCOMPARE(m_job->CurrentBackupSize.Load(), int64_t(0));
    const QStringList lines = Messages(*m_job);
    QCOMPARE(CountStartingWith(lines, QStringLiteral("Retry after")), 0);
    QCOMPARE(CountStartingWith(lines, QStringLiteral("Copying the file:")), 1);
    QCOMPARE(m_job->CurrentFileOperationProgress.Load(), 0);
}

void tst_StorageOperations::internalFilesLogRule_data() {
    QTest::addColumn<TFileOperationType>("operation");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("dontLog");
    QTest::addColumn<QString>("line"); // the line expected, without its path; empty: none
    const QString copying = QStringLiteral("Copying the file:");
    QTest::newRow("stored job file, rule on")
        << atCopyFromLocalToRemoteFile << QStringLiteral("Job.vlj") << true << QString();
    QTest::newRow("stored job file, rule off")
        << atCopyFromLocalToRemoteFile << QStringLiteral("Job.vlj") << false << copying;
    QTest::newRow("list file, rule on") << atCopyFromLocalToRemoteFile << QStringLiteral("_rf.vll") << true
                                        << QString();
    QTest::newRow("user file, rule on") << atCopyFromLocalToRemoteFile << QStringLiteral("photo.jpg") << true
                                        << copying;
    QTest::newRow("download of the stored job file, rule on")
        << atCopyFromRemoteToLocalFile << QStringLiteral("Job.vlj") << true << QString();
    QTest::newRow("removing the start flag, rule on")
        << atRemoveRemoteFile << QStringLiteral("_startflag.vll") << true << QString();
    QTest::newRow("removing the start flag, rule off")
        << atRemoveRemoteFile << QStringLiteral("_startflag.vll") << false << QStringLiteral("Removing the file:");
    QTest::newRow("folder lines stay, rule on") << atCreateRemoteFolder << QStringLiteral("2024-05-01 Full") << true
                                                << QStringLiteral("Creating the directory:");
    QTest::newRow("folder named like a list file, rule on")
        << atCreateRemoteFolder << QStringLiteral("odd.vll") << true << QStringLiteral("Creating the directory:");
}

void tst_StorageOperations::internalFilesLogRule() {
    QFETCH(TFileOperationType, operation);
    QFETCH(QString, name);
    QFETCH(bool, dontLog);
    QFETCH(QString, line);
    m_job->JobOptions.Logging.DontLogCopyingInternalFiles = dontLog;
    auto operations = Operations();
    const QString folder = ConnectedJobFolder(*operations);
    const QString local = LocalFile(name);
    const QString remote = folder + u'/' + name;
    QVERIFY(WriteFile(remote, "at the destination"));
    m_job->LastJobResult.Log.clear();

    const TOperationResult result =
        operation == atCreateRemoteFolder
            ? operations->FileOperation(operation, {}, remote + QStringLiteral("-dir"), 0, true)
            : operations->FileOperation(operation, local, remote, 0, true);

    QCOMPARE(result, orSuccess);
    if (line.isEmpty()) {
        QCOMPARE(Messages(*m_job), QStringList());
    } else {
        QCOMPARE(Messages(*m_job).size(), 1);
        QVERIFY(Messages(*m_job).first().startsWith(line + u' '));
    }
}

void tst_StorageOperations::throughTemporaryFolder_data() {
    QTest::addColumn<bool>("temporaryCopies");
    QTest::newRow("local destination: straight from the source") << false;
    QTest::newRow("FTP-like destination: a private copy first") << true;
}

void tst_StorageOperations::throughTemporaryFolder() {
    QFETCH(bool, temporaryCopies);
    auto operations =
        Operations([temporaryCopies](TFaultInjectingBranch& branch) { branch.TemporaryCopyUploads = temporaryCopies; });
    const QString folder = ConnectedJobFolder(*operations);
    const QString local = LocalFile(QStringLiteral("report.docx"), Pattern(5000));
    const QString remote = folder + QStringLiteral("/2024 Full/report.docx");
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/2024 Full")));
    m_branch->FailNextAttempts = 1; // the copy must survive a retry
    m_job->JobOptions.Processing.IfDestinationNotAvailable_Wait_Sec = 0;

    const TOperationResult result =
        operations->FileOperation(atCopyFromLocalToRemoteFileThroughTempFolder, local, remote, 1, true);

    QCOMPARE(result, orSuccess);
    QCOMPARE(ReadFile(remote), Pattern(5000));
    const QString copy = m_temp->path() + QStringLiteral("/Job/report.docx");
    const QString uploaded = temporaryCopies ? copy : local;
    QCOMPARE(m_branch->Calls, QStringList(2, QStringLiteral("Upload ") + uploaded + QStringLiteral(" -> ") + remote));
    QVERIFY(!QFileInfo::exists(copy));
    QCOMPARE(Messages(*m_job).count(QStringLiteral("Copying the file: ") + local), 1);
    QCOMPARE(m_job->CurrentFileOperationPath.Get(), local);
    QCOMPARE(m_job->CurrentBackupSize.Load(), int64_t(5000));
}

// ---- Archive operations ----

void tst_StorageOperations::archiveOperationsWithoutArchiver_data() {
    QTest::addColumn<TFileOperationType>("operation");
    QTest::newRow("add to the archive") << atAddToZip;
    QTest::newRow("folder in the archive") << atCreateFolderInZip;
    QTest::newRow("archive of one file") << atMakeZipInTempFolderAndCopyToRemote;
}

void tst_StorageOperations::archiveOperationsWithoutArchiver() {
    QFETCH(TFileOperationType, operation);
    auto operations = Operations();
    const QString folder = ConnectedJobFolder(*operations);

    const TOperationResult result =
        operations->FileOperation(operation, LocalFile(QStringLiteral("a.txt")), QStringLiteral("dir/a.txt"), 2, true);

    QCOMPARE(result, orERROR_LocalAccess);
    QCOMPARE(Messages(*m_job).last(), QStringLiteral("ERROR: No archive is open for this job."));
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 1);
    QVERIFY(m_branch->Calls.isEmpty());
}

void tst_StorageOperations::addToZip_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<TOperationResult>("result");
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("added") << QStringLiteral("ok") << orSuccess << QStringLiteral("Adding to the archive: <local>");
    QTest::newRow("failure event") << QStringLiteral("event") << orERROR_LocalAccess
                                   << QStringLiteral("ERROR: Cannot open file \"<local>\"");
    QTest::newRow("refused without an event")
        << QStringLiteral("silent") << orERROR_LocalAccess
        << QStringLiteral("ERROR: Unable to add the file to the archive: <local>");
    QTest::newRow("engine throws") << QStringLiteral("throw") << orERROR_LocalAccess
                                   << QStringLiteral("ERROR: archive engine exploded");
}

void tst_StorageOperations::addToZip() {
    QFETCH(QString, engine);
    QFETCH(TOperationResult, result);
    QFETCH(QString, lastLine);
    TFakeArchiver archiver(*m_job);
    archiver.Fail = engine == QStringLiteral("event");
    archiver.FailSilently = engine == QStringLiteral("silent");
    archiver.Throw = engine == QStringLiteral("throw");
    m_job->Archiver = &archiver;
    auto operations = Operations();
    ConnectedJobFolder(*operations);
    const QString local = LocalFile(QStringLiteral("a.txt"));

    QCOMPARE(operations->FileOperation(atAddToZip, local, QStringLiteral("docs/a.txt"), 3, true), result);

    QCOMPARE(archiver.Added, QStringList{local + QStringLiteral(" as docs/a.txt")});
    QCOMPARE(Messages(*m_job).last(), lastLine.replace(QStringLiteral("<local>"), local));
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), result == orSuccess ? 0 : 1);
    QCOMPARE(archiver.Tag, 0);
    QVERIFY(m_branch->Calls.isEmpty());
    QCOMPARE(CountStartingWith(Messages(*m_job), QStringLiteral("Retry after")), 0);
    m_job->Archiver = nullptr;
}

void tst_StorageOperations::createFolderInZipClearsTheStoredName() {
    TFakeArchiver archiver(*m_job);
    m_job->Archiver = &archiver;
    m_job->stFileNameToAddToZip = QStringLiteral("left from the last file");
    auto operations = Operations();
    ConnectedJobFolder(*operations);

    QCOMPARE(operations->FileOperation(atCreateFolderInZip, {}, QStringLiteral("docs/old"), 0, true), orSuccess);

    QCOMPARE(archiver.Folders, QStringList{QStringLiteral("docs/old as ")});
    QCOMPARE(Messages(*m_job).last(), QStringLiteral("Creating the directory in the archive: docs/old"));
    m_job->Archiver = nullptr;
}

void tst_StorageOperations::zipInTemporaryFolderIsUploadedAndDeleted() {
    TFakeArchiver archiver(*m_job);
    m_job->Archiver = &archiver;
    m_job->stFileNameToAddToZip = QStringLiteral("left from the last file");
    auto operations = Operations();
    const QString folder = ConnectedJobFolder(*operations);
    const QString local = LocalFile(QStringLiteral("report.docx"), "document");
    const QString remote = folder + QStringLiteral("/report.docx");
    const QString archive = m_temp->path() + QStringLiteral("/Job/report.docx.zip");

    QCOMPARE(operations->FileOperation(atMakeZipInTempFolderAndCopyToRemote, local, remote, 0, true), orSuccess);

    QCOMPARE(archiver.Archives, QStringList{local + QStringLiteral(" as ")});
    QCOMPARE(m_branch->Calls, QStringList{QStringLiteral("Upload ") + archive + QStringLiteral(" -> ") + remote +
                                          QStringLiteral(".zip")});
    QCOMPARE(ReadFile(remote + QStringLiteral(".zip")), QByteArray("PK-fake:document"));
    QVERIFY(!QFileInfo::exists(archive));
    QCOMPARE(m_job->CurrentBackupSize.Load(), int64_t(QByteArray("PK-fake:document").size()));
    QCOMPARE(Messages(*m_job).first(),
             QStringLiteral("Connecting to the external drive. Directory: ") + m_destination->path());
    QVERIFY(Messages(*m_job).contains(QStringLiteral("Archiving the file: ") + local));
    QCOMPARE(m_job->CurrentFileOperationPath.Get(), local);
    m_job->Archiver = nullptr;
}

void tst_StorageOperations::failedSingleFileArchiveIsDeletedAndNotUploaded() {
    TFakeArchiver archiver(*m_job);
    archiver.Fail = true;
    m_job->Archiver = &archiver;
    auto operations = Operations();
    const QString folder = ConnectedJobFolder(*operations);
    const QString local = LocalFile(QStringLiteral("locked.db"));

    QCOMPARE(operations->FileOperation(atMakeZipInTempFolderAndCopyToRemote, local,
                                       folder + QStringLiteral("/locked.db"), 2, true),
             orERROR_LocalAccess);

    QVERIFY(m_branch->Calls.isEmpty());
    QVERIFY(!QFileInfo::exists(m_temp->path() + QStringLiteral("/Job/locked.db.zip")));
    QCOMPARE(archiver.Tag, 0);
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 1);
    m_job->Archiver = nullptr;
}

// ---- Unavailable-destination policy ----

void tst_StorageOperations::cancelPolicy_data() {
    QTest::addColumn<TJobStatus>("status");
    QTest::newRow("running job") << jsRunning;
    QTest::newRow("paused job") << jsPaused;
    QTest::newRow("job already cancelling") << jsCancelling;
}

void tst_StorageOperations::cancelPolicy() {
    QFETCH(TJobStatus, status);
    m_job->JobOptions.Processing.IfDestinationNotAvailable_Then = 0;
    m_job->JobStatus = status;
    TStorageOperations operations(*m_job, {}, &m_sleeper);

    QVERIFY(!operations.ApplyUnavailableDestinationPolicy());

    QCOMPARE(m_job->JobStatus.Load(), jsCancelling);
    if (status == jsCancelling) {
        QVERIFY(m_job->LastJobResult.Log.isEmpty());
        QCOMPARE(m_job->LastJobResult.WarningsCount.Load(), 0);
        return;
    }
    QCOMPARE(Messages(*m_job),
             (QStringList{QString(),
                          QStringLiteral("WARNING: The job will be cancelled because destination is not accepting the "
                                         "file.\r\nPossible reasons: device is disconnected; device is corrupted; "
                                         "network issues; transfer is blocked by antivirus.\r\nIf you do not want to "
                                         "cancel the job next time, please open the General Options, the tab "
                                         "\"Backup\".\r\nSelect the option \"Pause the job and wait for your "
                                         "action\".")}));
    QCOMPARE(m_job->LastJobResult.WarningsCount.Load(), 1);
    QCOMPARE(m_sleeper.Calls, 0);
}

void tst_StorageOperations::pausePolicy_data() {
    QTest::addColumn<bool>("resume");
    QTest::newRow("user resumes") << true;
    QTest::newRow("user cancels") << false;
}

void tst_StorageOperations::pausePolicy() {
    QFETCH(bool, resume);
    m_job->JobOptions.Processing.IfDestinationNotAvailable_Then = 1;
    m_job->JobStatus = jsRunning;
    TStorageOperations operations(*m_job, {}, &m_sleeper);
    bool pausedWhileWaiting = true;
    m_sleeper.OnSleep = [&](int call) {
        pausedWhileWaiting = pausedWhileWaiting && m_job->JobStatus == jsPaused &&
                             m_job->CurrentFileOperationType == atNone_WaitingForReconnection;
        if (call == 3) {
            if (resume)
                m_job->Resume();
            else
                m_job->Cancel();
        }
    };

    QCOMPARE(operations.ApplyUnavailableDestinationPolicy(), resume);

    QVERIFY(pausedWhileWaiting);
    QCOMPARE(m_sleeper.Calls, 3);
    QCOMPARE(m_sleeper.TotalMilliseconds, 3000LL);
    QCOMPARE(m_job->JobStatus.Load(), resume ? jsRunning : jsCancelling);
    QCOMPARE(m_job->LastJobResult.WarningsCount.Load(), 0);
}

void tst_StorageOperations::policyLoopRepeatsTheItemAfterResume() {
    m_job->JobOptions.Processing.IfDestinationNotAvailable_Then = 1;
    m_job->JobOptions.Processing.IfDestinationNotAvailable_Retry_Times = 1;
    m_job->JobOptions.Processing.IfDestinationNotAvailable_Wait_Sec = 0;
    auto operations = Operations();
    const QString folder = ConnectedJobFolder(*operations);
    m_job->JobStatus = jsRunning;
    m_branch->Down = true;
    int pauses = 0;
    m_sleeper.OnSleep = [&](int) {
        // The user plugs the drive back in during the second pause and resumes each time.
        if (m_job->JobStatus == jsPaused) {
            ++pauses;
            m_branch->Down = pauses < 2;
            m_job->Resume();
        }
    };
    const QString local = LocalFile(QStringLiteral("a.txt"), "payload");

    const TOperationResult result =
        operations->FileOperationWithPolicy(atCopyFromLocalToRemoteFile, local, folder + QStringLiteral("/a.txt"));

    QCOMPARE(result, orSuccess);
    QCOMPARE(pauses, 2);
    QCOMPARE(m_branch->Attempts, 5); // two attempts before each pause, then the one that works
    QCOMPARE(ReadFile(folder + QStringLiteral("/a.txt")), QByteArray("payload"));
    QCOMPARE(m_job->LastJobResult.ErrorsCount.Load(), 4);
    QCOMPARE(m_job->JobStatus.Load(), jsRunning);
}

QTEST_GUILESS_MAIN(tst_StorageOperations)
#include "tst_StorageOperations.moc"
