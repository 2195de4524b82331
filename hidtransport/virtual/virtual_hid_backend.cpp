#include "hidtransport/virtual/virtual_hid_backend.h"

#include <algorithm>
#include <chrono>
#include <shared_mutex>
#include <string>
#include <utility>

#include "hidtransport/report_descriptor.h"
#include "hidtransport/utf8_text.h"

namespace zelk::hid::virt {
namespace {

constexpr HidHandle kFirstHandle = 0x1000;
constexpr HidHandle kHandleStep = 4;

std::vector<std::unique_ptr<VirtualDevice>> MakeDevices(std::vector<VirtualDeviceConfig> configs,
                                                        PresenceBoard& board) {
    // Every schedule counts from the same moment, the backend's creation.
    const auto start = VirtualDevice::Clock::now();
    std::vector<std::unique_ptr<VirtualDevice>> devices;
    devices.reserve(configs.size());
    for (std::size_t i = 0; i < configs.size(); ++i) {
        devices.push_back(std::make_unique<VirtualDevice>(std::move(configs[i]), i, start, &board));
    }
    return devices;
}

}  // namespace

// Sleeps on the board until a device changes or the earliest scheduled change
// falls due; then makes the due changes happen (which counts them on the board)
// and looks again.
class VirtualHidBackend::ChangeWatch final : public HidChangeWatch {
  public:
    explicit ChangeWatch(VirtualHidBackend& backend)
        : backend_(backend), seen_(backend.board_.Changes()) {}

    bool WaitForChange(std::uint32_t timeoutMs) override {
        const auto deadline = PresenceBoard::Clock::now() + std::chrono::milliseconds{timeoutMs};
        for (;;) {
            switch (backend_.board_.Wait(seen_, deadline)) {
                case PresenceBoard::Wake::Changed:
                    return true;
                case PresenceBoard::Wake::TimedOut:
                    return false;
                case PresenceBoard::Wake::Due:
                    // A due change that alters nothing (a plug while plugged
                    // in) still leaves the board, so this never spins.
                    for (const std::size_t index :
                         backend_.board_.DueBy(PresenceBoard::Clock::now())) {
                        backend_.devices_[index]->ApplyDuePresence();
                    }
                    break;
            }
        }
    }

    std::string Mechanism() const override { return "virtual device schedule"; }

  private:
    VirtualHidBackend& backend_;
    std::uint64_t seen_;
};

VirtualHidBackend::VirtualHidBackend(std::vector<VirtualDeviceConfig> devices)
    : board_(devices.size()), devices_(MakeDevices(std::move(devices), board_)) {}

std::unique_ptr<HidChangeWatch> VirtualHidBackend::WatchInterfaces() {
    return std::make_unique<ChangeWatch>(*this);
}

void VirtualHidBackend::FailNextList(int code) {
    std::lock_guard lock(mutex_);
    failNextList_ = code;
}

int VirtualHidBackend::ListInterfaces(std::vector<std::u16string>& paths) {
    paths.clear();
    {
        std::lock_guard lock(mutex_);
        if (failNextList_ != 0) {
            return std::exchange(failNextList_, 0);
        }
    }
    // One look at the clock for every device: listings come often (each
    // update thread lists), and most devices have a change queued.
    const auto now = VirtualDevice::Clock::now();
    for (const auto& device : devices_) {
        if (std::optional<std::u16string> path = device->ListedPath(now)) {
            paths.push_back(std::move(*path));
        }
    }
    return 0;
}

HidHandle VirtualHidBackend::Open(std::u16string_view path, HidOpenMode mode) {
    for (const auto& device : devices_) {
        const std::optional<std::uint64_t> session = device->ConnectAt(path);
        if (!session) {
            continue;
        }
        if (device->Config().behaviour.faults.open) {
            return kInvalidHidHandle;
        }
        std::lock_guard lock(mutex_);
        const HidHandle handle = nextHandle_;
        nextHandle_ += kHandleStep;
        if (nextHandle_ == kInvalidHidHandle || nextHandle_ < kFirstHandle) {
            nextHandle_ = kFirstHandle;
        }
        handles_[handle] = OpenInterface{device.get(), mode, *session};
        return handle;
    }
    return kInvalidHidHandle;
}

bool VirtualHidBackend::Close(HidHandle handle) {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(handle);
    if (found == handles_.end()) {
        return false;
    }
    // Closing releases the update lock, as closing a node's file does on Linux.
    if (const auto held = updateLocks_.find(found->second.device);
        held != updateLocks_.end() && held->second == handle) {
        updateLocks_.erase(held);
    }
    handles_.erase(found);
    return true;
}

HidLockResult VirtualHidBackend::LockForUpdate(HidHandle handle) {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(handle);
    if (found == handles_.end() || found->second.mode != HidOpenMode::Io) {
        return HidLockResult::Failed;
    }
    const auto [held, taken] = updateLocks_.try_emplace(found->second.device, handle);
    return taken || held->second == handle ? HidLockResult::Taken : HidLockResult::HeldElsewhere;
}

void VirtualHidBackend::UnlockForUpdate(HidHandle handle) {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(handle);
    if (found == handles_.end()) {
        return;
    }
    if (const auto held = updateLocks_.find(found->second.device);
        held != updateLocks_.end() && held->second == handle) {
        updateLocks_.erase(held);
    }
}

bool VirtualHidBackend::Find(HidHandle handle, OpenInterface& out) const {
    // Shared: the host's reader and writer look handles up on every report and
    // must not queue behind each other.
    std::shared_lock lock(mutex_);
    const auto found = handles_.find(handle);
    if (found == handles_.end()) {
        return false;
    }
    out = found->second;
    return true;
}

std::unique_ptr<HidDescriptor> VirtualHidBackend::GetDescriptor(HidHandle handle) {
    OpenInterface open;
    if (!Find(handle, open) || open.device->Config().behaviour.faults.descriptor ||
        !open.device->IsSessionAlive(open.session)) {
        return nullptr;
    }
    const std::vector<std::uint8_t>& bytes = open.device->DescriptorBytes();
    std::string error;
    std::vector<ParsedCollection> collections =
        ParseReportDescriptor(bytes.data(), bytes.size(), error);
    if (collections.empty()) {
        return nullptr;
    }
    return std::make_unique<ParsedCollection>(std::move(collections.front()));
}

bool VirtualHidBackend::DescribeUnopened(std::u16string_view path, HidCaps& caps) {
    // As hidraw's sysfs: readable without opening, unless the descriptor
    // itself cannot be read.
    for (const auto& device : devices_) {
        if (!device->ConnectAt(path) || device->Config().behaviour.faults.descriptor) {
            continue;
        }
        const std::vector<std::uint8_t>& bytes = device->DescriptorBytes();
        std::string error;
        const std::vector<ParsedCollection> collections =
            ParseReportDescriptor(bytes.data(), bytes.size(), error);
        return !collections.empty() && collections.front().GetCaps(caps) >= 0;
    }
    return false;
}

bool VirtualHidBackend::SerialNumber(std::u16string_view path, std::u16string& serial) {
    serial.clear();
    for (const auto& device : devices_) {
        if (!device->ConnectAt(path)) {
            continue;
        }
        serial = Utf16FromUtf8(device->Serial());
        return !serial.empty();
    }
    return false;
}

bool VirtualHidBackend::SetOutputReport(HidHandle handle, const std::uint8_t* report,
                                        std::size_t length) {
    OpenInterface open;
    if (!Find(handle, open) || open.mode != HidOpenMode::Io) {
        return false;
    }
    return open.device->WriteOutput(open.session, report, length);
}

bool VirtualHidBackend::SetFeature(HidHandle, const std::uint8_t*, std::size_t) {
    // The devices have no feature report the host may write.
    return false;
}

bool VirtualHidBackend::GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    OpenInterface open;
    if (!Find(handle, open) || open.mode != HidOpenMode::Io) {
        return false;
    }
    return open.device->GetFeature(open.session, buffer, length);
}

HidReadResult VirtualHidBackend::ReadInput(HidHandle handle, std::uint8_t* buffer,
                                           std::size_t capacity, std::size_t& received,
                                           std::uint32_t timeoutMs) {
    received = 0;
    OpenInterface open;
    if (!Find(handle, open) || open.mode != HidOpenMode::Io) {
        return HidReadResult::Failed;
    }
    return open.device->ReadInput(open.session, buffer, capacity, received, timeoutMs);
}

void VirtualHidBackend::InterruptRead(HidHandle handle) {
    OpenInterface open;
    if (Find(handle, open) && open.mode == HidOpenMode::Io) {
        open.device->InterruptRead();
    }
}

}  // namespace zelk::hid::virt
