// Every way a device can make an update fail ends with its own code, in
// bounded time, and is never reported as success.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <ostream>

#include "library_test_support.h"

namespace zelk::cfu {
namespace {

using hid::virt::ContentRule;
using hid::virt::DefaultEarbud;
using hid::virt::OfferAnswer;
using hid::virt::VirtualDeviceConfig;
using testing::LibraryTest;
using testing::StatusRecorder;

struct FailureCase {
    const char* name;
    void (*shape)(VirtualDeviceConfig&);
    ResultCode expected;
    std::uint32_t lastStatus;  // Status of the last notification; 0: none expected
};

const FailureCase kCases[] = {
    {"offer rejected", [](VirtualDeviceConfig& d) { d.behaviour.offerAnswers = {{0x02}}; }, 4, 0},
    {"device never answers", [](VirtualDeviceConfig& d) { d.behaviour.silent = true; }, 17, 0},
    {"offer answered with an unknown status",
     [](VirtualDeviceConfig& d) { d.behaviour.offerAnswers = {{0x7E}}; }, 18, 0},
    {"device always busy", [](VirtualDeviceConfig& d) { d.behaviour.offerAnswers = {{0x03}}; }, 19,
     0},
    {"device skips forever", [](VirtualDeviceConfig& d) { d.behaviour.offerAnswers = {{0x00}}; },
     19, 0},
    {"unplugged mid-transfer",
     [](VirtualDeviceConfig& d) {
         ContentRule rule;
         rule.block = 1000;
         rule.unplug = true;
         d.behaviour.contentScript = {rule};
     },
     20, 0},
    {"block lost forever",
     [](VirtualDeviceConfig& d) {
         ContentRule rule;
         rule.block = 500;
         rule.times = 0;
         rule.silent = true;
         d.behaviour.contentScript = {rule};
     },
     23, 13},
    {"write error on the device",
     [](VirtualDeviceConfig& d) {
         ContentRule rule;
         rule.block = 10;
         rule.status = 2;
         d.behaviour.contentScript = {rule};
     },
     22, 12},
    {"block keeps failing",
     [](VirtualDeviceConfig& d) {
         ContentRule rule;
         rule.block = 10;
         rule.times = 0;
         rule.status = 5;
         d.behaviour.contentScript = {rule};
     },
     20, 10},
    {"answers keep naming another block",
     [](VirtualDeviceConfig& d) {
         ContentRule rule;
         rule.block = 10;
         rule.times = 0;
         rule.status = 5;
         rule.sequence = 4000;
         d.behaviour.contentScript = {rule};
     },
     21, 11},
    {"version query fails", [](VirtualDeviceConfig& d) { d.behaviour.versionFailures = 1; }, 5, 0},
    {"component not in the table", [](VirtualDeviceConfig& d) { d.components.front().id = 0x33; },
     6, 0},
    {"standard component without an image for the idle bank",
     [](VirtualDeviceConfig& d) { d.components.front().id = 0x00; }, 13, 0},
};

void PrintTo(const FailureCase& failure, std::ostream* out) {
    *out << failure.name;
}

class UpdateFailure : public LibraryTest, public ::testing::WithParamInterface<FailureCase> {
  protected:
    static VirtualDeviceConfig Shaped() {
        VirtualDeviceConfig config = DefaultEarbud();
        GetParam().shape(config);
        return config;
    }
    UpdateFailure() : LibraryTest({Shaped()}) {}
};

TEST_P(UpdateFailure, EndsWithItsCodeInBoundedTime) {
    const EndpointHandle handle = Open(Prepare());
    library.RegisterUpdateStatusCallback(handle, &StatusRecorder::Callback);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(library.Update(handle), GetParam().expected);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    if (GetParam().lastStatus != 0) {
        ASSERT_FALSE(recorder.statuses.empty());
        EXPECT_EQ(+recorder.statuses.back().Status, GetParam().lastStatus);
        EXPECT_LT(+recorder.statuses.back().Percentage, 100);
    }
    // The endpoint stays registered and can be closed.
    EXPECT_TRUE(library.IsRegistered(handle));
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), 0u);
}

INSTANTIATE_TEST_SUITE_P(Devices, UpdateFailure, ::testing::ValuesIn(kCases), [](const auto& test) {
    std::string name = test.param.name;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
});

}  // namespace
}  // namespace zelk::cfu
