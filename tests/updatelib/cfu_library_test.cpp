// The library's C++ calls: handle values it did not open are refused, not
// adopted (adopting a bare value is the C interface's business), and a
// listener hears the update's progress with its own context.
#include "updatelib/cfu_library.h"

#include <gtest/gtest.h>

#include <vector>

#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/support/fast_wait_clock.h"
#include "updatelib/update_config.h"

namespace zelk::cfu {
namespace {

using engine::UpdateError;

std::u16string Utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

class CfuLibraryCalls : public ::testing::Test {
  protected:
    hid::virt::VirtualHidBackend backend{{hid::virt::DefaultEarbud()}};
    zelk::testing::FastWaitClock clock;
    CfuLibrary library{backend, clock};
};

TEST_F(CfuLibraryCalls, AHandleNeverOpenedIsRefusedAndNotAdopted) {
    const EndpointHandle stray = 0x1234;
    DeviceComponents components;
    engine::ProgressListener* none = nullptr;
    EXPECT_EQ(library.DescribeDevice(stray, components), UpdateError::EndpointNotRegistered);
    EXPECT_EQ(library.RegisterProgressListener(stray, none), UpdateError::EndpointNotRegistered);
    EXPECT_EQ(library.UnregisterProgressListener(stray), UpdateError::EndpointNotRegistered);
    EXPECT_EQ(library.Update(stray), UpdateError::EndpointNotRegistered);
    EXPECT_EQ(library.CloseDeviceEndpoint(stray), UpdateError::EndpointNotRegistered);
    EXPECT_EQ(library.RegisteredCount(), 0u);
}

struct Progress final : engine::ProgressListener {
    void OnProgress(std::uint64_t endpoint, const engine::UpdateProgress& progress) override {
        endpoints.push_back(endpoint);
        percentages.push_back(progress.Percentage);
    }
    std::vector<std::uint64_t> endpoints;
    std::vector<int> percentages;
};

TEST_F(CfuLibraryCalls, AWholeUpdateInTheLibrarysOwnTypes) {
    engine::UpdateConfiguration config = DefaultUpdateConfig();
    config.ProductId = 0x5055;
    config.CheckReportCaps = true;
    library.SetConfig(config);
    library.Initialize(1);
    ASSERT_EQ(library.MatchDevices(), 1);
    library.SetUpdateOptions({.ForceIgnoreVersion = true});
    ASSERT_EQ(library.StartAddImage(), UpdateError::Success);
    ASSERT_EQ(library.AddImage(Utf16(ZELK_SAMPLE_OFFER), Utf16(ZELK_SAMPLE_PAYLOAD)),
              UpdateError::Success);
    ASSERT_EQ(library.StopAddImage(), UpdateError::Success);

    EndpointHandle handle = kNoEndpoint;
    ASSERT_EQ(library.OpenDeviceEndpoint(library.InterfacePaths().front(), handle),
              UpdateError::Success);
    // The same value again is refused and the caller's variable says so.
    EndpointHandle again = handle;
    EXPECT_EQ(library.OpenDeviceEndpoint(library.InterfacePaths().front(), again),
              UpdateError::EndpointAlreadyRegistered);
    EXPECT_EQ(again, kNoEndpoint);

    DeviceComponents components;
    ASSERT_EQ(library.DescribeDevice(handle, components), UpdateError::Success);
    ASSERT_EQ(components.Components.size(), 1u);
    EXPECT_EQ((components.Components[0].Info >> 8) & 0xFF, 0x0Fu);

    Progress progress;
    Progress other;
    ASSERT_EQ(library.RegisterProgressListener(handle, &progress), UpdateError::Success);
    EXPECT_EQ(library.RegisterProgressListener(handle, &other),
              UpdateError::ListenerAlreadyRegistered);
    EXPECT_EQ(library.Update(handle), UpdateError::Success);
    ASSERT_FALSE(progress.percentages.empty());
    EXPECT_EQ(progress.percentages.back(), 100);
    EXPECT_EQ(progress.endpoints.back(), handle);
    EXPECT_TRUE(other.percentages.empty());
    EXPECT_EQ(library.CloseDeviceEndpoint(handle), UpdateError::Success);
}

}  // namespace
}  // namespace zelk::cfu
