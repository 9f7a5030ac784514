#include "app/cli/TCliRunner.h"

#include "app/cli/TCliContext.h"

#include "core/base/TextFormat.h"
#include "core/model/TJob.h"

#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t StopRequested = 0;

void OnStopSignal(int) {
    StopRequested = 1;
}

struct sigaction PreviousInt, PreviousTerm;

} // namespace

TCliRunner::TCliRunner(TCliContext& context, TJob& job)
    : m_context(context)
    , m_job(job) {
    m_terminal = ::isatty(STDOUT_FILENO) == 1;
    StopRequested = 0;
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &PreviousInt);
    ::sigaction(SIGTERM, &action, &PreviousTerm);
    m_job.OnLogLine = [this](const QString& line) { PrintLine(line); };
}

TCliRunner::~TCliRunner() {
    m_job.OnLogLine = nullptr;
    ::sigaction(SIGINT, &PreviousInt, nullptr);
    ::sigaction(SIGTERM, &PreviousTerm, nullptr);
}

void TCliRunner::PrintLine(const QString& line) {
    std::lock_guard guard(m_outputLock);
    ClearProgress();
    m_context.Out << line << '\n';
    m_context.Out.flush();
}

void TCliRunner::ClearProgress() {
    if (m_progressWidth > 0) {
        m_context.Out << '\r' << QString(m_progressWidth, u' ') << '\r';
        m_progressWidth = 0;
    }
}

void TCliRunner::ShowProgress() {
    std::lock_guard guard(m_outputLock);
    ClearProgress();
    winsize size{};
    int columns = 80;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        columns = size.ws_col;
    QString text = QStringLiteral("[%1 files, %2] %3% ")
                       .arg(m_job.CurrentBackupFilesProcessed.Load())
                       .arg(FormatSize(m_job.CurrentBackupSize))
                       .arg(m_job.CurrentFileOperationProgress.Load());
    const QString path = m_job.CurrentFileOperationPath.Get();
    const int room = columns - 1 - int(text.size());
    if (room > 3)
        text += path.size() <= room ? path : QStringLiteral("...") + path.right(room - 3);
    text.truncate(columns - 1);
    m_context.Out << text;
    m_context.Out.flush();
    m_progressWidth = int(text.size());
}

void TCliRunner::WaitUntilIdle() {
    bool cancelSent = false;
    int ticks = 0;
    while (m_job.JobStatus != jsNone) {
        // Short steps: a run's end is noticed at once (progress still shows every 200 ms).
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (StopRequested && !cancelSent) {
            cancelSent = true;
            PrintLine(QStringLiteral("Cancelling..."));
            m_job.Cancel();
        }
        if (m_terminal && ++ticks % 40 == 0)
            ShowProgress();
    }
    m_job.WaitForWorker();
    std::lock_guard guard(m_outputLock);
    ClearProgress();
    m_context.Out.flush();
}
