#pragma once

#include <QHash>
#include <QString>

class TDesktopNotifier;
class TJob;
class TScheduler;

// Desktop notices about the backup runs the scheduler starts: a run that ended with errors or was
// cancelled, and a waiting job that could not start. Nothing for runs that finished (with or
// without warnings), which is what the user expects, nor for restores, which the user starts and
// watches at the window.
//
// Whether notices are shown is the per-user switch "desktop_notifications" of the window settings
// (QSettings "Vaultora"/"Vaultora", on by default); it is read at each notice, so a change in the
// Options applies at once. A notifier that cannot reach the desktop writes one events-log line.
class TJobNotices {
public:
    explicit TJobNotices(TDesktopNotifier& notifier);
    ~TJobNotices();
    TJobNotices(const TJobNotices&) = delete;
    TJobNotices& operator=(const TJobNotices&) = delete;

    // Fills the scheduler's JobEnded and StartFailed hooks; this object must outlive them.
    void Attach(TScheduler& scheduler);

    void JobEnded(const TJob& job);
    void StartFailed(const TJob& job, const QString& text);

    static bool SwitchedOn();
    static void SetSwitchedOn(bool on);

private:
    TDesktopNotifier& m_notifier;
    // The last failed start told per job name, until the job has run: a start that keeps failing
    // the same way (retried every tick) is told once.
    QHash<QString, QString> m_toldStartFailures;
};
