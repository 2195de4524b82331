#include "cfu_library.h"

#include <algorithm>
#include <limits>

namespace zelk::cfu {

CfuLibrary::CfuLibrary(hid::HidBackend& backend, WaitClock& clock)
    : backend_(backend), clock_(clock) {}

CfuLibrary::~CfuLibrary() = default;

void CfuLibrary::SetConfig(const UpdateConfig& config) {
    config_ = config;
    capsFilterArmed_ = 0;
}

void CfuLibrary::SetConfigEx(const UpdateConfig& config) {
    config_ = config;
    capsFilterArmed_ = config.CheckReportCaps;
}

void CfuLibrary::SetUpdateOptions(const UpdateOptions& options) {
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

ResultCode CfuLibrary::StartAddImage() {
    return updateRunning_ ? CFU_RESULT_UPDATE_RUNNING : images_.Start();
}

ResultCode CfuLibrary::AddImage(std::u16string_view offerPath, std::u16string_view payloadPath) {
    return updateRunning_ ? CFU_RESULT_UPDATE_RUNNING : images_.Add(offerPath, payloadPath);
}

ResultCode CfuLibrary::StopAddImage() {
    return updateRunning_ ? CFU_RESULT_UPDATE_RUNNING : images_.Stop();
}

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

std::int32_t CfuLibrary::GetDeviceNumber() {
    if (MatchDevices() == 0) {
        return 0;
    }
    std::int64_t characters = 0;
    for (const std::u16string& path : interfacePaths_) {
        characters += static_cast<std::int64_t>(path.size()) + 1;
    }
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(characters, std::numeric_limits<std::int32_t>::max()));
}

ResultCode CfuLibrary::GetDeviceEndpointPath(char16_t* buffer, std::int32_t capacity) const {
    const std::int64_t room = std::max<std::int32_t>(capacity, 0);
    std::int64_t offset = 0;
    for (const std::u16string& path : interfacePaths_) {
        const std::int64_t needed = offset + static_cast<std::int64_t>(path.size()) + 1;
        if (needed > room || buffer == nullptr) {
            return 1;
        }
        std::copy(path.begin(), path.end(), buffer + offset);
        buffer[needed - 1] = u'\0';
        offset = needed;
    }
    return 0;
}

std::int64_t CfuLibrary::GetAllDeviceNumber() {
    const std::int64_t count = hid::GetAllDeviceNumber(backend_, interfacePaths_);
    allDeviceRoom_ = static_cast<std::size_t>(count);
    return count;
}

std::uint8_t CfuLibrary::GetAllDeviceInfo(HIDDeviceInfo* records) {
    return hid::GetAllDeviceInfo(backend_, interfacePaths_, allDeviceRoom_, records);
}

CfuLibrary& ProcessLibrary() {
    static CfuLibrary library(hid::ActiveHidBackend(), SystemClock());
    return library;
}

}  // namespace zelk::cfu
