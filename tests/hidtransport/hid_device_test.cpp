#include "hidtransport/hid_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/hidtransport/virtual_test_support.h"

namespace zelk::hid {
namespace {

using testing::WaitUntil;
using virt::DefaultEarbud;
using virt::VirtualHidBackend;

constexpr std::uint32_t kFastReadWaitMs = 10;

// Collects what the read thread delivers.
struct Received {
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> reports;
    std::atomic<int> goneNotices{0};

    CHIDDevice::ReceiveCallback Callback() {
        return [this](const std::uint8_t* bytes, std::uint16_t count) {
            if (bytes == nullptr && count == 0) {
                ++goneNotices;
                return;
            }
            std::lock_guard lock(mutex);
            reports.emplace_back(bytes, bytes + count);
        };
    }
    std::size_t Count() {
        std::lock_guard lock(mutex);
        return reports.size();
    }
};

class CHIDDeviceTest : public ::testing::Test {
  protected:
    VirtualHidBackend backend{{DefaultEarbud()}};
    const std::u16string path = backend.Device(0).Path();
};

TEST_F(CHIDDeviceTest, OpenKeepsTheHandleOnlyWhenItSucceeds) {
    CHIDDevice device(backend);
    EXPECT_EQ(device.Open(u"\\\\?\\HID#VID_0000&PID_0000#nothing"), 1);
    EXPECT_EQ(device.DeviceHandle(), kInvalidHidHandle);
    ASSERT_EQ(device.Open(path), 0);
    const HidHandle handle = device.DeviceHandle();
    EXPECT_NE(handle, kInvalidHidHandle);
    EXPECT_EQ(device.Open(u"missing"), 1);
    EXPECT_EQ(device.DeviceHandle(), handle);
    EXPECT_EQ(device.Close(), 0);
    EXPECT_EQ(device.DeviceHandle(), kInvalidHidHandle);
    EXPECT_EQ(device.Close(), 0);
}

TEST_F(CHIDDeviceTest, ASecondCallbackIsRefusedAndTheFirstStays) {
    Received first;
    Received second;
    CHIDDevice device(backend, kFastReadWaitMs);
    EXPECT_EQ(device.SetRcvCallback(first.Callback()), 0);
    EXPECT_EQ(device.SetRcvCallback(second.Callback()), 1);
    ASSERT_EQ(device.Open(path), 0);
    ASSERT_EQ(device.EnableRead(true), 0);
    backend.Device(0).InjectInputReport({0x22, 1, 2, 3});
    EXPECT_TRUE(WaitUntil([&] { return first.Count() == 1; }));
    EXPECT_EQ(device.Close(), 0);
    EXPECT_EQ(second.Count(), 0u);
}

TEST_F(CHIDDeviceTest, EnableAndDisableReportWhenNothingChanges) {
    Received received;
    CHIDDevice device(backend, kFastReadWaitMs);
    device.SetRcvCallback(received.Callback());
    ASSERT_EQ(device.Open(path), 0);
    EXPECT_EQ(device.EnableRead(false), 1);
    EXPECT_EQ(device.EnableRead(true), 0);
    EXPECT_EQ(device.EnableRead(true), 1);
    EXPECT_EQ(device.EnableRead(false), 0);
    EXPECT_EQ(device.EnableRead(false), 1);
    // Reading can start again after a stop.
    EXPECT_EQ(device.EnableRead(true), 0);
    backend.Device(0).InjectInputReport({0x24, 9});
    EXPECT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
    EXPECT_EQ(device.Close(), 0);
    EXPECT_FALSE(device.IsReading());
}

TEST_F(CHIDDeviceTest, TheReadThreadDeliversEveryReportInOrder) {
    Received received;
    CHIDDevice device(backend, kFastReadWaitMs);
    device.SetRcvCallback(received.Callback());
    ASSERT_EQ(device.Open(path), 0);
    ASSERT_EQ(device.EnableRead(true), 0);
    constexpr int kReports = 500;
    for (int i = 0; i < kReports; ++i) {
        backend.Device(0).InjectInputReport(
            {0x22, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)});
    }
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == kReports; }));
    device.Close();
    for (int i = 0; i < kReports; ++i) {
        const auto& report = received.reports[static_cast<std::size_t>(i)];
        ASSERT_EQ(report.size(), 3u);
        EXPECT_EQ(report[1] | (report[2] << 8), i);
    }
}

TEST_F(CHIDDeviceTest, AReportArrivingDuringTheCallbackIsReadAfterIt) {
    std::atomic<int> calls{0};
    std::atomic<bool> release{false};
    CHIDDevice device(backend, kFastReadWaitMs);
    device.SetRcvCallback([&](const std::uint8_t* bytes, std::uint16_t) {
        if (bytes == nullptr) {
            return;
        }
        if (calls++ == 0) {
            while (!release) {
                std::this_thread::yield();
            }
        }
    });
    ASSERT_EQ(device.Open(path), 0);
    ASSERT_EQ(device.EnableRead(true), 0);
    backend.Device(0).InjectInputReport({0x22, 1});
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
    backend.Device(0).InjectInputReport({0x22, 2});
    release = true;
    EXPECT_TRUE(WaitUntil([&] { return calls == 2; }));
    device.Close();
}

TEST_F(CHIDDeviceTest, UnplugGivesTheGoneNoticeAndEndsTheThread) {
    Received received;
    CHIDDevice device(backend);  // the real 200 ms wait: unplug must not wait for it
    device.SetRcvCallback(received.Callback());
    ASSERT_EQ(device.Open(path), 0);
    ASSERT_EQ(device.EnableRead(true), 0);
    backend.Device(0).Unplug();
    ASSERT_TRUE(WaitUntil([&] { return received.goneNotices == 1; }));
    // The thread has ended by itself; reading stays wanted until it is stopped.
    EXPECT_TRUE(device.IsReading());
    EXPECT_EQ(device.EnableRead(true), 1);
    EXPECT_EQ(device.EnableRead(false), 0);
    EXPECT_EQ(device.Close(), 0);
    EXPECT_EQ(received.goneNotices, 1);
    EXPECT_EQ(received.Count(), 0u);
}

// Stopping wakes the waiting read instead of sitting out its wait, and a
// wake-up left over from one reading period does not lose a report in the next.
TEST_F(CHIDDeviceTest, StoppingEndsAWaitingReadAtOnceAndReadingCanResume) {
    Received received;
    constexpr std::uint32_t kMinuteWaitMs = 60000;
    CHIDDevice device(backend, kMinuteWaitMs);
    device.SetRcvCallback(received.Callback());
    ASSERT_EQ(device.Open(path), 0);
    for (int period = 0; period < 3; ++period) {
        ASSERT_EQ(device.EnableRead(true), 0);
        backend.Device(0).InjectInputReport({0x24, static_cast<std::uint8_t>(period)});
        ASSERT_TRUE(WaitUntil([&] { return received.Count() == std::size_t(period) + 1; }));
        // The thread now waits for the next report, a minute at a time.
        auto stopping = std::async(std::launch::async, [&] { return device.EnableRead(false); });
        ASSERT_EQ(stopping.wait_for(std::chrono::seconds(5)), std::future_status::ready)
            << "period " << period;
        EXPECT_EQ(stopping.get(), 0);
    }
    auto closing = std::async(std::launch::async, [&] { return device.Close(); });
    ASSERT_EQ(closing.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(received.goneNotices, 0);
}

// Reading passes from the read thread to a caller's thread and back in the
// middle of a stream of reports: every report arrives once, in order.
TEST_F(CHIDDeviceTest, HeldReadingTakesOverFromTheThreadAndGivesBackInOrder) {
    Received received;
    CHIDDevice device(backend, kFastReadWaitMs);
    device.SetRcvCallback(received.Callback());
    ASSERT_EQ(device.Open(path), 0);
    ASSERT_EQ(device.EnableRead(true), 0);
    EXPECT_EQ(device.HoldReading(false), 1);
    const auto inject = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            backend.Device(0).InjectInputReport(
                {0x22, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)});
        }
    };
    inject(0, 300);
    ASSERT_EQ(device.HoldReading(true), 0);  // the thread may be anywhere in the 300
    EXPECT_EQ(device.HoldReading(true), 1);
    const std::size_t byThread = received.Count();
    inject(300, 400);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(received.Count(), byThread);  // nobody reads while nobody waits
    const auto soon = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received.Count() < 400 && std::chrono::steady_clock::now() < soon) {
        ASSERT_NE(device.ReadHeld(soon), HidReadResult::DeviceGone);
    }
    EXPECT_EQ(device.ReadHeld(std::chrono::steady_clock::now()), HidReadResult::TimedOut);
    ASSERT_EQ(device.HoldReading(false), 0);  // reading is still enabled: the thread reads again
    inject(400, 500);
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 500; }));
    device.Close();
    EXPECT_EQ(device.ReadHeld(std::chrono::steady_clock::now()), HidReadResult::Failed);
    for (int i = 0; i < 500; ++i) {
        const auto& report = received.reports[static_cast<std::size_t>(i)];
        ASSERT_EQ(report[1] | (report[2] << 8), i);
    }
}

TEST_F(CHIDDeviceTest, HeldReadingSeesTheDeviceGoOnceAndReadsNothingWhenNotEnabled) {
    Received received;
    CHIDDevice device(backend);
    device.SetRcvCallback(received.Callback());
    ASSERT_EQ(device.Open(path), 0);
    ASSERT_EQ(device.HoldReading(true), 0);
    backend.Device(0).InjectInputReport({0x22, 1});
    // Not enabled: nothing is read, and no thread starts once it is.
    EXPECT_EQ(device.ReadHeld(std::chrono::steady_clock::now()), HidReadResult::Failed);
    ASSERT_EQ(device.EnableRead(true), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(received.Count(), 0u);
    EXPECT_EQ(device.ReadHeld(std::chrono::steady_clock::now()), HidReadResult::Data);
    backend.Device(0).Unplug();
    const auto later = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    EXPECT_EQ(device.ReadHeld(later), HidReadResult::DeviceGone);
    EXPECT_EQ(device.ReadHeld(later), HidReadResult::DeviceGone);
    EXPECT_EQ(received.goneNotices, 1);
    EXPECT_EQ(received.Count(), 1u);
    EXPECT_EQ(device.EnableRead(false), 0);
    EXPECT_EQ(device.HoldReading(false), 0);  // not enabled: no thread
    EXPECT_EQ(device.Close(), 0);
    EXPECT_EQ(received.goneNotices, 1);
}

TEST_F(CHIDDeviceTest, ALastingReadFailureMakesTheThreadPauseNotSpin) {
    struct FailingReads final : public HidBackend {
        std::atomic<int> reads{0};
        int ListInterfaces(std::vector<std::u16string>& paths) override {
            paths.clear();
            return 0;
        }
        HidHandle Open(std::u16string_view, HidOpenMode) override { return kInvalidHidHandle; }
        bool Close(HidHandle) override { return false; }
        std::unique_ptr<HidDescriptor> GetDescriptor(HidHandle) override { return nullptr; }
        bool SetOutputReport(HidHandle, const std::uint8_t*, std::size_t) override { return false; }
        bool SetFeature(HidHandle, const std::uint8_t*, std::size_t) override { return false; }
        bool GetFeature(HidHandle, std::uint8_t*, std::size_t) override { return false; }
        HidReadResult ReadInput(HidHandle, std::uint8_t*, std::size_t, std::size_t& received,
                                std::uint32_t) override {
            received = 0;
            ++reads;
            return HidReadResult::Failed;
        }
    } failing;
    Received received;
    constexpr std::uint32_t kReadWaitMs = 20;
    CHIDDevice device(failing, kReadWaitMs);
    device.SetRcvCallback(received.Callback());
    device.AttachHandle(0x1234);
    ASSERT_EQ(device.EnableRead(true), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(device.EnableRead(false), 0);
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - stopping)
                            .count();
    // Retrying at once would make millions of attempts; pausing up to one read
    // wait between them makes about 300 / 20 plus the short first pauses.
    EXPECT_GE(failing.reads, 2);
    EXPECT_LT(failing.reads, 60);
    EXPECT_LT(stopMs, 1000);  // the pause still notices a stop
    EXPECT_EQ(received.goneNotices, 0);
    EXPECT_EQ(received.Count(), 0u);

    // The same fault met by a caller that holds the reading and waits for an
    // answer: it pauses the same way, and its wait still ends on time.
    failing.reads = 0;
    AutoResetEvent answer;
    answer.AttachSource(&device.HeldReadSource());
    ASSERT_EQ(device.HoldReading(true), 0);
    ASSERT_EQ(device.EnableRead(true), 0);
    const auto waiting = std::chrono::steady_clock::now();
    EXPECT_FALSE(answer.WaitFor(std::chrono::milliseconds(300)));
    EXPECT_LT(std::chrono::steady_clock::now() - waiting, std::chrono::seconds(1));
    EXPECT_GE(failing.reads, 2);
    EXPECT_LT(failing.reads, 60);
    EXPECT_EQ(device.EnableRead(false), 0);
    answer.AttachSource(nullptr);
}

TEST_F(CHIDDeviceTest, ResolveReportLayoutFindsIdAndLengthByUsage) {
    CHIDDevice device(backend);
    ASSERT_EQ(device.Open(path), 0);
    struct Case {
        std::uint16_t usage;
        std::uint32_t type;
        bool found;
        std::uint8_t id;
        std::uint16_t length;
    };
    const Case cases[] = {
        {0x62, 2, true, 0x20, 61},  // version, feature length
        {0x8A, 0, true, 0x24, 17},  // offer response, input length
        {0x66, 0, true, 0x22, 17},  // content response
        {0x8E, 1, true, 0x23, 61},  // offer, output length
        {0x61, 1, true, 0x21, 61},  // content
        {0x62, 1, false, 0, 0},     // no output report carries the version usage
        {0x99, 0, false, 0, 0},     // usage unknown
        {0x61, 7, false, 0, 0},     // not a report type
    };
    for (const Case& c : cases) {
        ReportLayout spec{0xEE, c.usage, 0xBEEF, static_cast<HidReportType>(c.type)};
        EXPECT_EQ(device.ResolveReportLayout(spec), c.found) << "usage " << c.usage;
        EXPECT_EQ(+spec.ReportId, c.found ? c.id : 0xEE) << "usage " << c.usage;
        EXPECT_EQ(+spec.ReportLength, c.found ? c.length : 0xBEEF) << "usage " << c.usage;
    }
    device.Close();
}

TEST_F(CHIDDeviceTest, WritesAndFeatureReadsCheckTheirBuffers) {
    CHIDDevice device(backend);
    ASSERT_EQ(device.Open(path), 0);
    std::uint8_t version[61] = {0x20};
    EXPECT_TRUE(device.ReadFeatureReport(version, sizeof version));
    EXPECT_EQ(version[1], 1);      // one component
    EXPECT_EQ(version[10], 0x0F);  // its ID
    EXPECT_FALSE(device.ReadFeatureReport(nullptr, 61));
    EXPECT_FALSE(device.ReadFeatureReport(version, 0));

    std::uint8_t offer[61] = {0x23};
    offer[3] = 0x0F;
    EXPECT_EQ(device.WriteOutputReport(offer, sizeof offer), 0);
    std::uint8_t unknown[61] = {0x7E};
    EXPECT_EQ(device.WriteOutputReport(unknown, sizeof unknown), 2);
    EXPECT_EQ(device.WriteOutputReport(nullptr, 61), 2);
    EXPECT_EQ(device.WriteOutputReport(offer, 0), 2);
    device.Close();
    EXPECT_EQ(device.WriteOutputReport(offer, sizeof offer), 2);
}

}  // namespace
}  // namespace zelk::hid
