#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads running submitted tasks in submission order. Tasks must not throw:
// each catches its own failures and records them in its own result.
class TWorkerPool {
public:
    explicit TWorkerPool(int threads);
    ~TWorkerPool(); // runs the tasks still queued, then joins
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    void Submit(std::function<void()> task);
    int ThreadCount() const { return int(m_threads.size()); }

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// The completion of one task: set once by the worker, waited for by the owner.
class TCompletion {
public:
    void Set() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
    }
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_done; });
    }
    bool IsSet() {
        std::lock_guard lock(m_mutex);
        return m_done;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
};
