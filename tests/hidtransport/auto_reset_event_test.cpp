#include "hidtransport/auto_reset_event.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace zelk::hid {
namespace {

using namespace std::chrono_literals;

TEST(AutoResetEvent, ASignalLetsOneWaitPassAndIsThenCleared) {
    AutoResetEvent event;
    EXPECT_FALSE(event.WaitFor(0ms));
    event.Set();
    event.Set();  // signals do not add up
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_FALSE(event.WaitFor(1ms));
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.WaitFor(0ms));
}

// After a long wait the next waiter sleeps at once; Set must still wake it.
TEST(AutoResetEvent, ASleepingWaiterIsWokenBySet) {
    AutoResetEvent event;
    EXPECT_FALSE(event.WaitFor(20ms));  // long enough that the next wait sleeps
    for (int round = 0; round < 3; ++round) {
        auto waiter = std::async(std::launch::async, [&] { return event.WaitFor(60s); });
        std::this_thread::sleep_for(20ms);
        event.Set();
        ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready) << "round " << round;
        EXPECT_TRUE(waiter.get());
    }
}

// Two threads hand a turn back and forth, with answers sometimes at once (the
// waiter spins) and sometimes after a pause (it sleeps): a lost wake-up would
// leave both waiting.
TEST(AutoResetEvent, APingPongLosesNoWakeUp) {
    AutoResetEvent ping;
    AutoResetEvent pong;
    constexpr int kRounds = 20000;
    auto partner = std::async(std::launch::async, [&] {
        for (int i = 0; i < kRounds; ++i) {
            if (!ping.WaitFor(60s)) {
                return i;
            }
            if (i % 1000 == 999) {
                std::this_thread::sleep_for(1ms);
            }
            pong.Set();
        }
        return kRounds;
    });
    int answered = 0;
    for (; answered < kRounds; ++answered) {
        ping.Set();
        if (!pong.WaitFor(60s)) {
            break;
        }
    }
    ASSERT_EQ(partner.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(partner.get(), kRounds);
    EXPECT_EQ(answered, kRounds);
}

// A source that sets the event on its n-th pump, or gives up (false) at once.
struct CountingSource final : AutoResetEvent::Source {
    AutoResetEvent* event = nullptr;
    int setOnPump = 0;  // 0: never
    bool givesUp = false;
    std::atomic<int> pumps{0};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};

    bool Pump(AutoResetEvent::Clock::time_point deadline) override {
        const int now = ++inside;
        mostInside = std::max(mostInside.load(), now);
        const int pump = ++pumps;
        if (givesUp) {
            --inside;
            return false;
        }
        if (pump == setOnPump) {
            event->Set();
        } else {
            std::this_thread::sleep_until(std::min(deadline, AutoResetEvent::Clock::now() + 1ms));
        }
        --inside;
        return true;
    }
};

TEST(AutoResetEvent, AWaiterDrivesItsSourceUntilTheSignalOrTheDeadline) {
    AutoResetEvent event;
    CountingSource source;
    source.event = &event;
    source.setOnPump = 3;
    event.AttachSource(&source);
    EXPECT_TRUE(event.WaitFor(5s));
    EXPECT_EQ(source.pumps, 3);

    source.setOnPump = 0;
    source.pumps = 0;
    const auto start = AutoResetEvent::Clock::now();
    EXPECT_FALSE(event.WaitFor(30ms));
    EXPECT_GE(AutoResetEvent::Clock::now() - start, 30ms);
    EXPECT_GE(source.pumps, 2);

    event.AttachSource(nullptr);
    source.pumps = 0;
    EXPECT_FALSE(event.WaitFor(5ms));
    EXPECT_EQ(source.pumps, 0);
}

// A source with nothing more to give (a device that is gone) leaves the waiter
// asleep on the event: it neither spins on the source nor misses a Set.
TEST(AutoResetEvent, ASourceThatGivesUpLeavesTheWaiterAsleep) {
    AutoResetEvent event;
    CountingSource source;
    source.givesUp = true;
    event.AttachSource(&source);
    auto waiter = std::async(std::launch::async, [&] { return event.WaitFor(60s); });
    std::this_thread::sleep_for(30ms);
    event.Set();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
    EXPECT_EQ(source.pumps, 1);
}

// Two waiters at once: only one drives the source (a device is read by one
// thread at a time); the other sleeps and is woken by what the first handles.
TEST(AutoResetEvent, OnlyOneWaiterDrivesTheSourceAtATime) {
    AutoResetEvent event;
    CountingSource source;
    source.event = &event;
    event.AttachSource(&source);
    auto first = std::async(std::launch::async, [&] { return event.WaitFor(200ms); });
    auto second = std::async(std::launch::async, [&] { return event.WaitFor(200ms); });
    EXPECT_FALSE(first.get());
    EXPECT_FALSE(second.get());
    EXPECT_EQ(source.mostInside, 1);
}

}  // namespace
}  // namespace zelk::hid
