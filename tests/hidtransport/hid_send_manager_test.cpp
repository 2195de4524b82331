#include "hidtransport/hid_send_manager.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/hidtransport/virtual_test_support.h"

namespace zelk::hid {
namespace {

using testing::WaitUntil;
using virt::DefaultEarbud;
using virt::VirtualHidBackend;

// An offer output report of the default earbud, told apart by its token byte.
std::vector<std::uint8_t> Offer(std::uint8_t token) {
    std::vector<std::uint8_t> report(61, 0);
    report[0] = 0x23;
    report[3] = 0x0F;
    report[4] = token;
    return report;
}

void Enqueue(CHidSendRcvMgr& manager, const std::vector<std::uint8_t>& report,
             SendKind kind = SendKind::Output) {
    ASSERT_TRUE(manager.Enqueue(report.data(), report.size(), static_cast<std::uint8_t>(kind)));
}

class CHidSendRcvMgrTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(device.Open(backend.Device(0).Path()), 0); }
    void TearDown() override { device.Close(); }

    std::vector<std::uint8_t> TokensSent() {
        std::vector<std::uint8_t> tokens;
        for (const auto& report : backend.Device(0).WrittenReports()) {
            tokens.push_back(report.at(4));
        }
        return tokens;
    }

    VirtualHidBackend backend{{DefaultEarbud()}};
    CHIDDevice device{backend};
};

TEST_F(CHidSendRcvMgrTest, StartingAndStoppingTwiceIsHarmless) {
    CHidSendRcvMgr manager(device);
    EXPECT_EQ(manager.EnableSend(false), 0);
    EXPECT_EQ(manager.EnableSend(true), 0);
    EXPECT_EQ(manager.EnableSend(true), 0);
    EXPECT_EQ(manager.EnableSend(false), 0);  // wakes the idle worker and joins it
    EXPECT_EQ(manager.EnableSend(false), 0);
    EXPECT_EQ(backend.Device(0).WrittenReportCount(), 0u);
}

TEST_F(CHidSendRcvMgrTest, SendsEveryQueuedReportInOrder) {
    CHidSendRcvMgr manager(device);
    manager.EnableSend(true);
    for (std::uint8_t token = 1; token <= 50; ++token) {
        Enqueue(manager, Offer(token));
    }
    ASSERT_TRUE(WaitUntil([&] { return backend.Device(0).WrittenReportCount() == 50; }));
    manager.EnableSend(false);
    std::vector<std::uint8_t> expected;
    for (std::uint8_t token = 1; token <= 50; ++token) {
        expected.push_back(token);
    }
    EXPECT_EQ(TokensSent(), expected);
    EXPECT_EQ(manager.QueuedCount(), 0u);
}

TEST_F(CHidSendRcvMgrTest, AnEmptyItemEndsTheDrainUntilTheNextSignal) {
    CHidSendRcvMgr manager(device);
    Enqueue(manager, Offer(1));
    ASSERT_TRUE(manager.Enqueue(nullptr, 0, 1));
    Enqueue(manager, Offer(2));
    manager.EnableSend(true);  // the merged signals wake it once
    ASSERT_TRUE(WaitUntil([&] { return manager.QueuedCount() == 1; }));
    EXPECT_EQ(TokensSent(), std::vector<std::uint8_t>{1});

    Enqueue(manager, Offer(3));
    ASSERT_TRUE(WaitUntil([&] { return backend.Device(0).WrittenReportCount() == 3; }));
    manager.EnableSend(false);
    EXPECT_EQ(TokensSent(), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(CHidSendRcvMgrTest, AFailedSendEndsTheWorkerAndKeepsWhatIsBehindIt) {
    CHidSendRcvMgr manager(device);
    manager.EnableSend(true);
    // The earbud takes no feature report from the host, so this send fails.
    Enqueue(manager, std::vector<std::uint8_t>(61, 0x20), SendKind::Feature);
    Enqueue(manager, Offer(7));
    ASSERT_TRUE(WaitUntil([&] { return manager.QueuedCount() <= 1; }));
    // The worker has ended: nothing more goes out, and starting again does nothing
    // until a stop has joined it.
    Enqueue(manager, Offer(8));
    manager.EnableSend(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(backend.Device(0).WrittenReportCount(), 0u);
    EXPECT_EQ(manager.QueuedCount(), 2u);

    manager.EnableSend(false);
    manager.EnableSend(true);
    Enqueue(manager, Offer(9));
    ASSERT_TRUE(WaitUntil([&] { return backend.Device(0).WrittenReportCount() == 3; }));
    manager.EnableSend(false);
    EXPECT_EQ(TokensSent(), (std::vector<std::uint8_t>{7, 8, 9}));
}

TEST_F(CHidSendRcvMgrTest, ItemsOfAnUnknownKindSendNothing) {
    CHidSendRcvMgr manager(device);
    manager.EnableSend(true);
    const auto report = Offer(4);
    ASSERT_TRUE(manager.Enqueue(report.data(), report.size(), 9));
    Enqueue(manager, Offer(5));
    ASSERT_TRUE(WaitUntil([&] { return backend.Device(0).WrittenReportCount() == 1; }));
    manager.EnableSend(false);
    EXPECT_EQ(TokensSent(), std::vector<std::uint8_t>{5});
}

TEST(CHidSendRcvMgr, RefusesAnOversizedReport) {
    VirtualHidBackend backend{{DefaultEarbud()}};
    CHIDDevice device(backend);
    CHidSendRcvMgr manager(device);
    std::vector<std::uint8_t> huge(70000, 0x23);
    EXPECT_FALSE(manager.Enqueue(huge.data(), huge.size(), 1));
    EXPECT_FALSE(manager.Enqueue(nullptr, 5, 1));
    EXPECT_EQ(manager.QueuedCount(), 0u);
}

}  // namespace
}  // namespace zelk::hid
