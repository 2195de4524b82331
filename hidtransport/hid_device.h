// CHIDDevice: one open HID interface with a read thread that hands every input
// report to a callback. It moves whole reports (report ID in byte 0) and knows
// nothing of what they mean.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>
#include <thread>

#include "hidtransport/auto_reset_event.h"
#include "hidtransport/hid_platform.h"

namespace zelk::hid {

// One HID report that carries an update message. ReportId and ReportLength
// can be completed from the device's capabilities; ReportLength counts the
// report-ID byte.
struct ReportLayout {
    std::uint8_t ReportId = 0;
    std::uint16_t Usage = 0;
    std::uint16_t ReportLength = 0;
    HidReportType ReportType = HidReportType::Input;
};

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

    // Reading by a caller's thread instead of the read thread, so that the
    // thread that waits for an answer takes it itself. While held, no read
    // thread runs (one that runs is stopped first, after it has handed on what
    // it read), and ReadHeld reads on the calling thread; reports that come
    // while nobody reads wait in the system's queue. Released while reading
    // is enabled, the read thread starts again. 0 done, 1 already so. Called
    // by the thread that controls reading (as EnableRead).
    int HoldReading(bool on);
    bool IsReadingHeld() const { return held_; }
    // While reading is held and enabled: waits at most until `deadline` (one
    // look without waiting when it has passed) for one input report and hands
    // it to the receive callback, exactly as the read thread would. After a
    // failed read it pauses as the read thread does (never past `deadline`).
    // Failed at once when reading is not held or not enabled; DeviceGone, once
    // the device is gone, without reading again. One thread at a time.
    HidReadResult ReadHeld(std::chrono::steady_clock::time_point deadline);
    // ReadHeld as the source of an event that the callback sets: a waiter on
    // that event reads while it waits.
    AutoResetEvent::Source& HeldReadSource() { return heldSource_; }

    // Sends an output report on the caller's thread. 0 sent, 2 failed.
    int WriteOutputReport(const std::uint8_t* report, std::uint16_t length);
    // Gets the feature report whose ID is in buffer[0]. True when it arrived.
    bool ReadFeatureReport(std::uint8_t* buffer, std::uint16_t length);
    // Completes layout.ReportId and layout.ReportLength from the device's value
    // capabilities for layout.Usage and layout.ReportType. False (layout
    // untouched) when no such capability exists or the capabilities cannot be read.
    bool ResolveReportLayout(ReportLayout& layout);

    HidHandle DeviceHandle() const { return deviceHandle_; }
    HidBackend& Backend() const { return backend_; }
    bool IsReading() const { return reading_; }

  private:
    class HeldSource final : public AutoResetEvent::Source {
      public:
        explicit HeldSource(CHIDDevice& device) : device_(device) {}
        bool Pump(AutoResetEvent::Clock::time_point deadline) override;

      private:
        CHIDDevice& device_;
    };

    void ReadThreadProc();
    // The pause after a failed read: doubling from 1 ms up to one read wait.
    std::uint32_t NextRetryPause(std::uint32_t previousMs) const;
    void StartReadThread();
    // Sleeps `pauseMs` unless reading is stopped first; false when stopped.
    bool PauseBeforeRetry(std::uint32_t pauseMs);
    void StopReadThread();

    HidBackend& backend_;
    const std::uint32_t readWaitMs_;
    ReceiveCallback receiveCallback_;
    HidHandle deviceHandle_ = kInvalidHidHandle;
    std::atomic<bool> reading_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> held_{false};
    std::thread readThread_;
    // The held reader's state; used by one thread at a time.
    std::array<std::uint8_t, kReadBufferSize> heldBuffer_{};
    std::uint32_t heldRetryPauseMs_ = 0;
    bool heldGone_ = false;
    HeldSource heldSource_{*this};
};

}  // namespace zelk::hid
