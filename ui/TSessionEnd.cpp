#include "ui/TSessionEnd.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler; a full pipe already holds the news.
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
}

} // namespace

TSessionEnd::TSessionEnd(QObject* parent)
    : QObject(parent) {
    if (SignalPipe[0] < 0 && ::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(SignalPipe[0], buffer, sizeof buffer) > 0) {
        }
        Q_EMIT Ended();
    });
    struct sigaction action {};
    action.sa_handler = &OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
}

TSessionEnd::~TSessionEnd() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigaction(SIGTERM, &action, nullptr);
}
