#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// An event that a successful wait consumes. A Set() while nobody waits stays
// raised until the next wait. Abort() makes every present and future wait
// return at once (the analyzer is gone), so no caller waits out its limit.
class AutoResetEvent {
public:
    enum class Result { Signalled, TimedOut, Aborted };

    void Set() {
        {
            std::lock_guard lock(m_mutex);
            m_set = true;
        }
        m_cv.notify_one();
    }

    void Reset() {
        std::lock_guard lock(m_mutex);
        m_set = false;
    }

    bool IsSet() const {
        std::lock_guard lock(m_mutex);
        return m_set;
    }

    Result Wait(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        const bool ok = m_cv.wait_for(lock, limit, [this] { return m_set || m_aborted; });
        if (m_aborted) return Result::Aborted;
        if (!ok) return Result::TimedOut;
        m_set = false;
        return Result::Signalled;
    }

    void Abort() {
        {
            std::lock_guard lock(m_mutex);
            m_aborted = true;
        }
        m_cv.notify_all();
    }

    // Back to a usable, unset state after Abort() (a new connection).
    void Rearm() {
        std::lock_guard lock(m_mutex);
        m_aborted = false;
        m_set = false;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
    bool m_aborted = false;
};
