#include "hidtransport/linux/hidraw_path.h"

#include <charconv>
#include <cstdio>

namespace zelk::hid::hidraw {
namespace {

bool AllDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

template <typename T>
bool ParseNumber(std::string_view text, T& out, int base) {
    if (text.empty()) {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The position of `needle` in `text`, ignoring letter case.
std::size_t FindNoCase(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size()) {
        return std::string_view::npos;
    }
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        bool same = true;
        for (std::size_t j = 0; j < needle.size() && same; ++j) {
            same = Upper(text[i + j]) == Upper(needle[j]);
        }
        if (same) {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::string FormatInterfacePath(const InterfaceIdentity& identity) {
    char text[64];
    std::snprintf(text, sizeof text, "VID_%04X&PID_%04X", identity.vendorId, identity.productId);
    std::string path = identity.node + "#" + text;
    if (identity.interfaceNumber >= 0) {
        std::snprintf(text, sizeof text, "&MI_%02X",
                      static_cast<unsigned>(identity.interfaceNumber & 0xFF));
        path += text;
    }
    if (identity.collection > 0) {
        std::snprintf(text, sizeof text, "&Col%02d", identity.collection);
        path += text;
    }
    if (!identity.deviceName.empty()) {
        path += "#" + identity.deviceName;
    }
    return path;
}

std::optional<OpenTarget> ParseInterfacePath(std::string_view path, std::string_view devRoot) {
    OpenTarget target;
    const std::size_t firstHash = path.find('#');
    const std::string_view node = path.substr(0, firstHash);
    std::string prefix(devRoot);
    prefix += "/hidraw";
    if (!node.starts_with(prefix) || !AllDigits(node.substr(prefix.size()))) {
        return std::nullopt;
    }
    target.node = std::string(node);
    if (firstHash == std::string_view::npos) {
        return target;
    }
    const std::string_view rest = path.substr(firstHash + 1);
    const std::size_t secondHash = rest.find('#');
    const std::string_view identity = rest.substr(0, secondHash);
    if (secondHash != std::string_view::npos) {
        target.deviceName = std::string(rest.substr(secondHash + 1));
        if (target.deviceName.empty() || target.deviceName.find('/') != std::string::npos ||
            target.deviceName.find('#') != std::string::npos) {
            return std::nullopt;
        }
    }
    const std::size_t col = FindNoCase(identity, "&COL");
    if (col != std::string_view::npos) {
        std::string_view digits = identity.substr(col + 4);
        digits = digits.substr(0, digits.find('&'));
        int number = 0;
        if (!AllDigits(digits) || !ParseNumber(digits, number, 10) || number < 1 || number > 255) {
            return std::nullopt;
        }
        target.collectionIndex = number - 1;
    }
    return target;
}

std::optional<HidId> ParseHidId(std::string_view value) {
    const std::size_t first = value.find(':');
    const std::size_t second = value.find(':', first == std::string_view::npos ? 0 : first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) {
        return std::nullopt;
    }
    HidId id;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    if (!ParseNumber(value.substr(0, first), id.bus, 16) ||
        !ParseNumber(value.substr(first + 1, second - first - 1), vendor, 16) ||
        !ParseNumber(value.substr(second + 1), product, 16) || vendor > 0xFFFF ||
        product > 0xFFFF) {
        return std::nullopt;
    }
    id.vendorId = static_cast<std::uint16_t>(vendor);
    id.productId = static_cast<std::uint16_t>(product);
    return id;
}

int InterfaceNumberFromPhys(std::string_view phys) {
    const std::size_t slash = phys.rfind("/input");
    if (slash == std::string_view::npos) {
        return -1;
    }
    const std::string_view digits = phys.substr(slash + 6);
    int number = 0;
    if (!AllDigits(digits) || digits.size() > 3 || !ParseNumber(digits, number, 10) ||
        number > 255) {
        return -1;
    }
    return number;
}

}  // namespace zelk::hid::hidraw
