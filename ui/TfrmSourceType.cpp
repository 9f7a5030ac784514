#include "ui/TfrmSourceType.h"

#include "ui/TJobIcons.h"
#include "ui/UiTr.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfrmSourceType::TfrmSourceType(QWidget* parent)
    : QDialog(parent)
    , m_prompt(new QLabel(this))
    , m_close(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmSourceType"));
    m_prompt->setWordWrap(true);
    m_prompt->setMinimumHeight(m_prompt->fontMetrics().height() * 4);
    m_prompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const char* icons[] = {"job-incremental", "job-driveimage", "job-appdata"};
    auto* kinds = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(this);
        button->setObjectName(QStringLiteral("btnKind%1").arg(i + 1));
        button->setIcon(QIcon(TJobIcons::Job(QString::fromLatin1(icons[i]), 48)));
        button->setIconSize(QSize(48, 48));
        button->setMinimumSize(190, 110);
        button->installEventFilter(this);
        connect(button, &QPushButton::clicked, this, [this, i] { done(i + 1); });
        kinds->addWidget(button);
        m_kinds[i] = button;
    }
    connect(m_close, &QPushButton::clicked, this, [this] { done(0); });
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addLayout(kinds);
    layout->addLayout(bottom);
    Retranslate();
}

QString TfrmSourceType::Caption(int kind) {
    switch (kind) {
    case 1:
        return Tr(u"Files and Folders Backup");
    case 2:
        return Tr(u"Drive Image Backup");
    case 3:
        return Tr(u"Application Data Backup");
    default:
        return {};
    }
}

QString TfrmSourceType::Description(int kind) {
    switch (kind) {
    case 1:
        return Tr(u"Backup selected files and folders. Incremental, synchronizing and other backup methods are "
                  u"supported.");
    case 2:
        return Tr(u"Backup the operating system with all the settings, files, folders and applications.");
    case 3:
        return Tr(u"Backup the settings and data of selected applications.") + u' ' + Tr(u"Backup the game saves.");
    default:
        return {};
    }
}

void TfrmSourceType::Retranslate() {
    setWindowTitle(u' ' + Tr(u"Choose a backup type."));
    for (int i = 0; i < 3; ++i)
        m_kinds[i]->setText(Caption(i + 1));
    m_close->setText(Tr(u"Close"));
    ShowDescription(0);
}

void TfrmSourceType::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}

QString TfrmSourceType::PromptText() const {
    return m_prompt->text();
}

QPushButton* TfrmSourceType::KindButton(int kind) const {
    return kind >= 1 && kind <= 3 ? m_kinds[kind - 1] : nullptr;
}

void TfrmSourceType::ShowDescription(int kind) {
    if (kind >= 1 && kind <= 3)
        m_prompt->setText(Caption(kind) + u'\n' + Description(kind));
    else
        m_prompt->setText(Tr(u"Choose a backup type."));
}

bool TfrmSourceType::eventFilter(QObject* watched, QEvent* event) {
    for (int i = 0; i < 3; ++i) {
        if (watched != m_kinds[i])
            continue;
        if (event->type() == QEvent::Enter)
            ShowDescription(i + 1);
        else if (event->type() == QEvent::Leave)
            ShowDescription(0);
    }
    return QDialog::eventFilter(watched, event);
}
