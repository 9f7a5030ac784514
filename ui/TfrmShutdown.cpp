#include "ui/TfrmShutdown.h"

#include "ui/UiTr.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

TfrmShutdown::TfrmShutdown(QWidget* parent)
    : QDialog(parent)
    , m_text(new QLabel(this))
    , m_shutdown(new QPushButton(this))
    , m_cancel(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmShutdown"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    m_text->setWordWrap(true);
    m_text->setMinimumWidth(380);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(m_text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_shutdown);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    m_cancel->setDefault(true);
    connect(m_shutdown, &QPushButton::clicked, this, &TfrmShutdown::ShutdownClicked);
    connect(m_cancel, &QPushButton::clicked, this, &TfrmShutdown::reject);
    Retranslate();
}

void TfrmShutdown::Retranslate() {
    setWindowTitle(Tr(u"Warning!"));
    m_shutdown->setText(Tr(u"Shutdown"));
    m_cancel->setText(Tr(u"Cancel"));
}

void TfrmShutdown::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}

void TfrmShutdown::SetText(const QString& text) {
    m_text->setText(text);
}

QString TfrmShutdown::Text() const {
    return m_text->text();
}

void TfrmShutdown::reject() {
    QDialog::reject();
    Q_EMIT CancelClicked();
}
