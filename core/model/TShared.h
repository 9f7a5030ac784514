#pragma once

#include <atomic>

// A value one thread writes while another reads it for display (a job's status, counters and
// times). Relaxed atomics: readers may see a value one step old, never a torn one. Copyable so
// that records holding it stay plain records.
template <class T>
class TShared {
public:
    TShared(T value = T{})
        : m_value(value) {}
    TShared(const TShared& other)
        : m_value(other.Load()) {}
    TShared& operator=(const TShared& other) {
        Store(other.Load());
        return *this;
    }
    TShared& operator=(T value) {
        Store(value);
        return *this;
    }
    operator T() const { return Load(); }

    T Load() const { return m_value.load(std::memory_order_relaxed); }
    void Store(T value) { m_value.store(value, std::memory_order_relaxed); }
    T operator++() requires std::is_integral_v<T> { return m_value.fetch_add(1, std::memory_order_relaxed) + 1; }
    T operator+=(T delta) requires std::is_integral_v<T> {
        return m_value.fetch_add(delta, std::memory_order_relaxed) + delta;
    }

private:
    std::atomic<T> m_value;
};
