// A library on virtual devices with a fast clock, reached through the C
// edge as the exported calls reach theirs, and the steps of a run.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "capi/c_library.h"
#include "capi/records.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/support/fast_wait_clock.h"
#include "updatelib/update_config.h"

namespace zelk::cfu::testing {

inline std::u16string Utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

inline std::vector<std::uint8_t> ReadBytes(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The configuration a run builds for the default earbud.
inline UpdateConfig EarbudConfig() {
    UpdateConfig config = capi::ToRecord(DefaultUpdateConfig());
    config.ProductId = 0x5055;
    config.CheckReportCaps = 1;
    return config;
}

// What the status callback saw; callbacks are plain function pointers, so
// the test in progress publishes its recorder here.
struct StatusRecorder {
    std::mutex mutex;
    std::vector<UpdateStatus> statuses;
    std::vector<std::uint64_t> endpoints;

    static StatusRecorder*& Current() {
        static StatusRecorder* current = nullptr;
        return current;
    }
    static std::int32_t Callback(std::uint64_t endpoint, const UpdateStatus* status) {
        StatusRecorder* recorder = Current();
        if (recorder != nullptr) {
            std::lock_guard lock(recorder->mutex);
            recorder->statuses.push_back(*status);
            recorder->endpoints.push_back(endpoint);
        }
        return 0;
    }
};

class LibraryTest : public ::testing::Test {
  protected:
    explicit LibraryTest(
        std::vector<hid::virt::VirtualDeviceConfig> devices = {hid::virt::DefaultEarbud()})
        : backend(std::move(devices)) {
        StatusRecorder::Current() = &recorder;
    }
    ~LibraryTest() override { StatusRecorder::Current() = nullptr; }

    // Configuration, family, discovery and the sample image: the steps of a
    // run before an endpoint is opened. Returns the first path found.
    std::u16string Prepare(std::int32_t family = 1, UpdateConfig config = EarbudConfig()) {
        library.SetConfig(config);
        library.Initialize(family);
        EXPECT_GT(library.GetDeviceNumber(), 0);
        library.SetConfigEx(config);
        library.SetUpdateOptions(UpdateOptions{});
        EXPECT_EQ(library.StartAddImage(), 0u);
        EXPECT_EQ(library.AddImage(Utf16(ZELK_SAMPLE_OFFER), Utf16(ZELK_SAMPLE_PAYLOAD)), 0u);
        EXPECT_EQ(library.StopAddImage(), 0u);
        return library.Library().InterfacePaths().empty()
                   ? std::u16string{}
                   : library.Library().InterfacePaths().front();
    }

    EndpointHandle Open(const std::u16string& path) {
        EndpointHandle handle = CFU_NO_ENDPOINT;
        EXPECT_EQ(library.OpenDeviceEndpoint(path, &handle), 0u);
        return handle;
    }

    hid::virt::VirtualDevice& Device(std::size_t index = 0) { return backend.Device(index); }

    hid::virt::VirtualHidBackend backend;
    zelk::testing::FastWaitClock clock;
    CfuLibrary core{backend, clock};
    capi::CLibrary library{core};
    StatusRecorder recorder;
};

}  // namespace zelk::cfu::testing
