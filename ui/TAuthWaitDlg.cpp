#include "ui/TAuthWaitDlg.h"

#include "cloud/TLoopbackCodeListener.h"
#include "ui/TProductSite.h"
#include "ui/UiTr.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

TAuthWaitDlg::TAuthWaitDlg(QWidget* parent, const QString& state)
    : QDialog(parent)
    , FListener(new TLoopbackCodeListener(this))
    , FState(state) {
    setObjectName(QStringLiteral("AuthWaitDlg"));
    setWindowTitle(QStringLiteral("Vaultora"));
    MainLbl = new QLabel(Tr(u"Please authorize the app.") + u' ' + Tr(u"Waiting") + QStringLiteral("..."), this);
    MainLbl->setObjectName(QStringLiteral("MainLbl"));
    MainLbl->setWordWrap(true);
    PasteBtn = new QPushButton(Tr(u"Paste a code instead..."), this);
    PasteBtn->setObjectName(QStringLiteral("PasteBtn"));
    CancelBtn = new QPushButton(Tr(u"Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(PasteBtn);
    buttons->addStretch(1);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MainLbl);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(PasteBtn, &QPushButton::clicked, this, [this] {
        FResult = PasteResult();
        accept();
    });
    connect(FListener, &TLoopbackCodeListener::Finished, this, &TAuthWaitDlg::OnFinished);
}

TAuthWaitDlg::~TAuthWaitDlg() {
    FListener->Stop();
}

bool TAuthWaitDlg::Listen(quint16 port, QString* error) {
    if (FListener->Start(port, FState))
        return true;
    if (error)
        *error = QStringLiteral("Cannot wait on 127.0.0.1:%1: ").arg(port) + FListener->ErrorString();
    return false;
}

void TAuthWaitDlg::OnFinished(const QString& result) {
    if (!FResult.isEmpty())
        return;
    FResult = result;
    // The browser had the focus: bring the program back for the next step.
    if (parentWidget())
        parentWidget()->window()->showNormal();
    raise();
    activateWindow();
    if (result == u"cancel")
        reject();
    else
        accept();
}

QString TAuthWaitDlg::Wait(QWidget* parent, quint16 port, const QString& url, QString* error) {
    TAuthWaitDlg dialog(parent, StateOfAuthorizationUrl(url));
    if (!dialog.Listen(port, error))
        return {};
    TProductSite::Open(QUrl(url, QUrl::StrictMode));
    if (dialog.exec() != QDialog::Accepted)
        return QStringLiteral("cancel");
    return dialog.Result();
}
