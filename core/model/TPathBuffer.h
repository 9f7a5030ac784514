#pragma once

#include <QString>

#include <array>
#include <atomic>

// The path on display while a worker processes it: a fixed buffer of 256 UTF-16 units, so the
// interface thread can read it at any moment while the worker rewrites it. Longer paths are cut
// to 256 units; the rest of the buffer is zero.
class TPathBuffer {
public:
    static constexpr int Capacity = 256;

    void Set(const QString& path) {
        const int length = int(std::min<qsizetype>(path.size(), Capacity));
        for (int i = 0; i < Capacity; ++i)
            m_units[i].store(i < length ? path.at(i).unicode() : char16_t(0), std::memory_order_relaxed);
    }
    void Clear() { Set(QString()); }

    QString Get() const {
        QString text;
        text.reserve(Capacity);
        for (int i = 0; i < Capacity; ++i) {
            const char16_t unit = m_units[i].load(std::memory_order_relaxed);
            if (unit == 0)
                break;
            text.append(QChar(unit));
        }
        return text;
    }

private:
    std::array<std::atomic<char16_t>, Capacity> m_units{};
};
