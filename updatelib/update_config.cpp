#include "update_config.h"

#include <algorithm>
#include <cstring>

namespace zelk::cfu {
namespace {

ReportSpec MakeSpec(std::uint16_t usage, std::uint32_t reportType) {
    ReportSpec spec{};
    spec.Usage = usage;
    spec.ReportType = reportType;
    return spec;
}

}  // namespace

UpdateConfig DefaultUpdateConfig() {
    UpdateConfig config;
    std::memset(&config, 0, sizeof config);
    config.VendorId = 0x320F;
    config.ProductId = 0x226B;
    config.UsagePage = 0xFF0B;
    config.Usage = 0x0104;
    config.CheckReportCaps = 0;
    config.RequireVersionCapsAtMatch = 1;
    config.VersionReport = MakeSpec(0x62, 2);
    config.OfferResponseReport = MakeSpec(0x8A, 0);
    config.ContentResponseReport = MakeSpec(0x66, 0);
    config.OfferReport = MakeSpec(0x8E, 1);
    config.ContentReport = MakeSpec(0x61, 1);
    return config;
}

const ComponentFamilyTable& ComponentTable() {
    static const ComponentFamilyTable table = {
        {0x00, {1, 0x1800}},
        {0x0C, {0}},
        {0x0F, {1}},
        {0x10, {3}},
        {0xA1, {0x1000, 0x2000, 0x3000}},
        {0xA2, {0x1000, 2}},
    };
    return table;
}

ComponentCheck CheckComponent(std::uint8_t componentId, std::int32_t deviceFamily) {
    if (componentId == 0xFF) {
        return ComponentCheck::Accepted;
    }
    const auto entry = ComponentTable().find(componentId);
    if (entry == ComponentTable().end()) {
        return ComponentCheck::UnknownComponent;
    }
    const auto& families = entry->second;
    return std::find(families.begin(), families.end(), deviceFamily) != families.end()
               ? ComponentCheck::Accepted
               : ComponentCheck::FamilyNotListed;
}

}  // namespace zelk::cfu
