#include "core/schedule/TJobNotices.h"

#include "core/model/JobTexts.h"
#include "core/model/TJob.h"
#include "core/schedule/TScheduler.h"
#include "core/settings/TAppGlobals.h"
#include "platform/TDesktopNotifier.h"

#include <QSettings>

namespace {

QSettings WindowSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vaultora"),
                     QStringLiteral("Vaultora"));
}

const QString SwitchKey = QStringLiteral("desktop_notifications");

} // namespace

TJobNotices::TJobNotices(TDesktopNotifier& notifier)
    : m_notifier(notifier) {
    m_notifier.OnFailure = [](const QString& why) {
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Desktop notifications cannot be shown:")) + u' ' +
                                       why);
    };
}

TJobNotices::~TJobNotices() {
    m_notifier.OnFailure = nullptr;
}

void TJobNotices::Attach(TScheduler& scheduler) {
    scheduler.Hooks.JobEnded = [this](TJob& job) { JobEnded(job); };
    scheduler.Hooks.StartFailed = [this](TJob& job, const QString& text) { StartFailed(job, text); };
}

void TJobNotices::JobEnded(const TJob& job) {
    m_toldStartFailures.remove(job.stJobName);
    // Restores are started and watched by the user at the window.
    if (job.JobOperation != joBackup)
        return;
    const TJobResult& result = job.LastJobResult;
    if (!result.Cancelled && result.ErrorsCount == 0)
        return;
    if (!SwitchedOn())
        return;
    // The texts of the job's card: how it ended and how many errors.
    QString body = ResultText(result);
    if (result.ErrorsCount > 0)
        body += u'\n' + TranslateText(QStringLiteral("Errors")) + QStringLiteral(": ") +
                QString::number(result.ErrorsCount.Load());
    m_notifier.Notify(job.stJobName, body);
}

void TJobNotices::StartFailed(const TJob& job, const QString& text) {
    if (m_toldStartFailures.value(job.stJobName) == text || !SwitchedOn())
        return;
    m_toldStartFailures.insert(job.stJobName, text);
    m_notifier.Notify(job.stJobName, text);
}

bool TJobNotices::SwitchedOn() {
    return WindowSettings().value(SwitchKey, true).toBool();
}

void TJobNotices::SetSwitchedOn(bool on) {
    QSettings settings = WindowSettings();
    settings.setValue(SwitchKey, on);
}
