#include "archive/TWorkerPool.h"

TWorkerPool::TWorkerPool(int threads) {
    for (int i = 0; i < std::max(threads, 1); ++i)
        m_threads.emplace_back([this] { Run(); });
}

TWorkerPool::~TWorkerPool() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void TWorkerPool::Submit(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void TWorkerPool::Run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}
