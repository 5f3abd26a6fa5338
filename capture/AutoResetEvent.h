#pragma once
// An auto-reset event: Set() wakes one Wait() and the event resets itself when a
// waiter takes it; a Set() with no waiter stays signalled until the next Wait().
// Any thread may call any operation.

#include <chrono>
#include <condition_variable>
#include <mutex>

class CAutoResetEvent {
public:
    void Set() {
        { std::lock_guard<std::mutex> lock(m_mutex); m_bSignalled = true; }
        m_cv.notify_one();
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSignalled = false;
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_bSignalled; });
        m_bSignalled = false;
    }
    // Returns true when signalled within the time-out (and resets the event).
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [this] { return m_bSignalled; })) return false;
        m_bSignalled = false;
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bSignalled = false;
};
