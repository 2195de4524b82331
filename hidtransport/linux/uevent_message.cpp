#include "hidtransport/linux/uevent_message.h"

#include <cstring>
#include <string_view>

namespace zelk::hid::hidraw {
namespace {

constexpr std::string_view kUdevPrefix("libudev\0", 8);

std::uint32_t LoadNative(const std::uint8_t* at) {
    std::uint32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::uint32_t LoadBigEndian(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
           static_cast<std::uint32_t>(at[2]) << 8 | static_cast<std::uint32_t>(at[3]);
}

// Calls `take(key, value)` for each "KEY=VALUE" of the NUL-separated `text`;
// the last one may end without its NUL. Strings without '=' are skipped.
template <typename Take>
void ForEachPair(std::string_view text, Take take) {
    while (!text.empty()) {
        const std::size_t end = text.find('\0');
        const std::string_view item = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos && equals > 0) {
            take(item.substr(0, equals), item.substr(equals + 1));
        }
    }
}

// Keeps the first value of each key the event is known by: a later copy
// (there should be none) cannot change what the event was said to be.
void Keep(UeventMessage& message, std::string_view key, std::string_view value,
          bool takeActionAndPath) {
    std::string* field = nullptr;
    if (key == "SUBSYSTEM") {
        field = &message.subsystem;
    } else if (takeActionAndPath && key == "ACTION") {
        field = &message.action;
    } else if (takeActionAndPath && key == "DEVPATH") {
        field = &message.devpath;
    }
    if (field != nullptr && field->empty()) {
        field->assign(value);
    }
}

std::optional<UeventMessage> ParseUdev(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < sizeof(UdevMonitorHeader)) {
        return std::nullopt;
    }
    const std::uint8_t* base = bytes.data();
    if (LoadBigEndian(base + offsetof(UdevMonitorHeader, magic)) != kUdevMonitorMagic) {
        return std::nullopt;
    }
    const std::uint32_t headerSize = LoadNative(base + offsetof(UdevMonitorHeader, headerSize));
    const std::uint32_t offset = LoadNative(base + offsetof(UdevMonitorHeader, propertiesOffset));
    const std::uint32_t length = LoadNative(base + offsetof(UdevMonitorHeader, propertiesLength));
    // The properties follow the header and lie wholly inside the message
    // (compared without adding, which could wrap).
    if (headerSize < sizeof(UdevMonitorHeader) || offset < headerSize || offset > bytes.size() ||
        length > bytes.size() - offset) {
        return std::nullopt;
    }
    UeventMessage message;
    message.fromUdev = true;
    const std::string_view properties(reinterpret_cast<const char*>(base + offset), length);
    ForEachPair(properties, [&](std::string_view key, std::string_view value) {
        Keep(message, key, value, true);
    });
    if (message.action.empty()) {
        return std::nullopt;
    }
    return message;
}

std::optional<UeventMessage> ParseKernel(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::size_t end = text.find('\0');
    const std::string_view head = text.substr(0, end);
    const std::size_t at = head.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == head.size()) {
        return std::nullopt;
    }
    UeventMessage message;
    message.action.assign(head.substr(0, at));
    message.devpath.assign(head.substr(at + 1));
    if (end != std::string_view::npos) {
        ForEachPair(text.substr(end + 1), [&](std::string_view key, std::string_view value) {
            Keep(message, key, value, false);
        });
    }
    return message;
}

}  // namespace

std::optional<UeventMessage> ParseUeventMessage(std::span<const std::uint8_t> bytes) {
    const std::string_view start(
        reinterpret_cast<const char*>(bytes.data()),
        bytes.size() < kUdevPrefix.size() ? bytes.size() : kUdevPrefix.size());
    if (start == kUdevPrefix) {
        return ParseUdev(bytes);
    }
    return ParseKernel(bytes);
}

bool ConcernsHidraw(const UeventMessage& message) {
    return message.subsystem == "hidraw";
}

}  // namespace zelk::hid::hidraw
