// An auto-reset event: Set wakes one waiter, or lets the next Wait pass at
// once; a successful wait clears it again.
//
// A waiter first spins briefly: a device answer usually arrives within tens of
// microseconds of a write, and sleeping on the condition variable would add a
// scheduler wake-up to every block of a transfer.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "spin_wait.h"

namespace zelk::hid {

class AutoResetEvent {
  public:
    static constexpr std::chrono::microseconds kSpin{2000};

    void Set() {
        {
            std::lock_guard lock(mutex_);
            signalled_.store(true, std::memory_order_release);
        }
        condition_.notify_one();
    }

    void Reset() { signalled_.store(false, std::memory_order_release); }

    void Wait() {
        if (SpinFor(kSpin)) {
            return;
        }
        std::unique_lock lock(mutex_);
        condition_.wait(lock, [this] { return Take(); });
    }

    // True when the event was set within `timeout`.
    template <class Rep, class Period>
    bool WaitFor(std::chrono::duration<Rep, Period> timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        if (SpinFor(std::min<std::chrono::steady_clock::duration>(kSpin, timeout))) {
            return true;
        }
        std::unique_lock lock(mutex_);
        return condition_.wait_until(lock, deadline, [this] { return Take(); });
    }

  private:
    // Clears the signal; true when it was set. Lock-free, so that a spinning
    // waiter never has to queue behind Set on the mutex.
    bool Take() { return signalled_.exchange(false, std::memory_order_acquire); }

    // Takes the signal if it arrives within `spin`.
    bool SpinFor(std::chrono::steady_clock::duration spin) {
        return SpinUntil(spin,
                         [this] { return signalled_.load(std::memory_order_relaxed) && Take(); });
    }

    std::mutex mutex_;
    std::condition_variable condition_;
    std::atomic<bool> signalled_{false};
};

}  // namespace zelk::hid
