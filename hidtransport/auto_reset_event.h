// An auto-reset event: Set wakes one waiter, or lets the next Wait pass at
// once; a successful wait clears it again.
//
// A waiter spins only when the event has lately been set within moments of a
// wait starting (a device that answers at once): there a sleep would add a
// scheduler wake-up to every block. When answers take longer, a waiter sleeps
// at once and Set wakes it, so a slow device costs no spinning core.
//
// An event may have a Source: something the waiting thread can drive itself
// to bring the signal about (reading the device whose answers set it). A
// waiter then does not sleep on the event but in the source (in the device's
// read), and the answer is taken by the thread that waits for it: no second
// thread has to be woken to hand it over.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "hidtransport/spin_wait.h"

namespace zelk::hid {

class AutoResetEvent {
  public:
    using Clock = std::chrono::steady_clock;
    // The longest a waiter spins, and the longest a wait may have lasted for
    // the next one to spin at all.
    static constexpr std::chrono::microseconds kSpin{50};

    class Source {
      public:
        // Waits at most until `deadline` (it may overrun it by less than a
        // millisecond) for one thing that may set the event, and handles it.
        // False when nothing can come this way any more; the waiter then sleeps
        // on the event until its deadline.
        virtual bool Pump(Clock::time_point deadline) = 0;

      protected:
        ~Source() = default;
    };

    // Null removes it. One waiter at a time drives the source; others sleep
    // on the event as usual and are woken by what the driving one handles.
    void AttachSource(Source* source) { source_.store(source, std::memory_order_release); }

    void Set() {
        signalled_.store(true, std::memory_order_seq_cst);
        // A waiter counts itself under the mutex before it looks at the signal,
        // so either it sees the signal or this sees the waiter.
        if (waiters_.load(std::memory_order_seq_cst) > 0) {
            std::lock_guard lock(mutex_);
            condition_.notify_one();
        }
    }

    void Reset() { signalled_.store(false, std::memory_order_release); }

    void Wait() {
        while (!WaitUntil(Clock::now() + std::chrono::hours{24})) {
        }
    }

    // True when the event was set within `timeout`.
    template <class Rep, class Period>
    bool WaitFor(std::chrono::duration<Rep, Period> timeout) {
        return WaitUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout));
    }

  private:
    bool WaitUntil(Clock::time_point deadline) {
        const auto start = Clock::now();
        if (Take()) {
            return true;
        }
        if (Source* source = source_.load(std::memory_order_acquire);
            source != nullptr && !pumping_.exchange(true, std::memory_order_acquire)) {
            const bool taken = Drive(*source, deadline);
            pumping_.store(false, std::memory_order_release);
            if (taken || Clock::now() >= deadline) {
                return taken;
            }
        }
        if (lastWaitNs_.load(std::memory_order_relaxed) <= SpinNs() &&
            SpinFor(std::min<Clock::duration>(kSpin, deadline - start))) {
            Remember(start);
            return true;
        }
        std::unique_lock lock(mutex_);
        waiters_.fetch_add(1, std::memory_order_seq_cst);
        const bool taken = condition_.wait_until(lock, deadline, [this] { return Take(); });
        waiters_.fetch_sub(1, std::memory_order_relaxed);
        if (taken) {
            Remember(start);
        }
        return taken;
    }

    // True once the source set the event; false when the deadline passed or
    // the source has nothing more to give.
    bool Drive(Source& source, Clock::time_point deadline) {
        for (;;) {
            const bool more = source.Pump(deadline);
            if (Take()) {
                return true;
            }
            if (!more || Clock::now() >= deadline) {
                return false;
            }
        }
    }

    static std::int64_t SpinNs() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(kSpin).count();
    }

    void Remember(Clock::time_point start) {
        lastWaitNs_.store(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count(),
            std::memory_order_relaxed);
    }

    // Clears the signal; true when it was set. Lock-free, so that a spinning
    // waiter never has to queue behind Set on the mutex.
    bool Take() { return signalled_.exchange(false, std::memory_order_acquire); }

    // Takes the signal if it arrives within `spin`.
    bool SpinFor(Clock::duration spin) {
        return SpinUntil(spin,
                         [this] { return signalled_.load(std::memory_order_relaxed) && Take(); });
    }

    std::mutex mutex_;
    std::condition_variable condition_;
    std::atomic<bool> signalled_{false};
    std::atomic<int> waiters_{0};
    std::atomic<Source*> source_{nullptr};
    std::atomic<bool> pumping_{false};
    // How long the last successful wait took; starts at "short" so that the
    // first wait spins.
    std::atomic<std::int64_t> lastWaitNs_{0};
};

}  // namespace zelk::hid
