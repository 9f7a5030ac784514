#pragma once

#include "ui/TJobWizard.h"

#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDialog>
#include <QPointer>

#include <functional>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QToolButton;
class TDestinationPage;
class TSchedulePage;
class TSourceTree;

// The five-page dialog of a files-and-folders job: sources, destination, backup type,
// compression, schedule. It checks each page on Next and copies its controls from and to a job;
// it never touches job files or the destination itself.
class TfrmWizard_FilesBackup : public QDialog {
    Q_OBJECT
public:
    enum TPage { wpSources, wpDestination, wpBackupType, wpCompression, wpSchedule };
    // The dialog's result in Tag(): closed without saving, "Save", "Save && Run".
    enum TTag { wtClosed = 0, wtSave = 1, wtSaveAndRun = 2 };

    explicit TfrmWizard_FilesBackup(QWidget* parent = nullptr);

    void ClearControls();
    void JobToControls(const TJob_FilesAndFolders& job);
    void ControlsToJob(TJob_FilesAndFolders& job) const;

    bool EditingJob = false;
    bool WarningShown = false;
    int Tag() const { return m_tag; }

    // The buttons' work (also called by tests).
    void Next();
    void Back();
    // "Save" (andRun false) or "Save && Run": checks the schedule, then closes.
    void Save(bool andRun);
    void Cancel();
    void SelectBackupType(TBackupType type);
    void SetCompressionEnabled(bool on);
    void SetZipPassword();
    void ShowSourcesAsList();
    void UpdateTypeOfBackupControls();

    int PageIndex() const;
    TBackupType BackupType() const;

    // Runs the dialogs the wizard opens (password, FTP settings, time, list viewer); tests fill
    // them in. Empty runs them modally.
    void SetDialogRunner(std::function<int(QDialog&)> runner);

    TSourceTree* SourceTree() const { return m_sourceTree; }
    QLabel* ViewAsListLink() const { return m_viewAsList; }
    QComboBox* FilterCombo() const { return cmbFilterExt; }
    QLineEdit* FilterEdit() const { return edExtFilter; }
    TDestinationPage* DestinationPage() const { return m_destination; }
    QToolButton* TypeButton(TBackupType type) const { return m_typeButtons[type]; }
    QLabel* TypeLabel() const { return m_typeName; }
    QLabel* TypeHelp() const { return m_typeHelp; }
    QRadioButton* EveryCopiesRadio() const { return m_everyCopies; }
    QRadioButton* PercentRadio() const { return m_percent; }
    QSpinBox* EveryCopiesSpin() const { return m_everyCopiesSpin; }
    QSpinBox* PercentSpin() const { return m_percentSpin; }
    QSpinBox* KeepSpin() const { return m_keepSpin; }
    QCheckBox* RemoveBeforeBox() const { return m_removeBefore; }
    QCheckBox* ZipBox() const { return m_zip; }
    QCheckBox* ZipPasswordBox() const { return m_protect; }
    QPushButton* SetZipPasswordButton() const { return m_setZipPassword; }
    QLabel* ZipPasswordState() const { return m_zipPasswordState; }
    QComboBox* MethodCombo() const { return m_method; }
    QComboBox* LevelCombo() const { return m_level; }
    QLineEdit* NoCompressionEdit() const { return m_noCompression; }
    QCheckBox* IndividualZipBox() const { return m_individualZip; }
    TSchedulePage* SchedulePage() const { return m_schedule; }
    QPushButton* BackButton() const { return m_back; }
    QPushButton* NextButton() const { return m_next; }
    QToolButton* SaveButton() const { return m_save; }
    QAction* SaveAction() const { return m_saveAction; }
    QAction* SaveAndRunAction() const { return m_saveAndRunAction; }
    QPushButton* CancelButton() const { return m_cancel; }
    QString ZipPassword() const { return strZipPassword; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* SourcesPage();
    QWidget* BackupTypePage();
    QWidget* CompressionPage();
    void Retranslate();
    void ShowPage(int index);
    void UpdateButtons();
    void UpdateCompressionControls();
    void UpdateViewAsList();
    void UpdateZipPasswordState();
    bool ValidateSources();
    bool ValidateCompression();
    void TypeButtonClicked(int type);
    int RunDialog(QDialog& dialog);

    QStackedWidget* cpWizard;
    QLabel* m_heading;
    TSourceTree* m_sourceTree;
    QLabel* m_viewAsList;
    QComboBox* cmbFilterExt;
    QLineEdit* edExtFilter;
    TDestinationPage* m_destination;
    QButtonGroup* bgTypeOfBackup;
    QToolButton* m_typeButtons[4];
    QLabel* m_typeName;
    QLabel* m_typeHelp;
    QLabel* m_performFull;
    QRadioButton* m_everyCopies;
    QRadioButton* m_percent;
    QSpinBox* m_everyCopiesSpin;
    QSpinBox* m_percentSpin;
    QLabel* m_percentSign;
    QLabel* m_keepLabel;
    QSpinBox* m_keepSpin;
    QCheckBox* m_removeBefore;
    QCheckBox* m_zip;
    QCheckBox* m_protect;
    QPushButton* m_setZipPassword;
    QLabel* m_zipPasswordState;
    QLabel* m_methodLabel;
    QComboBox* m_method;
    QLabel* m_levelLabel;
    QComboBox* m_level;
    QLabel* m_noCompressionLabel;
    QLineEdit* m_noCompression;
    QCheckBox* m_individualZip;
    QLabel* m_individualZipNote;
    TSchedulePage* m_schedule;
    QPushButton* m_back;
    QPushButton* m_next;
    QToolButton* m_save;
    QAction* m_saveAction;
    QAction* m_saveAndRunAction;
    QPushButton* m_cancel;
    QString strZipPassword;
    int m_tag = wtClosed;
    TBackupType m_shownType = btIncremental;
    std::function<int(QDialog&)> m_dialogRunner;
};

// The files-and-folders kind's wizard as the main window calls it: one long-lived dialog, prepared
// for each use.
class TFilesBackupWizard : public TJobWizard {
public:
    TResult Run(QWidget* parent, TMode mode, const QString& title, TJob& job, const TJob* source) override;

    // Runs the wizard instead of exec() (tests drive it; they call Save or Cancel).
    std::function<int(TfrmWizard_FilesBackup&)> DialogRunner;
    TfrmWizard_FilesBackup* Form() const { return m_form; }

private:
    QPointer<TfrmWizard_FilesBackup> m_form;
    // The properties of this scratch job are being shown again (the job was running): the
    // controls keep what the user entered.
    const TJob* m_lastEdited = nullptr;
};
