#include "ui/TfrmNewVersion.h"

#include "ui/TMessageBox.h"
#include "ui/TProductSite.h"
#include "ui/UiTr.h"

#include "net/THttpClient.h"
#include "net/TNewVersionCheck.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVersionNumber>

#ifndef VAULTORA_VERSION
#define VAULTORA_VERSION "0.0.0"
#endif

TfrmNewVersion::TfrmNewVersion(TNewVersionCheck& check, QWidget* parent)
    : QDialog(parent)
    , m_check(check)
    , m_text(new QPlainTextEdit(this))
    , m_updateNow(new QPushButton(this))
    , m_cancel(new QPushButton(this))
    , m_progress(new QProgressBar(this)) {
    setObjectName(QStringLiteral("frmNewVersion"));
    setWindowTitle(u' ' + QString::fromUtf16(TAppGlobals::ApplicationTitle));
    m_text->setObjectName(QStringLiteral("memoText"));
    m_text->setReadOnly(true);
    m_updateNow->setObjectName(QStringLiteral("btnUpdateNow"));
    m_updateNow->setText(Tr(u"Update Now"));
    QFont bold = m_updateNow->font();
    bold.setBold(true);
    m_updateNow->setFont(bold);
    m_updateNow->setDefault(true);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->setText(Tr(u"Cancel"));
    m_progress->setObjectName(QStringLiteral("progressDownload"));
    m_progress->setRange(0, 100);
    m_progress->setVisible(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_updateNow);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    resize(520, 360);

    connect(m_updateNow, &QPushButton::clicked, this, &TfrmNewVersion::UpdateNow);
    connect(m_cancel, &QPushButton::clicked, this, &TfrmNewVersion::reject);
}

bool TfrmNewVersion::NewAppVersionExists(int programVersion) {
    const TNewVersionCheck::TOutcome outcome = m_check.Check(programVersion);
    if (outcome == TNewVersionCheck::TOutcome::NothingNew)
        return false;
    const TSiteVersion& site = m_check.Site();
    strSoftwareInstallerFileName = site.PackageFileName;
    const QString latest = TNewVersionCheck::DisplayVersion(site.Latest);
    QString text;
    if (outcome == TNewVersionCheck::TOutcome::Mandatory) {
        MustUpdate = true;
        text = TrFormat(u"This version of the software is out of date. You must download the current version %s to "
                        u"continue using the software.",
                        {latest});
    } else {
        text = TrFormat(u"The new version %s is available", {latest});
    }
    text += QStringLiteral("\n\n") + Tr(u"What's new:") + u'\n';
    for (const QString& line : site.Changes)
        text += line + u'\n';
    m_text->setPlainText(text);
    return true;
}

void TfrmNewVersion::UpdateNow() {
    if (m_downloading)
        return;
    MustUpdate = true;
    AbortButtonIsClicked = false;
    m_cancel->setText(Tr(u"Abort"));
    m_updateNow->setEnabled(false);
    m_progress->setValue(0);
    m_progress->setVisible(true);
    m_downloading = true;
    // The download runs here; the window stays responsive through the progress events, and
    // "Abort" only sets the flag that the next one reads.
    const TNewVersionCheck::TDownload result = m_check.Download(TempFolder, [this](int64_t done, int64_t total) {
        if (AbortButtonIsClicked)
            return false;
        if (total > 0)
            m_progress->setValue(int(std::clamp<int64_t>(done * 100 / total, 0, 100)));
        QCoreApplication::processEvents();
        return !AbortButtonIsClicked;
    });
    m_downloading = false;
    if (result.Cancelled || AbortButtonIsClicked) {
        Fail(Tr(u"Download is cancelled. Please download manually."));
    } else if (!result.Ok) {
        Fail(result.Error);
    } else {
        const QUrl package = QUrl::fromLocalFile(result.Path);
        const bool opened = OpenPackage ? OpenPackage(package) : QDesktopServices::openUrl(package);
        if (!opened)
            Fail(TrFormat(u"Cannot open file \"%s\"", {result.Path}));
    }
    done(QDialog::Accepted);
}

void TfrmNewVersion::Fail(const QString& why) {
    TMessageBox::Error(this, Tr(u"Failed to download update.") + QStringLiteral("\n\n") + why);
    TProductSite::Open(QUrl(m_check.ManualDownloadPage()));
}

void TfrmNewVersion::reject() {
    // While the download runs, "Abort" (and closing the window) only asks it to stop.
    if (m_downloading) {
        AbortButtonIsClicked = true;
        return;
    }
    QDialog::reject();
}

bool RunNewVersionCheck(QWidget* parent, const QString& site, int programVersion,
                        const std::function<int(QDialog&)>& runner) {
    if (site.trimmed().isEmpty())
        return true;
    THttpClient client;
    client.Proxy = App().Options.Proxy;
    TNewVersionCheck check(client, site);
    TfrmNewVersion dialog(check, parent);
    dialog.TempFolder = App().Options.General.PathForTempFiles;
    if (!dialog.NewAppVersionExists(programVersion))
        return true;
    if (runner)
        runner(dialog);
    else
        dialog.exec();
    return dialog.ResultFlag() == 1;
}

int ProgramVersionNumber() {
    const QVersionNumber version = QVersionNumber::fromString(QStringLiteral(VAULTORA_VERSION));
    return TNewVersionCheck::VersionNumber(version.majorVersion(), version.minorVersion());
}
