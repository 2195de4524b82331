// A backend for a platform whose HID access is not built in: it lists no
// interface and opens nothing, so the program reports "no device" cleanly.
#pragma once

#include "hidtransport/hid_platform.h"

namespace zelk::hid {

class UnavailableHidBackend final : public HidBackend {
  public:
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
        return HidReadResult::DeviceGone;
    }
};

}  // namespace zelk::hid
