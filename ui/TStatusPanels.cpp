#include "ui/TStatusPanels.h"

#include "ui/UiTr.h"

#include "core/model/TJob.h"
#include "core/model/TJobList.h"

#include <QLabel>
#include <QStatusBar>

#ifndef VAULTORA_VERSION
#define VAULTORA_VERSION "0.0.0"
#endif

namespace {

void SetTextIfChanged(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

} // namespace

TStatusPanels::TStatusPanels(QStatusBar* bar)
    : QObject(bar)
    , m_jobs(new QLabel(bar))
    , m_running(new QLabel(bar))
    , m_cancelled(new QLabel(bar))
    , m_version(new QLabel(QStringLiteral(VAULTORA_VERSION), bar)) {
    for (QLabel* label : {m_jobs, m_running, m_cancelled}) {
        label->setMinimumWidth(110);
        bar->addWidget(label);
    }
    bar->addPermanentWidget(m_version);
}

void TStatusPanels::Update(const TJobList& jobs) {
    int running = 0, cancelled = 0;
    for (int i = 0; i < jobs.Count(); ++i) {
        running += jobs.At(i)->IsActive() ? 1 : 0;
        cancelled += jobs.At(i)->LastJobResult.Cancelled ? 1 : 0;
    }
    SetTextIfChanged(m_jobs, Tr(u"Jobs") + QStringLiteral(": ") + QString::number(jobs.Count()));
    SetTextIfChanged(m_running, Tr(u"Running") + QStringLiteral(": ") + QString::number(running));
    SetTextIfChanged(m_cancelled, Tr(u"Cancelled") + QStringLiteral(": ") + QString::number(cancelled));
}

QStringList TStatusPanels::Texts() const {
    return {m_jobs->text(), m_running->text(), m_cancelled->text(), m_version->text()};
}
