// The time seam: every fixed wait of the program (answer waits, pauses between
// steps) goes through a WaitClock, so tests can run them fast.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "hidtransport/auto_reset_event.h"

namespace zelk {

class WaitClock {
  public:
    virtual ~WaitClock() = default;
    // True when `event` was set within `ms` milliseconds (and clears it).
    virtual bool WaitForEvent(hid::AutoResetEvent& event, std::uint32_t ms) = 0;
    virtual void SleepFor(std::uint32_t ms) = 0;
};

// Real time.
class SystemWaitClock final : public WaitClock {
  public:
    bool WaitForEvent(hid::AutoResetEvent& event, std::uint32_t ms) override {
        return event.WaitFor(std::chrono::milliseconds(ms));
    }
    void SleepFor(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

// The clock of the process.
WaitClock& SystemClock();

}  // namespace zelk
