#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "hidtransport/byte_order.h"
#include "tests/capi/library_test_support.h"

namespace zelk::cfu {
namespace {

using hid::virt::DefaultEarbud;
using hid::virt::VirtualDeviceConfig;
using testing::LibraryTest;
using testing::ReadBytes;
using testing::StatusRecorder;

class WholeRun : public LibraryTest {};

TEST_F(WholeRun, UpdatesTheEarbudAndItsFlashHoldsEveryRecord) {
    const std::u16string path = Prepare();
    ASSERT_EQ(path, Device().Path());
    const EndpointHandle handle = Open(path);

    DeviceDescription description;
    std::memset(&description, 0xAB, sizeof description);
    ASSERT_EQ(library.GetDeviceDescription(handle, &description), 0u);
    EXPECT_EQ(+description.Unused, 0xAB);
    EXPECT_EQ(+description.ComponentCount, 1);
    EXPECT_EQ(+description.ProtocolFlags, 0x02);
    const ComponentEntry& bud = description.Components[0];
    // 0x10003001 reads 1.0.3.2 for family 1.
    EXPECT_EQ(+bud.VersionPart1, 1u);
    EXPECT_EQ(+bud.VersionPart2, 0u);
    EXPECT_EQ(+bud.VersionPart3, 3u);
    EXPECT_EQ(+bud.VersionPart4, 2u);
    EXPECT_EQ(+bud.ComponentInfo, 0x0F04u);  // component 0x0F, bud role 1, bank 0

    ASSERT_EQ(library.RegisterUpdateStatusCallback(handle, &StatusRecorder::Callback), 0u);
    ASSERT_EQ(library.Update(handle), 0u);
    EXPECT_EQ(library.UnregisterUpdateStatusCallback(handle), 0u);
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), 0u);
    library.Uninitialize();

    const std::vector<std::uint8_t> payload = ReadBytes(ZELK_SAMPLE_PAYLOAD);
    ASSERT_EQ(payload.size(), 3705u * 57u);
    const auto flash = Device().ReadFlash(0x0F, 0, 3705 * 52);
    ASSERT_EQ(flash.size(), 3705u * 52u);
    for (std::size_t i = 0; i < 3705; ++i) {
        const std::uint8_t* record = payload.data() + i * 57;
        ASSERT_EQ(0, std::memcmp(flash.data() + ReadLe32(record), record + 5, 52))
            << "record " << i;
    }

    // Progress 1 to 99 in steps of 37 records, then 100; every status 0.
    ASSERT_EQ(recorder.statuses.size(), 100u);
    for (std::size_t i = 0; i < recorder.statuses.size(); ++i) {
        EXPECT_EQ(+recorder.statuses[i].Percentage, i + 1);
        EXPECT_EQ(+recorder.statuses[i].Status, 0u);
        EXPECT_EQ(+recorder.statuses[i].ImageTag, 0xFFFF);
        EXPECT_EQ(recorder.endpoints[i], handle);
    }
}

TEST_F(WholeRun, ASecondCallbackIsRefusedAndTheFirstReceivesTheProgress) {
    const EndpointHandle handle = Open(Prepare());
    auto other = [](std::uint64_t, const UpdateStatus*) -> std::int32_t {
        ADD_FAILURE() << "the second callback must not be called";
        return 0;
    };
    EXPECT_EQ(library.RegisterUpdateStatusCallback(handle, &StatusRecorder::Callback), 0u);
    EXPECT_EQ(library.RegisterUpdateStatusCallback(handle, other), 1u);
    EXPECT_EQ(library.Update(handle), 0u);
    EXPECT_FALSE(recorder.statuses.empty());
    library.CloseDeviceEndpoint(handle);
}

TEST_F(WholeRun, BeforeInitializeEveryComponentIsRefused) {
    library.SetConfig(testing::EarbudConfig());
    ASSERT_GT(library.GetDeviceNumber(), 0);
    EXPECT_EQ(library.Library().DeviceFamily(), -1);
    const EndpointHandle handle = Open(library.Library().InterfacePaths().front());
    EXPECT_EQ(library.Update(handle), 7u);
    EXPECT_EQ(Device().OfferCount(), 0u);
}

class Discovery : public LibraryTest {
  protected:
    Discovery() : LibraryTest({DefaultEarbud(), DefaultEarbud()}) {}
};

TEST_F(Discovery, EndpointPathsFillTheBufferExactly) {
    library.SetConfig(testing::EarbudConfig());
    const std::int32_t characters = library.GetDeviceNumber();
    const std::u16string first = Device(0).Path();
    const std::u16string second = Device(1).Path();
    ASSERT_EQ(characters, static_cast<std::int32_t>(first.size() + second.size() + 2));

    std::vector<char16_t> buffer(static_cast<std::size_t>(characters) + 1, u'#');
    EXPECT_EQ(library.GetDeviceEndpointPath(buffer.data(), characters), 0u);
    EXPECT_EQ(std::u16string(buffer.data()), first);
    EXPECT_EQ(std::u16string(buffer.data() + first.size() + 1), second);
    EXPECT_EQ(buffer[static_cast<std::size_t>(characters)], u'#');  // nothing past the last NUL

    std::fill(buffer.begin(), buffer.end(), u'#');
    EXPECT_EQ(library.GetDeviceEndpointPath(buffer.data(), characters - 1), 1u);
    EXPECT_EQ(std::u16string(buffer.data()), first);
    EXPECT_EQ(buffer[first.size() + 1], u'#');

    EXPECT_EQ(library.GetDeviceEndpointPath(nullptr, characters), 1u);
    EXPECT_EQ(library.GetDeviceEndpointPath(buffer.data(), -5), 1u);
}

TEST_F(Discovery, NoMatchingInterfaceGivesZero) {
    UpdateConfig config = testing::EarbudConfig();
    config.ProductId = 0x1111;
    library.SetConfig(config);
    EXPECT_EQ(library.GetDeviceNumber(), 0);
    char16_t buffer[4] = {u'#'};
    EXPECT_EQ(library.GetDeviceEndpointPath(buffer, 4), 0u);
    EXPECT_EQ(buffer[0], u'#');
}

// A device plugged in after HIDGetAllDeviceNumber, and another listing call
// that takes it into the shared list: the describing call writes no more
// records than the caller made room for (AddressSanitizer sees any overflow),
// and says with 1 that the list must be read again. When the list shrinks, the
// records it no longer fills come back empty.
TEST_F(Discovery, AllDeviceInfoWritesNoMoreRecordsThanTheCallerWasGiven) {
    library.SetConfig(testing::EarbudConfig());
    Device(1).Unplug();
    ASSERT_EQ(library.GetAllDeviceNumber(), 1);
    Device(1).Plug();
    ASSERT_GT(library.GetDeviceNumber(), 0);  // now lists both earbuds
    auto records = std::make_unique<HIDDeviceInfo[]>(1);
    EXPECT_EQ(library.GetAllDeviceInfo(records.get()), 1u);
    EXPECT_EQ(std::u16string(records[0].Path), Device(0).Path());

    ASSERT_EQ(library.GetAllDeviceNumber(), 2);
    Device(0).Unplug();
    Device(1).Unplug();
    ASSERT_EQ(library.GetDeviceNumber(), 0);
    std::vector<HIDDeviceInfo> two(2);
    std::memset(two.data(), 0xAB, two.size() * sizeof(HIDDeviceInfo));
    EXPECT_EQ(library.GetAllDeviceInfo(two.data()), 0u);
    EXPECT_EQ(two[0].Path[0], u'\0');
    EXPECT_EQ(+two[1].UsagePage, 0);
}

class Endpoints : public LibraryTest {};

TEST_F(Endpoints, OpeningARegisteredValueFailsAndChangesNothing) {
    const std::u16string path = Prepare();
    EndpointHandle handle = Open(path);
    EndpointHandle again = handle;
    EXPECT_EQ(library.OpenDeviceEndpoint(path, &again), 1u);
    EXPECT_EQ(again, CFU_NO_ENDPOINT);
    EXPECT_EQ(library.Library().RegisteredCount(), 1u);
    EXPECT_EQ(library.OpenDeviceEndpoint(path, nullptr), 1u);
    EndpointHandle missing = CFU_NO_ENDPOINT;
    EXPECT_EQ(library.OpenDeviceEndpoint(u"no such interface", &missing), 1u);
    EXPECT_EQ(missing, CFU_NO_ENDPOINT);
    EXPECT_EQ(library.Library().RegisteredCount(), 1u);
}

TEST_F(Endpoints, ClosingTwiceOrAnUnknownValueFails) {
    const EndpointHandle handle = Open(Prepare());
    EXPECT_EQ(library.CloseDeviceEndpoint(0x12345678), 1u);
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), 0u);
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), 1u);
}

TEST_F(Endpoints, InitializeDropsEndpointsButLeavesTheirHandlesOpen) {
    const EndpointHandle handle = Open(Prepare());
    library.Initialize(1);
    EXPECT_EQ(library.Library().RegisteredCount(), 0u);
    // The handle still works: adopting it reads the device.
    DeviceDescription description{};
    EXPECT_EQ(library.GetDeviceDescription(handle, &description), 0u);
    EXPECT_TRUE(library.Library().IsRegistered(handle));
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), 0u);
}

class UnresolvableReports : public LibraryTest {
  protected:
    static VirtualDeviceConfig WithoutOfferResponse() {
        VirtualDeviceConfig config = DefaultEarbud();
        config.offerResponse.usage = 0x8B;
        return config;
    }
    UnresolvableReports() : LibraryTest({WithoutOfferResponse()}) {}
};

TEST_F(UnresolvableReports, OpenFailsWithTheHandleOpenAndAdoptionClosesIt) {
    const std::u16string path = Prepare();
    EndpointHandle handle = CFU_NO_ENDPOINT;
    EXPECT_EQ(library.OpenDeviceEndpoint(path, &handle), 1u);
    ASSERT_NE(handle, CFU_NO_ENDPOINT);
    EXPECT_FALSE(library.Library().IsRegistered(handle));
    EXPECT_EQ(library.UnregisterUpdateStatusCallback(handle), 0u);
    EXPECT_TRUE(library.Library().IsRegistered(handle));
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), 0u);
    // The handle is closed now: a new procedure on the value cannot read.
    DeviceDescription description{};
    EXPECT_EQ(library.GetDeviceDescription(handle, &description), 2u);
}

class Descriptions : public LibraryTest {
  protected:
    static VirtualDeviceConfig TwoComponents() {
        VirtualDeviceConfig config = DefaultEarbud();
        config.components.push_back({0x10, 2, 2, 0x12345678, 0});
        return config;
    }
    static VirtualDeviceConfig ZeroAnswer() {
        VirtualDeviceConfig config = DefaultEarbud();
        config.behaviour.versionAnswer = hid::virt::VersionAnswer::Zero;
        return config;
    }
    static VirtualDeviceConfig CountAboveSeven() {
        VirtualDeviceConfig config = DefaultEarbud();
        config.components.assign(9, config.components.front());
        config.componentCount = 9;
        return config;
    }
    Descriptions() : LibraryTest({TwoComponents(), ZeroAnswer(), CountAboveSeven()}) {}

    EndpointHandle OpenDevice(std::size_t index) {
        library.SetConfig(testing::EarbudConfig());
        return Open(Device(index).Path());
    }
};

TEST_F(Descriptions, TwoComponentsGiveTwoEntriesAndNothingBeyond) {
    const EndpointHandle handle = OpenDevice(0);
    library.Initialize(1);
    std::uint8_t bytes[sizeof(DeviceDescription)];
    std::memset(bytes, 0xAB, sizeof bytes);
    auto* description = reinterpret_cast<DeviceDescription*>(bytes);
    ASSERT_EQ(library.GetDeviceDescription(handle, description), 0u);
    EXPECT_EQ(bytes[1], 2);
    // Second entry: 0x12345678 reads 8.103.9029.2; parts 4 and 3 crossed.
    const std::uint8_t* second = bytes + 5 + 20;
    EXPECT_EQ(ReadLe32(second + 0), 8u);
    EXPECT_EQ(ReadLe32(second + 4), 103u);
    EXPECT_EQ(ReadLe32(second + 8), 2u);
    EXPECT_EQ(ReadLe32(second + 12), 9029u);
    EXPECT_EQ(ReadLe32(second + 16), 0x100Au);  // component 0x10, bud role 2, bank 2
    for (std::size_t i = 45; i < sizeof bytes; ++i) {
        ASSERT_EQ(bytes[i], 0xAB) << "byte " << i;
    }
}

TEST_F(Descriptions, AnAllZeroAnswerFailsAfterThreeTriesForFamilyZero) {
    const EndpointHandle handle = OpenDevice(1);
    library.Initialize(0);
    DeviceDescription description{};
    EXPECT_EQ(library.GetDeviceDescription(handle, &description), 2u);
    EXPECT_EQ(Device(1).VersionQueryCount(), 3u);
    library.Initialize(1);
    EXPECT_EQ(library.GetDeviceDescription(handle, &description), 2u);
    EXPECT_EQ(Device(1).VersionQueryCount(), 4u);
    EXPECT_EQ(library.GetDeviceDescription(handle, nullptr), 2u);
}

TEST_F(Descriptions, ACountAboveSevenFillsSevenEntries) {
    const EndpointHandle handle = OpenDevice(2);
    library.Initialize(1);
    std::uint8_t bytes[sizeof(DeviceDescription)];
    std::memset(bytes, 0xAB, sizeof bytes);
    ASSERT_EQ(library.GetDeviceDescription(handle, reinterpret_cast<DeviceDescription*>(bytes)),
              0u);
    EXPECT_EQ(bytes[1], 9);
    EXPECT_EQ(ReadLe32(bytes + 5 + 6 * 20 + 16), 0x0F04u);
    EXPECT_EQ(bytes[5 + 7 * 20], 0xAB);
}

}  // namespace
}  // namespace zelk::cfu

namespace zelk::cfu {
namespace {

// Calls a status callback might make on the library that runs it.
struct ReentrantCalls {
    capi::CLibrary* library = nullptr;
    EndpointHandle handle = CFU_NO_ENDPOINT;
    bool done = false;
    std::vector<ResultCode> results;
    bool throwFromCallback = false;

    static ReentrantCalls*& Current() {
        static ReentrantCalls* current = nullptr;
        return current;
    }
    static std::int32_t Callback(std::uint64_t, const UpdateStatus* status) {
        ReentrantCalls* calls = Current();
        if (calls == nullptr || calls->done || status->Percentage < 50) {
            return 0;
        }
        calls->done = true;
        if (calls->throwFromCallback) {
            throw std::runtime_error("a callback that throws");
        }
        capi::CLibrary& library = *calls->library;
        calls->results = {library.CloseDeviceEndpoint(calls->handle), library.StartAddImage(),
                          library.AddImage(u"a", u"b"), library.StopAddImage(),
                          library.Update(calls->handle)};
        library.Initialize(0);  // no result: it must simply do nothing
        library.Uninitialize();
        return 0;
    }
};

class CallsFromTheCallback : public testing::LibraryTest {
  protected:
    ~CallsFromTheCallback() override { ReentrantCalls::Current() = nullptr; }
    ReentrantCalls calls;
};

TEST_F(CallsFromTheCallback, ThatWouldEndTheRunningUpdateAreRefused) {
    const EndpointHandle handle = Open(Prepare());
    calls.library = &library;
    calls.handle = handle;
    ReentrantCalls::Current() = &calls;
    library.RegisterUpdateStatusCallback(handle, &ReentrantCalls::Callback);
    EXPECT_EQ(library.Update(handle), CFU_RESULT_SUCCESS);
    EXPECT_EQ(calls.results, std::vector<ResultCode>(5, CFU_RESULT_UPDATE_RUNNING));
    // The update went on whole on the same endpoint, family and images.
    EXPECT_TRUE(library.Library().IsRegistered(handle));
    EXPECT_EQ(library.Library().DeviceFamily(), 1);
    EXPECT_EQ(library.Library().Images().size(), 1u);
    EXPECT_EQ(Device().CompletedTransfers(), 1u);
    // Afterwards the same calls work again.
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), CFU_RESULT_SUCCESS);
}

TEST_F(CallsFromTheCallback, AnExceptionEndsTheUpdateWithACodeAndTheTransferOff) {
    const EndpointHandle handle = Open(Prepare());
    calls.throwFromCallback = true;
    ReentrantCalls::Current() = &calls;
    library.RegisterUpdateStatusCallback(handle, &ReentrantCalls::Callback);
    EXPECT_EQ(library.Update(handle), CFU_RESULT_INTERNAL_ERROR);
    EXPECT_FALSE(library.Library().UpdateRunning());
    EXPECT_LT(Device().CompletedTransfers(), 1u);
    // A new update on the same endpoint runs from the start.
    calls.done = true;
    EXPECT_EQ(library.Update(handle), CFU_RESULT_SUCCESS);
    EXPECT_EQ(Device().CompletedTransfers(), 1u);
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), CFU_RESULT_SUCCESS);
}

}  // namespace
}  // namespace zelk::cfu
