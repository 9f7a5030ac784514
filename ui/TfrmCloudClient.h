#pragma once

#include "cloud/CloudServices.h"
#include "cloud/TCloudDrive.h"

#include <QDialog>
#include <QStringList>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// "Cloud Client": a small file manager for the user's Dropbox, Google Drive and OneDrive. From the
// main window (InitialCloudServiceInd -1) the user picks the service with "Connect", browses,
// creates, renames and removes items and moves files and folders both ways; as a chooser it
// connects to one service at once and returns a folder or file in edSubpath through "Select".
//
// Every call to a service runs on the window's own worker thread, one at a time; the window stays
// responsive and hears of the outcome through a queued call. The drives are touched by the window's
// thread only while the worker is idle (sign-in, Reset Access, closing).
class TfrmCloudClient : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCloudClient(QWidget* parent = nullptr);
    ~TfrmCloudClient() override;

    // -1: the user chooses the service; else the TCloudService connected at once.
    int InitialCloudServiceInd = -1;
    // The service last connected (-1 before any).
    int CloudServiceInd = -1;
    // True: files are listed too and details are shown; false: folders only.
    bool ShowSelectedFileInPath = true;
    // A chooser for a file returns only a selected file (a folder path is no file).
    bool PickFile = false;
    // The folder a chooser opens in (the root when it does not exist).
    QString StartPath;
    // The sign-in's loopback port (0: the service's registered one).
    quint16 SignInPort = 0;

    // Lets the user choose a folder (pickFile false) or a file on the service, starting in
    // startPath; the chosen "/" path, or an empty text when the user cancelled.
    static QString PickPath(QWidget* parent, TCloudService service, const QString& startPath, bool pickFile);
    // Runs the chooser instead of exec(); tests (also of the windows that call PickPath) drive it.
    static void SetChooserRunnerForTesting(std::function<int(TfrmCloudClient&)> runner);

    void ConnectCloud(int acind);
    void Log(const QString& message);

    // The actions of the buttons.
    void ConnectClicked();
    void ResetAccessClicked();
    void HelpClicked();
    void CreateFolderClicked();
    void RemoveClicked();
    void RenameClicked();
    void DownloadClicked();
    void UploadClicked();
    void UploadFolderClicked();
    void UpClicked();
    void BackClicked();
    void CancelTransferClicked();
    // Double-click: enters a folder.
    void Activate(QTreeWidgetItem* item);

    // The service menu of "Connect"; tests replace how it is shown (the action chosen, or null).
    std::function<QAction*(QMenu&)> MenuRunner;
    // Called on the worker thread with each progress event of a transfer (tests).
    std::function<void(int64_t done, int64_t total)> WorkerProgressHook;

    bool Busy() const { return m_busy; }
    bool Connected() const { return m_connected; }
    const QString& CurrentPath() const { return m_currentPath; }
    TCloudDrive* Drive(TCloudService service) const { return m_drives.at(size_t(service)).get(); }
    QLineEdit* PathEdit() const { return m_path; }
    QTreeWidget* List() const { return m_list; }
    QListWidget* StatusLog() const { return m_log; }
    QLabel* StatusText() const { return m_status; }
    QProgressBar* Progress() const { return m_progress; }
    QGroupBox* Details() const { return m_details; }
    QPushButton* Button(const char* objectName) const;
    // Selects the row of that name in the list (tests and the chooser's start).
    bool SelectName(const QString& name);

Q_SIGNALS:
    // The worker finished a piece of work and the window is idle again.
    void Idle();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    struct TOutcome {
        bool Ok = false;
        bool SignIn = false; // the service wants the user to sign in again
        bool Cancelled = false;
        QString Error;
        QList<TCloudItem> Items;
        QString Text;   // what the work reports besides (the folder listed)
        QString Select; // the name to select in it
    };
    using TWork = std::function<bool(TCloudDrive&, TOutcome&)>;
    using TDone = std::function<void(const TOutcome&)>;

    void Opening();
    void Retranslate();
    void SetControls();
    void UpdateSelection();
    TCloudDrive* Current() const;
    // Runs work on the worker with the current drive; done runs on the window's thread. A work
    // the service refused for want of a sign-in signs in and runs once more.
    void Run(TWork work, TDone finish, bool transfer = false, bool signInRetry = true);
    void WorkerLoop();
    bool ReportProgress(int64_t done, int64_t total);
    // Lists path; on success it becomes the current folder (pushed on the back list when asked).
    void ListFolder(const QString& path, bool pushBack, const QString& select = QString(),
                    const std::function<void(bool)>& after = {});
    void Fill(const QList<TCloudItem>& items, const QString& select);
    QString ItemPath(const QString& name) const;
    QTreeWidgetItem* Selected() const;
    bool IsFolder(const QTreeWidgetItem* item) const;
    void Failed(const TOutcome& outcome);
    bool UsableName(const QString& name);
    void SaveChangedTokens();

    std::array<std::unique_ptr<TCloudDrive>, 3> m_drives;
    std::array<QString, 3> m_savedTokens;
    bool m_opened = false;
    bool m_busy = false;
    bool m_connected = false;
    QString m_currentPath = QStringLiteral("/");
    QStringList m_backStack;

    // The worker: one queue of work, run in order.
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_stop = false;
    std::atomic<bool> m_cancel{false};
    // The permille last sent to the window (worker side), so that not every packet is a call.
    int m_lastPermille = -1;
    // Folder transfers: the bytes of the files before the current one, and of all (worker side).
    int64_t m_progressBase = 0;
    int64_t m_progressTotal = 0;
    // A close asked for while the worker was busy, done when it is idle again (-1: none).
    int m_closeResult = -1;

    QPushButton* m_connect;
    QPushButton* m_resetAccess;
    QPushButton* m_help;
    QWidget* m_tools;
    QPushButton* m_createFolder;
    QPushButton* m_remove;
    QPushButton* m_rename;
    QPushButton* m_download;
    QPushButton* m_upload;
    QPushButton* m_uploadFolder;
    QPushButton* m_up;
    QPushButton* m_back;
    QLineEdit* m_path;
    QTreeWidget* m_list;
    QGroupBox* m_details;
    QLabel* m_nameCaption;
    QLabel* m_dateCaption;
    QLabel* m_sizeCaption;
    QLabel* m_fileName;
    QLabel* m_created;
    QLabel* m_size;
    QListWidget* m_log;
    QLabel* m_status;
    QProgressBar* m_progress;
    QPushButton* m_cancelTransfer;
    QWidget* m_bottom;
    QPushButton* m_select;
    QPushButton* m_cancelButton;
};
