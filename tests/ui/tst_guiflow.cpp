// The windowed program as a user meets it: started on a data folder that holds a job, a backup
// run from the toolbar and watched on its card, a restore through the dialogs, a run paused and
// cancelled from its card, the gates of the start, and a second start handing over to the first.

#include "UiTestSupport.h"

#include "tests/files/THookedBranch.h"

#include "ui/TJobActions.h"
#include "ui/TJobListModel.h"
#include "ui/TJobListView.h"
#include "ui/TVaultoraProgram.h"
#include "ui/TfrmMainVaultora.h"
#include "ui/TfrmOpenJobDialog.h"
#include "ui/TfrmRestoreList.h"

#include "core/format/OptionsFile.h"
#include "core/model/TJobList.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Program = QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora");
constexpr int WorkerTimeoutMs = 120000;

// Clicks the toolbar's button of an action, as a user does.
void ClickToolbar(TfrmMainVaultora& window, const QString& action) {
    auto* toolbar = window.findChild<QToolBar*>(u"tbMain"_s);
    QWidget* button = toolbar->widgetForAction(window.Action(action));
    QVERIFY2(button && button->isEnabled(), qPrintable(action));
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList Events(TfrmMainVaultora& window) {
    // The tick moves the pending lines in.
    window.Tick();
    QStringList lines;
    const QAbstractItemModel* model = window.EventsList()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        lines.append(model->index(row, 0).data().toString().mid(21));
    return lines;
}

} // namespace

class TestGuiFlow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;
    std::unique_ptr<TVaultoraProgram> m_program;
    // A hook in the storage branch that holds a run at its first source file.
    THookedBranch::THook m_onUpload;
    QSemaphore m_reached;
    QSemaphore m_go;
    std::atomic<bool> m_held{false};

    QString Path(const QString& name) const { return m_fixture->Path(name); }

    // A data folder as an earlier run left it: the options and one job.
    void PrepareDataFolder(std::unique_ptr<TJob> job, const TOptions& options) {
        const QString data = m_fixture->DataFolder();
        QDir().mkpath(data);
        QVERIFY(SaveOptions(data + u"/options.vlo"_s, options));
        App().ApplicationDirectory = data;
        QVERIFY(job->SaveLocalJobFile(data + u'/' + job->stJobName + u".vld"_s));
        UiTest::WriteFile(data + u"/jobslist.vll"_s, "\xEF\xBB\xBF" + job->stJobName.toUtf8() + "\r\n");
    }

    TOptions Options() const {
        TOptions options;
        options.Language.LanguageOfInterface = u"en"_s;
        options.General.PathForTempFiles = Path(u"temp"_s);
        options.Logging.PathForLogFiles = Path(u"logs"_s);
        options.Processing.IfDestinationNotAvailable_Wait_Sec = 0;
        return options;
    }

    int StartProgram(const QStringList& arguments) {
        TProgramEnvironment environment;
        environment.Autostart = &m_fixture->Autostart;
        environment.Priority = &m_fixture->Priority;
        environment.Clock = &m_fixture->Clock;
        environment.SleepInhibitor = &m_fixture->SleepInhibitor;
        environment.PowerOff = &m_fixture->PowerOff;
        environment.Notifier = &m_fixture->Notifier;
        environment.RuntimeDirectory = Path(u"run"_s);
        environment.ProgramDataDirectory = UiTest::ShippedData;
        environment.DefaultSources = m_fixture->Sources();
        m_program = std::make_unique<TVaultoraProgram>(environment);
        m_program->NewVersionGate = [](QWidget*) { return true; };
        return m_program->Start(QStringList{u"--data-dir"_s, m_fixture->DataFolder()} + arguments);
    }

    TJob_FilesAndFolders* Job(const QString& name) const {
        return dynamic_cast<TJob_FilesAndFolders*>(m_program->Context().Jobs().Find(name));
    }

    void Screenshot(QWidget& widget, const QString& name) {
        QVERIFY(widget.grab().save(UiTest::Artifacts + u'/' + name + u".png"_s));
    }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<UiTest::TFixture>();
        UiTest::WriteFile(Path(u"src/a.txt"_s), "alpha");
        UiTest::WriteFile(Path(u"src/sub/b.txt"_s), "beta");
        QDir().mkpath(Path(u"dest"_s));
        QDir().mkpath(Path(u"out"_s));
        QDir().mkpath(Path(u"run"_s));
        QFile::setPermissions(Path(u"run"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void cleanup() {
        // A run held by the hook must be able to end, or the job could not go.
        m_go.release(1000);
        m_program.reset();
        m_onUpload = nullptr;
        m_reached.acquire(m_reached.available());
        m_go.acquire(m_go.available());
        m_held = false;
        m_fixture.reset();
    }

    // Start, Backup from the toolbar, the finished card, and a restore of the encrypted backup
    // through the output folder, the restore-point list and the password box.
    void backupAndRestoreFromTheWindow() {
        auto job = UiTest::FilesJob(u"Docs"_s, Path(u"src"_s), Path(u"dest"_s));
        job->Settings.Compression.Enabled = true;
        job->Settings.Compression.ProtectWithPassword = true;
        job->Settings.Compression.Password = u"zip-secret"_s;
        job->Settings.Compression.EncryptionMethod = emAES256;
        PrepareDataFolder(std::move(job), Options());
        QCOMPARE(StartProgram({}), TVaultoraProgram::RunEventLoop);
        TfrmMainVaultora& window = *m_program->MainWindow();
        window.resize(900, 520);
        QVERIFY(window.isVisible());
        QTRY_VERIFY(window.FirstShowDone() && window.SchedulerTimerActive());
        QVERIFY(Events(window).contains(u"Backup jobs are loaded."_s));
        // The job is looked up each time: a tick reads a job file changed on disk (by a run's
        // end, too) into a new job object.
        QVERIFY(Job(u"Docs"_s));
        TJobListView* view = window.JobsView();
        QCOMPARE(view->CardOfRow(0).StatusText(), u"Never started"_s);

        // Select the card and run its backup from the toolbar; the next tick starts it.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(window.Model()->index(0, 0)).topLeft() + QPoint(30, 30));
        QCOMPARE(window.SelectedJob(), Job(u"Docs"_s));
        ClickToolbar(window, u"actBackup"_s);
        QCOMPARE(Job(u"Docs"_s)->JobStatus.Load(), jsWaiting);
        QCOMPARE(view->CardOfRow(0).StatusText(), u"Waiting"_s);
        window.Tick();
        Job(u"Docs"_s)->WaitForWorker();
        window.ProcessRepaintRequest();
        QCOMPARE(Job(u"Docs"_s)->JobStatus.Load(), jsNone);
        QCOMPARE(Job(u"Docs"_s)->LastJobResult.ErrorsCount.Load(), 0);
        const TJobCard finished = view->CardOfRow(0);
        QVERIFY2(finished.StatusText().startsWith(u"Finished on "_s), qPrintable(finished.StatusText()));
        QCOMPARE(finished.StatusColour().rgb(), TJobCard::FinishedColour);
        QVERIFY(Events(window).contains(u"Starting the \"Docs\" backup."_s));
        const QStringList panels{u"Jobs: 1"_s, u"Running: 0"_s, u"Cancelled: 0"_s};
        QCOMPARE(window.StatusPanelTexts().mid(0, 3), panels);
        Screenshot(window, u"main-window-cards"_s);
        window.Action(u"actViewTable"_s)->trigger();
        QVERIFY(window.Model()->index(0, TJobListModel::colLastResult).data().toString().startsWith(u"Finished on"_s));
        Screenshot(window, u"main-window-table"_s);
        window.Action(u"actViewCards"_s)->trigger();

        // Restore: output folder, the list read on its own thread, the choice, the password.
        TFileDialog::SetNextFileName(Path(u"out"_s));
        TInputBox::SetNextAnswer(u"zip-secret"_s);
        ClickToolbar(window, u"actRestore"_s);
        QCOMPARE(TFileDialog::TakeCaptions(), QStringList{u"Choose an output directory"_s});
        auto* dialog = window.findChild<TfrmRestoreList*>();
        QVERIFY(dialog);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible() && !dialog->IsLoading(), WorkerTimeoutMs);
        QCOMPARE(dialog->windowTitle(), u" Restore"_s);
        QCOMPARE(dialog->List()->count(), 1);
        QVERIFY(dialog->List()->item(0)->text().endsWith(u"(ZIP , Full)"_s));
        QVERIFY(!dialog->OkButton()->isEnabled());
        // The dialog is the way out while it is open: the card offers no Pause or Cancel.
        QCOMPARE(view->CardOfRow(0).Link1(), TJobCard::caNone);
        QCOMPARE(view->CardOfRow(0).Link2(), TJobCard::caNone);
        Screenshot(*dialog, u"restore-points"_s);
        dialog->List()->setCurrentRow(0);
        QVERIFY(dialog->OkButton()->isEnabled());
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        QCOMPARE(TInputBox::TakePrompts(), QStringList{u"Password for ZIP archives of backup Docs:"_s});
        Job(u"Docs"_s)->WaitForWorker();
        window.ProcessRepaintRequest();
        QCOMPARE(Job(u"Docs"_s)->LastJobResult.ErrorsCount.Load(), 0);
        QVERIFY(!Job(u"Docs"_s)->LastJobResult.Cancelled);
        QCOMPARE(UiTest::ReadFile(Path(u"out/src/a.txt"_s)), QByteArray("alpha"));
        QCOMPARE(UiTest::ReadFile(Path(u"out/src/sub/b.txt"_s)), QByteArray("beta"));
        QCOMPARE(view->CardOfRow(0).StatusText().left(12), u"Finished on "_s);
        // The lock went back once the job was idle: the command line may run the job again.
        QVERIFY(!window.Locks().Holds(*Job(u"Docs"_s)));

        // A second restore, cancelled at the choice.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the first flow is gone
        QVERIFY(!window.findChild<TfrmRestoreList*>());
        TFileDialog::SetNextFileName(Path(u"out"_s));
        window.Actions().Restore();
        dialog = window.findChild<TfrmRestoreList*>();
        QTRY_VERIFY_WITH_TIMEOUT(dialog && dialog->isVisible() && !dialog->IsLoading(), WorkerTimeoutMs);
        QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
        QCOMPARE(Job(u"Docs"_s)->JobStatus.Load(), jsNone);
        QVERIFY(Job(u"Docs"_s)->LastJobResult.Cancelled);
        QVERIFY(Job(u"Docs"_s)->LastJobResult.Log.last().endsWith(u"Restore is cancelled."_s));
        QVERIFY(Events(window).contains(u"\"Docs\" restore is cancelled."_s));
        QCOMPARE(UiTest::ShownTexts(), QStringList());

        // A wrong password: the failure and its reason come in a message box, not only on the card.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        TFileDialog::SetNextFileName(Path(u"out2"_s));
        TInputBox::SetNextAnswer(u"not-the-secret"_s);
        window.Actions().Restore();
        dialog = window.findChild<TfrmRestoreList*>();
        QTRY_VERIFY_WITH_TIMEOUT(dialog && dialog->isVisible() && !dialog->IsLoading(), WorkerTimeoutMs);
        dialog->List()->setCurrentRow(0);
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        Job(u"Docs"_s)->WaitForWorker();
        QStringList shown;
        QDeadlineTimer deadline(WorkerTimeoutMs);
        while (shown.isEmpty() && !deadline.hasExpired()) {
            QTest::qWait(20);
            shown = UiTest::ShownTexts();
        }
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().startsWith(u"The restore of \"Docs\" ended with errors.\n\n"_s),
                 qPrintable(shown.first()));
        QVERIFY2(shown.first().contains(u"Wrong password"_s), qPrintable(shown.first())); // with its reason
        QVERIFY(!QFileInfo::exists(Path(u"out2/src/a.txt"_s)));
    }

    // A run seen on its card while it copies, paused and resumed there; then its destination
    // fails, the job pauses with the reconnection advice, and its card cancels it.
    void pauseAndReconnectionOnTheCard() {
        TOptions options = Options();
        options.Processing.IfDestinationNotAvailable_Then = 1; // pause and wait for the user
        options.Processing.IfDestinationNotAvailable_Retry_Times = 0;
        PrepareDataFolder(UiTest::FilesJob(u"Docs"_s, Path(u"src"_s), Path(u"dest"_s)), options);
        QCOMPARE(StartProgram({}), TVaultoraProgram::RunEventLoop);
        TfrmMainVaultora& window = *m_program->MainWindow();
        window.resize(900, 420);
        TJob_FilesAndFolders* docs = Job(u"Docs"_s);
        const QString source = Path(u"src"_s);
        m_onUpload = [this, source](const QString& local, const QString&) -> std::optional<TBranchResult> {
            // Only the first source file is held and fails; the start flag and the rest pass.
            if (!local.startsWith(source) || m_held.exchange(true))
                return std::nullopt;
            m_reached.release();
            m_go.acquire();
            return TBranchResult::Failure(u"The device is gone."_s);
        };
        docs->Branches = [this](TJob& owner) { return std::make_unique<THookedBranch>(owner, &m_onUpload, nullptr); };

        window.SelectJob(docs);
        window.Actions().Backup();
        window.Tick();
        m_reached.acquire(); // the worker is in the upload of its first file
        window.ProcessRepaintRequest();
        TJobListView* view = window.JobsView();
        const TJobCard running = view->CardOfRow(0);
        QVERIFY(running.ShowsProgress());
        QVERIFY2(running.SecondLine().startsWith(u"Copying "_s + Path(u"src"_s)), qPrintable(running.SecondLine()));
        QCOMPARE(running.Link1(), TJobCard::caPause);
        Screenshot(window, u"main-window-running"_s);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, running.Link1Rect().center());
        QCOMPARE(docs->JobStatus.Load(), jsPaused);
        window.ProcessRepaintRequest();
        QCOMPARE(view->CardOfRow(0).Link1(), TJobCard::caResume);
        QCOMPARE(view->CardOfRow(0).StatusText(), u"Paused"_s);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->CardOfRow(0).Link1Rect().center());
        QCOMPARE(docs->JobStatus.Load(), jsRunning);

        m_go.release();
        QTRY_VERIFY_WITH_TIMEOUT(docs->JobStatus == jsPaused &&
                                     docs->CurrentFileOperationType == atNone_WaitingForReconnection,
                                 WorkerTimeoutMs);
        window.ProcessRepaintRequest();
        const TJobCard waiting = view->CardOfRow(0);
        QVERIFY(waiting.SecondLineIsAdvice());
        QCOMPARE(waiting.SecondLine(), u"Make sure the storage device is connected. Then resume the job."_s);
        QCOMPARE(waiting.Link1(), TJobCard::caResume);
        QCOMPARE(waiting.Link2(), TJobCard::caCancel);
        Screenshot(window, u"main-window-reconnection"_s);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, waiting.Link2Rect().center());
        docs->WaitForWorker();
        window.ProcessRepaintRequest();
        QVERIFY(docs->LastJobResult.Cancelled);
        QVERIFY(view->CardOfRow(0).StatusText().startsWith(u"Cancelled on "_s));
        QCOMPARE(window.StatusPanelTexts().at(2), u"Cancelled: 1"_s);
    }

    void restoreRefusals_data() {
        QTest::addColumn<QString>("destination"); // below the test's folder
        QTest::addColumn<QString>("output");      // empty: the folder chooser is cancelled
        QTest::addColumn<QString>("box");         // the start of the error box, or empty
        QTest::newRow("chooser cancelled") << u"dest"_s << QString() << QString();
        QTest::newRow("storage unreachable")
            << u"gone"_s << u"out"_s << u"Unable to connect to the backup storage.\r\n"_s;
        QTest::newRow("never backed up") << u"dest"_s << u"out"_s
                                         << u"Unable to copy the job file \"Docs.vlj\" from the backup directory."_s;
    }

    // A restore that cannot go on tells why, and leaves the job idle with its lock given back.
    void restoreRefusals() {
        QFETCH(QString, destination);
        QFETCH(QString, output);
        QFETCH(QString, box);
        PrepareDataFolder(UiTest::FilesJob(u"Docs"_s, Path(u"src"_s), Path(destination)), Options());
        QCOMPARE(StartProgram({}), TVaultoraProgram::RunEventLoop);
        TfrmMainVaultora& window = *m_program->MainWindow();
        window.SelectJob(Job(u"Docs"_s));
        TFileDialog::SetNextFileName(output.isEmpty() ? QString() : Path(output));
        window.Actions().Restore();
        if (!output.isEmpty()) {
            QStringList shown;
            QTRY_VERIFY_WITH_TIMEOUT((shown += UiTest::ShownTexts(), !shown.isEmpty()), WorkerTimeoutMs);
            QCOMPARE(shown.size(), 1);
            QVERIFY2(shown.first().startsWith(box), qPrintable(shown.first()));
        }
        QCOMPARE(Job(u"Docs"_s)->JobStatus.Load(), jsNone);
        window.ProcessRepaintRequest();
        QVERIFY(!window.Locks().Holds(*Job(u"Docs"_s)));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!window.findChild<TfrmRestoreList*>());
    }

    // A mirror is restored whole: no restore-point list.
    void mirrorRestoresWithoutAChoice() {
        auto job = UiTest::FilesJob(u"Docs"_s, Path(u"src"_s), Path(u"dest"_s));
        job->SetBackupType(btSynchronization);
        PrepareDataFolder(std::move(job), Options());
        QCOMPARE(StartProgram({}), TVaultoraProgram::RunEventLoop);
        TfrmMainVaultora& window = *m_program->MainWindow();
        window.SelectJob(Job(u"Docs"_s));
        window.Actions().Backup();
        window.Tick();
        Job(u"Docs"_s)->WaitForWorker();
        QCOMPARE(Job(u"Docs"_s)->LastJobResult.ErrorsCount.Load(), 0);
        TFileDialog::SetNextFileName(Path(u"out"_s));
        window.Actions().Restore();
        QTRY_VERIFY_WITH_TIMEOUT(Job(u"Docs"_s)->JobOperation == joRestore, WorkerTimeoutMs);
        Job(u"Docs"_s)->WaitForWorker();
        auto* dialog = window.findChild<TfrmRestoreList*>();
        QVERIFY(!dialog || !dialog->isVisible());
        QCOMPARE(UiTest::ReadFile(Path(u"out/src/sub/b.txt"_s)), QByteArray("beta"));
        QCOMPARE(UiTest::ShownTexts(), QStringList());
    }

    // The session ends (SIGTERM): the program quits without a question.
    void sessionEnd() {
        PrepareDataFolder(UiTest::FilesJob(u"Docs"_s), Options());
        QCOMPARE(StartProgram({}), TVaultoraProgram::RunEventLoop);
        QSignalSpy closed(m_program->MainWindow(), &TfrmMainVaultora::Closed);
        ::raise(SIGTERM);
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY(App().IsQuitting);
        QCOMPARE(UiTest::ShownTexts(), QStringList());
    }

    void passwordGate_data() {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("right password, blanks trimmed")
            << true << u" open sesame "_s << TVaultoraProgram::RunEventLoop << QStringList();
        QTest::newRow("wrong password") << true << u"guess"_s << 0 << QStringList{u"Invalid password"_s};
        QTest::newRow("cancelled") << false << QString() << 0 << QStringList();
    }

    // A protected configuration asks before the window shows; anything but the password ends
    // the program.
    void passwordGate() {
        QFETCH(bool, answered);
        QFETCH(QString, typed);
        QFETCH(int, result);
        QFETCH(QStringList, boxes);
        TOptions options = Options();
        options.General.ProtectConfigurationbyPassword = true;
        options.General.strProtectConfiguration_Password = u"open sesame"_s;
        PrepareDataFolder(UiTest::FilesJob(u"Docs"_s), options);
        if (answered)
            TInputBox::SetNextAnswer(typed);
        QCOMPARE(StartProgram({}), result);
        QCOMPARE(TInputBox::TakePrompts(), QStringList{u"Password:"_s});
        QCOMPARE(UiTest::ShownTexts(), boxes);
        QCOMPARE(m_program->MainWindow()->isVisible(), result == TVaultoraProgram::RunEventLoop);
    }

    // "/hide": no window, yet the scheduler runs; a second start of the program shows the window,
    // and one with a stored job file hands the file over.
    void hiddenStartAndHandOver() {
        PrepareDataFolder(UiTest::FilesJob(u"Docs"_s), Options());
        QCOMPARE(StartProgram({u"/hide"_s}), TVaultoraProgram::RunEventLoop);
        TfrmMainVaultora& window = *m_program->MainWindow();
        QVERIFY(!window.isVisible());
        QVERIFY(window.SchedulerTimerActive());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_RUNTIME_DIR"_s, Path(u"run"_s));
        environment.insert(u"HOME"_s, Path(u"home"_s));
        environment.insert(u"XDG_CONFIG_HOME"_s, Path(u"home/config"_s));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        auto secondStart = [&](const QStringList& arguments) {
            QProcess second;
            second.setProcessEnvironment(environment);
            second.setWorkingDirectory(Path(u"src"_s));
            second.start(Program, QStringList{u"--data-dir"_s, m_fixture->DataFolder()} + arguments);
            QVERIFY(second.waitForStarted());
            // The first instance answers from its event loop while the second waits.
            QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, WorkerTimeoutMs);
            QCOMPARE(second.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.exitCode(), 0);
        };
        secondStart({});
        QTRY_VERIFY(window.isVisible());
        QCOMPARE(UiTest::ShownTexts(), QStringList());

        // The handed-over file is the Open dialog's local path; "Continue..." opens it (these bytes
        // are no job file).
        QString offered;
        window.DialogRunner = [&offered](QDialog& dialog) {
            dialog.show();
            auto* open = dynamic_cast<TfrmOpenJobDialog*>(&dialog);
            if (!open)
                return int(QDialog::Rejected);
            offered = open->PathEdit(TfrmOpenJobDialog::pgLocal)->text();
            open->ContinueButton()->click();
            return open->result();
        };
        UiTest::WriteFile(Path(u"src/Old.vlj"_s), "stored");
        secondStart({u"Old.vlj"_s});
        QStringList shown;
        QTRY_VERIFY((shown += UiTest::ShownTexts(), !shown.isEmpty()));
        QCOMPARE(offered, Path(u"src/Old.vlj"_s));
        QCOMPARE(shown, QStringList{u"Unable to open the job file from the backup storage."_s});
        QCOMPARE(m_program->Context().Jobs().Count(), 1);
    }
};

QTEST_MAIN(TestGuiFlow)
#include "tst_guiflow.moc"
