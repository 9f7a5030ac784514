#include "ui/TfrmListViewer.h"

#include "ui/UiTr.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmListViewer::TfrmListViewer(QWidget* parent)
    : QDialog(parent)
    , m_label(new QLabel(this))
    , m_text(new QPlainTextEdit(this))
    , m_ok(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmListViewer"));
    m_text->setObjectName(QStringLiteral("mmList"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_text, 1);
    layout->addLayout(bottom);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    resize(520, 360);
    Retranslate();
}

void TfrmListViewer::Retranslate() {
    setWindowTitle(Tr(u"View as list"));
    m_label->setText(Tr(u"View as list") + u':');
    m_ok->setText(Tr(u"OK"));
}

void TfrmListViewer::showEvent(QShowEvent* event) {
    Retranslate();
    QDialog::showEvent(event);
}

void TfrmListViewer::ShowSources(const QStringList& sources) {
    QStringList lines;
    for (QString entry : sources) {
        if (entry.endsWith(QStringLiteral("/*"))) {
            entry.chop(2);
            if (entry.isEmpty())
                entry = QStringLiteral("/");
        }
        lines.append(entry);
    }
    m_text->setPlainText(lines.join(u'\n'));
}

QString TfrmListViewer::Text() const {
    return m_text->toPlainText();
}
