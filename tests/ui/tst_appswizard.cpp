// The application-data wizard's pages, offscreen, over a small set of definitions and a fake home.

#include "UiTestSupport.h"

#include "ui/TAppsSourcePage.h"
#include "ui/TDestinationPage.h"
#include "ui/TDriveCombo.h"
#include "ui/TSchedulePage.h"
#include "ui/TfrmWizard_AppsDataBackup.h"

#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/TAppPathResolver.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

class TestAppsWizard : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QList<TAppData> m_definitions;

    QString Home() const { return m_root.filePath(u"home"_s); }

    void BuildPage(TAppsSourcePage& page) const {
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, Home());
        page.Build(m_definitions, TAppPathResolver(environment));
    }

private Q_SLOTS:
    void initTestCase() {
        UiTest::SetHeadless();
        const QString folder = m_root.filePath(u"definitions"_s);
        UiTest::WriteFile(folder + u"/Browsers.adp"_s,
                          "Present Browser\n%HOME%/.present\n\nAbsent Browser\n%HOME%/.absent\n");
        // An existing single file does not make an application present.
        UiTest::WriteFile(folder + u"/Games.adp"_s, "Files Only\n%HOME%/game.cfg\n%HOME%/saves/*.sav\n");
        UiTest::WriteFile(Home() + u"/.present/prefs"_s, "x");
        UiTest::WriteFile(Home() + u"/game.cfg"_s, "x");
        UiTest::WriteFile(Home() + u"/saves/one.sav"_s, "x");
        QVERIFY(LoadDefinitionsFrom(folder, m_definitions));
        QCOMPARE(m_definitions.size(), 3);
    }

    void treeGreysApplicationsWithoutData() {
        TAppsSourcePage page;
        BuildPage(page);
        QCOMPARE(page.TotalLabel()->text(), u"Total number of applications in the database: 3"_s);
        QTreeWidget* tree = page.TreeView1();
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0)->text(0), u"Browsers"_s);
        QVERIFY(!tree->topLevelItem(0)->isDisabled());
        QCOMPARE(tree->topLevelItem(1)->text(0), u"Games (No items found)"_s);
        QVERIFY(tree->topLevelItem(1)->isDisabled());
        QVERIFY(!page.AppItem(u"Present Browser"_s)->isDisabled());
        QVERIFY(page.AppItem(u"Absent Browser"_s)->isDisabled());
        QVERIFY(page.AppItem(u"Files Only"_s)->isDisabled());
    }

    void categoryTicksOnlyApplicationsWithData() {
        TAppsSourcePage page;
        BuildPage(page);
        QTreeWidgetItem* browsers = page.CategoryItem(u"Browsers"_s);
        browsers->setCheckState(0, Qt::Checked);
        QCOMPARE(page.AppItem(u"Present Browser"_s)->checkState(0), Qt::Checked);
        QCOMPARE(page.AppItem(u"Absent Browser"_s)->checkState(0), Qt::Unchecked);
        QCOMPARE(browsers->checkState(0), Qt::Checked);
        // A fully ticked category is listed too; the runs skip a name without a definition.
        QCOMPARE(page.AppNames(), QStringList({u"Browsers"_s, u"Present Browser"_s}));
        page.AppItem(u"Present Browser"_s)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(browsers->checkState(0), Qt::Unchecked);
        QVERIFY(page.AppNames().isEmpty());
    }

    // A job edited on a computer where some of its applications left no data, or whose
    // definitions were dropped, keeps them: saving the wizard must not shrink the backup.
    void editingKeepsApplicationsWithoutData() {
        TAppsSourcePage page;
        BuildPage(page);
        page.SetAppNames({u"Absent Browser"_s, u"Gone App"_s, u"Files Only"_s});
        QCOMPARE(page.AppItem(u"Absent Browser"_s)->checkState(0), Qt::Checked);
        QVERIFY(!page.AppItem(u"Absent Browser"_s)->isDisabled()); // can be unticked
        QCOMPARE(page.CategoryItem(u"Browsers"_s)->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(page.AppNames(), QStringList({u"Absent Browser"_s, u"Games"_s, u"Files Only"_s, u"Gone App"_s}));
        page.AppItem(u"Absent Browser"_s)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(page.AppNames(), QStringList({u"Games"_s, u"Files Only"_s, u"Gone App"_s}));
    }

    void nothingTickedIsRefused() {
        TAppsSourcePage page;
        BuildPage(page);
        QVERIFY(!page.Validate());
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Please add one or more sources to the list"_s});
        page.AppItem(u"Present Browser"_s)->setCheckState(0, Qt::Checked);
        QVERIFY(page.Validate());
        QVERIFY(UiTest::ShownTexts().isEmpty());
    }

    // The three pages make the job: a refusal on each page that checks, then the fields saved; the
    // same job shown again saves the same fields.
    void wizardMakesTheJob() {
        qputenv("HOME", QFile::encodeName(Home()));
        QVERIFY(AppDefinitions::Load(m_root.filePath(u"definitions"_s)));
        TfrmWizard_AppsDataBackup form;
        form.ClearControls();
        QCOMPARE(form.PageIndex(), int(TfrmWizard_AppsDataBackup::wpApplications));
        QVERIFY(!form.BackButton()->isEnabled());
        form.Next();
        QCOMPARE(form.PageIndex(), int(TfrmWizard_AppsDataBackup::wpApplications));
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Please add one or more sources to the list"_s});
        form.ApplicationsPage()->AppItem(u"Present Browser"_s)->setCheckState(0, Qt::Checked);
        form.Next();
        QCOMPARE(form.PageIndex(), int(TfrmWizard_AppsDataBackup::wpDestination));

        TDestinationPage& destination = *form.DestinationPage();
        destination.DestinationButton(dtLocalOrExternalDrive)->click();
        destination.DriveCombo()->SelectDisk(QString());
        form.Next();
        QCOMPARE(form.PageIndex(), int(TfrmWizard_AppsDataBackup::wpDestination));
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Please choose a disk"_s});
        const QString folder = m_root.filePath(u"dest"_s);
        QDir().mkpath(folder);
        const QString disk = destination.DriveCombo()->DiskOf(folder);
        destination.DriveCombo()->SelectDisk(disk);
        const QString subfolder = disk == u"/"_s ? folder : folder.mid(disk.size());
        destination.LocalSubfolderEdit()->setText(subfolder);
        form.Next();
        QCOMPARE(form.PageIndex(), int(TfrmWizard_AppsDataBackup::wpSchedule));
        QVERIFY(form.SaveButton()->isEnabled());

        form.SchedulePage()->DaysOfWeekBox()->click();
        form.Save(false);
        QCOMPARE(form.Tag(), int(TfrmWizard_AppsDataBackup::wtClosed));
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Please specify at least one day."_s});
        form.SchedulePage()->DaysOfWeekBox()->click();
        form.Save(true);
        QCOMPARE(form.Tag(), int(TfrmWizard_AppsDataBackup::wtSaveAndRun));

        TJob_AppsData job(u"Settings"_s);
        job.NewSubfolderIsCreatedForEachBackup = true;
        form.ControlsToJob(job);
        QCOMPARE(job.Settings.AppNames, QStringList({u"Browsers"_s, u"Present Browser"_s}));
        QCOMPARE(job.DestinationSettings.DestinationType, dtLocalOrExternalDrive);
        QCOMPARE(job.DestinationSettings.LocalOrExternalDrive.Disk, disk);
        QCOMPARE(job.DestinationSettings.LocalOrExternalDrive.Subfolder, subfolder);
        QVERIFY(!job.NewSubfolderIsCreatedForEachBackup);
        QCOMPARE(job.SchedulingSettings.SchedulingType, stDisabled);

        TfrmWizard_AppsDataBackup again;
        again.JobToControls(job);
        TJob_AppsData copy(u"Copy"_s);
        again.ControlsToJob(copy);
        QCOMPARE(copy.Settings.AppNames, job.Settings.AppNames);
        QCOMPARE(copy.DestinationSettings.LocalOrExternalDrive, job.DestinationSettings.LocalOrExternalDrive);
    }
};

QTEST_MAIN(TestAppsWizard)
#include "tst_appswizard.moc"
