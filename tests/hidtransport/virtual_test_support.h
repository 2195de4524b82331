// Small helpers shared by the transport tests that run on virtual devices.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"

namespace zelk::hid::testing {

// Polls `condition` until it holds or `limit` passes; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline virt::VirtualDeviceConfig EarbudWith(std::uint16_t productId) {
    virt::VirtualDeviceConfig config = virt::DefaultEarbud();
    config.productId = productId;
    return config;
}

}  // namespace zelk::hid::testing
