// The calls that work on one endpoint: open, close, describe, register a
// progress listener and update; and the adoption of a handle value opened
// elsewhere, which the C interface asks for.
#include <algorithm>

#include "hidtransport/byte_order.h"
#include "updatelib/cfu_library.h"

namespace zelk::cfu {

engine::CDownloadProcedure* CfuLibrary::Find(EndpointHandle handle) {
    const auto found = endpoints_.find(handle);
    return found == endpoints_.end() ? nullptr : found->second.get();
}

void CfuLibrary::AdoptEndpoint(EndpointHandle handle) {
    if (IsRegistered(handle)) {
        return;
    }
    // While an update runs (a call from its progress listener) nothing is
    // dropped: the running procedure may be among the adopted ones.
    while (!updateRunning_ && adopted_.size() >= kMaxAdoptedEndpoints) {
        const EndpointHandle oldest = adopted_.front();
        adopted_.pop_front();
        endpoints_.erase(oldest);
        updateStartCounts_.erase(oldest);
    }
    auto procedure = std::make_unique<engine::CDownloadProcedure>(*this, config_);
    procedure->Adopt(handle);
    endpoints_.emplace(handle, std::move(procedure));
    adopted_.push_back(handle);
}

void CfuLibrary::ForgetAdopted(EndpointHandle handle) {
    const auto found = std::find(adopted_.begin(), adopted_.end(), handle);
    if (found != adopted_.end()) {
        adopted_.erase(found);
    }
}

UpdateError CfuLibrary::OpenDeviceEndpoint(std::u16string_view path, EndpointHandle& handle) {
    if (IsRegistered(handle)) {
        handle = kNoEndpoint;
        return UpdateError::EndpointAlreadyRegistered;
    }
    auto procedure = std::make_unique<engine::CDownloadProcedure>(*this, config_);
    if (procedure->OpenDevice(path, &handle) != 0) {
        return handle == kNoEndpoint ? UpdateError::EndpointOpenFailed
                                     : UpdateError::ReportsNotResolved;
    }
    // An opened endpoint is never dropped for the bound on adopted ones.
    ForgetAdopted(handle);
    endpoints_[handle] = std::move(procedure);
    return UpdateError::Success;
}

UpdateError CfuLibrary::CloseDeviceEndpoint(EndpointHandle handle) {
    if (updateRunning_) {
        return UpdateError::UpdateRunning;  // the running procedure would be destroyed
    }
    const auto found = endpoints_.find(handle);
    if (found == endpoints_.end()) {
        return UpdateError::EndpointNotRegistered;
    }
    found->second->CloseDevice();
    endpoints_.erase(found);
    ForgetAdopted(handle);
    updateStartCounts_.erase(handle);
    return UpdateError::Success;
}

UpdateError CfuLibrary::DescribeDevice(EndpointHandle handle, DeviceComponents& components) {
    engine::CDownloadProcedure* procedure = Find(handle);
    if (procedure == nullptr) {
        return UpdateError::EndpointNotRegistered;
    }
    if (procedure->ResolveReports() != 0) {
        return UpdateError::DescriptionFailed;
    }
    const int attempts =
        deviceFamily_ == 0 ? engine::CDownloadProcedure::kVersionAttemptsFamilyZero : 1;
    engine::VersionResponse response{};
    bool read = false;
    for (int attempt = 0; attempt < attempts && !read; ++attempt) {
        read = procedure->ReadFirmwareVersion(response.data()) == 0;
    }
    if (!read) {
        return UpdateError::DescriptionFailed;
    }
    // Response bytes 1 to 4: count, two reserved bytes, protocol flags; then
    // one 8-byte slot (version, info) per component.
    components.ComponentCount = response[1];
    components.Reserved[0] = response[2];
    components.Reserved[1] = response[3];
    components.ProtocolFlags = response[4];
    const std::size_t count = std::min<std::size_t>(response[1], kMaxDescribedComponents);
    components.Components.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* slot = response.data() + 5 + 8 * i;
        components.Components.push_back(
            {engine::DecodeFirmwareVersion(ReadLe32(slot), deviceFamily_), ReadLe32(slot + 4)});
    }
    return UpdateError::Success;
}

UpdateError CfuLibrary::RegisterProgressListener(EndpointHandle handle,
                                                 engine::ProgressListener* listener) {
    engine::CDownloadProcedure* procedure = Find(handle);
    if (procedure == nullptr) {
        return UpdateError::EndpointNotRegistered;
    }
    return procedure->RegisterListener(listener) ? UpdateError::Success
                                                 : UpdateError::ListenerAlreadyRegistered;
}

UpdateError CfuLibrary::UnregisterProgressListener(EndpointHandle handle) {
    engine::CDownloadProcedure* procedure = Find(handle);
    if (procedure == nullptr) {
        return UpdateError::EndpointNotRegistered;
    }
    procedure->UnregisterListener();
    return UpdateError::Success;
}

UpdateError CfuLibrary::Update(EndpointHandle handle) {
    if (updateRunning_) {
        return UpdateError::UpdateRunning;
    }
    engine::CDownloadProcedure* procedure = Find(handle);
    if (procedure == nullptr) {
        return UpdateError::EndpointNotRegistered;
    }
    // One updater per device: a second one would interleave its offers and
    // blocks with ours. A lock that cannot be taken for another reason (an
    // unknown handle) does not stop the update; it then fails on its own.
    hid::HidBackend& backend = procedure->Backend();
    const hid::HidHandle device = procedure->DeviceHandle();
    if (backend.LockForUpdate(device) == hid::HidLockResult::HeldElsewhere) {
        return UpdateError::DeviceBusyElsewhere;
    }
    const engine::AnswerRecord before = procedure->LastAnswers();
    updateStartCounts_[handle] = {before.OfferAnswers, before.ContentAnswers};
    updateRunning_ = true;
    UpdateError result = UpdateError::InternalError;
    try {
        procedure->EnableTransfer(true);
        result = procedure->Update();
    } catch (...) {
        // Out of memory, or a progress listener that threw: the transfer is
        // switched off below all the same.
        result = UpdateError::InternalError;
    }
    procedure->EnableTransfer(false);
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
