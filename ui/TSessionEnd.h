#pragma once

#include <QObject>

class QSocketNotifier;

// The end of the desktop session reaches the program as SIGTERM (and as the session manager's
// commit request, which Qt delivers on its own). The signal handler only writes a byte to a pipe;
// the notifier turns it into Ended() on the interface thread.
class TSessionEnd : public QObject {
    Q_OBJECT
public:
    explicit TSessionEnd(QObject* parent = nullptr);
    ~TSessionEnd() override;

Q_SIGNALS:
    void Ended();

private:
    QSocketNotifier* m_notifier = nullptr;
};
