// The parser of device events from the kernel's and udev's netlink sockets,
// and the decision built on it. Whatever the bytes, it must not crash or read
// past them, and what it returns must come from the bytes it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "hidtransport/linux/uevent_message.h"
#include "hidtransport/linux/uevent_watch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelk::hid::hidraw;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto message = ParseUeventMessage(bytes);
    if (message) {
        if (message->action.size() > size || message->devpath.size() > size ||
            message->subsystem.size() > size) {
            std::abort();
        }
        const std::string_view text(reinterpret_cast<const char*>(data), size);
        if (!message->subsystem.empty() &&
            text.find(message->subsystem) == std::string_view::npos) {
            std::abort();
        }
    }
    UeventSender kernel;
    kernel.groups = 1;
    UeventSender udev;
    udev.groups = 2;
    udev.hasCredentials = true;
    if (SignalsHidrawChange(UeventSource::Kernel, kernel, bytes, false) !=
        (message && ConcernsHidraw(*message))) {
        std::abort();
    }
    SignalsHidrawChange(UeventSource::Udev, udev, bytes, false);
    return 0;
}
