#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class TPowerOff;

// The countdown of the shutdown dialog, without the dialog: shown after the day's last scheduled
// run once every job is idle, it counts 60 seconds and then turns the computer off. "Shutdown"
// acts at the next second; "Cancel" (and a refused power-off) returns the program to normal
// operation. Interface thread only.
class TShutdownCountdown : public QObject {
    Q_OBJECT
public:
    static constexpr int CountdownSeconds = 60;

    explicit TShutdownCountdown(TPowerOff& powerOff, QObject* parent = nullptr);

    // The dialog is shown: the countdown is CountdownSeconds and the one-second timer runs.
    void Begin();
    bool IsActive() const { return m_active; }
    int Remaining() const { return m_remaining; }
    // The dialog's message for the current count.
    QString Text() const;

    // One second of the timer: above 0 the count goes down by one; at 0 IsQuitting is set and the
    // computer is turned off, or, when the system refuses, the countdown is cancelled.
    void Second();
    // "Shutdown": the count becomes 0, so the next second acts.
    void ShutdownNow();
    // "Cancel": the countdown stops and IsQuitting is cleared.
    void Cancel();

Q_SIGNALS:
    // Remaining has a new value.
    void Changed();
    // The countdown ended without a power-off; the dialog closes and the scheduler resumes.
    void Cancelled();
    // The system is turning the computer off; the program ends.
    void PoweringOff();

private:
    TPowerOff& m_powerOff;
    QTimer m_timer;
    bool m_active = false;
    int m_remaining = 0;
};
