// Device events as the kernel and the udev daemon send them over a
// NETLINK_KOBJECT_UEVENT socket. Both come from outside the process: the
// parser checks every offset against the bytes it was given, and what it
// returns is only ever used as a reason to list the interfaces again.
//
// - The kernel's: "ACTION@DEVPATH\0" and then "KEY=VALUE\0" pairs.
// - udev's: a header (UdevMonitorHeader) that starts with "libudev\0", then
//   the properties as "KEY=VALUE\0" pairs at the offset and length the
//   header gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zelk::hid::hidraw {

// The header udev puts before the properties of each device event it
// forwards (libudev's monitor_netlink_header). Its numbers are in the
// sender's byte order, which is ours (the same machine), except the magic,
// which is big-endian.
#pragma pack(push, 1)
struct UdevMonitorHeader {
    char prefix[8];                  // "libudev\0"
    std::uint32_t magic;             // kUdevMonitorMagic, big-endian
    std::uint32_t headerSize;        // the length of the header the sender knows
    std::uint32_t propertiesOffset;  // from the start of the message
    std::uint32_t propertiesLength;
    std::uint32_t subsystemHash;  // for in-kernel filters; not used here
    std::uint32_t devtypeHash;
    std::uint32_t tagBloomHigh;
    std::uint32_t tagBloomLow;
};
#pragma pack(pop)
static_assert(sizeof(UdevMonitorHeader) == 40);
static_assert(offsetof(UdevMonitorHeader, propertiesOffset) == 16);

inline constexpr std::uint32_t kUdevMonitorMagic = 0xFEEDCAFE;

struct UeventMessage {
    bool fromUdev = false;  // udev's format, else the kernel's
    std::string action;     // "add", "remove", "change", "bind", ...
    std::string devpath;
    std::string subsystem;
};

// The event in `bytes`, or nothing when they are neither format.
std::optional<UeventMessage> ParseUeventMessage(std::span<const std::uint8_t> bytes);

// True when the event concerns a hidraw node (any action).
bool ConcernsHidraw(const UeventMessage& message);

}  // namespace zelk::hid::hidraw
