#include "updatelib/update_config.h"

namespace zelk::cfu {
namespace {

hid::ReportLayout MakeLayout(std::uint16_t usage, hid::HidReportType reportType) {
    hid::ReportLayout layout;
    layout.Usage = usage;
    layout.ReportType = reportType;
    return layout;
}

}  // namespace

engine::UpdateConfiguration DefaultUpdateConfig() {
    using hid::HidReportType;
    engine::UpdateConfiguration config;
    config.VendorId = 0x320F;
    config.ProductId = 0x226B;
    config.UsagePage = 0xFF0B;
    config.Usage = 0x0104;
    config.CheckReportCaps = false;
    config.RequireVersionCapsAtMatch = true;
    config.VersionReport = MakeLayout(0x62, HidReportType::Feature);
    config.OfferResponseReport = MakeLayout(0x8A, HidReportType::Input);
    config.ContentResponseReport = MakeLayout(0x66, HidReportType::Input);
    config.OfferReport = MakeLayout(0x8E, HidReportType::Output);
    config.ContentReport = MakeLayout(0x61, HidReportType::Output);
    return config;
}

}  // namespace zelk::cfu
