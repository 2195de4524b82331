#include "hidtransport/hid_device.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <vector>

namespace zelk::hid {

CHIDDevice::CHIDDevice(HidBackend& backend, std::uint32_t readWaitMs)
    : backend_(backend), readWaitMs_(readWaitMs) {}

CHIDDevice::~CHIDDevice() {
    StopReadThread();
}

int CHIDDevice::Open(std::u16string_view path) {
    const HidHandle handle = backend_.Open(path, HidOpenMode::Io);
    if (handle == kInvalidHidHandle) {
        return 1;
    }
    deviceHandle_ = handle;
    return 0;
}

void CHIDDevice::AttachHandle(HidHandle handle) {
    deviceHandle_ = handle;
}

void CHIDDevice::StopReadThread() {
    reading_ = false;
    stopRequested_ = true;
    if (readThread_.joinable()) {
        // Ends a read that is waiting for input now rather than at its time-out.
        backend_.InterruptRead(deviceHandle_);
        readThread_.join();
    }
}

void CHIDDevice::StartReadThread() {
    stopRequested_ = false;
    readThread_ = std::thread(&CHIDDevice::ReadThreadProc, this);
}

int CHIDDevice::Close() {
    StopReadThread();
    if (deviceHandle_ != kInvalidHidHandle) {
        backend_.Close(deviceHandle_);
        deviceHandle_ = kInvalidHidHandle;
    }
    return 0;
}

int CHIDDevice::SetRcvCallback(ReceiveCallback callback) {
    if (receiveCallback_) {
        return 1;
    }
    receiveCallback_ = std::move(callback);
    return 0;
}

int CHIDDevice::EnableRead(bool on) {
    if (on) {
        if (reading_) {
            return 1;
        }
        reading_ = true;
        if (!held_) {
            StartReadThread();
        }
        return 0;
    }
    if (!reading_) {
        return 1;
    }
    StopReadThread();
    return 0;
}

int CHIDDevice::HoldReading(bool on) {
    if (held_ == on) {
        return 1;
    }
    if (on) {
        held_ = true;
        heldRetryPauseMs_ = 0;
        heldGone_ = false;
        if (readThread_.joinable()) {
            // The thread hands on a report it has already read before it ends,
            // so reports stay in order.
            const bool wanted = reading_;
            StopReadThread();
            reading_ = wanted;
        }
        return 0;
    }
    held_ = false;
    if (reading_ && !readThread_.joinable()) {
        StartReadThread();
    }
    return 0;
}

HidReadResult CHIDDevice::ReadHeld(std::chrono::steady_clock::time_point deadline) {
    using Clock = std::chrono::steady_clock;
    if (!held_ || !reading_) {
        return HidReadResult::Failed;
    }
    if (heldGone_) {
        return HidReadResult::DeviceGone;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const auto timeoutMs = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(left, 0, std::numeric_limits<std::int32_t>::max()));
    heldBuffer_.fill(0);
    std::size_t received = 0;
    const HidReadResult result = backend_.ReadInput(deviceHandle_, heldBuffer_.data(),
                                                    heldBuffer_.size(), received, timeoutMs);
    switch (result) {
        case HidReadResult::DeviceGone:
            heldGone_ = true;
            if (receiveCallback_) {
                receiveCallback_(nullptr, 0);
            }
            break;
        case HidReadResult::TimedOut:
            heldRetryPauseMs_ = 0;
            break;
        case HidReadResult::Failed: {
            heldRetryPauseMs_ = NextRetryPause(heldRetryPauseMs_);
            // Checked against the clock: a sleep may end early.
            const auto until =
                std::min(Clock::now() + std::chrono::milliseconds{heldRetryPauseMs_}, deadline);
            while (Clock::now() < until) {
                std::this_thread::sleep_until(until);
            }
            break;
        }
        case HidReadResult::Data:
            heldRetryPauseMs_ = 0;
            if (receiveCallback_) {
                const std::size_t count = std::min(received, heldBuffer_.size());
                receiveCallback_(heldBuffer_.data(), static_cast<std::uint16_t>(count));
            }
            break;
    }
    return result;
}

bool CHIDDevice::HeldSource::Pump(AutoResetEvent::Clock::time_point deadline) {
    if (!device_.held_ || !device_.reading_) {
        return false;
    }
    return device_.ReadHeld(deadline) != HidReadResult::DeviceGone;
}

std::uint32_t CHIDDevice::NextRetryPause(std::uint32_t previousMs) const {
    return previousMs == 0 ? 1 : std::min(previousMs * 2, std::max<std::uint32_t>(readWaitMs_, 1));
}

bool CHIDDevice::PauseBeforeRetry(std::uint32_t pauseMs) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kSlice = std::chrono::milliseconds{5};
    const auto until = Clock::now() + std::chrono::milliseconds{pauseMs};
    while (reading_ && !stopRequested_) {
        const auto now = Clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now, kSlice));
    }
    return false;
}

void CHIDDevice::ReadThreadProc() {
    // Allocated once per thread; every read finishes before ReadInput returns,
    // so nothing writes into it after the thread ends.
    std::array<std::uint8_t, kReadBufferSize> buffer{};
    // A read that fails without the device being gone may be a passing
    // hiccup or a lasting fault (a handle that no longer works): retry, but
    // wait between attempts, doubling the pause up to one read wait, so that a
    // lasting fault costs one attempt per wait instead of a spinning core.
    std::uint32_t retryPauseMs = 0;
    while (!stopRequested_) {
        buffer.fill(0);
        std::size_t received = 0;
        const HidReadResult result =
            backend_.ReadInput(deviceHandle_, buffer.data(), buffer.size(), received, readWaitMs_);
        switch (result) {
            case HidReadResult::DeviceGone:
                if (receiveCallback_) {
                    receiveCallback_(nullptr, 0);
                }
                return;
            case HidReadResult::TimedOut:
                retryPauseMs = 0;
                if (!reading_) {
                    return;
                }
                continue;
            case HidReadResult::Failed:
                retryPauseMs = NextRetryPause(retryPauseMs);
                if (!PauseBeforeRetry(retryPauseMs)) {
                    return;
                }
                break;
            case HidReadResult::Data:
                retryPauseMs = 0;
                if (receiveCallback_) {
                    const std::size_t count = received < buffer.size() ? received : buffer.size();
                    receiveCallback_(buffer.data(), static_cast<std::uint16_t>(count));
                }
                break;
        }
        if (!reading_) {
            return;
        }
    }
}

int CHIDDevice::WriteOutputReport(const std::uint8_t* report, std::uint16_t length) {
    if (report == nullptr || length == 0) {
        return 2;
    }
    return backend_.SetOutputReport(deviceHandle_, report, length) ? 0 : 2;
}

bool CHIDDevice::ReadFeatureReport(std::uint8_t* buffer, std::uint16_t length) {
    if (buffer == nullptr || length == 0) {
        return false;
    }
    return backend_.GetFeature(deviceHandle_, buffer, length);
}

bool CHIDDevice::ResolveReportLayout(ReportLayout& layout) {
    const std::unique_ptr<HidDescriptor> descriptor = backend_.GetDescriptor(deviceHandle_);
    if (!descriptor) {
        return false;
    }
    HidCaps caps;
    if (descriptor->GetCaps(caps) < 0) {
        return false;
    }
    std::vector<HidCapability> found;
    const HidStatus status =
        descriptor->GetSpecificValueCaps(layout.ReportType, 0, 0, layout.Usage, found);
    if (status < 0 || found.empty()) {
        return false;
    }
    layout.ReportId = found.front().ReportId;
    switch (layout.ReportType) {
        case HidReportType::Input:
            layout.ReportLength = caps.InputReportByteLength;
            break;
        case HidReportType::Feature:
            layout.ReportLength = caps.FeatureReportByteLength;
            break;
        default:
            layout.ReportLength = caps.OutputReportByteLength;
            break;
    }
    return true;
}

}  // namespace zelk::hid
