#include "auto_reset_event.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zelk::hid
