// The files-and-folders wizard: every page's refusals, a job made through the five pages against
// the one "vaultora-cli new" makes, editing that keeps what the pages do not show, Duplicate and
// "Save && Run" from the main window, and the pages' screenshots.

#include "UiTestSupport.h"

#include "../app/CliTestSupport.h"

#include "ui/TDestinationPage.h"
#include "ui/TDriveCombo.h"
#include "ui/TFrmFTPSettings.h"
#include "ui/TJobActions.h"
#include "ui/TSchedulePage.h"
#include "ui/TSourceTree.h"
#include "ui/TfrmAddTime.h"
#include "ui/TfrmCloudClient.h"
#include "ui/TfrmListViewer.h"
#include "ui/TfrmMainVaultora.h"
#include "ui/TfrmPassword.h"
#include "ui/TfrmSourceType.h"
#include "ui/TfrmWizard_FilesBackup.h"

#include "core/model/TJobList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStorageInfo>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeView>

using namespace Qt::Literals::StringLiterals;

namespace {

// What a user makes the wizard do on each page, for one job.
struct TChoices {
    QStringList Sources; // folders end with "/"
    int Filter = ftNoFilters;
    QString Extensions;
    std::function<void(TDestinationPage&)> Destination;
    TBackupType Type = btIncremental;
    bool ByPercent = false;
    int Every = 5, Percent = 50, Keep = 10;
    bool PruneFirst = false;
    bool Zip = false, PerFile = false;
    int Level = clFastest;
    QString NoCompression; // empty: the default stays
    int Method = -1;       // -1: no password
    QString ZipPassword;
    int ScheduleKind = stDisabled;
    QList<int> Days;
    QStringList Times;
    bool CatchUp = true, Shutdown = false;
};

TFTPAccount Account(int32_t id, const QString& name, const QString& host) {
    TFTPAccount account;
    account.ID = id;
    account.AccName = name;
    account.Host = host;
    return account;
}

void Tick(QListWidget* list, int row) {
    list->item(row)->setCheckState(Qt::Checked);
}

// Answers the password dialog with text.
std::function<int(QDialog&)> PasswordAnswer(const QString& text) {
    return [text](QDialog& dialog) {
        auto* password = qobject_cast<TfrmPassword*>(&dialog);
        if (!password)
            return int(QDialog::Rejected);
        password->PasswordEdit()->setText(text);
        password->ConfirmationEdit()->setText(text);
        password->accept();
        return password->result();
    };
}

// Works the five pages as a user would and saves; false when a page refused.
bool WorkPages(TfrmWizard_FilesBackup& form, const TChoices& c, bool andRun = false) {
    for (const QString& source : c.Sources)
        form.SourceTree()->SetChecked(source.endsWith(u'/') ? source.chopped(1) : source, true);
    form.FilterCombo()->setCurrentIndex(c.Filter);
    if (c.Filter != ftNoFilters)
        form.FilterEdit()->setText(c.Extensions);
    form.Next();
    if (form.PageIndex() != TfrmWizard_FilesBackup::wpDestination)
        return false;
    if (c.Destination)
        c.Destination(*form.DestinationPage());
    form.Next();
    if (form.PageIndex() != TfrmWizard_FilesBackup::wpBackupType)
        return false;
    form.TypeButton(c.Type)->click();
    (c.ByPercent ? form.PercentRadio() : form.EveryCopiesRadio())->setChecked(true);
    form.EveryCopiesSpin()->setValue(c.Every);
    form.PercentSpin()->setValue(c.Percent);
    form.KeepSpin()->setValue(c.Keep);
    form.RemoveBeforeBox()->setChecked(c.PruneFirst);
    form.Next();
    if (c.Zip)
        form.ZipBox()->click();
    form.IndividualZipBox()->setChecked(c.PerFile);
    form.LevelCombo()->setCurrentIndex(c.Level);
    if (!c.NoCompression.isEmpty())
        form.NoCompressionEdit()->setText(c.NoCompression);
    if (c.Method >= 0) {
        form.ZipPasswordBox()->setChecked(true);
        form.MethodCombo()->setCurrentIndex(c.Method);
        form.SetDialogRunner(PasswordAnswer(c.ZipPassword));
        form.SetZipPasswordButton()->click();
    }
    form.Next();
    if (form.PageIndex() != TfrmWizard_FilesBackup::wpSchedule)
        return false;
    TSchedulePage& schedule = *form.SchedulePage();
    if (c.ScheduleKind != stDisabled) {
        QCheckBox* box = c.ScheduleKind == stDaysOfWeek ? schedule.DaysOfWeekBox() : schedule.DaysOfMonthBox();
        box->click();
        for (int day : c.Days)
            Tick(c.ScheduleKind == stDaysOfWeek ? schedule.DaysOfWeekList() : schedule.DaysOfMonthList(), day - 1);
        for (const QString& time : c.Times) {
            schedule.DialogRunner = [time](QDialog& dialog) {
                static_cast<TfrmAddTime&>(dialog).SetTime(QTime::fromString(time, u"HH:mm:ss"_s));
                return int(QDialog::Accepted);
            };
            schedule.AddButton()->click();
        }
        schedule.CatchUpBox()->setChecked(c.CatchUp);
        schedule.ShutdownBox()->setChecked(c.Shutdown);
    }
    if (andRun)
        form.SaveAndRunAction()->trigger();
    else
        form.SaveButton()->click();
    return form.Tag() != TfrmWizard_FilesBackup::wtClosed;
}

// A local folder as the destination page takes it.
std::function<void(TDestinationPage&)> LocalFolder(const QString& folder) {
    return [folder](TDestinationPage& page) {
        page.DestinationButton(dtLocalOrExternalDrive)->click();
        const QString disk = page.DriveCombo()->DiskOf(folder);
        page.DriveCombo()->SelectDisk(disk);
        QString subfolder = folder.mid(disk == u"/"_s ? 0 : disk.size());
        page.LocalSubfolderEdit()->setText(subfolder.startsWith(u'/') ? subfolder : u'/' + subfolder);
    };
}

TSchedulingSettings WithoutTime(TSchedulingSettings settings) {
    settings.LastModificationDateTime = 0;
    return settings;
}

} // namespace

class TestWizard : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TScheduler> m_scheduler;
    std::unique_ptr<TfrmMainVaultora> m_window;
    std::unique_ptr<TfrmWizard_FilesBackup> m_form;

    QString Folder(const QString& relative) {
        const QString path = m_fixture->Path(relative);
        QDir().mkpath(path);
        return path;
    }

    TfrmWizard_FilesBackup& Form() {
        m_form = std::make_unique<TfrmWizard_FilesBackup>();
        m_form->ClearControls();
        return *m_form;
    }

    // The program started with these jobs, its window shown, the real files wizard registered.
    TfrmMainVaultora& Window(std::vector<std::unique_ptr<TJob>> jobs, TFilesBackupWizard& wizard) {
        for (auto& job : jobs) {
            job->SaveLocalJobFile(job->LocalJobFilePath());
            m_context->Jobs().Append(std::move(job));
        }
        m_context->Jobs().SaveJobsList();
        m_scheduler = m_fixture->Scheduler(*m_context);
        m_window = std::make_unique<TfrmMainVaultora>(*m_context, *m_scheduler);
        m_window->AfterStart();
        m_window->SetWizard(TJobKind::FilesAndFolders, &wizard);
        m_window->DialogRunner = [](QDialog& dialog) {
            return qobject_cast<TfrmSourceType*>(&dialog) ? 1 : int(QDialog::Rejected);
        };
        return *m_window;
    }

    TJob_FilesAndFolders* Job(const QString& name) {
        for (int i = 0; i < m_context->Jobs().Count(); ++i)
            if (m_context->Jobs().At(i)->stJobName == name)
                return dynamic_cast<TJob_FilesAndFolders*>(m_context->Jobs().At(i));
        return nullptr;
    }

    static std::unique_ptr<TJob_FilesAndFolders> Saved(const QString& folder, const QString& name) {
        auto job = std::make_unique<TJob_FilesAndFolders>(name);
        if (!job->LoadLocalJobFile(folder + u'/' + name + u".vld"_s))
            qFatal("no job file for %s", qPrintable(name));
        return job;
    }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<UiTest::TFixture>();
        m_context = m_fixture->StartContext();
        UiTest::ShownTexts();
    }

    void cleanup() {
        m_form.reset();
        m_window.reset();
        m_scheduler.reset();
        m_context.reset();
        m_fixture.reset();
    }

    // Each page refuses what cannot be saved, says why and stays; a warning that lets the user go
    // on moves to the next page.
    void refusals() {
        const QString a = Folder(u"a/Docs"_s), b = Folder(u"b/Docs"_s), dest = Folder(u"dest"_s);
        UiTest::WriteFile(m_fixture->Path(u"c/Docs"_s), "file");
        App().Options.FTPAccounts = {Account(3, u"Backups"_s, u"127.0.0.1"_s)};
        struct TCase {
            const char* Name;
            int Page;
            std::function<void(TfrmWizard_FilesBackup&)> Set;
            QString Message; // empty: no message
            int PageAfter;
        };
        const QString forbidden =
            u"Characters * . , \\ / are not allowed.\r\n\r\nPlease specify extensions separated by "
            u";\r\nExample: txt;doc;exe"_s;
        const auto destination = [](std::function<void(TDestinationPage&)> set) {
            return [set](TfrmWizard_FilesBackup& form) { set(*form.DestinationPage()); };
        };
        const std::vector<TCase> cases{
            {"no source", 0, [](TfrmWizard_FilesBackup& form) { form.SourceTree()->Clear(); },
             u"Please add one or more sources to the list"_s, 0},
            {"filter with a dot", 0,
             [](TfrmWizard_FilesBackup& form) {
                 form.FilterCombo()->setCurrentIndex(ftIncludeOnly);
                 form.FilterEdit()->setText(u"*.txt"_s);
             },
             forbidden, 0},
            {"empty filter", 0,
             [](TfrmWizard_FilesBackup& form) {
                 form.FilterCombo()->setCurrentIndex(ftExclude);
                 form.FilterEdit()->setText(u" ; "_s);
             },
             u"Please specify extensions separated by ;\r\nExample: txt;doc;exe"_s, 0},
            {"two folders named Docs", 0, [b](TfrmWizard_FilesBackup& form) { form.SourceTree()->SetChecked(b, true); },
             u"Among the items there are files or folders having the same name, therefore they could be overwritten "
             u"by each other and you could have incorrect backups.\r\n\r\nExample:\r\n"_s +
                 b + u"\r\n"_s + a,
             0},
            {"a folder and a file named Docs", 0,
             [this](TfrmWizard_FilesBackup& form) {
                 form.SourceTree()->SetChecked(m_fixture->Path(u"c/Docs"_s), true);
             },
             QString(), 1},
            {"no disk", 1, destination([](TDestinationPage& page) { page.DriveCombo()->SelectDisk(QString()); }),
             u"Please choose a disk"_s, 1},
            {"missing folder on the disk", 1, destination(LocalFolder(dest + u"/not-there"_s)),
             u"The directory does not exist:\r\n"_s + dest + u"/not-there"_s, 2},
            {"share path of one letter", 1, destination([](TDestinationPage& page) {
                 page.DestinationButton(dtNetwork)->click();
                 page.UncEdit()->setText(u"x"_s);
             }),
             u"Please choose correct UNC-path"_s, 1},
            {"share path without a share", 1, destination([](TDestinationPage& page) {
                 page.DestinationButton(dtNetwork)->click();
                 page.UncEdit()->setText(u"//server"_s);
             }),
             u"Please choose correct UNC-path"_s, 1},
            {"share path", 1, destination([](TDestinationPage& page) {
                 page.DestinationButton(dtNetwork)->click();
                 page.UncEdit()->setText(u"//server/share/backups"_s);
             }),
             QString(), 2},
            {"no FTP account", 1, destination([](TDestinationPage& page) {
                 page.DestinationButton(dtFTP)->click();
                 page.FtpAccountCombo()->setCurrentIndex(-1);
             }),
             u"Please add FTP account"_s, 1},
            {"FTP path with a backslash", 1, destination([](TDestinationPage& page) {
                 page.DestinationButton(dtFTP)->click();
                 page.FtpSubfolderEdit()->setText(u"/a\\b"_s);
             }),
             u"The path cannot contain the \\ character."_s, 1},
            {"cloud path with a backslash", 1, destination([](TDestinationPage& page) {
                 page.DestinationButton(dtCloud)->click();
                 page.CloudSubfolderEdit()->setText(u"\\Backups"_s);
             }),
             u"The path cannot contain the \\ character."_s, 1},
            {"no cloud service", 1, destination([](TDestinationPage& page) {
                 page.DestinationButton(dtCloud)->click();
                 page.ServiceCombo()->setCurrentIndex(-1);
             }),
             u"Please choose a cloud service"_s, 1},
            {"cloud access refused", 1, destination([](TDestinationPage& page) {
                 page.DestinationButton(dtCloud)->click();
                 page.CloudAccessCheck = [](QWidget*, TCloudService) { return false; };
             }),
             QString(), 1},
            {"ZIP password missing", 3,
             [](TfrmWizard_FilesBackup& form) {
                 form.ZipBox()->click();
                 form.ZipPasswordBox()->setChecked(true);
             },
             u"Password is not set"_s, 3},
            {"no-compression list with a comma", 3,
             [](TfrmWizard_FilesBackup& form) {
                 form.ZipBox()->click();
                 form.NoCompressionEdit()->setText(u"zip,rar"_s);
             },
             forbidden, 3},
            {"schedule without a time", 4,
             [](TfrmWizard_FilesBackup& form) {
                 form.SchedulePage()->DaysOfWeekBox()->click();
                 Tick(form.SchedulePage()->DaysOfWeekList(), 0);
             },
             u"Please add at least one record to the timetable."_s, 4},
            {"schedule without a day", 4,
             [](TfrmWizard_FilesBackup& form) {
                 form.SchedulePage()->DaysOfMonthBox()->click();
                 form.SchedulePage()->AddTimeEntry(u"08:00:00"_s);
             },
             u"Please specify at least one day."_s, 4},
        };
        for (const TCase& c : cases) {
            TfrmWizard_FilesBackup& form = Form();
            QStringList viewed;
            form.SetDialogRunner([&viewed](QDialog& dialog) {
                if (auto* viewer = qobject_cast<TfrmListViewer*>(&dialog))
                    viewed.append(viewer->Text());
                return int(QDialog::Accepted);
            });
            form.SourceTree()->SetChecked(a, true);
            LocalFolder(dest)(*form.DestinationPage());
            while (form.PageIndex() < c.Page)
                form.Next();
            QVERIFY2(form.PageIndex() == c.Page, c.Name);
            UiTest::ShownTexts();
            c.Set(form);
            if (c.Page == 4)
                form.SaveButton()->click();
            else
                form.Next();
            const QStringList shown = UiTest::ShownTexts();
            QVERIFY2(shown == (c.Message.isEmpty() ? QStringList() : QStringList{c.Message}),
                     qPrintable(QString::fromLatin1(c.Name) + u": "_s + shown.join(u" | "_s)));
            QVERIFY2(form.PageIndex() == c.PageAfter, c.Name);
            QVERIFY2(form.Tag() == TfrmWizard_FilesBackup::wtClosed, c.Name);
            if (QByteArray(c.Name) == "two folders named Docs")
                QCOMPARE(viewed, QStringList{a + u'\n' + b});
        }
    }

    // The extension list is cleaned up on Next; "/" as a source warns that the system is not
    // restorable from a files backup and goes on.
    void sourcesPageCleansAndWarns() {
        TfrmWizard_FilesBackup& form = Form();
        form.SourceTree()->SetChecked(Folder(u"src"_s), true);
        form.FilterCombo()->setCurrentIndex(ftIncludeOnly);
        form.FilterEdit()->setText(u"TXT; doc ;"_s);
        form.Next();
        QCOMPARE(form.FilterEdit()->text(), u"txt;doc"_s);
        QCOMPARE(form.PageIndex(), 1);
        form.Back();
        form.SourceTree()->SetChecked(u"/"_s, true);
        QCOMPARE(form.SourceTree()->Entries(), QStringList{u"/*"_s}); // it covers the folder ticked before
        UiTest::ShownTexts();
        form.Next();
        const QStringList shown = UiTest::ShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().startsWith(u"You have selected the whole disk / for backup.\r\n\r\nPlease note"_s));
        QVERIFY(shown.first().endsWith(u"Then create a new backup job of type \"Drive Image Backup\"."_s));
        QCOMPARE(form.PageIndex(), 1);
        QVERIFY(form.ViewAsListLink()->text().endsWith(u"(1)"_s));
    }

    // Ticks in the tree: parents show a partial tick, unticking below a ticked folder keeps its
    // siblings, and the list keeps the order of the ticks.
    void sourceTreeTicks() {
        const QString root = Folder(u"tree"_s);
        Folder(u"tree/one/deep"_s);
        Folder(u"tree/two"_s);
        UiTest::WriteFile(root + u"/.hidden"_s, "h");
        UiTest::WriteFile(root + u"/one/file.txt"_s, "f");
        TSourceTree tree;
        TCheckableFileModel& model = *tree.Model();
        tree.SetChecked(root + u"/one/file.txt"_s, true);
        tree.SetChecked(root + u"/two"_s, true);
        QCOMPARE(model.CheckState(root), Qt::PartiallyChecked);
        QCOMPARE(model.CheckState(root + u"/one/deep"_s), Qt::Unchecked);
        QCOMPARE(tree.Entries(), (QStringList{root + u"/one/file.txt"_s, root + u"/two/*"_s}));
        tree.SetChecked(root, true);
        QCOMPARE(tree.Entries(), QStringList{root + u"/*"_s});
        QCOMPARE(model.CheckState(root + u"/one/deep"_s), Qt::Checked);
        tree.SetChecked(root + u"/one/deep"_s, false);
        QCOMPARE(tree.Entries(), (QStringList{root + u"/one/file.txt"_s, root + u"/.hidden"_s, root + u"/two/*"_s}));
        QCOMPARE(model.CheckState(root + u"/one"_s), Qt::PartiallyChecked);
        // The places: home first, "/" last, every mounted volume between.
        const QStringList places = TSourceTree::PlacePaths();
        QCOMPARE(places.first(), QDir::homePath());
        QCOMPARE(places.last(), u"/"_s);
        for (const TVolume& volume : MountedVolumes()) {
            QVERIFY(!IsPseudoFileSystem(volume.FileSystem) || volume.RootPath == u"/"_s);
            QVERIFY(places.contains(volume.RootPath));
        }
    }

    // Times go in order and only once; Mirror and compression exclude each other.
    void timetableAndMirror() {
        TfrmWizard_FilesBackup& form = Form();
        TSchedulePage& schedule = *form.SchedulePage();
        schedule.DaysOfWeekBox()->click();
        QVERIFY(schedule.TimeTableList()->isEnabled());
        schedule.DaysOfMonthBox()->click();
        QVERIFY(!schedule.DaysOfWeekBox()->isChecked());
        QVERIFY(!schedule.DaysOfWeekList()->isEnabled());
        QVERIFY(schedule.AddTimeEntry(u"18:00:00"_s));
        QVERIFY(schedule.AddTimeEntry(u"08:00:00"_s));
        QVERIFY(schedule.AddTimeEntry(u"12:00:00"_s));
        QVERIFY(!schedule.AddTimeEntry(u"08:00:00"_s));
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Record already exists"_s});
        QCOMPARE(schedule.TimeTable(), (QStringList{u"08:00:00"_s, u"12:00:00"_s, u"18:00:00"_s}));

        // Mirror, then ZIP: "Yes" makes it Full with one copy kept and ZIP on; "No" turns ZIP off.
        for (const bool yes : {true, false}) {
            TfrmWizard_FilesBackup& wizard = Form();
            wizard.TypeButton(btSynchronization)->click();
            TMessageBox::SetNextAnswer(yes ? QMessageBox::Yes : QMessageBox::No);
            wizard.ZipBox()->click();
            QCOMPARE(wizard.ZipBox()->isChecked(), yes);
            QCOMPARE(wizard.BackupType(), yes ? btFull : btSynchronization);
            QCOMPARE(wizard.KeepSpin()->value(), yes ? 1 : 10);
            QCOMPARE(wizard.PageIndex(), yes ? int(TfrmWizard_FilesBackup::wpBackupType) : 0);
        }
        // ZIP chosen first, then Mirror: Next on the type page turns ZIP off.
        TfrmWizard_FilesBackup& wizard = Form();
        wizard.ZipBox()->click();
        wizard.SourceTree()->SetChecked(Folder(u"src"_s), true);
        LocalFolder(Folder(u"dest"_s))(*wizard.DestinationPage());
        wizard.Next();
        wizard.Next();
        wizard.TypeButton(btSynchronization)->click();
        QVERIFY(!wizard.KeepSpin()->isEnabled());
        wizard.Next();
        QVERIFY(!wizard.ZipBox()->isChecked());
        QVERIFY(!wizard.LevelCombo()->isEnabled());
    }

    // The FTP page edits the program's accounts: a new one gets the next ID and is selected, a
    // removed one gives way to its neighbour, and without accounts the page's controls are off.
    void ftpAccountButtons() {
        App().Options.FTPAccounts = {Account(4, u"Old"_s, u"old.example"_s)};
        App().Options.LastFTPAccountID = 4;
        TDestinationPage& page = *Form().DestinationPage();
        page.DestinationButton(dtFTP)->click();
        page.FtpSubfolderEdit()->setText(u"/old/folder"_s);
        page.DialogRunner = [](QDialog& dialog) {
            auto* settings = qobject_cast<TFrmFTPSettings*>(&dialog);
            if (!settings)
                return int(QDialog::Rejected);
            settings->NameEdit()->setText(u"New"_s);
            settings->HostEdit()->setText(u"127.0.0.1"_s);
            settings->accept();
            return settings->result();
        };
        page.AddFtpAccount();
        QCOMPARE(App().Options.FTPAccounts.size(), 2);
        QCOMPARE(App().Options.FTPAccounts.last().ID, 5);
        QCOMPARE(page.FtpAccountCombo()->currentText(), u"New"_s);
        QCOMPARE(page.FtpSubfolderEdit()->text(), u"/"_s);
        TDestinationSettings stored;
        page.Store(stored);
        QCOMPARE(stored.FTP.AccountID, 5);
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        page.RemoveFtpAccount();
        QCOMPARE(page.FtpAccountCombo()->currentText(), u"Old"_s);
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        page.RemoveFtpAccount();
        QVERIFY(App().Options.FTPAccounts.isEmpty());
        QVERIFY(!page.FtpAccountCombo()->isEnabled());
        QVERIFY(!page.FtpSubfolderEdit()->isEnabled());
        page.Store(stored);
        QCOMPARE(stored.FTP, (TFTPDestination{-1, u"/"_s}));
    }

    // The destination's "Choose..." buttons and "Reset Access".
    void destinationChoosers() {
        const QString dest = Folder(u"dest/sub"_s);
        TDestinationPage& page = *Form().DestinationPage();
        TFileDialog::SetNextFileName(dest);
        page.ChooseLocalFolder();
        QCOMPARE(TFileDialog::TakeCaptions(), QStringList{u"Choose a subfolder"_s});
        const QString disk = page.DriveCombo()->Disk();
        QCOMPARE(disk, QStorageInfo(dest).rootPath());
        QCOMPARE(QDir(disk).filePath(page.LocalSubfolderEdit()->text().mid(1)), dest);
        // A folder that is not there is not taken.
        TFileDialog::SetNextFileName(dest + u"/gone"_s);
        page.ChooseLocalFolder();
        QCOMPARE(QDir(disk).filePath(page.LocalSubfolderEdit()->text().mid(1)), dest);
        // A share the desktop has mounted becomes its share path.
        TFileDialog::SetNextFileName(u"/run/user/1000/gvfs/smb-share:server=nas,share=backups/jobs"_s);
        page.ChooseNetworkFolder();
        QCOMPARE(page.UncEdit()->text(), u"//nas/backups/jobs"_s);
        page.DestinationButton(dtCloud)->click();
        QString chooserTitle;
        TfrmCloudClient::SetChooserRunnerForTesting([&chooserTitle](TfrmCloudClient& chooser) {
            chooserTitle = chooser.windowTitle();
            chooser.PathEdit()->setText(u"/Backups/Work"_s); // as "Select" leaves it
            return int(QDialog::Accepted);
        });
        page.ChooseCloudFolder();
        TfrmCloudClient::SetChooserRunnerForTesting({});
        QCOMPARE(chooserTitle, u"Cloud Client - DropBox"_s);
        QCOMPARE(page.CloudSubfolderEdit()->text(), u"/Backups/Work"_s);
        QVERIFY(SaveRefreshToken(TCloudService::GoogleDrive, u"token"_s));
        page.ServiceCombo()->setCurrentIndex(1);
        UiTest::ShownTexts();
        page.ResetCloudAccessClicked();
        QVERIFY(!QFile::exists(TokenFilePath(TCloudService::GoogleDrive)));
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Tokens cleared. Access has been reset."_s});
    }

    // A job whose FTP account was removed does not pass to another account unnoticed: the page
    // asks for an account.
    void jobOfRemovedFtpAccount() {
        App().Options.FTPAccounts = {Account(1, u"Other"_s, u"other.example"_s)};
        auto job = UiTest::FilesJob(u"Remote"_s, Folder(u"src"_s));
        job->DestinationSettings.DestinationType = dtFTP;
        job->DestinationSettings.FTP = {9, u"/x"_s};
        TfrmWizard_FilesBackup& form = Form();
        form.JobToControls(*job);
        form.Next();
        UiTest::ShownTexts();
        form.Next();
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Please add FTP account"_s});
        QCOMPARE(form.PageIndex(), 1);
        // A job that never used FTP or a cloud offers the last account and the first service.
        job->DestinationSettings.DestinationType = dtLocalOrExternalDrive;
        job->DestinationSettings.FTP = {};
        form.JobToControls(*job);
        QCOMPARE(form.DestinationPage()->FtpAccountCombo()->currentText(), u"Other"_s);
        QCOMPARE(form.DestinationPage()->ServiceCombo()->currentText(), u"DropBox"_s);
    }

    // A job made through the five pages holds what "vaultora-cli new" stores for the same choices.
    void newJobAsCommandLine_data() {
        QTest::addColumn<int>("row");
        QTest::newRow("incremental to a folder, weekly, include filter") << 0;
        QTest::newRow("mirror to a share, no schedule") << 1;
        QTest::newRow("full with an encrypted ZIP, monthly") << 2;
    }

    void newJobAsCommandLine() {
        QFETCH(int, row);
        const QString src = Folder(u"src/Photos"_s), docs = Folder(u"src/Docs"_s), dest = Folder(u"dest"_s);
        UiTest::WriteFile(m_fixture->Path(u"src/notes.txt"_s), "n");
        UiTest::WriteFile(m_fixture->Path(u"zip-password"_s), "s3cret\n");
        TChoices c;
        QStringList args{u"new"_s, u"Job"_s};
        if (row == 0) {
            c.Sources = {src + u'/', m_fixture->Path(u"src/notes.txt"_s)};
            c.Filter = ftIncludeOnly;
            c.Extensions = u"TXT; doc ;"_s;
            c.Destination = LocalFolder(dest);
            c.Every = 7;
            c.Keep = 3;
            c.PruneFirst = true;
            c.ScheduleKind = stDaysOfWeek;
            c.Days = {1, 5};
            c.Times = {u"18:00:00"_s, u"08:00:00"_s};
            args << u"--source"_s << src << u"--source"_s << m_fixture->Path(u"src/notes.txt"_s) << u"--to"_s << dest
                 << u"--include"_s << u"TXT; doc ;"_s << u"--full-every"_s << u"7"_s << u"--keep"_s << u"3"_s
                 << u"--prune-first"_s << u"--days-of-week"_s << u"mon,fri"_s << u"--at"_s << u"18:00:00"_s << u"--at"_s
                 << u"08:00:00"_s << u"--catch-up"_s;
        } else if (row == 1) {
            c.Sources = {docs + u'/'};
            c.Filter = ftExclude;
            c.Extensions = u"tmp"_s;
            c.Destination = [](TDestinationPage& page) {
                page.DestinationButton(dtNetwork)->click();
                page.UserEdit()->setText(u"ann"_s);
                page.UncEdit()->setText(u"//server/share/backups"_s);
            };
            c.Type = btSynchronization;
            args << u"--source"_s << docs << u"--to"_s << u"//server/share/backups"_s << u"--user"_s << u"ann"_s
                 << u"--type"_s << u"mirror"_s << u"--exclude"_s << u"tmp"_s;
        } else {
            c.Sources = {src + u'/', docs + u'/'};
            c.Destination = LocalFolder(dest);
            c.Type = btFull;
            c.ByPercent = false;
            c.Keep = 2;
            c.Zip = true;
            c.PerFile = true;
            c.Level = clMax;
            c.NoCompression = u"ZIP; rar"_s;
            c.Method = emAES256;
            c.ZipPassword = u"s3cret"_s;
            c.ScheduleKind = stDaysOfMonth;
            c.Days = {1, 15};
            c.Times = {u"23:30:00"_s};
            c.CatchUp = false;
            c.Shutdown = true;
            args << u"--source"_s << src << u"--source"_s << docs << u"--to"_s << dest << u"--type"_s << u"full"_s
                 << u"--keep"_s << u"2"_s << u"--zip"_s << u"--per-file"_s << u"--level"_s << u"max"_s
                 << u"--no-compress"_s << u"ZIP; rar"_s << u"--encrypt"_s << u"aes256"_s << u"--password-file"_s
                 << m_fixture->Path(u"zip-password"_s) << u"--days-of-month"_s << u"1,15"_s << u"--at"_s
                 << u"23:30:00"_s << u"--shutdown-after"_s;
        }

        TFilesBackupWizard wizard;
        TfrmMainVaultora& window = Window({}, wizard);
        bool saved = false;
        wizard.DialogRunner = [&](TfrmWizard_FilesBackup& form) {
            saved = WorkPages(form, c);
            return form.result();
        };
        TInputBox::SetNextAnswer(u"Job"_s);
        window.Actions().NewJob();
        QVERIFY2(saved, qPrintable(UiTest::ShownTexts().join(u" | "_s)));
        const auto madeJob = Saved(m_fixture->DataFolder(), u"Job"_s);
        const TJob_FilesAndFolders& made = *madeJob;

        const QString cliData = m_fixture->Path(u"cli-data"_s);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_s, m_fixture->Path(u"config"_s));
        const TRun run = RunCli(environment, cliData, args);
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Err));
        const auto expectedJob = Saved(cliData, u"Job"_s);
        TJob_FilesAndFolders& expected = *expectedJob;
        if (row == 1) // the wizard keeps catch-up ticked for a schedule set later; the command line leaves it off
            expected.SchedulingSettings.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed = true;

        QCOMPARE(made.Settings.Sources, expected.Settings.Sources);
        QCOMPARE(made.Settings.Backup, expected.Settings.Backup);
        QCOMPARE(made.Settings.Compression, expected.Settings.Compression);
        QCOMPARE(made.Settings, expected.Settings);
        QCOMPARE(made.DestinationSettings, expected.DestinationSettings);
        QCOMPARE(WithoutTime(made.SchedulingSettings), WithoutTime(expected.SchedulingSettings));
        QCOMPARE(made.NewSubfolderIsCreatedForEachBackup, expected.NewSubfolderIsCreatedForEachBackup);
        QCOMPARE(made.IconName(), expected.IconName());
        QVERIFY(made.SchedulingSettings.LastModificationDateTime > 0);
    }

    // Properties: Next through the pages and Save changes nothing the pages do not show (other
    // destination kinds' fields, a disk that is no mount point); a source that is gone is dropped.
    void propertiesKeepWhatIsNotShown() {
        const QString src = Folder(u"src"_s);
        auto job = UiTest::FilesJob(u"Photos"_s, src, u"/backups"_s);
        job->DestinationSettings.LocalOrExternalDrive.Disk = m_fixture->Path(u"base"_s);
        job->DestinationSettings.Network = {u"ann"_s, u"pw"_s, u"//server/share"_s};
        job->DestinationSettings.FTP = {42, u"/gone/account"_s};
        job->DestinationSettings.Cloud = {QString(), u"/somewhere"_s};
        job->Settings.Sources.List.append(m_fixture->Path(u"deleted"_s) + u"/*"_s);
        job->Settings.Sources.FilterType = ftExclude;
        job->Settings.Sources.Extensions = u"tmp;bak"_s;
        job->SetBackupType(btDifferential);
        job->Settings.Backup.PerformFullBackup_Condition = bcSumExceedsPercentOfFullBackup;
        job->Settings.Backup.PerformFullBackup_SumExceedsPercentOfFullBackup = 120;
        job->Settings.Compression.Enabled = true;
        job->Settings.Compression.ProtectWithPassword = true;
        job->Settings.Compression.Password = u"zip-pw"_s;
        job->Settings.Compression.EncryptionMethod = emPkzipClassic;
        job->Settings.Compression.CompressionLevel = clNormal;
        job->SchedulingSettings.SchedulingType = stDaysOfWeek;
        job->SchedulingSettings.DaysOfWeek.at(3) = true;
        job->SchedulingSettings.TimeTable = {u"07:15:00"_s};
        TJob_FilesAndFolders before(u"Photos"_s);
        before.CopySettingsFrom(*job);
        std::vector<std::unique_ptr<TJob>> jobs;
        jobs.push_back(std::move(job));
        TFilesBackupWizard wizard;
        TfrmMainVaultora& window = Window(std::move(jobs), wizard);
        window.SelectJob(Job(u"Photos"_s));
        QString title, passwordState;
        bool editing = false, backOrSave = true;
        QStringList typeWarnings;
        wizard.DialogRunner = [&](TfrmWizard_FilesBackup& form) {
            title = form.windowTitle();
            editing = form.EditingJob;
            backOrSave = form.BackButton()->isEnabled() || form.SaveButton()->isEnabled();
            passwordState = form.ZipPasswordState()->text();
            form.Next();
            form.Next();
            UiTest::ShownTexts();
            // A type change of an existing job warns once.
            form.TypeButton(btFull)->click();
            form.TypeButton(btDifferential)->click();
            typeWarnings = UiTest::ShownTexts();
            form.Next();
            form.Next();
            form.SaveButton()->click();
            return form.result();
        };
        window.Actions().Properties();
        QCOMPARE(title, u"Properties - Photos"_s);
        QVERIFY(editing);
        QVERIFY(!backOrSave);
        QCOMPARE(passwordState, u"Password is set"_s);
        QCOMPARE(typeWarnings, QStringList{u"Changing the backup type will cause the deletion of all backup files."_s});
        const auto afterJob = Saved(m_fixture->DataFolder(), u"Photos"_s);
        const TJob_FilesAndFolders& after = *afterJob;
        QCOMPARE(after.Settings.Sources.List, QStringList{src + u"/*"_s});
        TSpecificSettings expected = before.Settings;
        expected.Sources.List = {src + u"/*"_s};
        QCOMPARE(after.Settings, expected);
        QCOMPARE(after.DestinationSettings, before.DestinationSettings);
        QCOMPARE(WithoutTime(after.SchedulingSettings), WithoutTime(before.SchedulingSettings));
    }

    // Duplicate: a new job under the new name with the same settings; the original stays.
    // "Save && Run" on a new job sets it waiting.
    void duplicateAndSaveAndRun() {
        const QString src = Folder(u"src"_s);
        auto job = UiTest::FilesJob(u"Photos"_s, src, Folder(u"dest"_s));
        job->Settings.Sources.Extensions = u"jpg"_s;
        job->Settings.Sources.FilterType = ftIncludeOnly;
        job->SchedulingSettings.SchedulingType = stDaysOfMonth;
        job->SchedulingSettings.DaysOfMonth.at(28) = true;
        job->SchedulingSettings.TimeTable = {u"20:00:00"_s};
        std::vector<std::unique_ptr<TJob>> jobs;
        jobs.push_back(std::move(job));
        TFilesBackupWizard wizard;
        TfrmMainVaultora& window = Window(std::move(jobs), wizard);
        window.SelectJob(Job(u"Photos"_s));
        bool andRun = false, editing = true;
        wizard.DialogRunner = [&](TfrmWizard_FilesBackup& form) {
            editing = form.EditingJob;
            for (int page = 0; page < 4; ++page)
                form.Next();
            if (andRun)
                form.SaveAndRunAction()->trigger();
            else
                form.SaveButton()->click();
            return form.result();
        };
        TInputBox::SetNextAnswer(u"Photos (Duplicated)"_s);
        window.Actions().Duplicate();
        QVERIFY(Job(u"Photos (Duplicated)"_s));
        QVERIFY(!editing);
        const auto originalJob = Saved(m_fixture->DataFolder(), u"Photos"_s);
        const TJob_FilesAndFolders& original = *originalJob;
        const auto copyJob = Saved(m_fixture->DataFolder(), u"Photos (Duplicated)"_s);
        const TJob_FilesAndFolders& copy = *copyJob;
        QCOMPARE(copy.stJobName, u"Photos (Duplicated)"_s);
        QCOMPARE(copy.Settings, original.Settings);
        QCOMPARE(copy.DestinationSettings, original.DestinationSettings);
        QCOMPARE(WithoutTime(copy.SchedulingSettings), WithoutTime(original.SchedulingSettings));
        QCOMPARE(int(Job(u"Photos (Duplicated)"_s)->JobStatus.Load()), int(jsNone));

        andRun = true;
        window.SelectJob(Job(u"Photos"_s));
        TInputBox::SetNextAnswer(u"Photos again"_s);
        window.Actions().Duplicate();
        TJob_FilesAndFolders* started = Job(u"Photos again"_s);
        QVERIFY(started);
        QVERIFY(started->JobStatus.Load() != jsNone || started->LastJobResult.StartTime != 0);
        started->WaitForWorker();
    }

    // Screenshots of the pages for the documentation.
    void screenshots() {
        App().Options.FTPAccounts = {Account(1, u"Home NAS"_s, u"nas.local"_s)};
        TfrmWizard_FilesBackup& form = Form();
        form.setWindowTitle(u" New Job - Documents"_s);
        form.SourceTree()->SetChecked(QDir::homePath(), true);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto shot = [&form](const QString& name) {
            QVERIFY(form.grab().save(UiTest::Artifacts + u"/wizard-"_s + name + u".png"_s));
        };
        shot(u"sources"_s);
        LocalFolder(Folder(u"dest"_s))(*form.DestinationPage());
        UiTest::ShownTexts();
        form.Next();
        shot(u"destination-local"_s);
        form.DestinationPage()->DestinationButton(dtNetwork)->click();
        form.DestinationPage()->UncEdit()->setText(u"//nas.local/backups"_s);
        shot(u"destination-network"_s);
        form.DestinationPage()->DestinationButton(dtFTP)->click();
        shot(u"destination-ftp"_s);
        form.DestinationPage()->DestinationButton(dtCloud)->click();
        form.DestinationPage()->ServiceCombo()->setCurrentIndex(2);
        shot(u"destination-cloud"_s);
        form.DestinationPage()->DestinationButton(dtLocalOrExternalDrive)->click();
        form.Next();
        shot(u"backup-type"_s);
        form.Next();
        form.ZipBox()->click();
        shot(u"compression"_s);
        form.Next();
        form.SchedulePage()->DaysOfWeekBox()->click();
        Tick(form.SchedulePage()->DaysOfWeekList(), 0);
        Tick(form.SchedulePage()->DaysOfWeekList(), 3);
        form.SchedulePage()->AddTimeEntry(u"20:00:00"_s);
        shot(u"schedule"_s);
    }
};

QTEST_MAIN(TestWizard)
#include "tst_wizard.moc"
