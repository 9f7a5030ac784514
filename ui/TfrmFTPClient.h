#pragma once

#include "net/TFtpConnection.h"

#include <QColor>
#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// "FTP Client": a small file manager for the FTP accounts. Standalone (InitialFTPAccountInd -1)
// it browses, creates folders, removes, downloads and uploads; as a chooser it connects to one
// account at once and returns a folder or file in edSubpath when closed through "Select".
// The conversation runs on the window's thread; a transfer keeps the window responsive for its
// "Cancel" button only.
class TfrmFTPClient : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFTPClient(QWidget* parent = nullptr);
    ~TfrmFTPClient() override;

    int InitialFTPAccountInd = -1;
    bool ShowSelectedFileInPath = true;
    QString CurrentDir;
    QString FRootDir;
    QStringList FLastDirStack;

    // Picks a folder (files false) or a file on the account at accountIndex; false when the user
    // cancelled. path holds the server path chosen.
    static bool PickFtpPath(QWidget* parent, int accountIndex, bool files, QString& path);
    // Runs the chooser instead of exec(); tests drive it.
    static void SetChooserRunnerForTesting(std::function<int(TfrmFTPClient&)> runner);

    void ConnectFTP(int acind);
    void DisplayFTP();
    void SetControls();
    void Log(const QString& message, const QColor& color);

    // The actions of the buttons.
    void ConnectClicked();
    void DisconnectClicked();
    void SettingsClicked();
    void HelpClicked();
    void CreateFolderClicked();
    void RemoveClicked();
    void RenameClicked();
    void DownloadClicked();
    void UploadClicked();
    void UpClicked();
    void BackClicked();
    void HomeClicked();
    void CancelTransferClicked();
    // Double-click: enters a folder.
    void Activate(QTreeWidgetItem* item);

    // The account menu of "Connect"; tests replace how it is shown (the action chosen, or null).
    std::function<QAction*(QMenu&)> MenuRunner;
    // Runs the accounts list of "Settings"; tests replace it.
    std::function<int(QDialog&)> DialogRunner;

    QLineEdit* PathEdit() const { return m_path; }
    QTreeWidget* List() const { return m_list; }
    QListWidget* StatusLog() const { return m_log; }
    QLabel* OnlineState() const { return m_online; }
    QProgressBar* Progress() const { return m_progress; }
    QPushButton* Button(const char* objectName) const;
    TFtpConnection* Connection() const { return m_connection.get(); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    void Opening();
    void Retranslate();
    void Disconnect();
    // CWD into path (pushing the current folder onto the back list); false when refused.
    bool EnterFolder(const QString& path);
    void UpdatePath();
    QString ServerPath(const QString& name) const;
    QTreeWidgetItem* Selected() const;
    bool IsFolder(const QTreeWidgetItem* item) const;
    // Logs the connection's error in red and refreshes the controls.
    void Failed(const QString& what);
    // A name that can go into a command: no line breaks or other control characters.
    bool UsableName(const QString& name);
    bool Transfer(const std::function<bool()>& call);
    bool OnProgress(int64_t done, int64_t total);

    bool m_opened = false;
    bool m_busy = false;
    bool m_cancelTransfer = false;
    bool m_workBegun = false;
    int m_workTenth = 0;
    std::unique_ptr<TFtpConnection> m_connection;

    QPushButton* m_connect;
    QPushButton* m_disconnect;
    QPushButton* m_settings;
    QPushButton* m_help;
    QLineEdit* m_path;
    QWidget* m_tools;
    QPushButton* m_createFolder;
    QPushButton* m_remove;
    QPushButton* m_rename;
    QPushButton* m_download;
    QPushButton* m_upload;
    QPushButton* m_up;
    QPushButton* m_back;
    QPushButton* m_home;
    QTreeWidget* m_list;
    QListWidget* m_log;
    QLabel* m_online;
    QProgressBar* m_progress;
    QPushButton* m_cancelTransferButton;
    QWidget* m_bottom;
    QPushButton* m_select;
    QPushButton* m_cancel;
};
