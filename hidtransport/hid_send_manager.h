// CHidSendRcvMgr: sends queued HID reports, in order, from a worker thread of
// its own, on the CHIDDevice of the same endpoint. It does not pair requests
// with answers; those reach the device's receive callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "hidtransport/auto_reset_event.h"
#include "hidtransport/hid_device.h"

namespace zelk::hid {

enum class SendKind : std::uint8_t { Feature = 0, Output = 1 };

struct SendItem {
    std::unique_ptr<std::uint8_t[]> bytes;  // report ID first
    std::uint16_t length = 0;
    std::uint8_t kind = 0;  // SendKind; any other value sends nothing
};

class CHidSendRcvMgr {
  public:
    // `device` is borrowed and must outlive the manager.
    explicit CHidSendRcvMgr(CHIDDevice& device);
    // Stops a worker that is still running; drops what is still queued.
    ~CHidSendRcvMgr();
    CHidSendRcvMgr(const CHidSendRcvMgr&) = delete;
    CHidSendRcvMgr& operator=(const CHidSendRcvMgr&) = delete;

    // Starts (true) or stops (false) sending. The worker thread runs from the
    // first report queued while started (at once when some are queued). Always 0.
    int EnableSend(bool on);
    // Appends a report at the back of the queue and wakes the worker. Reports
    // longer than 65535 bytes are not queued (false).
    bool Enqueue(const std::uint8_t* report, std::size_t length, std::uint8_t kind);

    std::size_t QueuedCount();

  private:
    void SendThreadProc();
    bool TakeNext(SendItem& item);
    bool Send(const SendItem& item);

    std::deque<SendItem> sendQueue_;
    std::thread worker_;
    std::atomic<bool> stopped_{true};
    CHIDDevice& device_;
    std::mutex queueLock_;
    // Orders starting and joining the worker (EnableSend, Enqueue).
    std::mutex controlLock_;
    AutoResetEvent wakeEvent_;
};

}  // namespace zelk::hid
