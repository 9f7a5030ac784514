// The start-up steps from the data folder to the loaded jobs, the options as the dialogs change
// them, the command-line actions of the first show and the quit rule.

#include "core/format/OptionsFile.h"
#include "core/settings/TAppGlobals.h"
#include "core/startup/TApplicationContext.h"
#include "jobs/JobKinds.h"
#include "platform/TFakeAutostart.h"
#include "platform/TFakeProcessPriority.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString ShippedData = QStringLiteral(VAULTORA_BINARY_DIR "/bin");

QStringList EventTexts() {
    QStringList texts;
    for (const QString& line : App().EventsLog.PendingLines())
        texts.append(line.mid(21)); // without "yyyy-MM-dd HH:mm:ss: "
    return texts;
}

mode_t Mode(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
}

} // namespace

class TestApplicationContext : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root;
    TFakeAutostart m_autostart;
    TFakeProcessPriority m_priority;

    TStartupSettings Settings(const QString& dataFolder, const QStringList& arguments = {}) {
        TStartupSettings settings;
        settings.CommandLine.Parse(arguments);
        settings.ApplicationDirectory = dataFolder;
        settings.ProgramDataDirectory = ShippedData;
        TDefaultOptionsSources sources;
        sources.LanguageCode = QStringLiteral("en");
        sources.PathForTempFiles = m_root + QStringLiteral("/cache/VaultoraTmp");
        sources.PathForLogFiles = m_root + QStringLiteral("/Documents/Vaultora");
        sources.ExcludedDirectoriesFile = ShippedData + QStringLiteral("/excluded-directories.txt");
        settings.DefaultSources = sources;
        return settings;
    }

    // A data folder with options, a jobs list and job files, as an earlier run left it.
    QString PreparedFolder(const QString& name, const QString& listName, const QStringList& jobs, int priority = 0) {
        const QString folder = m_root + u'/' + name;
        if (!QDir().mkpath(folder))
            qFatal("cannot create %s", qPrintable(folder));
        TOptions options;
        options.Language.LanguageOfInterface = QStringLiteral("en");
        options.General.ProcessPriority = priority;
        options.General.PathForTempFiles = m_root + u'/' + name + QStringLiteral("-temp");
        options.Logging.PathForLogFiles = m_root + u'/' + name + QStringLiteral("-logs");
        if (!SaveOptions(folder + QStringLiteral("/options.vlo"), options))
            qFatal("cannot save options");
        QByteArray list("\xEF\xBB\xBF");
        App().ApplicationDirectory = folder;
        for (const QString& job : jobs) {
            list += job.toUtf8() + "\r\n";
            auto created = CreateJobOfKind(1, job);
            if (!created->SaveLocalJobFile(folder + u'/' + job + QStringLiteral(".vld")))
                qFatal("cannot save a job");
        }
        WriteFile(folder + u'/' + listName, list);
        return folder;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_root = m_dir.path();
    }
    void init() {
        App().EventsLog.Clear();
        App().IsQuitting = false;
        m_autostart = TFakeAutostart();
        m_priority.Requests.clear();
    }
    void cleanup() { App().IsQuitting = false; }

    // First start on a new data folder: the folder (owner only), the defaults with the autostart
    // entry, the work folders, each with its events-log line.
    void firstStart() {
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        const QString folder = m_root + QStringLiteral("/first/Vaultora");
        const TStartupReport report = context.Start(Settings(folder));
        QVERIFY(!report.Fatal);
        QCOMPARE(report.ErrorBoxes, QStringList());
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(Mode(folder), mode_t(0700));
        QCOMPARE(Mode(m_root + QStringLiteral("/cache/VaultoraTmp")), mode_t(0700));
        QVERIFY(QFileInfo(m_root + QStringLiteral("/Documents/Vaultora")).isDir());
        QCOMPARE(EventTexts(),
                 (QStringList{
                     QStringLiteral("Application directory is created: ") + folder,
                     QStringLiteral("Temporary directory is created: ") + m_root + QStringLiteral("/cache/VaultoraTmp"),
                     QStringLiteral("Log directory is created: ") + m_root + QStringLiteral("/Documents/Vaultora")}));
        QCOMPARE(App().ApplicationDirectory, folder);
        QCOMPARE(App().JobsListFileName, QStringLiteral("jobslist.vll"));
        QCOMPARE(App().RemoteJobFileExtension, QStringLiteral(".vlj"));
        QVERIFY(App().Options.General.RunProgramAtLogon);
        QVERIFY(m_autostart.On);
        QCOMPARE(App().Options.Logging.MaxNumberOfLogsForEachJob, 20);
        QVERIFY(App().Options.ExcludedDirs.contains(QStringLiteral("/tmp")));
        QCOMPARE(App().Options.Language.Translations.LanguageCount(), 3);
        QCOMPARE(m_priority.Requests, QList<int32_t>{1});
        QCOMPARE(context.Jobs().Count(), 0);
        QVERIFY(!App().IsElevatedInstance);
        // The defaults reach the file at the next save, not at start-up.
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/options.vlo")));
        QVERIFY(context.ShouldShowWelcome());
        QVERIFY(context.SuppressWelcome());
        QVERIFY(!context.ShouldShowWelcome());
    }

    // The window's events log takes the pending lines at each tick, up to the option's limit.
    void eventsLogFollowsTheOption() {
        const QString folder = PreparedFolder(QStringLiteral("events"), QStringLiteral("jobslist.vll"), {});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder));
        App().Options.Logging.MaxNumberOfLinesInEventsLog = 2;
        AddToEventsLog(QStringLiteral("Job is removed."));
        QVERIFY(context.FlushEventsLog());
        QCOMPARE(context.EventsLog().rowCount(), 2);
        QVERIFY(context.EventsLog().Lines().last().endsWith(QStringLiteral(": Job is removed.")));
        QVERIFY(App().EventsLog.PendingLines().isEmpty());
        QVERIFY(!context.FlushEventsLog());
    }

    // vaultora-cli applies the same defaults without touching the logon entry.
    void startWithoutAutorunRegistration() {
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        TStartupSettings settings = Settings(m_root + QStringLiteral("/cli"));
        settings.RegisterAutorunWithDefaults = false;
        context.Start(settings);
        QCOMPARE(m_autostart.Calls, 0);
        QVERIFY(!App().Options.General.RunProgramAtLogon);
    }

    void laterStartLoadsOptionsAndJobs() {
        const QString folder = PreparedFolder(QStringLiteral("later"), QStringLiteral("jobslist.vll"),
                                              {QStringLiteral("Daily"), QStringLiteral("Photos")}, 0);
        App().EventsLog.Clear();
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        const TStartupReport report = context.Start(Settings(folder, {QStringLiteral("/admin")}));
        QVERIFY(!report.Fatal);
        QCOMPARE(m_autostart.Calls, 0);
        QCOMPARE(m_priority.Requests, QList<int32_t>{0});
        QCOMPARE(context.Jobs().Count(), 2);
        QCOMPARE(context.Jobs().At(1)->stJobName, QStringLiteral("Photos"));
        QVERIFY(App().IsElevatedInstance);
        QCOMPARE(EventTexts(),
                 (QStringList{QStringLiteral("Temporary directory is created: ") + folder + QStringLiteral("-temp"),
                              QStringLiteral("Log directory is created: ") + folder + QStringLiteral("-logs"),
                              QStringLiteral("Backup jobs are loaded.")}));
        QVERIFY(!context.ShouldShowWelcome());
    }

    // A legacy "jobs.vll" switches the list name and the stored job-file extension together.
    void legacyJobsList() {
        const QString folder =
            PreparedFolder(QStringLiteral("legacy"), QStringLiteral("jobs.vll"), {QStringLiteral("Old")});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder));
        QCOMPARE(App().JobsListFileName, QStringLiteral("jobs.vll"));
        QCOMPARE(App().RemoteJobFileExtension, QStringLiteral(".vlk"));
        QCOMPARE(context.Jobs().Count(), 1);
    }

    // Nothing can work without the data folder: the error box, the events line, IsQuitting, and
    // no further step (no logon entry, no priority change).
    void dataFolderCannotBeCreated() {
        const QString blocker = m_root + QStringLiteral("/blocker");
        WriteFile(blocker, "file");
        const QString folder = blocker + QStringLiteral("/Vaultora");
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        const TStartupReport report = context.Start(Settings(folder));
        QVERIFY(report.Fatal);
        QVERIFY(App().IsQuitting.load());
        QCOMPARE(report.ErrorBoxes,
                 QStringList{QStringLiteral("Unable to create application directory: ") + folder +
                             QStringLiteral("\n\nPlease make sure the directory is accessible, and restart the "
                                            "program.")});
        QCOMPARE(EventTexts(), QStringList{QStringLiteral("ERROR: Unable to create application directory: ") + folder});
        QCOMPARE(m_autostart.Calls, 0);
        QVERIFY(m_priority.Requests.isEmpty());
    }

    // A work folder that cannot be created is reported; the program goes on.
    void workFoldersCannotBeCreated_data() {
        QTest::addColumn<bool>("temp");
        QTest::addColumn<QString>("failed");
        QTest::addRow("temporary") << true << "Unable to create temporary directory:";
        QTest::addRow("log") << false << "Unable to create log directory:";
    }
    void workFoldersCannotBeCreated() {
        QFETCH(bool, temp);
        QFETCH(QString, failed);
        const QString name = QStringLiteral("work-") + QString::fromLatin1(QTest::currentDataTag());
        const QString folder = PreparedFolder(name, QStringLiteral("jobslist.vll"), {QStringLiteral("Daily")});
        const QString blocked = m_root + u'/' + name + QStringLiteral("-file/sub");
        WriteFile(m_root + u'/' + name + QStringLiteral("-file"), "file");
        TOptions options;
        QVERIFY(LoadOptions(folder + QStringLiteral("/options.vlo"), options));
        (temp ? options.General.PathForTempFiles : options.Logging.PathForLogFiles) = blocked;
        QVERIFY(SaveOptions(folder + QStringLiteral("/options.vlo"), options));
        App().EventsLog.Clear();
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        const TStartupReport report = context.Start(Settings(folder));
        QVERIFY(!report.Fatal);
        QVERIFY(!App().IsQuitting.load());
        QCOMPARE(report.ErrorBoxes,
                 QStringList{failed + u' ' + blocked +
                             QStringLiteral("\n\nPlease make sure the directory is accessible, and restart the "
                                            "program.")});
        const QStringList events = EventTexts();
        QVERIFY(events.contains(QStringLiteral("ERROR: ") + failed + u' ' + blocked));
        QCOMPARE(events.last(), QStringLiteral("Backup jobs are loaded."));
        QCOMPARE(context.Jobs().Count(), 1);
    }

    void damagedOptionsFallBackToDefaults() {
        const QString folder = m_root + QStringLiteral("/damaged");
        QVERIFY(QDir().mkpath(folder));
        WriteFile(folder + QStringLiteral("/options.vlo"), QByteArray(3, '\x55'));
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder));
        QCOMPARE(EventTexts().first(), QStringLiteral("Error loading options. Code: 1"));
        QCOMPARE(App().Options.General.PathForTempFiles, m_root + QStringLiteral("/cache/VaultoraTmp"));
        QCOMPARE(m_autostart.Calls, 1);
    }

    void missingTranslationFile() {
        TStartupSettings settings = Settings(m_root + QStringLiteral("/untranslated"));
        settings.ProgramDataDirectory = m_root + QStringLiteral("/no-data");
        settings.DefaultSources->LanguageCode = QStringLiteral("de");
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(settings);
        QCOMPARE(App().Options.Language.iLanguage, 0);
        QVERIFY(EventTexts().contains(QStringLiteral("ERROR: Cannot find translation file:") + m_root +
                                      QStringLiteral("/no-data/transl.dt")));
    }

    // Lines written after the table is loaded are in the user's language.
    void germanStart() {
        TStartupSettings settings = Settings(m_root + QStringLiteral("/german"));
        settings.DefaultSources->LanguageCode = QStringLiteral("de");
        settings.DefaultSources->PathForTempFiles = m_root + QStringLiteral("/german-temp");
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(settings);
        QCOMPARE(App().Options.Language.iLanguage, 1);
        QVERIFY(EventTexts().contains(QStringLiteral("Temporäres Verzeichnis wurde erstellt: ") + m_root +
                                      QStringLiteral("/german-temp")));
    }

    // "/backup NAME": the jobs named exactly become waiting.
    void backupSwitchSetsNamedJobWaiting_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("waiting");
        QTest::addRow("exact name") << "Daily" << 1;
        QTest::addRow("other case") << "daily" << 0;
        QTest::addRow("no such job") << "Weekly" << 0;
    }
    void backupSwitchSetsNamedJobWaiting() {
        QFETCH(QString, name);
        QFETCH(int, waiting);
        const QString folder = PreparedFolder(QStringLiteral("switch"), QStringLiteral("jobslist.vll"),
                                              {QStringLiteral("Daily"), QStringLiteral("Photos")});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder, {QStringLiteral("/backup"), name}));
        QCOMPARE(context.SetCommandLineJobsWaiting(), waiting);
        QCOMPARE(context.Jobs().At(0)->JobStatus == jsWaiting, waiting == 1);
        QCOMPARE(context.Jobs().At(1)->JobStatus.Load(), jsNone);
    }

    void removeSwitchRemovesJobLocally() {
        const QString folder = PreparedFolder(QStringLiteral("remove"), QStringLiteral("jobslist.vll"),
                                              {QStringLiteral("Daily"), QStringLiteral("Photos")});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder, {QStringLiteral("-remove"), QStringLiteral("Daily")}));
        const QList<TJob*> named = context.JobsNamedOnCommandLine();
        QCOMPARE(named.size(), 1);
        App().EventsLog.Clear();
        QVERIFY(context.RemoveJobLocally(named.first()));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/Daily.vld")));
        QCOMPARE(context.Jobs().Count(), 1);
        QFile list(folder + QStringLiteral("/jobslist.vll"));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.readAll(), QByteArray("\xEF\xBB\xBFPhotos\r\n"));
        QCOMPARE(EventTexts(), QStringList{QStringLiteral("Job is removed.")});
    }

    // The Options dialog's OK: a refused autostart change keeps the old value and names the
    // folder; a new priority is applied; the record is saved.
    void applyEditedOptions() {
        const QString folder = PreparedFolder(QStringLiteral("apply"), QStringLiteral("jobslist.vll"), {});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder));
        const bool runAtLogon = App().Options.General.RunProgramAtLogon;
        TOptions edited = App().Options;
        edited.General.RunProgramAtLogon = !runAtLogon;
        edited.General.ProcessPriority = 2;
        edited.Logging.MaxNumberOfLinesInHistory = 42;
        edited.Language.LanguageOfInterface = QStringLiteral("xx"); // the dialog owns neither of these
        edited.LastFTPAccountID = 99;
        m_autostart.NextResult = TAutostart::TResult::CannotOpen;
        m_priority.Requests.clear();
        const QString error = context.ApplyEditedOptions(edited);
        QCOMPARE(error, QStringLiteral("Unable to change the autorun option. Make sure you have the rights to "
                                       "create/remove the files in the following folder:\n\n/fake/autostart"));
        QCOMPARE(App().Options.General.RunProgramAtLogon, runAtLogon);
        QCOMPARE(m_priority.Requests, QList<int32_t>{2});
        TOptions saved;
        QVERIFY(LoadOptions(folder + QStringLiteral("/options.vlo"), saved));
        QCOMPARE(saved.Logging.MaxNumberOfLinesInHistory, 42);
        QCOMPARE(saved.General.RunProgramAtLogon, runAtLogon);
        QCOMPARE(saved.Language.LanguageOfInterface, QStringLiteral("en"));
        QCOMPARE(saved.LastFTPAccountID, 0);

        m_autostart.NextResult = TAutostart::TResult::Done;
        edited = App().Options;
        edited.General.RunProgramAtLogon = !runAtLogon;
        m_priority.Requests.clear();
        QCOMPARE(context.ApplyEditedOptions(edited), QString());
        QCOMPARE(App().Options.General.RunProgramAtLogon, !runAtLogon);
        QCOMPARE(m_autostart.On, !runAtLogon);
        QVERIFY(m_priority.Requests.isEmpty()); // unchanged priority is not applied again
    }

    void languageMenuSaves() {
        const QString folder = PreparedFolder(QStringLiteral("language"), QStringLiteral("jobslist.vll"), {});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder));
        QVERIFY(context.SelectLanguage(2));
        QCOMPARE(TranslateText(QStringLiteral("Ready")), QStringLiteral("Prête"));
        TOptions saved;
        QVERIFY(LoadOptions(folder + QStringLiteral("/options.vlo"), saved));
        QCOMPARE(saved.Language.LanguageOfInterface, QStringLiteral("fr"));
        QVERIFY(!context.SelectLanguage(7));
    }

    void quitQuestion() {
        const QString folder =
            PreparedFolder(QStringLiteral("question"), QStringLiteral("jobslist.vll"), {QStringLiteral("Daily")});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder));
        QCOMPARE(context.QuitQuestionText(), QStringLiteral("Quit Vaultora?"));
        context.Jobs().At(0)->JobStatus = jsPaused;
        const QString running =
            QStringLiteral("Some jobs are currently running.\nDo you want to cancel them and quit?");
        QCOMPARE(context.QuitQuestionText(), running);
        App().EventsLog.Clear();
        context.ConfirmQuit();
        QVERIFY(App().IsQuitting.load());
        QCOMPARE(EventTexts(), QStringList{running});
        context.Jobs().At(0)->JobStatus = jsNone;
    }

    // Quitting cancels active jobs and waits until none is active, at most 5000 ms in 10 ms
    // steps. The clock is the test's: each sleep advances it, and a job may stop after some.
    void quitWaitsForCancelledJobs_data() {
        QTest::addColumn<int>("stopsAfterSleeps"); // -1: never stops
        QTest::addColumn<bool>("allStopped");
        QTest::addColumn<qint64>("waitedMs");
        QTest::addRow("stops during the first step") << 1 << true << qint64(10);
        QTest::addRow("stops after 30 ms") << 3 << true << qint64(30);
        QTest::addRow("never stops: abandoned at 5000 ms") << -1 << false << qint64(5000);
    }
    void quitWaitsForCancelledJobs() {
        QFETCH(int, stopsAfterSleeps);
        QFETCH(bool, allStopped);
        QFETCH(qint64, waitedMs);
        const QString folder =
            PreparedFolder(QStringLiteral("quit"), QStringLiteral("jobslist.vll"),
                           {QStringLiteral("Running"), QStringLiteral("Waiting"), QStringLiteral("Idle")});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder));
        TJob* running = context.Jobs().At(0);
        TJob* waiting = context.Jobs().At(1);
        TJob* idle = context.Jobs().At(2);
        running->JobStatus = jsRunning;
        waiting->JobStatus = jsWaiting;
        qint64 now = 1000000;
        int sleeps = 0;
        auto workerStep = [&] {
            if (stopsAfterSleeps >= 0 && sleeps >= stopsAfterSleeps && running->JobStatus == jsCancelling)
                running->JobStatus = jsNone; // the worker's last step
        };
        TQuitWaiter waiter{[&] { return now; },
                           [&](int ms) {
                               QCOMPARE(ms, 10);
                               now += ms;
                               ++sleeps;
                               workerStep();
                           }};
        const qint64 start = now;
        QCOMPARE(context.CancelAllAndWait(waiter), allStopped);
        QCOMPARE(now - start, waitedMs);
        QCOMPARE(waiting->JobStatus.Load(), jsNone); // Cancel All reaches waiting jobs too
        QCOMPARE(idle->JobStatus.Load(), jsNone);
        if (!allStopped)
            QCOMPARE(running->JobStatus.Load(), jsCancelling);
        running->JobStatus = jsNone;
    }

    void quitWithoutActiveJobsDoesNotWait() {
        const QString folder =
            PreparedFolder(QStringLiteral("calm"), QStringLiteral("jobslist.vll"), {QStringLiteral("Waiting")});
        TApplicationContext context(&CreateJobOfKind, m_autostart, m_priority);
        context.Start(Settings(folder));
        context.Jobs().At(0)->JobStatus = jsWaiting;
        int sleeps = 0;
        TQuitWaiter waiter{[] { return qint64(0); }, [&](int) { ++sleeps; }};
        QVERIFY(context.CancelAllAndWait(waiter));
        QCOMPARE(sleeps, 0);
        QCOMPARE(context.Jobs().At(0)->JobStatus.Load(), jsWaiting);
    }
};

QTEST_GUILESS_MAIN(TestApplicationContext)
#include "tst_applicationcontext.moc"
