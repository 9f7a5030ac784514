// The restore of an application data job from the main window: the warning, the chooser read
// from the destination on its own thread, the applications ticked coming back (the data there
// before renamed away) while the others stay as they are; cancelling and an unreadable backup.

#include "UiTestSupport.h"

#include "ui/TJobActions.h"
#include "ui/TfrmMainVaultora.h"
#include "ui/TfrmRestoreList_AppsData.h"

#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/TJob_AppsData.h"

#include <QDirIterator>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestAppsRestore : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TScheduler> m_scheduler;
    std::unique_ptr<TfrmMainVaultora> m_window;
    QProcessEnvironment m_environment;
    TJob_AppsData* m_job = nullptr;

    QString Path(const QString& relative) const { return m_fixture->Path(relative); }
    QString Home(const QString& relative) const { return Path(u"home/"_s + relative); }

    // Names of the home's entries that were renamed out of the way, without their stamp.
    QStringList Renamed() const {
        QStringList found;
        QDirIterator it(Path(u"home"_s), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            if (it.fileName().contains(u" - RENAMED ON "_s))
                found << it.fileName().section(u" - RENAMED ON "_s, 0, 0);
        }
        found.sort();
        return found;
    }

    // The program with one application data job, backed up once, its window shown.
    void StartWithBackup() {
        UiTest::WriteFile(Home(u".config/editor/settings.conf"_s), "font=mono");
        UiTest::WriteFile(Home(u".local/share/game/save.dat"_s), "level 1");
        UiTest::WriteFile(Home(u".notes"_s), "remember");
        m_context = m_fixture->StartContext();
        auto job = std::make_unique<TJob_AppsData>(u"Apps"_s);
        job->Settings.AppNames = {u"Editor"_s, u"Game"_s, u"Notes"_s};
        job->DestinationSettings.LocalOrExternalDrive.Disk = u"/"_s;
        job->DestinationSettings.LocalOrExternalDrive.Subfolder = Path(u"dest"_s);
        job->Environment = &m_environment;
        job->SaveLocalJobFile(job->LocalJobFilePath());
        m_job = dynamic_cast<TJob_AppsData*>(m_context->Jobs().Append(std::move(job)));
        m_context->Jobs().SaveJobsList();
        m_job->Backup();
        m_job->WaitForWorker();
        QVERIFY2(m_job->LastJobResult.ErrorsCount == 0, qPrintable(m_job->LastJobResult.Log.join(u'\n')));
        m_scheduler = m_fixture->Scheduler(*m_context);
        m_window = std::make_unique<TfrmMainVaultora>(*m_context, *m_scheduler);
        m_window->AfterStart();
        m_window->show();
        // What the user changed since.
        UiTest::WriteFile(Home(u".config/editor/settings.conf"_s), "font=serif");
        UiTest::WriteFile(Home(u".local/share/game/save.dat"_s), "level 9");
        UiTest::WriteFile(Home(u".notes"_s), "forgot");
    }

    // Starts the restore through the warning (answered OK) and waits for the chooser's list.
    void ChooserAfterLoading(TfrmRestoreList_AppsData*& dialog) {
        TMessageBox::SetNextAnswer(QMessageBox::Ok);
        m_window->Actions().RestoreJob(m_job);
        dialog = m_window->findChild<TfrmRestoreList_AppsData*>();
        QVERIFY(dialog);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->IsLoading(), 30000);
    }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<UiTest::TFixture>();
        QDir().mkpath(Path(u"dest"_s));
        UiTest::WriteFile(Path(u"definitions/Test.adp"_s), "Editor\n%HOME%/.config/editor\n\n"
                                                           "Game\n%HOME%/.local/share/game\n\n"
                                                           "Notes\n%HOME%/.notes\n");
        QVERIFY(AppDefinitions::Load(Path(u"definitions"_s)));
        m_environment = QProcessEnvironment();
        m_environment.insert(u"HOME"_s, Path(u"home"_s));
    }

    void cleanup() {
        if (m_job)
            m_job->WaitForWorker();
        m_window.reset();
        m_scheduler.reset();
        m_job = nullptr;
        m_context.reset();
        m_fixture.reset();
    }

    // The ticked applications come back, what was there renamed away; the other stays changed.
    void chosenApplicationsComeBack() {
        StartWithBackup();
        TfrmRestoreList_AppsData* dialog = nullptr;
        ChooserAfterLoading(dialog);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(UiTest::ShownTexts().size(), 1); // the warning
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), u" Restore"_s);
        QCOMPARE(dialog->Prompt()->text(), u"Please choose the applications you want to restore:"_s);
        QStringList listed;
        for (int row = 0; row < dialog->List()->count(); ++row) {
            listed << dialog->List()->item(row)->text();
            QCOMPARE(dialog->List()->item(row)->checkState(), Qt::Unchecked);
        }
        QCOMPARE(listed, (QStringList{u"Editor"_s, u"Game"_s, u"Notes"_s}));
        QVERIFY(!dialog->OkButton()->isEnabled());
        dialog->List()->item(2)->setCheckState(Qt::Checked);
        dialog->List()->item(0)->setCheckState(Qt::Checked);
        QVERIFY(dialog->OkButton()->isEnabled());
        dialog->OkButton()->click();
        QVERIFY(!dialog->isVisible());
        m_job->WaitForWorker();
        QCOMPARE(m_job->JobStatus.Load(), jsNone);
        QCOMPARE(m_job->RemoteAppsSelectedForRestore, (QStringList{u"Editor"_s, u"Notes"_s}));
        QCOMPARE(int(m_job->LastJobResult.ErrorsCount), 0);
        QVERIFY(!m_job->LastJobResult.Cancelled);
        QCOMPARE(UiTest::ReadFile(Home(u".config/editor/settings.conf"_s)), QByteArray("font=mono"));
        QCOMPARE(UiTest::ReadFile(Home(u".notes"_s)), QByteArray("remember"));
        QCOMPARE(UiTest::ReadFile(Home(u".local/share/game/save.dat"_s)), QByteArray("level 9"));
        QCOMPARE(Renamed(), (QStringList{u".notes"_s, u"editor"_s}));
        QCOMPARE(UiTest::ShownTexts(), QStringList());
    }

    // Cancel on the chooser ends the restore as cancelled and changes nothing.
    void cancelChangesNothing() {
        StartWithBackup();
        TfrmRestoreList_AppsData* dialog = nullptr;
        ChooserAfterLoading(dialog);
        if (QTest::currentTestFailed())
            return;
        dialog->List()->item(0)->setCheckState(Qt::Checked);
        dialog->CancelButton()->click();
        QCOMPARE(m_job->JobStatus.Load(), jsNone);
        QVERIFY(m_job->LastJobResult.Cancelled);
        QCOMPARE(UiTest::ReadFile(Home(u".config/editor/settings.conf"_s)), QByteArray("font=serif"));
        QCOMPARE(Renamed(), QStringList());
    }

    // A backup that cannot be read is an error box; the job is idle again and nothing changed.
    void unreadableBackupIsAnError() {
        StartWithBackup();
        QVERIFY(QFile::remove(Path(u"dest/Apps.vlj"_s)));
        UiTest::ShownTexts();
        TMessageBox::SetNextAnswer(QMessageBox::Ok);
        m_window->Actions().RestoreJob(m_job);
        QStringList shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown += UiTest::ShownTexts(), shown.size() >= 2), 30000);
        QCOMPARE(shown.last(), u"Unable to copy the job file \"Apps.vlj\" from the backup directory."_s);
        QCOMPARE(m_job->JobStatus.Load(), jsNone);
        QCOMPARE(Renamed(), QStringList());
    }
};

QTEST_MAIN(TestAppsRestore)
#include "tst_appsrestore.moc"
