// DeviceInfo.txt: the bytes are the file that the updater reads back at
// start. Checks that every identity field is the low bits of its line's
// number, and the number syntax against the C library's strtol wherever a
// line is plain ASCII.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "app/run/embedded_package.h"
#include "fuzz/fuzz_support.h"
#include "tests/app/recording_desktop.h"

namespace {

using zelk::fuzz::Require;

// What strtol gives on a platform with a 32-bit long: the text's number,
// saturated at that long's limits. Empty when the text is not plain ASCII.
std::optional<std::int64_t> ReferenceNumber(std::u16string_view text) {
    std::string ascii;
    for (const char16_t unit : text) {
        if (unit == 0 || unit > 0x7F) {
            return std::nullopt;
        }
        ascii.push_back(static_cast<char>(unit));
    }
    const int base = ascii.rfind("0x", 0) == 0 ? 16 : 10;
    errno = 0;
    const long long value = std::strtoll(ascii.c_str(), nullptr, base);
    constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
    constexpr long long kMin = std::numeric_limits<std::int32_t>::min();
    return value > kMax ? kMax : value < kMin ? kMin : value;
}

void CheckNumber(std::u16string_view text) {
    const std::int64_t value = zelk::app::ParseDeviceInfoNumber(text);
    Require(value >= std::numeric_limits<std::int32_t>::min() &&
                value <= std::numeric_limits<std::int32_t>::max(),
            "a number stays within a 32-bit long");
    if (const auto reference = ReferenceNumber(text)) {
        Require(value == *reference, "the number reads as strtol reads it");
    }
}

// The hide-window line: decimal only, as strtol with base 10 reads it.
void CheckDecimal(std::u16string_view text) {
    const std::int64_t value = zelk::app::ParseDeviceInfoDecimal(text);
    std::string ascii;
    for (const char16_t unit : text) {
        if (unit == 0 || unit > 0x7F) {
            return;
        }
        ascii.push_back(static_cast<char>(unit));
    }
    const long long reference = std::strtoll(ascii.c_str(), nullptr, 10);
    constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
    constexpr long long kMin = std::numeric_limits<std::int32_t>::min();
    Require(value == (reference > kMax   ? kMax
                      : reference < kMin ? kMin
                                         : reference),
            "the hide-window line reads as decimal strtol reads it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = zelk::fuzz::WriteScratchFile("DeviceInfo.txt", data, size);

    zelk::app::RecordingDesktop desktop;
    std::u16string directory = file.parent_path().u16string();
    directory.push_back(u'/');
    desktop.tempDirectory = directory;
    const auto info = zelk::app::ReadDeviceInfo(desktop, zelk::app::PackagePaths{});
    Require(info.has_value(), "a file that is there is read");
    for (const std::u16string& text : info->texts) {
        Require(text.find(u'\n') == std::u16string::npos, "a field holds one line");
        CheckNumber(text);
    }
    using zelk::app::Low16;
    using zelk::app::ParseDeviceInfoNumber;
    const auto& texts = info->texts;
    const auto& identity = info->identity;
    Require(identity.VendorId == Low16(ParseDeviceInfoNumber(texts[0])) &&
                identity.ProductId == Low16(ParseDeviceInfoNumber(texts[1])) &&
                identity.UsagePage == Low16(ParseDeviceInfoNumber(texts[2])) &&
                identity.Usage == Low16(ParseDeviceInfoNumber(texts[3])) &&
                identity.MiValue == zelk::app::Low8(ParseDeviceInfoNumber(texts[4])),
            "each field is its line's number cut to width");

    // The number syntax on its own, with text that need not be a whole line.
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    CheckNumber(units);
    CheckNumber(std::u16string(data, data + size));
    CheckDecimal(units);
    CheckDecimal(std::u16string(data, data + size));
    return 0;
}
