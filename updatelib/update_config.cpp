#include "update_config.h"

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

}  // namespace zelk::cfu
