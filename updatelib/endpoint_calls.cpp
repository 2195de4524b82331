// The calls that work on one endpoint: open, close, describe, register a
// status callback and update. All but open and close find their procedure by
// adoption, so they also work on a handle value opened elsewhere.
#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "cfu_library.h"
#include "firmware_version.h"

namespace zelk::cfu {
namespace {

constexpr ResultCode kOk = 0;
constexpr ResultCode kEndpointFailed = 1;
constexpr ResultCode kDescriptionFailed = 2;
constexpr std::size_t kMaxDescribedComponents = 7;

// The description is written byte by byte into the caller's buffer, in the
// record's little-endian layout.
void WriteComponentEntry(std::uint8_t* entry, const engine::FirmwareVersionParts& parts,
                         std::uint32_t componentInfo) {
    WriteLe32(entry + offsetof(ComponentEntry, VersionPart1), parts.Part1);
    WriteLe32(entry + offsetof(ComponentEntry, VersionPart2), parts.Part2);
    WriteLe32(entry + offsetof(ComponentEntry, VersionPart4), parts.Part4);
    WriteLe32(entry + offsetof(ComponentEntry, VersionPart3), parts.Part3);
    WriteLe32(entry + offsetof(ComponentEntry, ComponentInfo), componentInfo);
}

}  // namespace

engine::CDownloadProcedure& CfuLibrary::Adopt(EndpointHandle handle) {
    auto found = endpoints_.find(handle);
    if (found == endpoints_.end()) {
        // While an update runs (a call from its status callback) nothing is
        // dropped: the running procedure may be among the adopted ones.
        while (!updateRunning_ && adopted_.size() >= kMaxAdoptedEndpoints) {
            const EndpointHandle oldest = adopted_.front();
            adopted_.pop_front();
            endpoints_.erase(oldest);
            updateStartCounts_.erase(oldest);
        }
        auto procedure = std::make_unique<engine::CDownloadProcedure>(*this, config_);
        procedure->Adopt(handle);
        found = endpoints_.emplace(handle, std::move(procedure)).first;
        adopted_.push_back(handle);
    }
    return *found->second;
}

void CfuLibrary::ForgetAdopted(EndpointHandle handle) {
    const auto found = std::find(adopted_.begin(), adopted_.end(), handle);
    if (found != adopted_.end()) {
        adopted_.erase(found);
    }
}

ResultCode CfuLibrary::OpenDeviceEndpoint(std::u16string_view path, EndpointHandle* handle) {
    if (handle == nullptr) {
        return kEndpointFailed;
    }
    if (IsRegistered(*handle)) {
        *handle = CFU_NO_ENDPOINT;
        return kEndpointFailed;
    }
    auto procedure = std::make_unique<engine::CDownloadProcedure>(*this, config_);
    if (procedure->OpenDevice(path, handle) != 0) {
        return kEndpointFailed;
    }
    // An opened endpoint is never dropped for the bound on adopted ones.
    ForgetAdopted(*handle);
    endpoints_[*handle] = std::move(procedure);
    return kOk;
}

ResultCode CfuLibrary::CloseDeviceEndpoint(EndpointHandle handle) {
    if (updateRunning_) {
        return CFU_RESULT_UPDATE_RUNNING;  // the running procedure would be destroyed
    }
    const auto found = endpoints_.find(handle);
    if (found == endpoints_.end()) {
        return kEndpointFailed;
    }
    const int result = found->second->CloseDevice();
    endpoints_.erase(found);
    ForgetAdopted(handle);
    updateStartCounts_.erase(handle);
    return static_cast<ResultCode>(result);
}

ResultCode CfuLibrary::GetDeviceDescription(EndpointHandle handle, DeviceDescription* description) {
    engine::CDownloadProcedure& procedure = Adopt(handle);
    if (description == nullptr || procedure.ResolveReports() != 0) {
        return kDescriptionFailed;
    }
    const int attempts =
        deviceFamily_ == 0 ? engine::CDownloadProcedure::kVersionAttemptsFamilyZero : 1;
    engine::VersionResponse response{};
    bool read = false;
    for (int attempt = 0; attempt < attempts && !read; ++attempt) {
        read = procedure.ReadFirmwareVersion(response.data()) == 0;
    }
    if (!read) {
        return kDescriptionFailed;
    }
    std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(description);
    std::memcpy(bytes + offsetof(DeviceDescription, ComponentCount), response.data() + 1, 4);
    const std::size_t count = std::min<std::size_t>(response[1], kMaxDescribedComponents);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* component = response.data() + 5 + 8 * i;
        WriteComponentEntry(
            bytes + offsetof(DeviceDescription, Components) + i * sizeof(ComponentEntry),
            engine::DecodeFirmwareVersion(ReadLe32(component), deviceFamily_),
            ReadLe32(component + 4));
    }
    return kOk;
}

ResultCode CfuLibrary::RegisterUpdateStatusCallback(EndpointHandle handle,
                                                    UpdateStatusCallback callback) {
    return Adopt(handle).RegisterCallback(callback) == 0 ? kOk : kEndpointFailed;
}

ResultCode CfuLibrary::UnregisterUpdateStatusCallback(EndpointHandle handle) {
    Adopt(handle).UnregisterCallback();
    return kOk;
}

ResultCode CfuLibrary::Update(EndpointHandle handle) {
    if (updateRunning_) {
        return CFU_RESULT_UPDATE_RUNNING;
    }
    engine::CDownloadProcedure& procedure = Adopt(handle);
    // One updater per device: a second one would interleave its offers and
    // blocks with ours. A lock that cannot be taken for another reason (an
    // unknown handle) does not stop the update; it then fails on its own.
    hid::HidBackend& backend = procedure.Backend();
    const hid::HidHandle device = procedure.DeviceHandle();
    if (backend.LockForUpdate(device) == hid::HidLockResult::HeldElsewhere) {
        return CFU_RESULT_DEVICE_BUSY_ELSEWHERE;
    }
    const engine::AnswerRecord before = procedure.LastAnswers();
    updateStartCounts_[handle] = {before.OfferAnswers, before.ContentAnswers};
    updateRunning_ = true;
    ResultCode result = CFU_RESULT_INTERNAL_ERROR;
    try {
        procedure.EnableTransfer(true);
        result = procedure.Update();
    } catch (...) {
        // Out of memory, or a status callback that threw: the transfer is
        // switched off below all the same.
        result = CFU_RESULT_INTERNAL_ERROR;
    }
    procedure.EnableTransfer(false);
    backend.UnlockForUpdate(device);
    updateRunning_ = false;
    return result;
}

void CfuLibrary::DeviceBusy(std::uint64_t endpoint, std::uint64_t waitMs) {
    if (busyListener_) {
        busyListener_(endpoint, waitMs);
    }
}

DeviceAnswer CfuLibrary::LastDeviceAnswer(EndpointHandle handle) const {
    DeviceAnswer answer;
    const auto found = endpoints_.find(handle);
    if (found == endpoints_.end()) {
        return answer;
    }
    const engine::AnswerRecord record = found->second->LastAnswers();
    AnswerCounts start;
    if (const auto counted = updateStartCounts_.find(handle); counted != updateStartCounts_.end()) {
        start = counted->second;
    }
    answer.OfferSeen = record.OfferAnswers > start.offers;
    answer.OfferStatus = record.OfferStatus;
    answer.RejectReason = record.RejectReason;
    answer.ContentSeen = record.ContentAnswers > start.contents;
    answer.ContentStatus = record.Content.Status;
    answer.ContentSequence = record.Content.SequenceNumber;
    return answer;
}

}  // namespace zelk::cfu
