#pragma once

#include <QString>

#include <mutex>

class TCliContext;
class TJob;

// Follows a job run in the command-line program: prints the job log as it is written, keeps a
// live progress line on a terminal, and turns Ctrl-C (or SIGTERM) into a clean cancel of the job.
class TCliRunner {
public:
    TCliRunner(TCliContext& context, TJob& job);
    ~TCliRunner();
    TCliRunner(const TCliRunner&) = delete;
    TCliRunner& operator=(const TCliRunner&) = delete;

    // Returns when the job is idle again and its worker has ended.
    void WaitUntilIdle();

private:
    void PrintLine(const QString& line);
    void ShowProgress();
    void ClearProgress();

    TCliContext& m_context;
    TJob& m_job;
    std::mutex m_outputLock;
    bool m_terminal = false;
    int m_progressWidth = 0; // characters of the progress line now on screen
};
