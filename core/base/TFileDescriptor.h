#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <utility>

// Owns one file descriptor and closes it on destruction. Get() of an empty holder is AT_FDCWD,
// so a holder can stand for "relative to the working folder" in the *at() calls.
class TFileDescriptor {
public:
    TFileDescriptor() = default;
    explicit TFileDescriptor(int fd)
        : m_fd(fd) {}
    ~TFileDescriptor() { Reset(); }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    TFileDescriptor(TFileDescriptor&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    TFileDescriptor& operator=(TFileDescriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    bool IsOpen() const { return m_fd >= 0; }
    int Get() const { return m_fd >= 0 ? m_fd : AT_FDCWD; }
    // Gives up ownership without closing.
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};
