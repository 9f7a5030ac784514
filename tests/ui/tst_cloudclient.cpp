// The Cloud Client window against the stand-in Dropbox, Google Drive and OneDrive services: browsing,
// the item buttons, folder transfers both ways, cancel, the chooser and a new sign-in.
#include "../cloud/TDropboxStandIn.h"
#include "../cloud/TGoogleDriveStandIn.h"
#include "../cloud/TOneDriveStandIn.h"
#include "UiTestSupport.h"

#include "cloud/CloudServices.h"
#include "cloud/TCloudDrive.h"
#include "core/base/TextFormat.h"
#include "net/THttpClient.h"
#include "ui/TfrmCloudClient.h"
#include "ui/TfrmMainVaultora.h"

#include <QAction>
#include <QBuffer>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(TCloudService)

namespace {

QByteArray Get(const QString& url, QByteArray* location = nullptr) {
    THttpClient http;
    THttpRequest request;
    request.Method = "GET";
    request.Url = url;
    const THttpResponse response = http.Send(request);
    if (location)
        *location = response.Header("location");
    return response.Body;
}

QStringList Rows(const TfrmCloudClient& window) {
    QStringList rows;
    for (int i = 0; i < window.List()->topLevelItemCount(); ++i)
        rows.append(window.List()->topLevelItem(i)->text(0));
    return rows;
}

QStringList LogLines(const TfrmCloudClient& window) {
    QStringList lines;
    for (int i = 0; i < window.StatusLog()->count(); ++i) {
        const QString line = window.StatusLog()->item(i)->text();
        lines.append(line.mid(line.indexOf(u": "_s) + 2)); // without the time
    }
    return lines;
}

bool WaitIdle(const TfrmCloudClient& window) {
    return QTest::qWaitFor([&] { return !window.Busy(); }, 20000);
}

// Relative path -> bytes of every file below root, and "dir/" entries for its folders.
QMap<QString, QByteArray> Tree(const QString& root) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString relative = QDir(root).relativeFilePath(info.filePath());
        tree.insert(info.isDir() ? relative + u'/' : relative,
                    info.isDir() ? QByteArray() : UiTest::ReadFile(info.filePath()));
    }
    return tree;
}

QByteArray RandomBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char& c : data)
        c = char(generator.generate());
    return data;
}

} // namespace

class tst_CloudClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void mainWindowModeOffersTheServices();
    void browseCreateRenameRemove_data() { ServiceTable(); }
    void browseCreateRenameRemove();
    void folderOfAwkwardNamesGoesUpAndComesBackIdentical_data() { ServiceTable(); }
    void folderOfAwkwardNamesGoesUpAndComesBackIdentical();
    void cancelledTransfersLeaveNothingBehind_data() { ServiceTable(); }
    void cancelledTransfersLeaveNothingBehind();
    void chooserReturnsTheChosenPath_data() { ServiceTable(); }
    void chooserReturnsTheChosenPath();
    void expiredSessionLeadsToSignIn_data() { ServiceTable(); }
    void expiredSessionLeadsToSignIn();
    void resetAccessForgetsTheToken();
    void screenshot();
    void toolsMenuOpensTheWindow();

private:
    static void ServiceTable();
    std::unique_ptr<TfrmCloudClient> Connected(TCloudService service);
    // The file's bytes at the service; ok false when there is none.
    QByteArray ServerFile(TCloudService service, const QString& path, bool* ok);
    bool ServerExists(TCloudService service, const QString& path);
    void Revoke(TCloudService service);
    TCloudEndpoints Endpoints() const;

    QTemporaryDir FWork;
    TDropboxStandIn FDropbox;
    TGoogleDriveStandIn FGoogle;
    TOneDriveStandIn FOneDrive;
    std::thread FBrowser;
};

void tst_CloudClient::ServiceTable() {
    QTest::addColumn<TCloudService>("service");
    QTest::newRow("Dropbox") << TCloudService::Dropbox;
    QTest::newRow("Google Drive") << TCloudService::GoogleDrive;
    QTest::newRow("OneDrive") << TCloudService::OneDrive;
}

void tst_CloudClient::initTestCase() {
    UiTest::SetHeadless();
    QVERIFY(FWork.isValid());
    App().ApplicationDirectory = FWork.filePath(u"data"_s);
    QVERIFY(QDir().mkpath(App().ApplicationDirectory));
    App().DropboxClientId = u"dropbox-id"_s;
    App().GoogleClientId = u"google-id"_s;
    App().GoogleClientSecret = u"google-secret"_s;
    App().OneDriveClientId = u"onedrive-id"_s;
    QVERIFY2(FDropbox.Start(), qPrintable(FDropbox.Output()));
    QVERIFY2(FGoogle.Start(), qPrintable(FGoogle.Output()));
    QVERIFY2(FOneDrive.Start(), qPrintable(FOneDrive.Output()));
    // The window finds the services where the configuration file says.
    qputenv("XDG_CONFIG_HOME", FWork.filePath(u"config"_s).toLocal8Bit());
    QByteArray google = FGoogle.ConfigText();
    google = google.mid(google.indexOf('\n') + 1); // one [cloud] group
    UiTest::WriteFile(CloudConfigFilePath(), FDropbox.ConfigText() + google + FOneDrive.ConfigLines());
    QCOMPARE(LoadCloudEndpoints().GoogleDriveApi, FGoogle.Endpoints().GoogleDriveApi);
}

void tst_CloudClient::init() {
    FDropbox.Control(u"reset"_s);
    FGoogle.Control(u"reset"_s);
    FOneDrive.Control(u"reset"_s);
    QVERIFY(SaveRefreshToken(TCloudService::Dropbox, FDropbox.NewRefreshToken()));
    QVERIFY(SaveRefreshToken(TCloudService::GoogleDrive, FGoogle.NewRefreshToken()));
    QVERIFY(SaveRefreshToken(TCloudService::OneDrive, FOneDrive.NewRefreshToken()));
    UiTest::ShownTexts();
    TInputBox::TakePrompts();
    TFileDialog::TakeCaptions();
}

void tst_CloudClient::cleanup() {
    if (FBrowser.joinable())
        FBrowser.join();
    TProductSite::SetOpener([](const QUrl&) {});
    TfrmCloudClient::SetChooserRunnerForTesting({});
}

TCloudEndpoints tst_CloudClient::Endpoints() const {
    return LoadCloudEndpoints();
}

std::unique_ptr<TfrmCloudClient> tst_CloudClient::Connected(TCloudService service) {
    auto window = std::make_unique<TfrmCloudClient>();
    window->MenuRunner = [service](QMenu& menu) { return menu.actions().at(int(service)); };
    window->show();
    window->Button("btConnect")->click();
    if (!WaitIdle(*window) || !window->Connected())
        qWarning("not connected: %s", qPrintable(LogLines(*window).join(u'\n')));
    return window;
}

QByteArray tst_CloudClient::ServerFile(TCloudService service, const QString& path, bool* ok) {
    switch (service) {
    case TCloudService::Dropbox:
        return FDropbox.File(path, ok);
    case TCloudService::GoogleDrive:
        return FGoogle.File(path, ok);
    case TCloudService::OneDrive:
        return FOneDrive.File(path, ok);
    }
    return {};
}

bool tst_CloudClient::ServerExists(TCloudService service, const QString& path) {
    switch (service) {
    case TCloudService::Dropbox:
        return FDropbox.Exists(path);
    case TCloudService::GoogleDrive:
        return FGoogle.Exists(path);
    case TCloudService::OneDrive:
        return FOneDrive.Exists(path);
    }
    return false;
}

void tst_CloudClient::Revoke(TCloudService service) {
    switch (service) {
    case TCloudService::Dropbox:
        FDropbox.Control(u"revoke"_s);
        break;
    case TCloudService::GoogleDrive:
        FGoogle.Control(u"revoke"_s);
        break;
    case TCloudService::OneDrive:
        FOneDrive.Control(u"revoke"_s);
        break;
    }
}

void tst_CloudClient::mainWindowModeOffersTheServices() {
    TfrmCloudClient window;
    QStringList offered;
    window.MenuRunner = [&](QMenu& menu) {
        for (const QAction* action : menu.actions())
            offered.append(action->text());
        return nullptr;
    };
    window.show();
    QVERIFY(!window.Button("btSelect")->isVisible());
    QVERIFY(!window.Button("Button2")->isVisible());
    QVERIFY(window.Details()->isVisible());
    QCOMPARE(window.StatusText()->text(), u"Disconnected"_s);
    QVERIFY(!window.Button("btCreateDir")->isEnabled());
    window.Button("btConnect")->click();
    QCOMPARE(offered, (QStringList{u"DropBox"_s, u"Google Drive"_s, u"One Drive"_s}));
    QVERIFY(!window.Connected());
}

void tst_CloudClient::browseCreateRenameRemove() {
    QFETCH(TCloudService, service);
    const auto window = Connected(service);
    QVERIFY(window->Connected());
    QCOMPARE(window->StatusText()->text(), u"Connected"_s);
    QCOMPARE(window->windowTitle(), u"Cloud Client - "_s + CloudServiceName(service));
    QCOMPARE(LogLines(*window).last(), u"Connected to the cloud."_s);

    TInputBox::SetNextAnswer(u"Alpha"_s);
    window->Button("btCreateDir")->click();
    QVERIFY(WaitIdle(*window));
    QCOMPARE(TInputBox::TakePrompts(), QStringList{u"Name for new folder"_s});
    QVERIFY(ServerExists(service, u"/Alpha"_s));
    QVERIFY(LogLines(*window).contains(u"Operation is complete: \"Alpha\" is created."_s));
    QCOMPARE(Rows(*window), QStringList{u"Alpha"_s});
    QCOMPARE(window->PathEdit()->text(), u"/Alpha"_s);

    // Into the folder, a folder there, up and back.
    window->Activate(window->List()->topLevelItem(0));
    QVERIFY(WaitIdle(*window));
    QCOMPARE(window->CurrentPath(), u"/Alpha"_s);
    QVERIFY(Rows(*window).isEmpty());
    TInputBox::SetNextAnswer(u"Inner"_s);
    window->Button("btCreateDir")->click();
    QVERIFY(WaitIdle(*window));
    QVERIFY(ServerExists(service, u"/Alpha/Inner"_s));
    QCOMPARE(window->PathEdit()->text(), u"/Alpha/Inner"_s);
    window->Button("btUp")->click();
    QVERIFY(WaitIdle(*window));
    QCOMPARE(window->CurrentPath(), u"/"_s);
    QCOMPARE(window->PathEdit()->text(), u"/Alpha"_s); // the folder left is selected
    QVERIFY(window->Button("btBack")->isEnabled());
    window->Button("btBack")->click();
    QVERIFY(WaitIdle(*window));
    QCOMPARE(window->CurrentPath(), u"/Alpha"_s);
    QCOMPARE(Rows(*window), QStringList{u"Inner"_s});

    // A name with a slash would address another item: refused before any call.
    QVERIFY(window->SelectName(u"Inner"_s));
    TInputBox::SetNextAnswer(u"a/b"_s);
    window->Button("btRename")->click();
    QCOMPARE(UiTest::ShownTexts(), QStringList{u"Not a valid name: a/b"_s});
    TInputBox::SetNextAnswer(u"Inner #2 ü"_s);
    window->Button("btRename")->click();
    QVERIFY(WaitIdle(*window));
    QVERIFY(ServerExists(service, u"/Alpha/Inner #2 ü"_s));
    QVERIFY(!ServerExists(service, u"/Alpha/Inner"_s));
    QCOMPARE(Rows(*window), QStringList{u"Inner #2 ü"_s});

    // "No" keeps the item; "Yes" removes it.
    QVERIFY(window->SelectName(u"Inner #2 ü"_s));
    TMessageBox::SetNextAnswer(QMessageBox::No);
    window->Button("btRemove")->click();
    QVERIFY(WaitIdle(*window));
    QCOMPARE(UiTest::ShownTexts(), QStringList{u"Are you sure to delete the item \"Inner #2 ü\"?"_s});
    QVERIFY(ServerExists(service, u"/Alpha/Inner #2 ü"_s));
    TMessageBox::SetNextAnswer(QMessageBox::Yes);
    window->Button("btRemove")->click();
    QVERIFY(WaitIdle(*window));
    QVERIFY(!ServerExists(service, u"/Alpha/Inner #2 ü"_s));
    QVERIFY(Rows(*window).isEmpty());
    UiTest::ShownTexts();
}

void tst_CloudClient::folderOfAwkwardNamesGoesUpAndComesBackIdentical() {
    QFETCH(TCloudService, service);
    const QString source = FWork.filePath(u"up/Awkward #1 % ü"_s);
    QDir(source).removeRecursively();
    UiTest::WriteFile(source + u"/with blank.txt"_s, "blank");
    UiTest::WriteFile(source + u"/ünïcødé ß 日本.txt"_s, "unicode");
    UiTest::WriteFile(source + u"/hash#1.txt"_s, "hash");
    UiTest::WriteFile(source + u"/per%20cent%.txt"_s, "percent");
    UiTest::WriteFile(source + u"/.hidden"_s, "dot");
    UiTest::WriteFile(source + u"/empty"_s, QByteArray());
    UiTest::WriteFile(source + u"/sub dir #%/.deeper/ñ.bin"_s, RandomBytes(300000));
    QVERIFY(QDir().mkpath(source + u"/empty folder"_s));

    const auto window = Connected(service);
    QVERIFY(window->Connected());
    TFileDialog::SetNextFileName(source);
    window->Button("btUploadFolder")->click();
    QVERIFY(WaitIdle(*window));
    QVERIFY2(UiTest::ShownTexts().isEmpty(), qPrintable(LogLines(*window).join(u'\n')));
    QCOMPARE(LogLines(*window).last(), u"Operation is complete: \"%1\" is uploaded."_s.arg(source));
    QCOMPARE(Rows(*window), QStringList{u"Awkward #1 % ü"_s});
    bool ok = false;
    QCOMPARE(ServerFile(service, u"/Awkward #1 % ü/per%20cent%.txt"_s, &ok), QByteArray("percent"));
    QVERIFY(ok);
    QCOMPARE(ServerFile(service, u"/Awkward #1 % ü/sub dir #%/.deeper/ñ.bin"_s, &ok).size(), 300000);
    QVERIFY(ServerExists(service, u"/Awkward #1 % ü/empty folder"_s));

    const QString target = FWork.filePath(u"down"_s);
    QDir(target).removeRecursively();
    QVERIFY(QDir().mkpath(target));
    QVERIFY(window->SelectName(u"Awkward #1 % ü"_s));
    TFileDialog::SetNextFileName(target);
    window->Button("btDownload")->click();
    QVERIFY(WaitIdle(*window));
    QVERIFY2(UiTest::ShownTexts().isEmpty(), qPrintable(LogLines(*window).join(u'\n')));
    QCOMPARE(LogLines(*window).last(), u"Operation is complete: \"Awkward #1 % ü\" is downloaded."_s);
    const QMap<QString, QByteArray> before = Tree(source);
    QCOMPARE(before.size(), 10);
    QCOMPARE(Tree(target + u"/Awkward #1 % ü"_s), before);
}

void tst_CloudClient::cancelledTransfersLeaveNothingBehind() {
    QFETCH(TCloudService, service);
    const QByteArray big = RandomBytes(6 * 1024 * 1024 + 5);
    const QString local = FWork.filePath(u"big.bin"_s);
    UiTest::WriteFile(local, big);
    const auto window = Connected(service);
    QVERIFY(window->Connected());

    // Cancel is pressed while the first bytes go out; the worker waits for the click only here.
    bool pressed = false;
    window->WorkerProgressHook = [&](int64_t done, int64_t) {
        if (done > 0 && !pressed) {
            pressed = true;
            QMetaObject::invokeMethod(window->Button("btCancelTransfer"), &QPushButton::click,
                                      Qt::BlockingQueuedConnection);
        }
    };
    TFileDialog::SetNextFileName(local);
    window->Button("btUpload")->click();
    QVERIFY(window->Progress()->isVisible());
    QVERIFY(WaitIdle(*window));
    QVERIFY(pressed);
    QVERIFY(LogLines(*window).contains(u"The transfer was cancelled."_s));
    QVERIFY(UiTest::ShownTexts().isEmpty());
    QVERIFY(!window->Progress()->isVisible());
    QVERIFY(!ServerExists(service, u"/big.bin"_s));
    QVERIFY(Rows(*window).isEmpty());

    // Whole this time; then a cancelled download keeps the local file that was there.
    window->WorkerProgressHook = nullptr;
    TFileDialog::SetNextFileName(local);
    window->Button("btUpload")->click();
    QVERIFY(WaitIdle(*window));
    bool ok = false;
    QCOMPARE(ServerFile(service, u"/big.bin"_s, &ok), big);
    const QString kept = FWork.filePath(u"kept.bin"_s);
    UiTest::WriteFile(kept, "the user's own bytes");
    pressed = false;
    window->WorkerProgressHook = [&](int64_t done, int64_t) {
        if (done > 0 && !pressed) {
            pressed = true;
            QMetaObject::invokeMethod(window->Button("btCancelTransfer"), &QPushButton::click,
                                      Qt::BlockingQueuedConnection);
        }
    };
    QVERIFY(window->SelectName(u"big.bin"_s));
    TFileDialog::SetNextFileName(kept);
    window->Button("btDownload")->click();
    QVERIFY(WaitIdle(*window));
    QVERIFY(pressed);
    QCOMPARE(LogLines(*window).last(), u"The transfer was cancelled."_s);
    QCOMPARE(UiTest::ReadFile(kept), QByteArray("the user's own bytes"));
    QCOMPARE(QDir(FWork.path()).entryList({u"kept.bin*"_s}, QDir::Files | QDir::Hidden), QStringList{u"kept.bin"_s});
}

void tst_CloudClient::chooserReturnsTheChosenPath() {
    QFETCH(TCloudService, service);
    {
        // The tree through a client of the test's own.
        std::unique_ptr<TCloudDrive> drive = MakeCloudDrive(service, Endpoints());
        drive->SetRefreshToken(LoadRefreshToken(service));
        QVERIFY2(drive->MakeFolder(u"/Backups"_s), qPrintable(drive->ErrorText()));
        QVERIFY(drive->MakeFolder(u"/Backups/Docs"_s));
        QBuffer job;
        job.setData("job");
        QVERIFY(job.open(QIODevice::ReadOnly));
        QVERIFY(drive->UploadFile(job, u"/Backups/Docs.vlj"_s, 0));
    }

    // A folder: only folders are listed; "Select" returns the folder chosen.
    QStringList rowsSeen;
    TfrmCloudClient::SetChooserRunnerForTesting([&](TfrmCloudClient& dialog) {
        dialog.show();
        if (!WaitIdle(dialog))
            return int(QDialog::Rejected);
        rowsSeen = Rows(dialog);
        if (!dialog.Button("btSelect")->isVisible() || dialog.Details()->isVisible())
            return int(QDialog::Rejected);
        dialog.Activate(dialog.List()->topLevelItem(0));
        if (!WaitIdle(dialog) || !dialog.SelectName(u"Docs"_s))
            return int(QDialog::Rejected);
        dialog.Button("btSelect")->click();
        return dialog.result();
    });
    QCOMPARE(TfrmCloudClient::PickPath(nullptr, service, u"/"_s, false), u"/Backups/Docs"_s);
    QCOMPARE(rowsSeen, QStringList{u"Backups"_s});

    // A file, starting at it: its folder opens with the file selected. A folder is no answer.
    QString title;
    bool selectWithFolder = true;
    TfrmCloudClient::SetChooserRunnerForTesting([&](TfrmCloudClient& dialog) {
        title = dialog.windowTitle();
        dialog.show();
        if (!WaitIdle(dialog))
            return int(QDialog::Rejected);
        rowsSeen = Rows(dialog);
        const QString picked = dialog.PathEdit()->text();
        dialog.SelectName(u"Docs"_s);
        selectWithFolder = dialog.Button("btSelect")->isEnabled();
        dialog.SelectName(u"Docs.vlj"_s);
        if (picked != dialog.PathEdit()->text())
            return int(QDialog::Rejected);
        dialog.Button("btSelect")->click();
        return dialog.result();
    });
    QCOMPARE(TfrmCloudClient::PickPath(nullptr, service, u"/Backups/Docs.vlj"_s, true), u"/Backups/Docs.vlj"_s);
    QCOMPARE(title, u"Cloud Client - "_s + CloudServiceName(service));
    QCOMPARE(rowsSeen, (QStringList{u"Docs"_s, u"Docs.vlj"_s}));
    QVERIFY(!selectWithFolder);

    // Cancel returns nothing; pressed while the window still connects, it closes once the worker
    // is done.
    bool closedAtOnce = true;
    TfrmCloudClient::SetChooserRunnerForTesting([&](TfrmCloudClient& dialog) {
        dialog.show();
        if (!dialog.Busy())
            return int(QDialog::Accepted);
        dialog.Button("Button2")->click();
        closedAtOnce = !dialog.isVisible();
        if (!WaitIdle(dialog) || dialog.isVisible())
            return int(QDialog::Accepted);
        return dialog.result();
    });
    QCOMPARE(TfrmCloudClient::PickPath(nullptr, service, u"/Backups"_s, false), QString());
    QVERIFY(!closedAtOnce);
}

void tst_CloudClient::expiredSessionLeadsToSignIn() {
    QFETCH(TCloudService, service);
    const auto window = Connected(service);
    QVERIFY(window->Connected());
    const QString before = LoadRefreshToken(service);
    Revoke(service);

    // The browser signs in at the service, which sends it back to the waiting dialog.
    int opened = 0;
    TProductSite::SetOpener([&](const QUrl& url) {
        ++opened;
        FBrowser = std::thread([url] {
            QByteArray location;
            Get(url.toString(QUrl::FullyEncoded), &location);
            // A browser reaches the loopback listener by the name localhost.
            Get(QString::fromUtf8(location).replace(u"//localhost:"_s, u"//127.0.0.1:"_s));
        });
    });
    window->SignInPort = TServerProcess::FreePort();
    TInputBox::SetNextAnswer(u"After"_s);
    window->Button("btCreateDir")->click();
    QVERIFY(WaitIdle(*window));
    QCOMPARE(opened, 1);
    QVERIFY2(UiTest::ShownTexts().isEmpty(), qPrintable(LogLines(*window).join(u'\n')));
    QVERIFY(LogLines(*window).contains(u"Please authorize the app."_s));
    // The work asked for runs once signed in.
    QVERIFY(ServerExists(service, u"/After"_s));
    QCOMPARE(Rows(*window), QStringList{u"After"_s});
    const QString after = LoadRefreshToken(service);
    QVERIFY(!after.isEmpty());
    QVERIFY(after != before);
    QCOMPARE(window->Drive(service)->RefreshToken(), after);
}

void tst_CloudClient::resetAccessForgetsTheToken() {
    const auto window = Connected(TCloudService::GoogleDrive);
    QVERIFY(window->Connected());
    window->Button("btResetAccess")->click();
    QCOMPARE(UiTest::ShownTexts(), QStringList{u"Tokens cleared. Access has been reset."_s});
    QVERIFY(!QFile::exists(TokenFilePath(TCloudService::GoogleDrive)));
    QVERIFY(window->Drive(TCloudService::GoogleDrive)->RefreshToken().isEmpty());
    QVERIFY(!window->Connected());
    QCOMPARE(window->StatusText()->text(), u"Disconnected"_s);
    QVERIFY(window->List()->topLevelItemCount() == 0);
    // The other services keep theirs, and closing writes no token back.
    window->close();
    QVERIFY(!QFile::exists(TokenFilePath(TCloudService::GoogleDrive)));
    QVERIFY(QFile::exists(TokenFilePath(TCloudService::Dropbox)));
}

void tst_CloudClient::screenshot() {
    const auto window = Connected(TCloudService::Dropbox);
    QVERIFY(window->Connected());
    for (const QString& name : {u"Documents"_s, u"Photos"_s}) {
        TInputBox::SetNextAnswer(name);
        window->Button("btCreateDir")->click();
        QVERIFY(WaitIdle(*window));
    }
    const QString local = FWork.filePath(u"Report 2024.pdf"_s);
    UiTest::WriteFile(local, RandomBytes(180000));
    TFileDialog::SetNextFileName(local);
    window->Button("btUpload")->click();
    QVERIFY(WaitIdle(*window));
    QVERIFY(window->SelectName(u"Report 2024.pdf"_s));
    QCOMPARE(window->PathEdit()->text(), u"/Report 2024.pdf"_s);
    QCOMPARE(window->findChild<QLabel*>(u"Size"_s)->text(), FormatSize(180000));
    window->resize(820, 520);
    QVERIFY(window->grab().save(UiTest::Artifacts + u"/cloud-client.png"_s));
}

void tst_CloudClient::toolsMenuOpensTheWindow() {
    const QString dataFolder = App().ApplicationDirectory;
    {
        UiTest::TFixture fixture;
        const auto context = fixture.StartContext();
        const auto scheduler = fixture.Scheduler(*context);
        TfrmMainVaultora main(*context, *scheduler);
        QString shown;
        bool chooser = true;
        main.DialogRunner = [&](QDialog& dialog) {
            auto* window = qobject_cast<TfrmCloudClient*>(&dialog);
            if (!window)
                return int(QDialog::Rejected);
            shown = window->windowTitle();
            window->show();
            chooser = window->Button("btSelect")->isVisible();
            return int(QDialog::Rejected);
        };
        QAction* action = main.findChild<QAction*>(u"actCloudClient"_s);
        QVERIFY(action);
        action->trigger();
        QCOMPARE(shown, u"Cloud Client"_s);
        QVERIFY(!chooser);
        QVERIFY(UiTest::ShownTexts().isEmpty());
    }
    App().ApplicationDirectory = dataFolder;
}

QTEST_MAIN(tst_CloudClient)
#include "tst_cloudclient.moc"
