#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class TNewVersionCheck;

// The new version of the product web site: its number and list of changes, "Update Now" and
// "Cancel". An update that is mandatory, or one that was started, ends the program when the
// dialog closes (ResultFlag() 0). "Update Now" downloads the package into the temporary-files
// folder, and only a package that matches the site's SHA-256 is handed to the desktop's package
// installer; the program never runs it itself. Any failure shows "Failed to download update."
// and opens the site's download page in the browser.
class TfrmNewVersion : public QDialog {
    Q_OBJECT
public:
    TfrmNewVersion(TNewVersionCheck& check, QWidget* parent = nullptr);

    // Performs the check against programVersion (major x 10 + minor) and prepares the text;
    // true when the dialog is to be shown.
    bool NewAppVersionExists(int programVersion);

    bool MustUpdate = false;
    bool AbortButtonIsClicked = false;
    QString strSoftwareInstallerFileName;
    // Where the package is downloaded to (the options' temporary-files folder).
    QString TempFolder;
    // Hands the package to the desktop (QDesktopServices); tests replace it. False when nothing
    // could open it.
    std::function<bool(const QUrl& package)> OpenPackage;

    // 1 while the dialog may let the program run, 0 once it closes with MustUpdate set.
    int ResultFlag() const { return MustUpdate ? 0 : 1; }
    bool Downloading() const { return m_downloading; }

    void UpdateNow();
    void reject() override;

    QPlainTextEdit* TextArea() const { return m_text; }
    QPushButton* UpdateNowButton() const { return m_updateNow; }
    QPushButton* CancelButton() const { return m_cancel; }
    QProgressBar* ProgressBar() const { return m_progress; }

private:
    void Fail(const QString& why);

    TNewVersionCheck& m_check;
    QPlainTextEdit* m_text;
    QPushButton* m_updateNow;
    QPushButton* m_cancel;
    QProgressBar* m_progress;
    bool m_downloading = false;
};

// The check of the interactive start: true when the program may run (nothing new, no site, a
// failed check, or an optional update declined). runner runs the dialog (tests replace it;
// empty: exec).
bool RunNewVersionCheck(QWidget* parent, const QString& site, int programVersion,
                        const std::function<int(QDialog&)>& runner = {});
// This program's version as the site writes it (major x 10 + minor).
int ProgramVersionNumber();
