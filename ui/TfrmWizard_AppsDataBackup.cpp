#include "ui/TfrmWizard_AppsDataBackup.h"

#include "ui/TAppsSourcePage.h"
#include "ui/TDestinationPage.h"
#include "ui/TSchedulePage.h"
#include "ui/UiTr.h"

#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/TAppPathResolver.h"
#include "jobs/appdata/TAppRegistry.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char16_t* const Headings[] = {u"What do you want to backup?", u"Where to store your backup?",
                                    u"When to start backup?"};

} // namespace

TfrmWizard_AppsDataBackup::TfrmWizard_AppsDataBackup(QWidget* parent)
    : QDialog(parent)
    , m_pages(new QStackedWidget(this))
    , m_heading(new QLabel(this))
    , m_apps(new TAppsSourcePage(this))
    , m_destination(new TDestinationPage(this))
    , m_schedule(new TSchedulePage(this))
    , m_back(new QPushButton(this))
    , m_next(new QPushButton(this))
    , m_save(new QToolButton(this))
    , m_cancel(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmWizard_AppsDataBackup"));
    QFont headingFont = m_heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.5);
    m_heading->setFont(headingFont);
    m_pages->addWidget(m_apps);
    m_pages->addWidget(m_destination);
    m_pages->addWidget(m_schedule);

    m_save->setPopupMode(QToolButton::MenuButtonPopup);
    auto* saveMenu = new QMenu(m_save);
    m_saveAction = saveMenu->addAction(QString());
    m_saveAndRunAction = saveMenu->addAction(QString());
    m_save->setMenu(saveMenu);
    connect(m_back, &QPushButton::clicked, this, &TfrmWizard_AppsDataBackup::Back);
    connect(m_next, &QPushButton::clicked, this, &TfrmWizard_AppsDataBackup::Next);
    connect(m_save, &QToolButton::clicked, this, [this] { Save(false); });
    connect(m_saveAction, &QAction::triggered, this, [this] { Save(false); });
    connect(m_saveAndRunAction, &QAction::triggered, this, [this] { Save(true); });
    connect(m_cancel, &QPushButton::clicked, this, &TfrmWizard_AppsDataBackup::Cancel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QWidget* button : {static_cast<QWidget*>(m_back), static_cast<QWidget*>(m_next), static_cast<QWidget*>(m_save),
                            static_cast<QWidget*>(m_cancel)})
        buttons->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);
    resize(760, 520);
    Retranslate();
    ShowPage(wpApplications);
}

void TfrmWizard_AppsDataBackup::Retranslate() {
    m_heading->setText(Tr(Headings[m_pages->currentIndex() < 0 ? 0 : m_pages->currentIndex()]));
    m_back->setText(Tr(u"Back"));
    m_next->setText(Tr(u"Next"));
    m_save->setText(Tr(u"Save"));
    m_saveAction->setText(Tr(u"Save"));
    m_saveAndRunAction->setText(Tr(u"Save && Run"));
    m_cancel->setText(Tr(u"Cancel"));
}

void TfrmWizard_AppsDataBackup::BuildTree() {
    if (!AppDefinitions::Loaded())
        AppDefinitions::Load();
    const TAppPathResolver resolver(QProcessEnvironment::systemEnvironment(), &SystemAppRegistry());
    m_apps->Build(AppDefinitions::List(), resolver);
}

void TfrmWizard_AppsDataBackup::ClearControls() {
    m_tag = wtClosed;
    m_schedule->Clear();
    m_destination->Clear();
    BuildTree();
    m_apps->SetAppNames({});
    ShowPage(wpApplications);
}

void TfrmWizard_AppsDataBackup::JobToControls(const TJob_AppsData& job) {
    m_tag = wtClosed;
    BuildTree();
    m_apps->SetAppNames(job.Settings.AppNames);
    m_destination->Load(job.DestinationSettings);
    m_schedule->Load(job.SchedulingSettings);
    ShowPage(wpApplications);
}

void TfrmWizard_AppsDataBackup::ControlsToJob(TJob_AppsData& job) const {
    job.Settings.AppNames = m_apps->AppNames();
    m_destination->Store(job.DestinationSettings);
    job.NewSubfolderIsCreatedForEachBackup = false;
    m_schedule->Store(job.SchedulingSettings);
}

int TfrmWizard_AppsDataBackup::PageIndex() const {
    return m_pages->currentIndex();
}

void TfrmWizard_AppsDataBackup::ShowPage(int index) {
    m_pages->setCurrentIndex(index);
    m_heading->setText(Tr(Headings[index]));
    m_back->setEnabled(index > wpApplications);
    m_next->setEnabled(index < wpSchedule);
    m_save->setEnabled(index == wpSchedule);
}

void TfrmWizard_AppsDataBackup::Next() {
    switch (m_pages->currentIndex()) {
    case wpApplications:
        if (!m_apps->Validate())
            return;
        break;
    case wpDestination:
        if (!m_destination->Validate())
            return;
        break;
    default:
        return;
    }
    ShowPage(m_pages->currentIndex() + 1);
}

void TfrmWizard_AppsDataBackup::Back() {
    if (m_pages->currentIndex() > wpApplications)
        ShowPage(m_pages->currentIndex() - 1);
}

void TfrmWizard_AppsDataBackup::Save(bool andRun) {
    if (m_pages->currentIndex() != wpSchedule || !m_schedule->Validate())
        return;
    m_tag = andRun ? wtSaveAndRun : wtSave;
    accept();
}

void TfrmWizard_AppsDataBackup::Cancel() {
    m_tag = wtClosed;
    reject();
}

TJobWizard::TResult TAppsDataWizard::Run(QWidget* parent, TMode mode, const QString& title, TJob& job,
                                         const TJob* source) {
    auto* apps = dynamic_cast<TJob_AppsData*>(&job);
    if (!apps)
        return wrCancelled;
    if (!m_form)
        m_form = new TfrmWizard_AppsDataBackup(parent);
    TfrmWizard_AppsDataBackup& form = *m_form;
    const auto* from = dynamic_cast<const TJob_AppsData*>(source);
    if (from) {
        job.CopySettingsFrom(*from);
        form.JobToControls(*from);
    } else {
        form.ClearControls();
    }
    Q_UNUSED(mode);
    form.setWindowTitle(title);
    if (DialogRunner)
        DialogRunner(form);
    else
        form.exec();
    if (form.Tag() == TfrmWizard_AppsDataBackup::wtClosed)
        return wrCancelled;
    form.ControlsToJob(*apps);
    return form.Tag() == TfrmWizard_AppsDataBackup::wtSaveAndRun ? wrDoneAndRun : wrDone;
}
