// Opening a job from its storage in the windows: the Open dialog's pages and refusals, and the
// main window's Open action on each kind of storage (a local folder, the in-memory FTP server,
// stand-ins for a share and a cloud drive), with the refusals that add nothing.

#include "TFakeFtpConnection.h"
#include "UiTestSupport.h"

#include "ui/TJobActions.h"
#include "ui/TfrmCloudClient.h"
#include "ui/TfrmFTPClient.h"
#include "ui/TfrmMainVaultora.h"
#include "ui/TfrmOpenJobDialog.h"

#include "core/format/OptionsFile.h"
#include "core/settings/FTPAccounts.h"
#include "jobs/OpenStoredJob.h"
#include "storage/StorageBranchFactory.h"
#include "storage/TLocalDriveBranch.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// A share or a cloud drive played by local folders: the place the job's destination names (its
// share folder, or its service and folder) is looked up in Places; an unknown place refuses to
// connect as an unreachable destination does.
class TStandInBranch : public TLocalDriveBranch {
public:
    TStandInBranch(TJob& job, const QMap<QString, QString>& places, QStringList& reached)
        : TLocalDriveBranch(job)
        , m_places(places)
        , m_reached(reached) {}

    static QString PlaceOf(const TDestinationSettings& d) {
        if (d.DestinationType == dtNetwork)
            return d.Network.UNCPath;
        if (d.DestinationType == dtCloud)
            return d.Cloud.ServiceName + u':' + d.Cloud.Subfolder;
        return {};
    }

    TConnectResult Connect() override {
        const QString place = PlaceOf(m_job.DestinationSettings);
        m_reached.append(place);
        if (!m_places.contains(place))
            return {false, {}, u"The network path was not found."_s};
        return {true, m_places.value(place), {}};
    }

private:
    const QMap<QString, QString>& m_places;
    QStringList& m_reached;
};

} // namespace

class TestOpenJob : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TScheduler> m_scheduler;
    std::unique_ptr<TfrmMainVaultora> m_window;
    QMap<QString, QString> m_places;
    QStringList m_reached;
    TFakeFtpServer m_ftp;

    QString Path(const QString& relative) const { return m_fixture->Path(relative); }

    // The program started with these jobs, its window shown.
    TfrmMainVaultora& Window(const QStringList& names = {}) {
        if (!m_context)
            m_context = m_fixture->StartContext();
        for (const QString& name : names) {
            auto job = UiTest::FilesJob(name, QString(), Path(u"elsewhere"_s));
            job->SaveLocalJobFile(job->LocalJobFilePath());
            m_context->Jobs().Append(std::move(job));
        }
        m_context->Jobs().SaveJobsList();
        m_scheduler = m_fixture->Scheduler(*m_context);
        m_window = std::make_unique<TfrmMainVaultora>(*m_context, *m_scheduler);
        m_window->AfterStart();
        m_window->show();
        m_window->Actions().StorageBranches = [this](TJob& job) -> std::unique_ptr<TStorageBranch> {
            const TDestinationType type = job.DestinationSettings.DestinationType;
            if (type == dtNetwork || type == dtCloud)
                return std::make_unique<TStandInBranch>(job, m_places, m_reached);
            return CreateStorageBranch(job);
        };
        return *m_window;
    }

    // A real backup of a files job named name into folder (its stored job file next to its
    // folder there), by a job the program's list does not hold,
    // made by a program on another data folder. Starts the program when it is not running yet.
    void BackUp(const QString& name, const QString& folder, const QByteArray& content) {
        if (!m_context)
            m_context = m_fixture->StartContext();
        UiTest::WriteFile(Path(u"src/a.txt"_s), content);
        QDir().mkpath(folder);
        const QString data = App().ApplicationDirectory;
        App().ApplicationDirectory = Path(u"lost-data"_s);
        QDir().mkpath(App().ApplicationDirectory);
        auto job = UiTest::FilesJob(name, Path(u"src"_s), folder);
        job->Backup();
        job->WaitForWorker();
        App().ApplicationDirectory = data;
        QCOMPARE(int(job->LastJobResult.ErrorsCount), 0);
        QVERIFY(QFile::exists(folder + u'/' + name + u".vlj"_s));
    }

    QStringList Names() const {
        QStringList names;
        for (int i = 0; i < m_context->Jobs().Count(); ++i)
            names.append(m_context->Jobs().At(i)->stJobName);
        return names;
    }

    int PointCount(TJob& job) {
        auto& files = dynamic_cast<TJob_FilesAndFolders&>(job);
        files.Branches = m_window->Actions().StorageBranches;
        const TRestoreListing listing = files.ReadRestorePoints();
        if (!listing.Error.isEmpty())
            return -1;
        files.CancelRestore();
        return int(listing.Points.size());
    }

    int AddFtpAccount() {
        TFTPAccount account;
        account.AccName = u"Fake"_s;
        account.Host = m_ftp.Host;
        account.Username = u"anna"_s;
        account.Password = m_ftp.Password;
        const int32_t id = AddFTPAccount(App().Options, account);
        return id;
    }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<UiTest::TFixture>();
        m_places.clear();
        m_reached.clear();
        m_ftp.Files.clear();
        m_ftp.Install();
    }

    void cleanup() {
        m_window.reset();
        m_scheduler.reset();
        m_context.reset();
        m_fixture.reset();
        TfrmFTPClient::SetChooserRunnerForTesting({});
    }

    // The texts, the pages in the storage combo's order, the preset local path and the cleared
    // edits when shown.
    void dialogShowsItsPages() {
        Window();
        TfrmOpenJobDialog dialog(m_window.get());
        dialog.PathEdit(TfrmOpenJobDialog::pgCloud)->setText(u"left over"_s);
        dialog.DefaultPath = u"/media/usb/Backups/Docs.vlj"_s;
        dialog.show();
        QCOMPARE(dialog.windowTitle(), u" Open"_s);
        QCOMPARE(dialog.Explanation()->text(), u"You can open job directly from the storage. Click \"Browse...\" and "
                                               u"find the job file (*.vlj) on your storage."_s);
        QStringList kinds;
        for (int i = 0; i < dialog.StorageCombo()->count(); ++i)
            kinds.append(dialog.StorageCombo()->itemText(i));
        QCOMPARE(kinds, (QStringList{u"Local or External Drive"_s, u"Network"_s, u"FTP"_s, u"Cloud"_s}));
        QCOMPARE(dialog.StorageCombo()->currentIndex(), 0);
        QCOMPARE(dialog.PathEdit(TfrmOpenJobDialog::pgLocal)->text(), u"/media/usb/Backups/Docs.vlj"_s);
        QCOMPARE(dialog.PathEdit(TfrmOpenJobDialog::pgCloud)->text(), QString());
        QCOMPARE(dialog.PasswordEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.ServiceCombo()->currentText(), u"DropBox"_s);
        dialog.StorageCombo()->setCurrentIndex(TfrmOpenJobDialog::pgFtp);
        QCOMPARE(dialog.Pages()->currentIndex(), int(TfrmOpenJobDialog::pgFtp));
        // No account yet: everything but "Add..." waits for one.
        QVERIFY(dialog.AddButton()->isEnabled());
        QVERIFY(!dialog.EditButton()->isEnabled());
        QVERIFY(!dialog.RemoveButton()->isEnabled());
        QVERIFY(!dialog.PathEdit(TfrmOpenJobDialog::pgFtp)->isEnabled());
        QVERIFY(!dialog.BrowseButton(TfrmOpenJobDialog::pgFtp)->isEnabled());
        dialog.reject();
        QCOMPARE(dialog.Tag(), 0);
        QCOMPARE(dialog.DefaultPath, QString());
    }

    // "Continue..." closes the dialog only for a stored job file; each page checks its own path.
    void continueChecksThePath_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error"); // empty: accepted
        const QString notAJobFile = u"Click \"Browse...\" and find the job file *.vlj."_s;
        const QString backslash = u"The path cannot contain the \\ character."_s;
        QTest::newRow("local job file") << 0 << u"/media/usb/Docs.vlj"_s << QString();
        QTest::newRow("local other file") << 0 << u"/media/usb/Docs.txt"_s << notAJobFile;
        QTest::newRow("local empty") << 0 << QString() << notAJobFile;
        QTest::newRow("local bare extension") << 0 << u"/media/usb/.vlj"_s << notAJobFile;
        QTest::newRow("network backslashes") << 1 << u"\\\\server\\share\\Docs.vlj"_s << QString();
        QTest::newRow("network folder") << 1 << u"smb://server/share/Docs"_s << notAJobFile;
        QTest::newRow("ftp no slash") << 2 << u"Docs.vlj"_s << QString();
        QTest::newRow("ftp backslash") << 2 << u"jobs\\Docs.vlj"_s << backslash;
        QTest::newRow("ftp other file") << 2 << u"/jobs/Docs.vlj/"_s << notAJobFile;
        QTest::newRow("cloud job file") << 3 << u"/a/b/Docs.vlj"_s << QString();
        QTest::newRow("cloud backslash") << 3 << u"/a\\b/Docs.vlj"_s << backslash;
    }

    void continueChecksThePath() {
        QFETCH(int, page);
        QFETCH(QString, path);
        QFETCH(QString, error);
        Window();
        AddFtpAccount();
        TfrmOpenJobDialog dialog(m_window.get());
        dialog.show();
        dialog.StorageCombo()->setCurrentIndex(page);
        dialog.PathEdit(TfrmOpenJobDialog::TPage(page))->setText(path);
        dialog.ContinueButton()->click();
        const QList<TMessageBox::TShown> shown = TMessageBox::TakeShown();
        if (error.isEmpty()) {
            QVERIFY(shown.isEmpty());
            QCOMPARE(dialog.Tag(), 1);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.Location().Path, path);
        } else {
            QCOMPARE(shown.size(), 1);
            QCOMPARE(shown.first().Kind, TMessageBox::mbError);
            QCOMPARE(shown.first().Text, error);
            QCOMPARE(dialog.Tag(), 0);
            QVERIFY(dialog.isVisible());
        }
    }

    // The FTP page's "Browse..." takes the file the FTP client's chooser returns.
    void ftpBrowseTakesTheChosenFile() {
        Window();
        const int32_t id = AddFtpAccount();
        TfrmOpenJobDialog dialog(m_window.get());
        dialog.show();
        dialog.StorageCombo()->setCurrentIndex(TfrmOpenJobDialog::pgFtp);
        QString title;
        TfrmFTPClient::SetChooserRunnerForTesting([&title](TfrmFTPClient& client) {
            title = client.windowTitle();
            client.PathEdit()->setText(u"/store/Docs.vlj"_s);
            return int(QDialog::Accepted);
        });
        dialog.BrowseButton(TfrmOpenJobDialog::pgFtp)->click();
        QCOMPARE(title, u"FTP Client - Fake"_s);
        QCOMPARE(dialog.PathEdit(TfrmOpenJobDialog::pgFtp)->text(), u"/store/Docs.vlj"_s);
        dialog.ContinueButton()->click();
        QCOMPARE(dialog.Tag(), 1);
        QCOMPARE(dialog.Location().AccountID, id);
        QCOMPARE(dialog.Location().Type, dtFTP);
    }

    // The cloud page's "Browse..." opens the Cloud Client as a chooser of files, at the path typed.
    void cloudBrowseTakesTheChosenFile() {
        Window();
        TfrmOpenJobDialog dialog(m_window.get());
        dialog.show();
        dialog.StorageCombo()->setCurrentIndex(TfrmOpenJobDialog::pgCloud);
        dialog.ServiceCombo()->setCurrentIndex(1);
        dialog.PathEdit(TfrmOpenJobDialog::pgCloud)->setText(u"/Backups"_s);
        QString title, start;
        bool pickFile = false;
        TfrmCloudClient::SetChooserRunnerForTesting([&](TfrmCloudClient& client) {
            title = client.windowTitle();
            start = client.StartPath;
            pickFile = client.PickFile;
            client.PathEdit()->setText(u"/Backups/Docs.vlj"_s);
            return int(QDialog::Accepted);
        });
        dialog.BrowseButton(TfrmOpenJobDialog::pgCloud)->click();
        TfrmCloudClient::SetChooserRunnerForTesting({});
        QCOMPARE(title, u"Cloud Client - Google Drive"_s);
        QCOMPARE(start, u"/Backups"_s);
        QVERIFY(pickFile);
        QCOMPARE(dialog.PathEdit(TfrmOpenJobDialog::pgCloud)->text(), u"/Backups/Docs.vlj"_s);
    }

    // Where the job's name and destination come from, for each kind of storage.
    void targetFollowsThePath_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("local") << int(dtLocalOrExternalDrive) << u"/srv/Backups/Docs.vlj"_s << u"Docs"_s
                               << u"/srv/Backups"_s;
        QTest::newRow("share") << int(dtNetwork) << u"smb://server/share/jobs/Docs.vlj"_s << u"Docs"_s
                               << u"smb://server/share/jobs"_s;
        QTest::newRow("share backslashes")
            << int(dtNetwork) << u"\\\\server\\share\\Docs.vlj"_s << u"Docs"_s << u"\\\\server\\share"_s;
        QTest::newRow("ftp no slash") << int(dtFTP) << u"Docs.vlj"_s << u"Docs"_s << u"/"_s;
        QTest::newRow("ftp") << int(dtFTP) << u"/store/jobs/My Docs.vlj"_s << u"My Docs"_s << u"/store/jobs"_s;
        QTest::newRow("cloud root") << int(dtCloud) << u"/Docs.vlj"_s << u"Docs"_s << u"/"_s;
        QTest::newRow("cloud") << int(dtCloud) << u"/a/b/Docs.vlj"_s << u"Docs"_s << u"/a/b"_s;
    }

    void targetFollowsThePath() {
        QFETCH(int, type);
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        TStoredJobLocation location;
        location.Type = TDestinationType(type);
        location.Path = path;
        TStoredJobTarget target;
        QString error;
        QVERIFY2(DeriveStoredJobTarget(location, target, error), qPrintable(error));
        QCOMPARE(target.Name, name);
        QCOMPARE(int(target.Destination.DestinationType), type);
        const TDestinationSettings& d = target.Destination;
        switch (location.Type) {
        case dtLocalOrExternalDrive:
            QCOMPARE(QDir::cleanPath(d.LocalOrExternalDrive.Disk + d.LocalOrExternalDrive.Subfolder), folder);
            break;
        case dtNetwork:
            QCOMPARE(d.Network.UNCPath, folder);
            break;
        case dtFTP:
            QCOMPARE(d.FTP.Subfolder, folder);
            break;
        case dtCloud:
            QCOMPARE(d.Cloud.Subfolder, folder);
            break;
        }
    }

    // From a local folder through the dialog: the job comes back with its settings, its folder
    // is the one next to the file, and its next backup continues the same restore-point list.
    void localJobContinuesItsRestorePoints() {
        const QString folder = Path(u"drive/Backups"_s);
        BackUp(u"Docs"_s, folder, "first");
        TfrmMainVaultora& window = Window({u"Other"_s});
        window.DialogRunner = [&](QDialog& dialog) {
            dialog.show();
            auto& open = dynamic_cast<TfrmOpenJobDialog&>(dialog);
            open.PathEdit(TfrmOpenJobDialog::pgLocal)->setText(folder + u"/Docs.vlj"_s);
            open.ContinueButton()->click();
            return dialog.result();
        };
        window.Actions().OpenJob();
        QCOMPARE(UiTest::ShownTexts(), QStringList());
        QCOMPARE(Names(), (QStringList{u"Other"_s, u"Docs"_s}));
        TJob* job = m_context->Jobs().Find(u"Docs"_s);
        QCOMPARE(dynamic_cast<TJob_FilesAndFolders*>(job)->Settings.Sources.List, QStringList{Path(u"src/*"_s)});
        QCOMPARE(QDir::cleanPath(job->DestinationSettings.LocalOrExternalDrive.Disk +
                                 job->DestinationSettings.LocalOrExternalDrive.Subfolder),
                 folder);
        QVERIFY(QFile::exists(m_fixture->DataFolder() + u"/Docs.vld"_s));
        QStringList listed;
        QVERIFY(m_context->Jobs().ReadJobsList(listed));
        QCOMPARE(listed, (QStringList{u"Other"_s, u"Docs"_s}));
        // The tick moves the pending events into the window's list.
        window.Tick();
        const QAbstractItemModel* events = window.EventsList()->model();
        QVERIFY(events->rowCount() > 0);
        QVERIFY2(events->index(events->rowCount() - 1, 0).data().toString().endsWith(u"Job is open: \"Docs\"."_s),
                 qPrintable(events->index(events->rowCount() - 1, 0).data().toString()));
        QCOMPARE(PointCount(*job), 1);

        UiTest::WriteFile(Path(u"src/a.txt"_s), "second");
        job->Backup();
        job->WaitForWorker();
        QCOMPARE(int(job->LastJobResult.ErrorsCount), 0);
        QCOMPARE(PointCount(*job), 2);
        // The temporary copy of the stored file is gone.
        QVERIFY(!QFile::exists(Path(u"cache/VaultoraTmp/Docs.vlj"_s)));
    }

    // A share, the FTP server and a cloud drive: the job's destination is where the file was
    // found (with the share's user and password from the page).
    void remoteStorageKinds() {
        const QString stored = Path(u"stored"_s);
        BackUp(u"Docs"_s, stored, "remote");
        const QByteArray file = UiTest::ReadFile(stored + u"/Docs.vlj"_s);
        m_places.insert(u"smb://server/share/jobs"_s, stored);
        m_places.insert(u"One Drive:/a/b"_s, stored);
        m_ftp.AddFolder(u"/store"_s);
        m_ftp.AddFile(u"/store/Docs.vlj"_s, file);
        TfrmMainVaultora& window = Window();
        const int32_t account = AddFtpAccount();

        TStoredJobLocation share;
        share.Type = dtNetwork;
        share.Path = u"smb://server/share/jobs/Docs.vlj"_s;
        share.Username = u"anna"_s;
        share.Password = u"pw"_s;
        TJob* job = window.Actions().OpenJobFrom(share);
        QVERIFY(job);
        QCOMPARE(job->DestinationSettings.DestinationType, dtNetwork);
        QCOMPARE(job->DestinationSettings.Network.UNCPath, u"smb://server/share/jobs"_s);
        QCOMPARE(job->DestinationSettings.Network.Username, u"anna"_s);
        QCOMPARE(job->DestinationSettings.Network.Password, u"pw"_s);
        QCOMPARE(PointCount(*job), 1);
        QVERIFY(m_context->Jobs().Take(m_context->Jobs().IndexOf(job)));

        TStoredJobLocation ftp;
        ftp.Type = dtFTP;
        ftp.Path = u"/store/Docs.vlj"_s;
        ftp.AccountID = account;
        job = window.Actions().OpenJobFrom(ftp);
        QVERIFY2(job, qPrintable(UiTest::ShownTexts().join(u'\n')));
        QCOMPARE(job->DestinationSettings.DestinationType, dtFTP);
        QCOMPARE(job->DestinationSettings.FTP.AccountID, account);
        QCOMPARE(job->DestinationSettings.FTP.Subfolder, u"/store"_s);
        QVERIFY(m_context->Jobs().Take(m_context->Jobs().IndexOf(job)));

        TStoredJobLocation cloud;
        cloud.Type = dtCloud;
        cloud.Path = u"/a/b/Docs.vlj"_s;
        cloud.ServiceName = u"One Drive"_s;
        job = window.Actions().OpenJobFrom(cloud);
        QVERIFY(job);
        QCOMPARE(job->DestinationSettings.DestinationType, dtCloud);
        QCOMPARE(job->DestinationSettings.Cloud.ServiceName, u"One Drive"_s);
        QCOMPARE(job->DestinationSettings.Cloud.Subfolder, u"/a/b"_s);
        QCOMPARE(PointCount(*job), 1);
        QCOMPARE(UiTest::ShownTexts(), QStringList());
    }

    // Refusals show their error and add nothing; a taken name is refused before the storage is
    // reached.
    void refusalsAddNothing_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("reached");
        QTest::newRow("name taken") << u"smb://server/share/jobs/DOCS.vlj"_s
                                    << u"Job \"DOCS\" already exists. Please specify another name."_s << false;
        QTest::newRow("unreachable") << u"smb://server/gone/New.vlj"_s
                                     << u"Unable to connect to the backup storage.\r\nERROR: The network path was not "
                                        u"found."_s
                                     << true;
        QTest::newRow("missing file") << u"smb://server/share/jobs/New.vlj"_s
                                      << u"Unable to open the job file from the backup storage."_s << true;
        QTest::newRow("damaged file") << u"smb://server/share/jobs/Broken.vlj"_s
                                      << u"Unable to open the job file from the backup storage."_s << true;
        QTest::newRow("not a job") << u"smb://server/share/jobs/Garbage.vlj"_s
                                   << u"Unable to open the job file from the backup storage."_s << true;
        QTest::newRow("forbidden name") << u"smb://server/share/jobs/a:b.vlj"_s
                                        << u"The following symbols are not allowed in the title:\n\n<>:\"/\\|?*"_s
                                        << false;
    }

    void refusalsAddNothing() {
        QFETCH(QString, path);
        QFETCH(QString, error);
        QFETCH(bool, reached);
        const QString stored = Path(u"stored"_s);
        BackUp(u"Docs"_s, stored, "x");
        const QByteArray file = UiTest::ReadFile(stored + u"/Docs.vlj"_s);
        // The header whole, the lists cut short; and bytes that are no job file at all.
        UiTest::WriteFile(stored + u"/Broken.vlj"_s, file.left(file.size() / 2));
        UiTest::WriteFile(stored + u"/Garbage.vlj"_s, QByteArray(64, '\x5a'));
        m_places.insert(u"smb://server/share/jobs"_s, stored);
        TfrmMainVaultora& window = Window({u"Docs"_s});
        TStoredJobLocation location;
        location.Type = dtNetwork;
        location.Path = path;
        QVERIFY(!window.Actions().OpenJobFrom(location));
        const QList<TMessageBox::TShown> shown = TMessageBox::TakeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().Kind, TMessageBox::mbError);
        QCOMPARE(shown.first().Text, error);
        QCOMPARE(!m_reached.isEmpty(), reached);
        QCOMPARE(Names(), QStringList{u"Docs"_s});
        QStringList listed;
        QVERIFY(m_context->Jobs().ReadJobsList(listed));
        QCOMPARE(listed, QStringList{u"Docs"_s});
        QCOMPARE(QDir(m_fixture->DataFolder()).entryList({u"*.vld"_s}), QStringList{u"Docs.vld"_s});
        QVERIFY(!QFile::exists(Path(u"cache/VaultoraTmp/New.vlj"_s)));
        QVERIFY(!QFile::exists(Path(u"cache/VaultoraTmp/Broken.vlj"_s)));
    }
};

QTEST_MAIN(TestOpenJob)
#include "tst_openjob.moc"
