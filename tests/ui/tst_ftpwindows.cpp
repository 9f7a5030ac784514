// The FTP account dialogs and the FTP client window against an FTP server in memory.

#include "TFakeFtpConnection.h"
#include "UiTestSupport.h"

#include "ui/TFrmFTPSettings.h"
#include "ui/TfrmFTPAccountsList.h"
#include "ui/TfrmFTPClient.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmPassword.h"

#include "core/base/TextFormat.h"
#include "core/format/OptionsFile.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

TFTPAccount Account(const QString& name, const QString& password = u"secret"_s) {
    TFTPAccount account;
    account.AccName = name;
    account.Host = u"ftp.example.org"_s;
    account.Port = 2121;
    account.Username = u"anna"_s;
    account.Password = password;
    return account;
}

QStringList Names(const QListWidget& list) {
    QStringList names;
    for (int i = 0; i < list.count(); ++i)
        names.append(list.item(i)->text());
    return names;
}

// The rows of the client's list: "name|size" ("name|" for folders), in order.
QStringList Rows(const TfrmFTPClient& client) {
    QStringList rows;
    QTreeWidget* list = client.List();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.append(list->topLevelItem(i)->text(0) + u'|' + list->topLevelItem(i)->text(1));
    return rows;
}

QStringList LogLines(const TfrmFTPClient& client) {
    QStringList lines;
    for (int i = 0; i < client.StatusLog()->count(); ++i)
        lines.append(client.StatusLog()->item(i)->text());
    return lines;
}

QTreeWidgetItem* Row(const TfrmFTPClient& client, const QString& name) {
    const QList<QTreeWidgetItem*> found = client.List()->findItems(name, Qt::MatchExactly);
    if (found.size() != 1)
        qFatal("no single row %s", qPrintable(name));
    return found.first();
}

void Select(const TfrmFTPClient& client, const QString& name) {
    client.List()->clearSelection();
    Row(client, name)->setSelected(true);
}

// Fills the settings dialog and presses OK; the dialog's answer.
int FillAndOk(QDialog& dialog, const QString& name, const QString& port = u"21"_s) {
    auto& settings = dynamic_cast<TFrmFTPSettings&>(dialog);
    settings.NameEdit()->setText(name);
    settings.HostEdit()->setText(u"ftp.example.org"_s);
    settings.PortEdit()->setText(port);
    settings.UserEdit()->setText(u"anna"_s);
    settings.show();
    QTest::mouseClick(settings.OkButton(), Qt::LeftButton);
    return settings.result();
}

} // namespace

class TestFtpWindows : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TFakeFtpServer> m_server;

    TOptions Stored() const {
        TOptions options;
        if (!LoadOptions(OptionsFilePath(), options))
            qFatal("no options file");
        return options;
    }

    // A client connected to the account "Main" in standalone use, at the login folder.
    std::unique_ptr<TfrmFTPClient> Connected() {
        auto client = std::make_unique<TfrmFTPClient>();
        client->show();
        client->MenuRunner = [](QMenu& menu) { return menu.actions().value(0); };
        QTest::mouseClick(client->Button("btnConnect"), Qt::LeftButton);
        return client;
    }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<UiTest::TFixture>();
        m_context = m_fixture->StartContext();
        App().Options.FTPAccounts.clear();
        App().Options.LastFTPAccountID = 0;
        App().Options.Proxy = TProxyOptions();
        m_server = std::make_unique<TFakeFtpServer>();
        m_server->Install();
        m_server->AddFolder(u"/home/anna/docs"_s);
        m_server->AddFolder(u"/home/anna/docs/2024"_s);
        m_server->AddFile(u"/home/anna/notes.txt"_s, "hello world, twenty six b");
        m_server->AddFile(u"/home/anna/docs/report.pdf"_s, QByteArray(3000, 'r'));
    }
    void cleanup() {
        SetFtpConnectionFactoryForTesting(nullptr);
        m_server.reset();
        m_context.reset();
        m_fixture.reset();
    }

    // ---- FTP settings dialog ----

    void settingsStartCleared() {
        TFrmFTPSettings dialog;
        dialog.Load(Account(u"Old"_s));
        dialog.Clear();
        dialog.show();
        QCOMPARE(dialog.windowTitle(), u" FTP Settings"_s);
        QCOMPARE(dialog.NameEdit()->text(), QString());
        QCOMPARE(dialog.HostEdit()->text(), QString());
        QCOMPARE(dialog.PortEdit()->text(), u"21"_s);
        QCOMPARE(dialog.UserEdit()->text(), QString());
        QCOMPARE(dialog.PasswordState()->text(), u"Password is not set"_s);
        QVERIFY(dialog.PassiveBox()->isChecked());
        QVERIFY(!dialog.FtpsBox()->isChecked());
        QCOMPARE(dialog.Account().Password, QString());
    }

    void okChecksNameAndPort_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("error");
        QTest::newRow("accepted") << u"Main"_s << u"21"_s << QString();
        QTest::newRow("accepted, blanks around the port") << u"Main"_s << u" 990 "_s << QString();
        QTest::newRow("no name") << QString() << u"21"_s << u"Please specify FTP Account Name"_s;
        QTest::newRow("blank name") << u"   "_s << u"21"_s << u"Please specify FTP Account Name"_s;
        QTest::newRow("port not a number") << u"Main"_s << u"21a"_s << u"Please specify a port from 1 to 65535"_s;
        QTest::newRow("port empty") << u"Main"_s << QString() << u"Please specify a port from 1 to 65535"_s;
        QTest::newRow("port 0") << u"Main"_s << u"0"_s << u"Please specify a port from 1 to 65535"_s;
        QTest::newRow("port too high") << u"Main"_s << u"65536"_s << u"Please specify a port from 1 to 65535"_s;
    }
    void okChecksNameAndPort() {
        QFETCH(QString, name);
        QFETCH(QString, port);
        QFETCH(QString, error);
        TFrmFTPSettings dialog;
        const int result = FillAndOk(dialog, name, port);
        QCOMPARE(UiTest::ShownTexts(), error.isEmpty() ? QStringList() : QStringList{error});
        QCOMPARE(result, error.isEmpty() ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(dialog.isVisible(), !error.isEmpty());
        if (error.isEmpty())
            QCOMPARE(dialog.Account().Port, port.trimmed().toInt());
    }

    void setPasswordUpdatesTheLabel() {
        TFrmFTPSettings dialog;
        dialog.show();
        dialog.DialogRunner = [](QDialog& shown) {
            auto& password = dynamic_cast<TfrmPassword&>(shown);
            password.PasswordEdit()->setText(u" pw1 "_s);
            password.ConfirmationEdit()->setText(u"pw1"_s);
            password.accept();
            return password.result();
        };
        dialog.SetPassword();
        QCOMPARE(dialog.PasswordState()->text(), u"Password is set"_s);
        QCOMPARE(dialog.Account().Password, u"pw1"_s);
        // Both fields empty clear it.
        dialog.DialogRunner = [](QDialog& shown) {
            shown.accept();
            return shown.result();
        };
        dialog.SetPassword();
        QCOMPARE(dialog.PasswordState()->text(), u"Password is not set"_s);
        QCOMPARE(dialog.Account().Password, QString());
    }

    void testReportsTheConnection_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("connections");
        QTest::newRow("good") << u"secret"_s << u"2121"_s << u"Successfully tested."_s << 1;
        QTest::newRow("wrong password") << u"wrong"_s << u"2121"_s << u"Connection failed: 530 Login incorrect."_s << 1;
        QTest::newRow("port not a number")
            << u"secret"_s << u"21x"_s << u"Connection failed: Please specify a port from 1 to 65535"_s << 0;
    }
    void testReportsTheConnection() {
        QFETCH(QString, password);
        QFETCH(QString, port);
        QFETCH(QString, shown);
        QFETCH(int, connections);
        App().Options.Proxy = {true, 2, u"proxy.example"_s, u"1080"_s, u"pu"_s, u"pp"_s};
        TFrmFTPSettings dialog;
        TFTPAccount account = Account(u"Main"_s, password);
        account.PassiveMode = false;
        account.FTPS = true;
        dialog.Load(account);
        dialog.PortEdit()->setText(port);
        dialog.show();
        QTest::mouseClick(dialog.TestButton(), Qt::LeftButton);
        QCOMPARE(UiTest::ShownTexts(), QStringList{shown});
        QCOMPARE(m_server->Made.size(), connections);
        if (connections > 0) {
            // The dialog's fields, not a stored account, and the proxy of the options.
            const TFtpConnectSettings& made = m_server->Made.first();
            QCOMPARE(made.Host, u"ftp.example.org"_s);
            QCOMPARE(made.Port, 2121);
            QCOMPARE(made.Username, u"anna"_s);
            QCOMPARE(made.Password, password);
            QVERIFY(!made.PassiveMode);
            QVERIFY(made.FTPS);
            QVERIFY(made.Proxy == App().Options.Proxy);
        }
        QVERIFY(App().Options.FTPAccounts.isEmpty());
    }

    // Without the main window, "Proxy Settings..." opens the options on their proxy page and keeps
    // only that page.
    void proxySettingsOpenTheProxyPage() {
        TFrmFTPSettings dialog;
        int page = -1;
        dialog.DialogRunner = [&page](QDialog& shown) {
            auto& options = dynamic_cast<TfrmOptions&>(shown);
            page = options.Tabs()->currentIndex();
            options.findChild<QCheckBox*>(u"cbProxyEnabled"_s)->setChecked(true);
            return int(QDialog::Accepted);
        };
        dialog.OpenProxySettings();
        QCOMPARE(page, 5);
        QVERIFY(App().Options.Proxy.Enabled);
        QVERIFY(Stored().Proxy.Enabled);
    }

    // ---- FTP accounts list ----

    void addEditRemoveKeepTheListAndTheFileInStep() {
        TfrmFTPAccountsList list;
        list.show();
        QCOMPARE(list.windowTitle(), u" FTP Accounts"_s);
        list.DialogRunner = [](QDialog& dialog) { return FillAndOk(dialog, u"First"_s); };
        list.Add();
        list.DialogRunner = [](QDialog& dialog) { return FillAndOk(dialog, u"Second"_s); };
        list.Add();
        list.DialogRunner = [](QDialog& dialog) { return FillAndOk(dialog, u"Third"_s); };
        list.Add();
        QCOMPARE(Names(*list.List()), (QStringList{u"First"_s, u"Second"_s, u"Third"_s}));
        QCOMPARE(list.List()->currentRow(), 2);
        QCOMPARE(Stored().FTPAccounts.size(), 3);
        QCOMPARE(Stored().LastFTPAccountID, 3);

        // Edit keeps the ID and the selection.
        list.List()->setCurrentRow(1);
        list.DialogRunner = [](QDialog& dialog) { return FillAndOk(dialog, u"Second renamed"_s, u"2121"_s); };
        list.Edit();
        QCOMPARE(list.List()->currentRow(), 1);
        QCOMPARE(list.List()->item(1)->text(), u"Second renamed"_s);
        QCOMPARE(Stored().FTPAccounts.at(1).ID, 2);
        QCOMPARE(Stored().FTPAccounts.at(1).Port, 2121);

        // A refused port leaves no account behind, half filled or otherwise.
        list.DialogRunner = [](QDialog& dialog) { return FillAndOk(dialog, u"Fourth"_s, u"port"_s); };
        list.Add();
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Please specify a port from 1 to 65535"_s});
        QCOMPARE(App().Options.FTPAccounts.size(), 3);

        // Cancel keeps the account.
        TMessageBox::SetNextAnswer(QMessageBox::Cancel);
        list.Remove();
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Remove this FTP account from the list?"_s});
        QCOMPARE(list.List()->count(), 3);

        // Removing the middle one selects the one now in its place; the last, the new last.
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        list.Remove();
        QCOMPARE(Names(*list.List()), (QStringList{u"First"_s, u"Third"_s}));
        QCOMPARE(list.List()->currentRow(), 1);
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        list.Remove();
        QCOMPARE(list.List()->currentRow(), 0);
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        list.Remove();
        QCOMPARE(list.List()->count(), 0);
        QCOMPARE(list.List()->currentRow(), -1);
        QVERIFY(Stored().FTPAccounts.isEmpty());

        // A later account never takes a removed one's ID.
        list.DialogRunner = [](QDialog& dialog) { return FillAndOk(dialog, u"Again"_s); };
        list.Add();
        QCOMPARE(Stored().FTPAccounts.value(0).ID, 4);
        QCOMPARE(list.List()->currentRow(), 0);
    }

    // ---- FTP client ----

    void browsesAndGoesBack() {
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        auto client = std::make_unique<TfrmFTPClient>();
        client->show();
        QCOMPARE(client->OnlineState()->text(), u"Offline"_s);
        QVERIFY(client->Button("btnConnect")->isEnabled());
        QVERIFY(!client->Button("btnBack")->isEnabled());
        QVERIFY(!client->Button("btnSelect")->isVisible());
        QVERIFY(client->Button("btnCreateFolder")->isVisible());
        QStringList offered;
        client->MenuRunner = [&offered](QMenu& menu) {
            for (QAction* action : menu.actions())
                offered.append(action->text());
            return menu.actions().value(0);
        };
        App().Options.FTPAccounts.append(Account(u"Other"_s));
        QTest::mouseClick(client->Button("btnConnect"), Qt::LeftButton);
        QCOMPARE(offered, (QStringList{u"Main"_s, u"Other"_s}));
        QCOMPARE(client->windowTitle(), u"FTP Client - Main"_s);
        QCOMPARE(client->OnlineState()->text(), u"Online"_s);
        QCOMPARE(client->PathEdit()->text(), u"/home/anna"_s);
        QCOMPARE(client->FRootDir, u"/home/anna"_s);
        QCOMPARE(Rows(*client), (QStringList{u"docs|"_s, u"notes.txt|"_s + FormatSize(25)}));
        QVERIFY(!Row(*client, u"notes.txt"_s)->text(2).isEmpty());
        QVERIFY(!client->Button("btnConnect")->isEnabled());
        QVERIFY(!client->Button("btnBack")->isEnabled());

        client->Activate(Row(*client, u"docs"_s));
        client->Activate(Row(*client, u"2024"_s));
        QCOMPARE(client->PathEdit()->text(), u"/home/anna/docs/2024"_s);
        QVERIFY(client->Button("btnBack")->isEnabled());
        QTest::mouseClick(client->Button("btnBack"), Qt::LeftButton);
        QCOMPARE(client->CurrentDir, u"/home/anna/docs"_s);
        QTest::mouseClick(client->Button("btnBack"), Qt::LeftButton);
        QCOMPARE(client->CurrentDir, u"/home/anna"_s);
        QVERIFY(!client->Button("btnBack")->isEnabled());

        // Up leaves the back list alone; Home returns to the login folder.
        QTest::mouseClick(client->Button("btnUp"), Qt::LeftButton);
        QCOMPARE(client->CurrentDir, u"/home"_s);
        QVERIFY(!client->Button("btnBack")->isEnabled());
        QTest::mouseClick(client->Button("btnHome"), Qt::LeftButton);
        QCOMPARE(client->CurrentDir, u"/home/anna"_s);

        // Selecting shows the item's path in file-choosing mode.
        Select(*client, u"notes.txt"_s);
        QCOMPARE(client->PathEdit()->text(), u"/home/anna/notes.txt"_s);

        QTest::mouseClick(client->Button("btnDisconnect"), Qt::LeftButton);
        QCOMPARE(client->OnlineState()->text(), u"Offline"_s);
        QCOMPARE(client->PathEdit()->text(), u"/"_s);
        QCOMPARE(client->List()->topLevelItemCount(), 0);
        QVERIFY(client->Button("btnConnect")->isEnabled());
        QVERIFY(!client->Button("btnDownload")->isEnabled());
    }

    void wrongPasswordIsLoggedInRed() {
        App().Options.FTPAccounts = {Account(u"Main"_s, u"wrong"_s)};
        auto client = Connected();
        QCOMPARE(client->OnlineState()->text(), u"Offline"_s);
        const QListWidgetItem* last = client->StatusLog()->item(client->StatusLog()->count() - 1);
        QCOMPARE(last->text(), u"Connection failed: 530 Login incorrect."_s);
        QCOMPARE(last->foreground().color(), QColor(Qt::red));
    }

    // A server that answers SIZE on folders shows them as files, and double-click does nothing.
    void sizeOnFoldersShowsThemAsFiles() {
        m_server->SizeWorksOnFolders = true;
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        auto client = Connected();
        QCOMPARE(Rows(*client), (QStringList{u"docs|"_s + FormatSize(4096), u"notes.txt|"_s + FormatSize(25)}));
        client->Activate(Row(*client, u"docs"_s));
        QCOMPARE(client->CurrentDir, u"/home/anna"_s);
        QVERIFY(!client->Button("btnBack")->isEnabled());
    }

    void removeAsksFirst() {
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        m_server->AddFolder(u"/home/anna/empty"_s);
        auto client = Connected();
        client->List()->clearSelection();
        QTest::mouseClick(client->Button("btnRemove"), Qt::LeftButton);
        QCOMPARE(UiTest::ShownTexts(),
                 QStringList{u"You must first select a file or folder to delete from the site."_s});

        Select(*client, u"notes.txt"_s);
        TMessageBox::SetNextAnswer(QMessageBox::No);
        QTest::mouseClick(client->Button("btnRemove"), Qt::LeftButton);
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Are you sure you want to delete notes.txt?"_s});
        QVERIFY(m_server->Files.contains(u"/home/anna/notes.txt"_s));

        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(client->Button("btnRemove"), Qt::LeftButton);
        QVERIFY(!m_server->Files.contains(u"/home/anna/notes.txt"_s));
        Select(*client, u"empty"_s);
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(client->Button("btnRemove"), Qt::LeftButton);
        QVERIFY(!m_server->Folders.contains(u"/home/anna/empty"_s));
        QCOMPARE(Rows(*client), QStringList{u"docs|"_s});
    }

    void renameAsksForTheNewName() {
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        auto client = Connected();
        client->List()->clearSelection();
        QTest::mouseClick(client->Button("btnRename"), Qt::LeftButton);
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"You must first select a file or folder to rename."_s});
        Select(*client, u"notes.txt"_s);
        TInputBox::SetNextAnswer(u"notes 2024.txt"_s);
        QTest::mouseClick(client->Button("btnRename"), Qt::LeftButton);
        QCOMPARE(TInputBox::TakePrompts(), QStringList{u"New name:"_s});
        QVERIFY(!m_server->Files.contains(u"/home/anna/notes.txt"_s));
        QCOMPARE(m_server->Files.value(u"/home/anna/notes 2024.txt"_s).Data, "hello world, twenty six b"_ba);
        QCOMPARE(Rows(*client), (QStringList{u"docs|"_s, u"notes 2024.txt|"_s + FormatSize(25)}));
        // Cancelled: nothing changes.
        Select(*client, u"notes 2024.txt"_s);
        QTest::mouseClick(client->Button("btnRename"), Qt::LeftButton);
        QVERIFY(m_server->Files.contains(u"/home/anna/notes 2024.txt"_s));
    }

    void createFolderEntersIt() {
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        auto client = Connected();
        TInputBox::SetNextAnswer(u"Fotos 2024"_s);
        QTest::mouseClick(client->Button("btnCreateFolder"), Qt::LeftButton);
        QCOMPARE(TInputBox::TakePrompts(), QStringList{u"New folder name:"_s});
        QVERIFY(m_server->Folders.contains(u"/home/anna/Fotos 2024"_s));
        QCOMPARE(client->CurrentDir, u"/home/anna/Fotos 2024"_s);
        QTest::mouseClick(client->Button("btnBack"), Qt::LeftButton);
        QCOMPARE(client->CurrentDir, u"/home/anna"_s);

        // A name that would end the command is refused before anything is sent.
        TInputBox::SetNextAnswer(u"a\r\nDELE notes.txt"_s);
        QTest::mouseClick(client->Button("btnCreateFolder"), Qt::LeftButton);
        QCOMPARE(UiTest::ShownTexts().size(), 1);
        QCOMPARE(m_server->Folders.size(), 6);
    }

    void uploadAndDownloadRoundTrip() {
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        auto client = Connected();
        const QByteArray content = "line one\nline two\n\x00\xff binary tail"_ba;
        const QString local = m_fixture->Path(u"up/data file.bin"_s);
        UiTest::WriteFile(local, content);
        TFileDialog::SetNextFileName(local);
        QTest::mouseClick(client->Button("btnUpload"), Qt::LeftButton);
        QCOMPARE(m_server->Files.value(u"/home/anna/data file.bin"_s).Data, content);
        QCOMPARE(Row(*client, u"data file.bin"_s)->text(1), FormatSize(content.size()));
        QStringList log = LogLines(*client);
        QVERIFY(log.contains(u"Beginning work: %1"_s.arg(content.size())));
        QVERIFY(log.contains(u"Working: %1"_s.arg(content.size())));
        QCOMPARE(log.filter(u"Work end"_s).size(), 1);
        QVERIFY(!client->Progress()->isVisible());

        // Download into a new file.
        Select(*client, u"data file.bin"_s);
        const QString target = m_fixture->Path(u"down.bin"_s);
        TFileDialog::SetNextFileName(target);
        QTest::mouseClick(client->Button("btnDownload"), Qt::LeftButton);
        QCOMPARE(UiTest::ReadFile(target), content);
        QCOMPARE(UiTest::ShownTexts(), QStringList());

        // Over an existing file: Yes replaces it.
        UiTest::WriteFile(target, "something else, longer than the content on the server, by far");
        TFileDialog::SetNextFileName(target);
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(client->Button("btnDownload"), Qt::LeftButton);
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"File exists overwrite?"_s});
        QCOMPARE(UiTest::ReadFile(target), content);

        // No keeps it and continues it where the server resumes: a partial download completes.
        UiTest::WriteFile(target, content.left(10));
        TFileDialog::SetNextFileName(target);
        TMessageBox::SetNextAnswer(QMessageBox::No);
        QTest::mouseClick(client->Button("btnDownload"), Qt::LeftButton);
        QCOMPARE(UiTest::ReadFile(target), content);

        // A folder is entered instead.
        QTest::mouseClick(client->Button("btnHome"), Qt::LeftButton);
        Select(*client, u"docs"_s);
        QTest::mouseClick(client->Button("btnDownload"), Qt::LeftButton);
        QCOMPARE(client->CurrentDir, u"/home/anna/docs"_s);
    }

    void cancelStopsTheTransfer() {
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        auto client = Connected();
        client->Activate(Row(*client, u"docs"_s));
        Select(*client, u"report.pdf"_s);
        int chunks = 0;
        bool buttonShown = false;
        bool othersDisabled = true;
        m_server->DuringTransfer = [&](int) {
            ++chunks;
            QPushButton* cancel = client->Button("btnCancelTransfer");
            buttonShown = !cancel->isHidden();
            othersDisabled = !client->Button("btnDisconnect")->isEnabled() && !client->Button("btnUpload")->isEnabled();
            if (chunks == 3)
                QTest::mouseClick(cancel, Qt::LeftButton);
        };
        const QString target = m_fixture->Path(u"report.pdf"_s);
        TFileDialog::SetNextFileName(target);
        QTest::mouseClick(client->Button("btnDownload"), Qt::LeftButton);
        QCOMPARE(chunks, 3);
        QVERIFY(buttonShown);
        QVERIFY(othersDisabled);
        QVERIFY(client->Connection()->Aborted());
        QVERIFY(QFileInfo(target).size() < 3000);
        QVERIFY(LogLines(*client).contains(u"The transfer was cancelled."_s));
        QVERIFY(client->Button("btnCancelTransfer")->isHidden());
        QVERIFY(client->Button("btnDownload")->isEnabled());

        // The next transfer runs to its end.
        m_server->DuringTransfer = nullptr;
        QFile::remove(target);
        TFileDialog::SetNextFileName(target);
        QTest::mouseClick(client->Button("btnDownload"), Qt::LeftButton);
        QCOMPARE(UiTest::ReadFile(target), QByteArray(3000, 'r'));
    }

    void chooserReturnsTheFolderOrFile_data() {
        QTest::addColumn<bool>("files");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("path");
        QTest::newRow("folder mode, file selected") << false << u"report.pdf"_s << u"/home/anna/docs"_s;
        QTest::newRow("folder mode, folder selected") << false << u"2024"_s << u"/home/anna/docs/2024"_s;
        QTest::newRow("file mode, file selected") << true << u"report.pdf"_s << u"/home/anna/docs/report.pdf"_s;
    }
    void chooserReturnsTheFolderOrFile() {
        QFETCH(bool, files);
        QFETCH(QString, selected);
        QFETCH(QString, path);
        App().Options.FTPAccounts = {Account(u"Other"_s, u"wrong"_s), Account(u"Main"_s)};
        bool toolsHidden = false;
        QString title;
        TfrmFTPClient::SetChooserRunnerForTesting([&](TfrmFTPClient& client) {
            client.show();
            title = client.windowTitle();
            toolsHidden = !client.Button("btnCreateFolder")->isVisible() &&
                          !client.Button("btnSettings")->isVisible() && client.Button("btnSelect")->isVisible();
            client.Activate(Row(client, u"docs"_s));
            Select(client, selected);
            QTest::mouseClick(client.Button("btnSelect"), Qt::LeftButton);
            return client.result();
        });
        QString chosen;
        QVERIFY(TfrmFTPClient::PickFtpPath(nullptr, 1, files, chosen));
        TfrmFTPClient::SetChooserRunnerForTesting(nullptr);
        QCOMPARE(chosen, path);
        QCOMPARE(title, u"FTP Client - Main"_s);
        QVERIFY(toolsHidden);
    }

    void chooserCancelReturnsNothing() {
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        TfrmFTPClient::SetChooserRunnerForTesting([](TfrmFTPClient& client) {
            client.show();
            QTest::mouseClick(client.Button("btnCancel"), Qt::LeftButton);
            return client.result();
        });
        QString chosen = u"unchanged"_s;
        QVERIFY(!TfrmFTPClient::PickFtpPath(nullptr, 0, false, chosen));
        TfrmFTPClient::SetChooserRunnerForTesting(nullptr);
        QCOMPARE(chosen, u"unchanged"_s);
    }

    void settingsAndHelp() {
        App().Options.FTPAccounts = {Account(u"Main"_s)};
        TfrmFTPClient client;
        client.show();
        QStringList listed;
        client.DialogRunner = [&listed](QDialog& dialog) {
            listed = Names(*dynamic_cast<TfrmFTPAccountsList&>(dialog).List());
            return int(QDialog::Accepted);
        };
        QTest::mouseClick(client.Button("btnSettings"), Qt::LeftButton);
        QCOMPARE(listed, QStringList{u"Main"_s});
        QUrl opened;
        TProductSite::SetOpener([&opened](const QUrl& url) { opened = url; });
        QTest::mouseClick(client.Button("btnHelp"), Qt::LeftButton);
        QCOMPARE(opened.scheme(), u"https"_s);
        QCOMPARE(opened.path(), u"/manual/ftp-client.html"_s);
    }
};

QTEST_MAIN(TestFtpWindows)
#include "tst_ftpwindows.moc"
