#pragma once

#include "ui/TJobWizard.h"

#include "jobs/appdata/TJob_AppsData.h"

#include <QDialog>
#include <QPointer>

#include <functional>

class QAction;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;
class TAppsSourcePage;
class TDestinationPage;
class TSchedulePage;

// The three-page dialog of an application-data job: which applications, where to store their
// data, when to run. It checks each page on Next and copies its controls from and to a job.
class TfrmWizard_AppsDataBackup : public QDialog {
    Q_OBJECT
public:
    enum TPage { wpApplications, wpDestination, wpSchedule };
    enum TTag { wtClosed = 0, wtSave = 1, wtSaveAndRun = 2 };

    explicit TfrmWizard_AppsDataBackup(QWidget* parent = nullptr);

    // A new job: nothing ticked, the destination and schedule pages cleared, the tree built from
    // the definitions (loaded first when they are not).
    void ClearControls();
    void JobToControls(const TJob_AppsData& job);
    void ControlsToJob(TJob_AppsData& job) const;

    int Tag() const { return m_tag; }
    int PageIndex() const;

    void Next();
    void Back();
    void Save(bool andRun);
    void Cancel();

    TAppsSourcePage* ApplicationsPage() const { return m_apps; }
    TDestinationPage* DestinationPage() const { return m_destination; }
    TSchedulePage* SchedulePage() const { return m_schedule; }
    QPushButton* BackButton() const { return m_back; }
    QPushButton* NextButton() const { return m_next; }
    QToolButton* SaveButton() const { return m_save; }
    QAction* SaveAndRunAction() const { return m_saveAndRunAction; }

private:
    void BuildTree();
    void ShowPage(int index);
    void Retranslate();

    QStackedWidget* m_pages;
    QLabel* m_heading;
    TAppsSourcePage* m_apps;
    TDestinationPage* m_destination;
    TSchedulePage* m_schedule;
    QPushButton* m_back;
    QPushButton* m_next;
    QToolButton* m_save;
    QAction* m_saveAction;
    QAction* m_saveAndRunAction;
    QPushButton* m_cancel;
    int m_tag = wtClosed;
};

// The application-data kind's wizard as the main window runs it (New, Duplicate, Properties).
class TAppsDataWizard : public TJobWizard {
public:
    TResult Run(QWidget* parent, TMode mode, const QString& title, TJob& job, const TJob* source) override;

    // Runs the wizard instead of exec() (tests drive it; they call Save or Cancel).
    std::function<int(TfrmWizard_AppsDataBackup&)> DialogRunner;

private:
    QPointer<TfrmWizard_AppsDataBackup> m_form;
};
