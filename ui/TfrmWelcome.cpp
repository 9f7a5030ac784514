#include "ui/TfrmWelcome.h"

#include "ui/TJobIcons.h"
#include "ui/UiTr.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfrmWelcome::TfrmWelcome(QWidget* parent)
    : QDialog(parent)
    , m_text(new QLabel(this))
    , m_newJob(new QPushButton(this))
    , m_openJob(new QPushButton(this))
    , m_userGuide(new QPushButton(this))
    , m_close(new QPushButton(this))
    , m_doNotShow(new QCheckBox(this)) {
    setObjectName(QStringLiteral("frmWelcome"));
    m_text->setWordWrap(true);
    auto* picture = new QLabel(this);
    picture->setPixmap(TJobIcons::Application().pixmap(64, 64));
    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addWidget(m_text, 1);
    auto* actions = new QHBoxLayout;
    for (QPushButton* button : {m_newJob, m_openJob, m_userGuide})
        actions->addWidget(button);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_doNotShow, 1);
    bottom->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(actions);
    layout->addLayout(bottom);

    connect(m_newJob, &QPushButton::clicked, this, [this] {
        close();
        Q_EMIT NewJobClicked();
    });
    connect(m_openJob, &QPushButton::clicked, this, [this] {
        close();
        Q_EMIT OpenJobClicked();
    });
    connect(m_userGuide, &QPushButton::clicked, this, &TfrmWelcome::UserGuideClicked);
    connect(m_close, &QPushButton::clicked, this, &TfrmWelcome::close);
    Retranslate();
}

bool TfrmWelcome::DoNotShowAgain() const {
    return m_doNotShow->isChecked();
}

void TfrmWelcome::Retranslate() {
    setWindowTitle(TrFormat(u"Welcome to %s", {QString::fromUtf16(TAppGlobals::ApplicationTitle)}));
    m_text->setText(Tr(u"There are no backup jobs yet. Create a new job, or open a job from a backup device to "
                       u"restore its files."));
    m_newJob->setText(Tr(u"New Job"));
    m_openJob->setText(Tr(u"Open Job"));
    m_userGuide->setText(Tr(u"User Guide"));
    m_close->setText(Tr(u"Close"));
    m_doNotShow->setText(Tr(u"Do not show this dialog again"));
}

void TfrmWelcome::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}
