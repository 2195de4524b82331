#include "hidtransport/virtual/report_descriptor_builder.h"

namespace zelk::hid::virt {
namespace {

// Short-item prefixes with the data size bits left clear.
constexpr std::uint8_t kUsagePage = 0x04;
constexpr std::uint8_t kLogicalMinimum = 0x14;
constexpr std::uint8_t kLogicalMaximum = 0x24;
constexpr std::uint8_t kReportSize = 0x74;
constexpr std::uint8_t kReportId = 0x84;
constexpr std::uint8_t kReportCount = 0x94;
constexpr std::uint8_t kUsage = 0x08;
constexpr std::uint8_t kInput = 0x80;
constexpr std::uint8_t kOutput = 0x90;
constexpr std::uint8_t kFeature = 0xB0;
constexpr std::uint8_t kCollection = 0xA0;
constexpr std::uint8_t kEndCollection = 0xC0;

constexpr std::uint8_t kApplication = 0x01;
constexpr std::uint8_t kDataVariableAbsolute = 0x02;

// Appends an item whose data is read as unsigned (usages, sizes, counts).
void PutUnsigned(std::vector<std::uint8_t>& out, std::uint8_t prefix, std::uint32_t value) {
    if (value <= 0xFF) {
        out.push_back(static_cast<std::uint8_t>(prefix | 1));
        out.push_back(static_cast<std::uint8_t>(value));
    } else if (value <= 0xFFFF) {
        out.push_back(static_cast<std::uint8_t>(prefix | 2));
        out.push_back(static_cast<std::uint8_t>(value));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    } else {
        out.push_back(static_cast<std::uint8_t>(prefix | 3));
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }
}

void PutReport(std::vector<std::uint8_t>& out, const ReportLayout& report, std::uint8_t mainItem) {
    PutUnsigned(out, kReportId, report.id);
    PutUnsigned(out, kUsage, report.usage);
    PutUnsigned(out, kLogicalMinimum, 0);
    // Logical values are signed: 255 needs two bytes to stay positive.
    out.insert(out.end(), {static_cast<std::uint8_t>(kLogicalMaximum | 2), 0xFF, 0x00});
    PutUnsigned(out, kReportSize, 8);
    PutUnsigned(out, kReportCount, report.size);
    PutUnsigned(out, mainItem, kDataVariableAbsolute);
}

}  // namespace

std::vector<std::uint8_t> BuildReportDescriptor(const VirtualDeviceConfig& config) {
    std::vector<std::uint8_t> out;
    PutUnsigned(out, kUsagePage, config.usagePage);
    PutUnsigned(out, kUsage, config.usage);
    PutUnsigned(out, kCollection, kApplication);
    PutReport(out, config.version, kFeature);
    PutReport(out, config.offer, kOutput);
    PutReport(out, config.offerResponse, kInput);
    PutReport(out, config.content, kOutput);
    PutReport(out, config.contentResponse, kInput);
    out.push_back(kEndCollection);
    return out;
}

}  // namespace zelk::hid::virt
