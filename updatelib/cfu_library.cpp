#include "updatelib/cfu_library.h"

namespace zelk::cfu {

CfuLibrary::CfuLibrary(hid::HidBackend& backend, WaitClock& clock)
    : backend_(backend), clock_(clock) {}

CfuLibrary::~CfuLibrary() = default;

void CfuLibrary::SetConfig(const engine::UpdateConfiguration& config) {
    config_ = config;
    capsFilterArmed_ = false;
}

void CfuLibrary::SetConfigEx(const engine::UpdateConfiguration& config) {
    config_ = config;
    capsFilterArmed_ = config.CheckReportCaps;
}

void CfuLibrary::SetUpdateOptions(const engine::UpdateOptions& options) {
    options_ = options;
}

// Dropped procedures are released, but their handles stay open: only closing
// an endpoint closes its handle.
void CfuLibrary::DropEndpoints() {
    endpoints_.clear();
    adopted_.clear();
    updateStartCounts_.clear();
}

// Dropping the endpoints would destroy the running procedure under the
// update, so during an update (from its status callback) these do nothing.
void CfuLibrary::Initialize(std::int32_t deviceFamily) {
    if (updateRunning_) {
        return;
    }
    DropEndpoints();
    deviceFamily_ = deviceFamily;
}

void CfuLibrary::Uninitialize() {
    if (updateRunning_) {
        return;
    }
    DropEndpoints();
}

UpdateError CfuLibrary::StartAddImage() {
    return updateRunning_ ? UpdateError::UpdateRunning : images_.Start();
}

UpdateError CfuLibrary::AddImage(std::u16string_view offerPath, std::u16string_view payloadPath) {
    return updateRunning_ ? UpdateError::UpdateRunning : images_.Add(offerPath, payloadPath);
}

UpdateError CfuLibrary::StopAddImage() {
    return updateRunning_ ? UpdateError::UpdateRunning : images_.Stop();
}

int CfuLibrary::MatchDevices() {
    hid::MatchCriteria criteria;
    criteria.VendorId = config_.VendorId;
    criteria.ProductId = config_.ProductId;
    criteria.UsagePage = config_.UsagePage;
    criteria.Usage = config_.Usage;
    criteria.CapsFilterArmed = capsFilterArmed_;
    criteria.RequireVersionCapsAtMatch = config_.RequireVersionCapsAtMatch;
    criteria.VersionUsage = config_.VersionReport.Usage;
    criteria.VersionReportType = static_cast<std::uint32_t>(config_.VersionReport.ReportType);
    return hid::MatchDevices(backend_, criteria, interfacePaths_);
}

std::int64_t CfuLibrary::ListAllInterfaces() {
    return hid::GetAllDeviceNumber(backend_, interfacePaths_);
}

CfuLibrary& ProcessLibrary() {
    static CfuLibrary library(hid::ActiveHidBackend(), SystemClock());
    return library;
}

}  // namespace zelk::cfu
