// What the library keeps across its calls: what CFUUninitialize drops and
// keeps, which configuration an open endpoint works with, and how often the
// description call asks the device.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/capi/library_test_support.h"
#include "zelk/cfu_result_codes.h"

namespace zelk::cfu {
namespace {

using hid::virt::DefaultEarbud;
using hid::virt::VirtualDeviceConfig;
using testing::LibraryTest;
using testing::StatusRecorder;

bool SameBytes(const UpdateConfig& a, const UpdateConfig& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class LibraryState : public LibraryTest {};

TEST_F(LibraryState, UninitializeEmptiesTheRegistryAndKeepsFamilyConfigurationAndImages) {
    const UpdateConfig config = testing::EarbudConfig();
    const std::u16string path = Prepare(1, config);
    const UpdateOptions options{1, 0, 0, 0};
    library.SetUpdateOptions(options);
    const EndpointHandle handle = Open(path);
    ASSERT_EQ(library.Library().RegisteredCount(), 1u);

    library.Uninitialize();
    EXPECT_EQ(library.Library().RegisteredCount(), 0u);
    EXPECT_FALSE(library.Library().IsRegistered(handle));
    EXPECT_EQ(library.Library().DeviceFamily(), 1);
    EXPECT_TRUE(SameBytes(library.Config(), config));
    const UpdateOptions kept = library.Options();
    EXPECT_EQ(std::memcmp(&kept, &options, sizeof options), 0);
    EXPECT_EQ(library.Library().Images().size(), 1u);

    // What was kept is enough for a whole update on a newly opened endpoint.
    const EndpointHandle again = Open(path);
    ASSERT_EQ(library.RegisterUpdateStatusCallback(again, &StatusRecorder::Callback),
              CFU_RESULT_SUCCESS);
    EXPECT_EQ(library.Update(again), CFU_RESULT_SUCCESS);
    EXPECT_EQ(Device().CompletedTransfers(), 1u);
    EXPECT_EQ(library.CloseDeviceEndpoint(again), CFU_RESULT_SUCCESS);
    // The registry forgot the first handle without closing it: closing it
    // needs a call that adopts it first.
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), CFU_RESULT_REFUSED);
    EXPECT_EQ(library.UnregisterUpdateStatusCallback(handle), CFU_RESULT_SUCCESS);
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), CFU_RESULT_SUCCESS);
}

// An endpoint keeps the configuration it was opened with: a later one that
// names no reports at all does not reach its transfer.
TEST_F(LibraryState, AConfigurationSetAfterOpeningDoesNotChangeTheEndpoint) {
    const EndpointHandle handle = Open(Prepare());
    UpdateConfig empty;
    std::memset(&empty, 0, sizeof empty);
    library.SetConfig(empty);
    library.SetConfigEx(empty);
    ASSERT_EQ(library.RegisterUpdateStatusCallback(handle, &StatusRecorder::Callback),
              CFU_RESULT_SUCCESS);
    EXPECT_EQ(library.Update(handle), CFU_RESULT_SUCCESS);
    EXPECT_EQ(Device().CompletedTransfers(), 1u);
    library.CloseDeviceEndpoint(handle);
}

// Another updater (another process, or another endpoint here) holds the
// device: the update fails with its own code and sends nothing, describing
// the device still works, and once the other lets go the update runs.
TEST_F(LibraryState, UpdateRefusesADeviceAnotherUpdaterHolds) {
    const std::u16string path = Prepare();
    const EndpointHandle handle = Open(path);
    const hid::HidHandle other = backend.Open(path, hid::HidOpenMode::Io);
    ASSERT_EQ(backend.LockForUpdate(other), hid::HidLockResult::Taken);

    EXPECT_EQ(library.Update(handle), CFU_RESULT_DEVICE_BUSY_ELSEWHERE);
    EXPECT_EQ(Device().OfferCount(), 0u);
    DeviceDescription description{};
    EXPECT_EQ(library.GetDeviceDescription(handle, &description), CFU_RESULT_SUCCESS);

    backend.Close(other);
    EXPECT_EQ(library.Update(handle), CFU_RESULT_SUCCESS);
    EXPECT_EQ(Device().CompletedTransfers(), 1u);
    // The finished update let go of the lock.
    const hid::HidHandle later = backend.Open(path, hid::HidOpenMode::Io);
    EXPECT_EQ(backend.LockForUpdate(later), hid::HidLockResult::Taken);
    backend.Close(later);
    library.CloseDeviceEndpoint(handle);
}

VirtualDeviceConfig FailingVersionQueries(std::uint32_t failures) {
    VirtualDeviceConfig device = DefaultEarbud();
    device.behaviour.versionFailures = failures;
    return device;
}

class DescriptionRetries : public LibraryTest {
  protected:
    DescriptionRetries()
        : LibraryTest({FailingVersionQueries(0), FailingVersionQueries(1), FailingVersionQueries(2),
                       FailingVersionQueries(3)}) {}
};

// Family 0 asks up to three times and stops at the first answer; every other
// family asks once.
TEST_F(DescriptionRetries, StopsAtTheFirstSuccess) {
    struct Row {
        std::size_t device;
        std::int32_t family;
        ResultCode result;
        std::size_t queries;
    };
    // clang-format off
    const Row rows[] = {
        {.device = 0, .family = 0, .result = CFU_RESULT_SUCCESS,      .queries = 1},
        {.device = 1, .family = 0, .result = CFU_RESULT_SUCCESS,      .queries = 2},
        {.device = 2, .family = 0, .result = CFU_RESULT_SUCCESS,      .queries = 3},
        {.device = 3, .family = 0, .result = CFU_RESULT_NOT_ANSWERED, .queries = 3},
        {.device = 1, .family = 1, .result = CFU_RESULT_SUCCESS,      .queries = 1},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "device " << row.device << " family " << row.family);
        library.Initialize(row.family);
        library.SetConfig(testing::EarbudConfig());
        const EndpointHandle handle = Open(Device(row.device).Path());
        const std::size_t before = Device(row.device).VersionQueryCount();
        DeviceDescription description{};
        EXPECT_EQ(library.GetDeviceDescription(handle, &description), row.result);
        EXPECT_EQ(Device(row.device).VersionQueryCount() - before, row.queries);
        EXPECT_EQ(library.CloseDeviceEndpoint(handle), CFU_RESULT_SUCCESS);
    }
}

// Two earbuds that run one bank each, updated one after the other with the
// version check off: what one bud accepted says nothing about the other.
VirtualDeviceConfig SingleBankBud() {
    VirtualDeviceConfig device = DefaultEarbud();
    device.components.front().bank = 2;
    return device;
}

class TwoSingleBankBuds : public LibraryTest {
  protected:
    TwoSingleBankBuds() : LibraryTest({SingleBankBud(), SingleBankBud()}) {}

    EndpointHandle OpenBud(const std::u16string& path) {
        const EndpointHandle handle = Open(path);
        EXPECT_EQ(library.RegisterUpdateStatusCallback(handle, &StatusRecorder::Callback),
                  CFU_RESULT_SUCCESS);
        return handle;
    }
};

TEST_F(TwoSingleBankBuds, EachBudIsOfferedTheImageThatTheOtherAccepted) {
    Prepare();
    library.SetUpdateOptions(UpdateOptions{1, 0, 0, 0});
    ASSERT_EQ(library.Library().InterfacePaths().size(), 2u);
    ASSERT_EQ(library.Library().InterfacePaths()[0], Device(0).Path());
    ASSERT_EQ(library.Library().InterfacePaths()[1], Device(1).Path());
    const EndpointHandle first = OpenBud(Device(0).Path());
    const EndpointHandle second = OpenBud(Device(1).Path());

    constexpr std::size_t kImageBytes = 3705 * 52;
    EXPECT_EQ(library.Update(first), CFU_RESULT_SUCCESS);
    EXPECT_EQ(Device(0).CompletedTransfers(), 1u);
    EXPECT_EQ(library.Update(second), CFU_RESULT_SUCCESS);
    EXPECT_GT(Device(1).OfferCount(), 0u);
    EXPECT_EQ(Device(1).CompletedTransfers(), 1u);
    const auto flash = Device(1).ReadFlash(0x0F, 0, kImageBytes);
    EXPECT_EQ(flash.size(), kImageBytes);
    EXPECT_EQ(flash, Device(0).ReadFlash(0x0F, 0, kImageBytes));

    // Within one bud's endpoint, an image it accepted is not offered again
    // until a new image list starts.
    const std::size_t offers = Device(0).OfferCount();
    EXPECT_EQ(library.Update(first), CFU_RESULT_SUCCESS);
    EXPECT_EQ(Device(0).OfferCount(), offers);
    EXPECT_EQ(Device(0).CompletedTransfers(), 1u);
    ASSERT_EQ(library.StartAddImage(), 0u);
    ASSERT_EQ(
        library.AddImage(testing::Utf16(ZELK_SAMPLE_OFFER), testing::Utf16(ZELK_SAMPLE_PAYLOAD)),
        0u);
    ASSERT_EQ(library.StopAddImage(), 0u);
    EXPECT_EQ(library.Update(first), CFU_RESULT_SUCCESS);
    EXPECT_EQ(Device(0).CompletedTransfers(), 2u);

    EXPECT_EQ(library.CloseDeviceEndpoint(first), CFU_RESULT_SUCCESS);
    EXPECT_EQ(library.CloseDeviceEndpoint(second), CFU_RESULT_SUCCESS);
}

// Stray handle values passed to the calls that adopt do not pile up: the
// adopted endpoints stay bounded, the newest of them and every opened one
// stay registered, and the opened one still updates.
TEST_F(LibraryState, StrayHandleValuesDoNotPileUp) {
    const EndpointHandle opened = Open(Prepare());
    constexpr EndpointHandle kFirstStray = 0x10000;
    constexpr std::size_t kStrays = 5000;
    for (std::size_t i = 0; i < kStrays; ++i) {
        EXPECT_EQ(library.UnregisterUpdateStatusCallback(kFirstStray + i), CFU_RESULT_SUCCESS);
    }
    EXPECT_LE(library.Library().RegisteredCount(), CfuLibrary::kMaxAdoptedEndpoints + 1);
    EXPECT_TRUE(library.Library().IsRegistered(opened));
    EXPECT_TRUE(library.Library().IsRegistered(kFirstStray + kStrays - 1));
    EXPECT_FALSE(library.Library().IsRegistered(kFirstStray));

    ASSERT_EQ(library.RegisterUpdateStatusCallback(opened, &StatusRecorder::Callback),
              CFU_RESULT_SUCCESS);
    EXPECT_EQ(library.Update(opened), CFU_RESULT_SUCCESS);
    EXPECT_EQ(Device().CompletedTransfers(), 1u);
    EXPECT_EQ(library.CloseDeviceEndpoint(opened), CFU_RESULT_SUCCESS);
}

}  // namespace
}  // namespace zelk::cfu
