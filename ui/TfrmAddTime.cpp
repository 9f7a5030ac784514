#include "ui/TfrmAddTime.h"

#include "ui/UiTr.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTimeEdit>

TfrmAddTime::TfrmAddTime(QWidget* parent)
    : QDialog(parent)
    , m_time(new QTimeEdit(this))
    , m_ok(new QPushButton(this)) {
    setObjectName(QStringLiteral("frmAddTime"));
    m_time->setObjectName(QStringLiteral("dtpTime"));
    m_time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    m_ok->setObjectName(QStringLiteral("btnOK"));
    m_ok->setDefault(true);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_time, 1);
    layout->addWidget(m_ok);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    Reset();
}

void TfrmAddTime::showEvent(QShowEvent* event) {
    setWindowTitle(Tr(u"Add..."));
    m_ok->setText(Tr(u"OK"));
    QDialog::showEvent(event);
}

void TfrmAddTime::Reset() {
    m_time->setTime(QTime(0, 0));
}

QTime TfrmAddTime::Time() const {
    return m_time->time();
}

void TfrmAddTime::SetTime(const QTime& time) {
    m_time->setTime(time);
}

QString TfrmAddTime::EntryText() const {
    return m_time->time().toString(QStringLiteral("HH:mm:ss"));
}
