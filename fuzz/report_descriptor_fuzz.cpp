// Feeds arbitrary bytes to the report-descriptor parser and queries every
// collection it returns, checking the invariants callers rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "hidtransport/report_descriptor.h"

namespace {

using zelk::hid::HidCapability;
using zelk::hid::HidCaps;
using zelk::hid::HidReportType;
using zelk::hid::kHidStatusInvalidReportType;
using zelk::hid::kHidStatusSuccess;
using zelk::hid::kHidStatusUsageNotFound;
using zelk::hid::ParsedCollection;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::uint16_t ValueCount(const HidCaps& caps, std::uint32_t type) {
    const std::uint16_t counts[] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                                    caps.NumberFeatureValueCaps};
    return counts[type];
}

std::uint16_t ButtonCount(const HidCaps& caps, std::uint32_t type) {
    const std::uint16_t counts[] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                                    caps.NumberFeatureButtonCaps};
    return counts[type];
}

void CheckSpecific(const ParsedCollection& parsed, HidReportType type, const HidCapability& cap) {
    std::vector<HidCapability> found;
    const auto status =
        parsed.GetSpecificValueCaps(type, cap.UsagePage, cap.LinkCollection, cap.UsageMax, found);
    Require(status == kHidStatusSuccess && !found.empty());
    for (const HidCapability& match : found) {
        Require(match.Carries(cap.UsageMax));
    }
}

void CheckType(const ParsedCollection& parsed, const HidCaps& caps, std::uint32_t type) {
    const auto reportType = static_cast<HidReportType>(type);
    std::vector<HidCapability> values;
    std::vector<HidCapability> buttons;
    if (type > 2) {
        Require(parsed.GetValueCaps(reportType, values) == kHidStatusInvalidReportType);
        Require(parsed.GetButtonCaps(reportType, buttons) == kHidStatusInvalidReportType);
        return;
    }
    Require(parsed.GetValueCaps(reportType, values) == kHidStatusSuccess);
    Require(parsed.GetButtonCaps(reportType, buttons) == kHidStatusSuccess);
    Require(values.size() == ValueCount(caps, type));
    Require(buttons.size() == ButtonCount(caps, type));
    for (const HidCapability& cap : values) {
        Require(cap.UsageMin <= cap.UsageMax);
        CheckSpecific(parsed, reportType, cap);
    }
    // Report lengths count the report-ID byte whenever the type has a report.
    const std::uint16_t lengths[] = {caps.InputReportByteLength, caps.OutputReportByteLength,
                                     caps.FeatureReportByteLength};
    Require(parsed.reportIds[type].empty() == (lengths[type] == 0));
    Require((values.empty() && buttons.empty()) || lengths[type] >= 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const std::vector<ParsedCollection> collections =
        zelk::hid::ParseReportDescriptor(data, size, error);
    Require(collections.empty() != error.empty());
    Require(error.empty() || error.rfind("byte ", 0) == 0);
    for (const ParsedCollection& parsed : collections) {
        HidCaps caps;
        Require(parsed.GetCaps(caps) == kHidStatusSuccess);
        for (std::uint32_t type = 0; type < 4; ++type) {
            CheckType(parsed, caps, type);
        }
        std::vector<HidCapability> none;
        const auto status = parsed.GetSpecificValueCaps(HidReportType::Input, 0, 0, 0xFFFF, none);
        Require(status == kHidStatusSuccess || (status == kHidStatusUsageNotFound && none.empty()));
    }
    return 0;
}
