#include "cfu_library.h"

namespace zelk::cfu {

CfuLibrary::CfuLibrary(hid::HidBackend& backend) : backend_(backend) {}

void CfuLibrary::SetConfig(const UpdateConfig& config) {
    config_ = config;
    capsFilterArmed_ = 0;
}

void CfuLibrary::SetConfigEx(const UpdateConfig& config) {
    config_ = config;
    capsFilterArmed_ = config.CheckReportCaps;
}

void CfuLibrary::SetUpdateOptions(const UpdateOptions& options) { options_ = options; }

int CfuLibrary::MatchDevices() {
    hid::MatchCriteria criteria;
    criteria.VendorId = config_.VendorId;
    criteria.ProductId = config_.ProductId;
    criteria.UsagePage = config_.UsagePage;
    criteria.Usage = config_.Usage;
    criteria.CapsFilterArmed = capsFilterArmed_ != 0;
    criteria.RequireVersionCapsAtMatch = config_.RequireVersionCapsAtMatch != 0;
    criteria.VersionUsage = config_.VersionReport.Usage;
    criteria.VersionReportType = config_.VersionReport.ReportType;
    return hid::MatchDevices(backend_, criteria, interfacePaths_);
}

std::int64_t CfuLibrary::GetAllDeviceNumber() {
    return hid::GetAllDeviceNumber(backend_, interfacePaths_);
}

std::uint8_t CfuLibrary::GetAllDeviceInfo(HIDDeviceInfo* records) {
    return hid::GetAllDeviceInfo(backend_, interfacePaths_, records);
}

CfuLibrary& ProcessLibrary() {
    static CfuLibrary library(hid::ActiveHidBackend());
    return library;
}

}  // namespace zelk::cfu
