// CHIDDevice: one open HID interface with a read thread that hands every input
// report to a callback. It moves whole reports (report ID in byte 0) and knows
// nothing of what they mean.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <thread>

#include "hid_platform.h"
#include "zelk/hid_records.h"

namespace zelk::hid {

class CHIDDevice {
  public:
    // Receives (report bytes, byte count) on the read thread; (null, 0) means the
    // device is gone and the thread is ending. The bytes are valid only during
    // the call. It must not call EnableRead(false) or Close.
    using ReceiveCallback = std::function<void(const std::uint8_t*, std::uint16_t)>;

    static constexpr std::uint32_t kReadWaitMs = 200;
    static constexpr std::size_t kReadBufferSize = 255;

    // `readWaitMs` bounds how long a stop waits for the read thread to notice.
    explicit CHIDDevice(HidBackend& backend, std::uint32_t readWaitMs = kReadWaitMs);
    // Stops a read thread that is still running; never closes the handle.
    ~CHIDDevice();
    CHIDDevice(const CHIDDevice&) = delete;
    CHIDDevice& operator=(const CHIDDevice&) = delete;

    // Opens `path` for reading and writing. 0 done, 1 failed (handle unchanged).
    int Open(std::u16string_view path);
    // Takes a handle value as it is, without opening or checking anything.
    void AttachHandle(HidHandle handle);
    // Stops reading and closes the handle. Always 0.
    int Close();
    // 0 installed; 1 when a callback is already set (the new one is dropped).
    int SetRcvCallback(ReceiveCallback callback);
    // Starts (true) or stops (false) the read thread. 0 done, 1 already so.
    int EnableRead(bool on);
    // Sends an output report on the caller's thread. 0 sent, 2 failed.
    int WriteOutputReport(const std::uint8_t* report, std::uint16_t length);
    // Gets the feature report whose ID is in buffer[0]. True when it arrived.
    bool ReadFeatureReport(std::uint8_t* buffer, std::uint16_t length);
    // Completes spec.ReportId and spec.ReportLength from the device's value
    // capabilities for spec.Usage and spec.ReportType. False (spec untouched)
    // when no such capability exists or the capabilities cannot be read.
    bool ResolveReportSpec(ReportSpec& spec);

    HidHandle DeviceHandle() const { return deviceHandle_; }
    HidBackend& Backend() const { return backend_; }
    bool IsReading() const { return reading_; }

  private:
    void ReadThreadProc();
    // Sleeps `pauseMs` unless reading is stopped first; false when stopped.
    bool PauseBeforeRetry(std::uint32_t pauseMs);
    void StopReadThread();

    HidBackend& backend_;
    const std::uint32_t readWaitMs_;
    ReceiveCallback receiveCallback_;
    HidHandle deviceHandle_ = kInvalidHidHandle;
    std::atomic<bool> reading_{false};
    std::atomic<bool> stopRequested_{false};
    std::thread readThread_;
};

}  // namespace zelk::hid
