// The calls a run makes through cfu::UpdateLibrary: a failed open leaves
// nothing open (the library core hands a half-opened handle to the C edge
// to adopt; a C++ caller has no way to close it), and says whether the path
// or its reports were at fault; the path list keeps what the core keeps.
#include "updatelib/update_library.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "tests/support/fast_wait_clock.h"
#include "updatelib/update_config.h"

namespace zelk::cfu {
namespace {

using engine::UpdateError;
using hid::HidHandle;

// The virtual backend, counting the handles that are open.
class OpenCountingBackend final : public hid::HidBackend {
  public:
    explicit OpenCountingBackend(hid::virt::VirtualHidBackend& inner) : inner_(inner) {}
    int open = 0;

    int ListInterfaces(std::vector<std::u16string>& paths) override {
        return inner_.ListInterfaces(paths);
    }
    HidHandle Open(std::u16string_view path, hid::HidOpenMode mode) override {
        const HidHandle handle = inner_.Open(path, mode);
        open += handle != hid::kInvalidHidHandle ? 1 : 0;
        return handle;
    }
    bool Close(HidHandle handle) override {
        const bool closed = inner_.Close(handle);
        open -= closed ? 1 : 0;
        return closed;
    }
    std::unique_ptr<hid::HidDescriptor> GetDescriptor(HidHandle handle) override {
        return inner_.GetDescriptor(handle);
    }
    bool DescribeUnopened(std::u16string_view path, hid::HidCaps& caps) override {
        return inner_.DescribeUnopened(path, caps);
    }
    bool SetOutputReport(HidHandle handle, const std::uint8_t* report,
                         std::size_t length) override {
        return inner_.SetOutputReport(handle, report, length);
    }
    bool SetFeature(HidHandle handle, const std::uint8_t* report, std::size_t length) override {
        return inner_.SetFeature(handle, report, length);
    }
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override {
        return inner_.GetFeature(handle, buffer, length);
    }
    hid::HidReadResult ReadInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity,
                                 std::size_t& received, std::uint32_t timeoutMs) override {
        return inner_.ReadInput(handle, buffer, capacity, received, timeoutMs);
    }

  private:
    hid::virt::VirtualHidBackend& inner_;
};

class UpdateLibraryCalls : public ::testing::Test {
  protected:
    hid::virt::VirtualHidBackend virtualBackend{{hid::virt::DefaultEarbud()}};
    OpenCountingBackend backend{virtualBackend};
    zelk::testing::FastWaitClock clock;
    CfuLibrary core{backend, clock};
    LibraryCalls library{core};
    const std::u16string path = virtualBackend.Device(0).Path();

    void Configure(std::uint16_t versionUsage) {
        engine::UpdateConfiguration config = DefaultUpdateConfig();
        config.ProductId = 0x5055;
        config.CheckReportCaps = true;
        config.VersionReport.Usage = versionUsage;
        library.SetConfig(config);
        library.Initialize(1);
    }
};

struct OpenRow {
    const char* name;
    bool realPath;
    std::uint16_t versionUsage;  // 0x62 is the earbud's; 0x99 it lacks
    UpdateError expected;
};

const OpenRow kOpenRows[] = {
    {"a device whose reports fit", true, 0x62, UpdateError::Success},
    {"a path that is not there", false, 0x62, UpdateError::EndpointOpenFailed},
    {"a device without the version report", true, 0x99, UpdateError::ReportsNotResolved},
};

TEST_F(UpdateLibraryCalls, AFailedOpenSaysWhyAndLeavesNothingOpen) {
    for (const OpenRow& row : kOpenRows) {
        SCOPED_TRACE(row.name);
        Configure(row.versionUsage);
        EndpointHandle handle = kNoEndpoint;
        EXPECT_EQ(library.OpenDeviceEndpoint(row.realPath ? path : u"missing", handle),
                  row.expected);
        if (row.expected == UpdateError::Success) {
            EXPECT_EQ(backend.open, 1);
            EXPECT_EQ(library.CloseDeviceEndpoint(handle), UpdateError::Success);
        } else {
            EXPECT_EQ(handle, kNoEndpoint);
        }
        EXPECT_EQ(backend.open, 0);
    }
}

TEST_F(UpdateLibraryCalls, AFailedListingKeepsThePathsFoundBefore) {
    Configure(0x62);
    ASSERT_EQ(library.MatchDevices(), 1u);
    // Gone, but the listing that would tell fails: the run goes on with the
    // path it had, as a C caller's count and path list do.
    virtualBackend.Device(0).Unplug();
    virtualBackend.FailNextList(2);
    EXPECT_EQ(library.MatchDevices(), 1u);
    std::vector<std::u16string> paths;
    ASSERT_EQ(library.GetDeviceEndpointPaths(paths), UpdateError::Success);
    EXPECT_EQ(paths, std::vector<std::u16string>{path});
}

}  // namespace
}  // namespace zelk::cfu
