// A WaitClock for tests: every wait lasts a fraction of what was asked, and
// every request is recorded so that a test can check which waits were made.
// A wait for a device's answer lasts at least kMinAnswerWait, so that a loaded
// machine (tests run in parallel, under sanitizers) never turns an answer that
// is on its way into a missing one.
#pragma once

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "hidtransport/wait_clock.h"

namespace zelk::testing {

class FastWaitClock final : public WaitClock {
  public:
    static constexpr std::chrono::milliseconds kMinAnswerWait{25};

    // Each wait lasts ms / divisor real milliseconds (at least 1).
    explicit FastWaitClock(std::uint32_t divisor = 50) : divisor_(divisor) {}

    bool WaitForEvent(hid::AutoResetEvent& event, std::uint32_t ms) override {
        Record(eventWaits_, ms);
        return event.WaitFor(std::max(Scaled(ms), kMinAnswerWait));
    }
    void SleepFor(std::uint32_t ms) override {
        Record(sleeps_, ms);
        std::this_thread::sleep_for(Scaled(ms));
    }

    std::vector<std::uint32_t> EventWaits() const {
        std::lock_guard lock(mutex_);
        return eventWaits_;
    }
    std::vector<std::uint32_t> Sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

  private:
    std::chrono::milliseconds Scaled(std::uint32_t ms) const {
        return std::chrono::milliseconds(std::max<std::uint32_t>(ms / divisor_, 1));
    }
    void Record(std::vector<std::uint32_t>& list, std::uint32_t ms) {
        std::lock_guard lock(mutex_);
        list.push_back(ms);
    }

    const std::uint32_t divisor_;
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> eventWaits_;
    std::vector<std::uint32_t> sleeps_;
};

}  // namespace zelk::testing
