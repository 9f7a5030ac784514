#include "ui/TfrmWizard_FilesBackup.h"

#include "ui/TDestinationPage.h"
#include "ui/TMessageBox.h"
#include "ui/TSchedulePage.h"
#include "ui/TSourceTree.h"
#include "ui/TfrmListViewer.h"
#include "ui/TfrmPassword.h"
#include "ui/UiTr.h"

#include "jobs/files/TFilesJobChecks.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <limits>

namespace {

const QString DefaultExtensions = QStringLiteral("txt;doc;exe");
const QString DefaultNoCompression = QStringLiteral("zip;rar;7z;cab;mp3;jpg;gif;ace;jar;gz;tar;chm;png;sit;sitx;rpm");

const char16_t* const Headings[] = {u"What do you want to backup?", u"Where to store your backup?",
                                    u"Choose a backup type.", u"Want to save storage space?", u"When to start backup?"};
const char16_t* const TypeNames[] = {u"Incremental", u"Differential", u"Full", u"Mirror"};
const char16_t* const TypeHelps[] = {
    u"The incremental backup will create in destination a folder containing all new and modified files since the "
    u"last backup.",
    u"The differential backup will create in destination a folder containing all new and modified files since the "
    u"last full backup.",
    u"The full backup will create in destination a folder with all source files and folders.",
    u"The Mirror will keep in destination an exact copy of the source files."};

QSpinBox* Spin(QWidget* parent, const QString& name) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(0, std::numeric_limits<int>::max());
    return spin;
}

} // namespace

TfrmWizard_FilesBackup::TfrmWizard_FilesBackup(QWidget* parent)
    : QDialog(parent)
    , cpWizard(new QStackedWidget(this))
    , m_heading(new QLabel(this))
    , m_back(new QPushButton(this))
    , m_next(new QPushButton(this))
    , m_save(new QToolButton(this))
    , m_cancel(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmWizard_FilesBackup"));
    cpWizard->setObjectName(QStringLiteral("cpWizard"));
    m_heading->setObjectName(QStringLiteral("lblHeading"));
    QFont headingFont = m_heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.5);
    m_heading->setFont(headingFont);
    m_destination = new TDestinationPage(this);
    m_schedule = new TSchedulePage(this);
    cpWizard->addWidget(SourcesPage());
    cpWizard->addWidget(m_destination);
    cpWizard->addWidget(BackupTypePage());
    cpWizard->addWidget(CompressionPage());
    cpWizard->addWidget(m_schedule);

    m_back->setObjectName(QStringLiteral("btnBack"));
    m_next->setObjectName(QStringLiteral("btnNext"));
    m_save->setObjectName(QStringLiteral("btnSave"));
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_save->setPopupMode(QToolButton::MenuButtonPopup);
    auto* saveMenu = new QMenu(m_save);
    m_saveAction = saveMenu->addAction(QString());
    m_saveAndRunAction = saveMenu->addAction(QString());
    m_save->setMenu(saveMenu);
    connect(m_back, &QPushButton::clicked, this, &TfrmWizard_FilesBackup::Back);
    connect(m_next, &QPushButton::clicked, this, &TfrmWizard_FilesBackup::Next);
    connect(m_save, &QToolButton::clicked, this, [this] { Save(false); });
    connect(m_saveAction, &QAction::triggered, this, [this] { Save(false); });
    connect(m_saveAndRunAction, &QAction::triggered, this, [this] { Save(true); });
    connect(m_cancel, &QPushButton::clicked, this, &TfrmWizard_FilesBackup::Cancel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_back);
    buttons->addWidget(m_next);
    buttons->addWidget(m_save);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(cpWizard, 1);
    layout->addLayout(buttons);
    resize(760, 520);
    Retranslate();
    ClearControls();
}

QWidget* TfrmWizard_FilesBackup::SourcesPage() {
    auto* page = new QWidget(this);
    m_sourceTree = new TSourceTree(page);
    m_viewAsList = new QLabel(page);
    m_viewAsList->setObjectName(QStringLiteral("SourceShellLink"));
    m_viewAsList->setCursor(Qt::PointingHandCursor);
    m_viewAsList->setStyleSheet(QStringLiteral("color: blue"));
    QFont linkFont = m_viewAsList->font();
    linkFont.setUnderline(true);
    m_viewAsList->setFont(linkFont);
    m_viewAsList->installEventFilter(this);
    cmbFilterExt = new QComboBox(page);
    cmbFilterExt->setObjectName(QStringLiteral("cmbFilterExt"));
    cmbFilterExt->addItems({QString(), QString(), QString()});
    edExtFilter = new QLineEdit(page);
    edExtFilter->setObjectName(QStringLiteral("edExtFilter"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_viewAsList);
    bottom->addStretch(1);
    bottom->addWidget(cmbFilterExt);
    bottom->addWidget(edExtFilter, 1);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_sourceTree, 1);
    layout->addLayout(bottom);
    connect(cmbFilterExt, &QComboBox::currentIndexChanged, this,
            [this](int index) { edExtFilter->setEnabled(index != ftNoFilters); });
    connect(m_sourceTree, &TSourceTree::SelectionChanged, this, &TfrmWizard_FilesBackup::UpdateViewAsList);
    return page;
}

QWidget* TfrmWizard_FilesBackup::BackupTypePage() {
    auto* page = new QWidget(this);
    bgTypeOfBackup = new QButtonGroup(page);
    auto* buttons = new QHBoxLayout;
    const char16_t* const names[] = {u"btnIncremental", u"btnDifferential", u"btnFull", u"btnMirror"};
    for (int i = 0; i < 4; ++i) {
        m_typeButtons[i] = new QToolButton(page);
        m_typeButtons[i]->setObjectName(QString::fromUtf16(names[i]));
        m_typeButtons[i]->setCheckable(true);
        m_typeButtons[i]->setAutoRaise(true);
        m_typeButtons[i]->setMinimumSize(110, 48);
        bgTypeOfBackup->addButton(m_typeButtons[i], i);
        buttons->addWidget(m_typeButtons[i]);
    }
    buttons->addStretch(1);
    m_typeName = new QLabel(page);
    m_typeName->setObjectName(QStringLiteral("lblTypeName"));
    QFont font = m_typeName->font();
    font.setBold(true);
    m_typeName->setFont(font);
    m_typeHelp = new QLabel(QStringLiteral("(?)"), page);
    m_typeHelp->setObjectName(QStringLiteral("imgTypeHelp"));
    m_typeHelp->installEventFilter(this);
    m_performFull = new QLabel(page);
    m_everyCopies = new QRadioButton(page);
    m_everyCopies->setObjectName(QStringLiteral("rbEveryCopies"));
    m_percent = new QRadioButton(page);
    m_percent->setObjectName(QStringLiteral("rbPercent"));
    m_everyCopiesSpin = Spin(page, QStringLiteral("seEveryCopies"));
    m_percentSpin = Spin(page, QStringLiteral("sePercent"));
    m_percentSign = new QLabel(QStringLiteral("%"), page);
    m_keepLabel = new QLabel(page);
    m_keepSpin = Spin(page, QStringLiteral("seKeepFullCopies"));
    m_removeBefore = new QCheckBox(page);
    m_removeBefore->setObjectName(QStringLiteral("cbRemoveBefore"));
    auto* name = new QHBoxLayout;
    name->addWidget(m_typeName);
    name->addWidget(m_typeHelp);
    name->addStretch(1);
    auto* grid = new QGridLayout;
    grid->addWidget(m_performFull, 0, 0, 1, 3);
    grid->addWidget(m_everyCopies, 1, 0);
    grid->addWidget(m_everyCopiesSpin, 1, 1);
    grid->addWidget(m_percent, 2, 0);
    grid->addWidget(m_percentSpin, 2, 1);
    grid->addWidget(m_percentSign, 2, 2);
    grid->addWidget(m_keepLabel, 3, 0);
    grid->addWidget(m_keepSpin, 3, 1);
    grid->addWidget(m_removeBefore, 4, 0, 1, 3);
    grid->setColumnStretch(3, 1);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addLayout(name);
    layout->addLayout(grid);
    layout->addStretch(1);
    connect(bgTypeOfBackup, &QButtonGroup::idClicked, this, &TfrmWizard_FilesBackup::TypeButtonClicked);
    connect(m_everyCopies, &QRadioButton::toggled, this, &TfrmWizard_FilesBackup::UpdateTypeOfBackupControls);
    return page;
}

QWidget* TfrmWizard_FilesBackup::CompressionPage() {
    auto* page = new QWidget(this);
    m_zip = new QCheckBox(page);
    m_zip->setObjectName(QStringLiteral("cbEnableZip"));
    m_protect = new QCheckBox(page);
    m_protect->setObjectName(QStringLiteral("cbProtectZip"));
    m_setZipPassword = new QPushButton(page);
    m_setZipPassword->setObjectName(QStringLiteral("btnZipPassword"));
    m_zipPasswordState = new QLabel(page);
    m_zipPasswordState->setObjectName(QStringLiteral("lblZipPassword"));
    m_methodLabel = new QLabel(page);
    m_method = new QComboBox(page);
    m_method->setObjectName(QStringLiteral("cmbEncryptionMethod"));
    m_method->addItems({QString(), QString(), QString(), QString()});
    m_levelLabel = new QLabel(page);
    m_level = new QComboBox(page);
    m_level->setObjectName(QStringLiteral("cmbCompressionLevel"));
    m_level->addItems({QString(), QString(), QString(), QString()});
    m_noCompressionLabel = new QLabel(page);
    m_noCompression = new QLineEdit(page);
    m_noCompression->setObjectName(QStringLiteral("edNoCompression"));
    m_individualZip = new QCheckBox(page);
    m_individualZip->setObjectName(QStringLiteral("cbIndividualZip"));
    m_individualZipNote = new QLabel(page);
    auto* password = new QHBoxLayout;
    password->addWidget(m_protect);
    password->addWidget(m_setZipPassword);
    password->addWidget(m_zipPasswordState, 1);
    auto* grid = new QGridLayout;
    grid->addWidget(m_methodLabel, 0, 0);
    grid->addWidget(m_method, 0, 1);
    grid->addWidget(m_levelLabel, 1, 0);
    grid->addWidget(m_level, 1, 1);
    grid->addWidget(m_noCompressionLabel, 2, 0);
    grid->addWidget(m_noCompression, 2, 1);
    grid->setColumnStretch(1, 1);
    auto* individual = new QHBoxLayout;
    individual->addWidget(m_individualZip);
    individual->addWidget(m_individualZipNote, 1);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_zip);
    layout->addLayout(password);
    layout->addLayout(grid);
    layout->addLayout(individual);
    layout->addStretch(1);
    connect(m_zip, &QCheckBox::clicked, this, &TfrmWizard_FilesBackup::SetCompressionEnabled);
    connect(m_protect, &QCheckBox::toggled, this, &TfrmWizard_FilesBackup::UpdateCompressionControls);
    connect(m_setZipPassword, &QPushButton::clicked, this, &TfrmWizard_FilesBackup::SetZipPassword);
    return page;
}

void TfrmWizard_FilesBackup::Retranslate() {
    m_heading->setText(Tr(Headings[cpWizard->currentIndex() < 0 ? 0 : cpWizard->currentIndex()]));
    cmbFilterExt->setItemText(ftNoFilters, Tr(u"No filters"));
    cmbFilterExt->setItemText(ftIncludeOnly, Tr(u"Include only extensions:"));
    cmbFilterExt->setItemText(ftExclude, Tr(u"Exclude extensions:"));
    UpdateViewAsList();
    for (int i = 0; i < 4; ++i) {
        m_typeButtons[i]->setText(Tr(TypeNames[i]));
        m_typeButtons[i]->setToolTip(Tr(TypeNames[i]));
    }
    m_performFull->setText(Tr(u"Perform a full backup in this case:"));
    m_keepLabel->setText(Tr(u"Keep the following number of full copies:"));
    m_removeBefore->setText(Tr(u"Remove old copies BEFORE starting a new backup"));
    UpdateTypeOfBackupControls();
    m_zip->setText(Tr(u"Enable ZIP compression"));
    m_protect->setText(Tr(u"Protect ZIP files with password"));
    m_setZipPassword->setText(Tr(u"Set Password..."));
    UpdateZipPasswordState();
    m_methodLabel->setText(Tr(u"Encryption Method:"));
    const char16_t* const methods[] = {u"AES 128 Encryption", u"AES 192 Encryption", u"AES 256 Encryption",
                                       u"Pkzip Classic Encryption"};
    for (int i = 0; i < 4; ++i)
        m_method->setItemText(i, Tr(methods[i]));
    m_levelLabel->setText(Tr(u"Compression Level:"));
    const char16_t* const levels[] = {u"Fastest", u"Max", u"None", u"Normal"};
    for (int i = 0; i < 4; ++i)
        m_level->setItemText(i, Tr(levels[i]));
    m_noCompressionLabel->setText(Tr(u"Do not compress files of type:"));
    m_individualZip->setText(Tr(u"Create individual ZIP file for each item"));
    m_individualZipNote->setText(u' ' + Tr(u"(Recommended if you backup a large amount of data)"));
    m_back->setText(Tr(u"Back"));
    m_next->setText(Tr(u"Next"));
    m_save->setText(Tr(u"Save"));
    m_saveAction->setText(Tr(u"Save"));
    m_saveAndRunAction->setText(Tr(u"Save && Run"));
    m_cancel->setText(Tr(u"Cancel"));
    m_destination->Retranslate();
    m_schedule->Retranslate();
}

void TfrmWizard_FilesBackup::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}

void TfrmWizard_FilesBackup::SetDialogRunner(std::function<int(QDialog&)> runner) {
    m_dialogRunner = runner;
    m_destination->DialogRunner = runner;
    m_schedule->DialogRunner = runner;
}

int TfrmWizard_FilesBackup::RunDialog(QDialog& dialog) {
    return m_dialogRunner ? m_dialogRunner(dialog) : dialog.exec();
}

// ---- Preparing and reading the controls ----

void TfrmWizard_FilesBackup::ClearControls() {
    EditingJob = false;
    WarningShown = false;
    m_tag = wtClosed;
    m_schedule->Clear();
    bgTypeOfBackup->button(btIncremental)->setChecked(true);
    m_shownType = btIncremental;
    m_everyCopies->setChecked(true);
    m_everyCopiesSpin->setValue(5);
    m_percentSpin->setValue(50);
    m_keepSpin->setValue(10);
    m_removeBefore->setChecked(false);
    UpdateTypeOfBackupControls();
    m_destination->Clear();
    m_sourceTree->Clear();
    cmbFilterExt->setCurrentIndex(ftNoFilters);
    edExtFilter->setText(DefaultExtensions);
    edExtFilter->setEnabled(false);
    m_zip->setChecked(false);
    m_protect->setChecked(false);
    strZipPassword.clear();
    UpdateZipPasswordState();
    m_method->setCurrentIndex(emAES128);
    m_level->setCurrentIndex(clFastest);
    m_noCompression->setText(DefaultNoCompression);
    m_individualZip->setChecked(false);
    UpdateCompressionControls();
    UpdateViewAsList();
    ShowPage(wpSources);
}

void TfrmWizard_FilesBackup::JobToControls(const TJob_FilesAndFolders& job) {
    const TSpecificSettings& s = job.Settings;
    WarningShown = false;
    m_tag = wtClosed;
    m_sourceTree->SetEntries(s.Sources.List);
    cmbFilterExt->setCurrentIndex(s.Sources.FilterType <= ftExclude ? int(s.Sources.FilterType) : 0);
    edExtFilter->setText(s.Sources.Extensions);
    edExtFilter->setEnabled(cmbFilterExt->currentIndex() != ftNoFilters);
    m_destination->Load(job.DestinationSettings);
    const int type = s.Backup.BackupType <= btSynchronization ? int(s.Backup.BackupType) : 0;
    bgTypeOfBackup->button(type)->setChecked(true);
    m_shownType = TBackupType(type);
    m_everyCopies->setChecked(s.Backup.PerformFullBackup_Condition == bcEveryCopies);
    m_percent->setChecked(s.Backup.PerformFullBackup_Condition != bcEveryCopies);
    m_everyCopiesSpin->setValue(s.Backup.PerformFullBackup_EveryCopies);
    m_percentSpin->setValue(s.Backup.PerformFullBackup_SumExceedsPercentOfFullBackup);
    m_keepSpin->setValue(s.Backup.NumberFullCopiesToKeep);
    m_removeBefore->setChecked(s.Backup.RemoveOldBackupsBeforeStartingNewBackup);
    UpdateTypeOfBackupControls();
    m_zip->setChecked(s.Compression.Enabled);
    m_protect->setChecked(s.Compression.ProtectWithPassword);
    strZipPassword = s.Compression.Password;
    UpdateZipPasswordState();
    m_method->setCurrentIndex(s.Compression.EncryptionMethod <= emPkzipClassic ? s.Compression.EncryptionMethod : 0);
    m_level->setCurrentIndex(s.Compression.CompressionLevel <= clNormal ? s.Compression.CompressionLevel : 0);
    m_noCompression->setText(s.Compression.NoCompressionExtensions);
    m_individualZip->setChecked(s.Compression.CreateIndividualZipForEachItem);
    UpdateCompressionControls();
    m_schedule->Load(job.SchedulingSettings);
    UpdateViewAsList();
    ShowPage(wpSources);
}

void TfrmWizard_FilesBackup::ControlsToJob(TJob_FilesAndFolders& job) const {
    TSpecificSettings& s = job.Settings;
    s.Sources.List = m_sourceTree->Entries();
    s.Sources.Extensions = edExtFilter->text();
    s.Sources.FilterType = TFilterType(cmbFilterExt->currentIndex());
    m_destination->Store(job.DestinationSettings);
    job.SetBackupType(BackupType());
    s.Backup.PerformFullBackup_Condition = m_everyCopies->isChecked() ? bcEveryCopies : bcSumExceedsPercentOfFullBackup;
    s.Backup.PerformFullBackup_EveryCopies = m_everyCopiesSpin->value();
    s.Backup.PerformFullBackup_SumExceedsPercentOfFullBackup = m_percentSpin->value();
    s.Backup.NumberFullCopiesToKeep = m_keepSpin->value();
    s.Backup.RemoveOldBackupsBeforeStartingNewBackup = m_removeBefore->isChecked();
    m_schedule->Store(job.SchedulingSettings);
    s.Compression.Enabled = m_zip->isChecked();
    s.Compression.ProtectWithPassword = m_protect->isChecked();
    s.Compression.Password = strZipPassword;
    s.Compression.EncryptionMethod = uint8_t(m_method->currentIndex());
    s.Compression.CompressionLevel = uint8_t(m_level->currentIndex());
    s.Compression.CreateIndividualZipForEachItem = m_individualZip->isChecked();
    s.Compression.NoCompressionExtensions = m_noCompression->text();
}

// ---- Pages and buttons ----

int TfrmWizard_FilesBackup::PageIndex() const {
    return cpWizard->currentIndex();
}

void TfrmWizard_FilesBackup::ShowPage(int index) {
    cpWizard->setCurrentIndex(index);
    m_heading->setText(Tr(Headings[index]));
    UpdateButtons();
}

void TfrmWizard_FilesBackup::UpdateButtons() {
    const int index = cpWizard->currentIndex();
    m_back->setEnabled(index > 0);
    m_next->setEnabled(index < wpSchedule);
    m_save->setEnabled(index == wpSchedule);
}

void TfrmWizard_FilesBackup::Next() {
    switch (cpWizard->currentIndex()) {
    case wpSources:
        if (!ValidateSources())
            return;
        break;
    case wpDestination:
        if (!m_destination->Validate())
            return;
        break;
    case wpBackupType:
        if (BackupType() == btSynchronization) {
            m_zip->setChecked(false);
            UpdateCompressionControls();
        }
        break;
    case wpCompression:
        if (!ValidateCompression())
            return;
        break;
    default:
        return;
    }
    ShowPage(cpWizard->currentIndex() + 1);
}

void TfrmWizard_FilesBackup::Back() {
    if (cpWizard->currentIndex() > 0)
        ShowPage(cpWizard->currentIndex() - 1);
}

void TfrmWizard_FilesBackup::Save(bool andRun) {
    if (cpWizard->currentIndex() != wpSchedule || !m_schedule->Validate())
        return;
    m_tag = andRun ? wtSaveAndRun : wtSave;
    accept();
}

void TfrmWizard_FilesBackup::Cancel() {
    m_tag = wtClosed;
    reject();
}

// ---- Sources ----

void TfrmWizard_FilesBackup::UpdateViewAsList() {
    m_viewAsList->setText(Tr(u"View as list") + QStringLiteral(" (") +
                          QString::number(m_sourceTree->Model()->CheckedPaths().size()) + u')');
}

void TfrmWizard_FilesBackup::ShowSourcesAsList() {
    TfrmListViewer viewer(this);
    viewer.ShowSources(m_sourceTree->Entries());
    RunDialog(viewer);
}

bool TfrmWizard_FilesBackup::ValidateSources() {
    const QStringList sources = m_sourceTree->Entries();
    if (sources.isEmpty()) {
        TMessageBox::Warning(this, Tr(u"Please add one or more sources to the list"));
        return false;
    }
    if (cmbFilterExt->currentIndex() != ftNoFilters) {
        QString extensions = edExtFilter->text();
        QString message;
        const bool ok = TFilesJobChecks::CheckExtensionList(extensions, &message);
        edExtFilter->setText(extensions);
        if (!ok) {
            TMessageBox::Warning(this, message);
            return false;
        }
    }
    const QString duplicates = TFilesJobChecks::DuplicatedNamesOfFoldersOrFiles(sources);
    if (!duplicates.isEmpty()) {
        TMessageBox::Error(this, TFilesJobChecks::DuplicateSourcesMessage(duplicates));
        ShowSourcesAsList();
        return false;
    }
    if (sources.contains(QStringLiteral("/*")))
        TMessageBox::Warning(
            this, Tr(u"You have selected the whole disk / for backup.") + QStringLiteral("\r\n\r\n") +
                      Tr(u"Please note that only the files and folders will be copied. You will not be able to "
                         u"restore the entire operating system from this backup.") +
                      QStringLiteral("\r\n") +
                      Tr(u"If you want to make an exact copy of the operating system with all settings, files and "
                         u"applications, exit the Wizard.") +
                      QStringLiteral("\r\n") + Tr(u"Then create a new backup job of type \"Drive Image Backup\"."));
    return true;
}

// ---- Backup type ----

TBackupType TfrmWizard_FilesBackup::BackupType() const {
    const int id = bgTypeOfBackup->checkedId();
    return id < 0 ? btIncremental : TBackupType(id);
}

void TfrmWizard_FilesBackup::TypeButtonClicked(int type) {
    UpdateTypeOfBackupControls();
    // Clicking the type that is already chosen changes nothing, so it is no change to warn about.
    if (TBackupType(type) != m_shownType && EditingJob && !WarningShown) {
        WarningShown = true;
        TMessageBox::Warning(this, Tr(u"Changing the backup type will cause the deletion of all backup files."));
    }
    m_shownType = TBackupType(type);
}

void TfrmWizard_FilesBackup::SelectBackupType(TBackupType type) {
    bgTypeOfBackup->button(type)->setChecked(true);
    TypeButtonClicked(type);
}

void TfrmWizard_FilesBackup::UpdateTypeOfBackupControls() {
    const TBackupType type = BackupType();
    m_typeName->setText(Tr(TypeNames[type]));
    if (type == btIncremental) {
        m_everyCopies->setText(Tr(u"If the following number of incremental copies is done:"));
        m_percent->setText(Tr(u"If the size of all increments exceeds the following percentage of the full backup:"));
    } else if (type == btDifferential) {
        m_everyCopies->setText(Tr(u"If the following number of differential copies is done:"));
        m_percent->setText(
            Tr(u"If the size of differential copy exceeds the following percentage of the full backup:"));
    }
    const bool rule = type == btIncremental || type == btDifferential;
    const bool keep = type != btSynchronization;
    m_performFull->setEnabled(rule);
    m_everyCopies->setEnabled(rule);
    m_percent->setEnabled(rule);
    m_everyCopiesSpin->setEnabled(rule && m_everyCopies->isChecked());
    m_percentSpin->setEnabled(rule && !m_everyCopies->isChecked());
    m_percentSign->setEnabled(rule && !m_everyCopies->isChecked());
    m_keepLabel->setEnabled(keep);
    m_keepSpin->setEnabled(keep);
    m_removeBefore->setEnabled(keep);
}

bool TfrmWizard_FilesBackup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_typeHelp) {
        if (event->type() == QEvent::Enter) {
            const TBackupType type = BackupType();
            QToolTip::showText(m_typeHelp->mapToGlobal(QPoint(0, m_typeHelp->height())),
                               QStringLiteral("<b>") + Tr(TypeNames[type]).toHtmlEscaped() +
                                   QStringLiteral("</b><br>") + Tr(TypeHelps[type]).toHtmlEscaped(),
                               m_typeHelp);
        } else if (event->type() == QEvent::Leave) {
            QToolTip::hideText();
        }
    } else if (watched == m_viewAsList) {
        if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
            QFont font = m_viewAsList->font();
            font.setUnderline(event->type() == QEvent::Leave);
            m_viewAsList->setFont(font);
        } else if (event->type() == QEvent::MouseButtonRelease) {
            ShowSourcesAsList();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Compression ----

void TfrmWizard_FilesBackup::SetCompressionEnabled(bool on) {
    m_zip->setChecked(on);
    if (on && BackupType() == btSynchronization) {
        const QMessageBox::StandardButton answer = TMessageBox::Show(
            this, TMessageBox::mbWarning,
            Tr(u"Compression is not supported for Mirror type. Alternatively you can switch to Full backup, and set "
               u"the option to keep only one backup in destination.") +
                QStringLiteral("\r\n") + Tr(u"Do you want to set these options automatically?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes) {
            ShowPage(wpBackupType);
            SelectBackupType(btFull);
            m_keepSpin->setValue(1);
        } else {
            m_zip->setChecked(false);
        }
    }
    UpdateCompressionControls();
}

void TfrmWizard_FilesBackup::UpdateCompressionControls() {
    const bool zip = m_zip->isChecked();
    const bool protect = zip && m_protect->isChecked();
    m_protect->setEnabled(zip);
    m_levelLabel->setEnabled(zip);
    m_level->setEnabled(zip);
    m_noCompressionLabel->setEnabled(zip);
    m_noCompression->setEnabled(zip);
    m_individualZip->setEnabled(zip);
    m_individualZipNote->setEnabled(zip);
    m_setZipPassword->setEnabled(protect);
    m_methodLabel->setEnabled(protect);
    m_method->setEnabled(protect);
    m_zipPasswordState->setEnabled(protect);
}

void TfrmWizard_FilesBackup::UpdateZipPasswordState() {
    m_zipPasswordState->setText(strZipPassword.isEmpty() ? Tr(u"Password is not set") : Tr(u"Password is set"));
}

void TfrmWizard_FilesBackup::SetZipPassword() {
    TfrmPassword dialog(this);
    if (RunDialog(dialog) != QDialog::Accepted)
        return;
    strZipPassword = dialog.Password();
    UpdateZipPasswordState();
}

bool TfrmWizard_FilesBackup::ValidateCompression() {
    if (!m_zip->isChecked())
        return true;
    if (m_protect->isChecked() && strZipPassword.isEmpty()) {
        TMessageBox::Error(this, Tr(u"Password is not set"));
        return false;
    }
    if (!m_noCompression->text().trimmed().isEmpty()) {
        QString extensions = m_noCompression->text();
        QString message;
        const bool ok = TFilesJobChecks::CheckExtensionList(extensions, &message);
        m_noCompression->setText(extensions);
        if (!ok) {
            TMessageBox::Warning(this, message);
            return false;
        }
    }
    return true;
}

// ---- The kind's wizard ----

TJobWizard::TResult TFilesBackupWizard::Run(QWidget* parent, TMode mode, const QString& title, TJob& job,
                                            const TJob* source) {
    auto* files = dynamic_cast<TJob_FilesAndFolders*>(&job);
    if (!files)
        return wrCancelled;
    if (!m_form)
        m_form = new TfrmWizard_FilesBackup(parent);
    TfrmWizard_FilesBackup& form = *m_form;
    const auto* from = dynamic_cast<const TJob_FilesAndFolders*>(source);
    const bool again = mode == wmProperties && m_lastEdited == &job;
    if (from)
        job.CopySettingsFrom(*from);
    if (!again) {
        if (from)
            form.JobToControls(*from);
        else
            form.ClearControls();
        form.EditingJob = mode == wmProperties;
    }
    m_lastEdited = mode == wmProperties ? &job : nullptr;
    form.setWindowTitle(title);
    if (DialogRunner)
        DialogRunner(form);
    else
        form.exec();
    if (form.Tag() == TfrmWizard_FilesBackup::wtClosed) {
        m_lastEdited = nullptr;
        return wrCancelled;
    }
    form.ControlsToJob(*files);
    return form.Tag() == TfrmWizard_FilesBackup::wtSaveAndRun ? wrDoneAndRun : wrDone;
}
