// The library's whole state in one object. The C calls forward to one
// process-wide instance; tests build their own on a backend of their choice.
#pragma once

#include <cstdint>

#include "device_discovery.h"
#include "hid_platform.h"
#include "zelk/cfu_update.h"

namespace zelk::cfu {

class CfuLibrary {
public:
    explicit CfuLibrary(hid::HidBackend& backend);

    void SetConfig(const UpdateConfig& config);
    void SetConfigEx(const UpdateConfig& config);
    void SetUpdateOptions(const UpdateOptions& options);

    // Rebuilds the interface path list from the interfaces that fit the
    // configuration; see hid::MatchDevices for the result.
    int MatchDevices();
    std::int64_t GetAllDeviceNumber();
    std::uint8_t GetAllDeviceInfo(HIDDeviceInfo* records);

    const UpdateConfig& Config() const { return config_; }
    bool CapsFilterArmed() const { return capsFilterArmed_ != 0; }
    const UpdateOptions& Options() const { return options_; }
    std::int32_t DeviceFamily() const { return deviceFamily_; }
    const hid::InterfacePathList& InterfacePaths() const { return interfacePaths_; }
    hid::HidBackend& Backend() const { return backend_; }

private:
    hid::HidBackend& backend_;
    UpdateConfig config_{};
    std::uint8_t capsFilterArmed_ = 0;
    UpdateOptions options_{};
    std::int32_t deviceFamily_ = -1;
    hid::InterfacePathList interfacePaths_;
};

// The instance behind the C calls, on the process's active HID backend.
CfuLibrary& ProcessLibrary();

}  // namespace zelk::cfu
