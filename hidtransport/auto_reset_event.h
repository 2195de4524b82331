// An auto-reset event: Set wakes one waiter, or lets the next Wait pass at
// once; a successful wait clears it again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zelk::hid {

class AutoResetEvent {
  public:
    void Set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        condition_.notify_one();
    }

    void Reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        condition_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
    }

    // True when the event was set within `timeout`.
    template <class Rep, class Period>
    bool WaitFor(std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock lock(mutex_);
        if (!condition_.wait_for(lock, timeout, [this] { return signalled_; })) {
            return false;
        }
        signalled_ = false;
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
};

}  // namespace zelk::hid
