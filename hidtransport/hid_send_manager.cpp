#include "hidtransport/hid_send_manager.h"

#include <cstring>

namespace zelk::hid {

CHidSendRcvMgr::CHidSendRcvMgr(CHIDDevice& device) : device_(device) {}

CHidSendRcvMgr::~CHidSendRcvMgr() {
    EnableSend(false);
}

int CHidSendRcvMgr::EnableSend(bool on) {
    std::lock_guard control(controlLock_);
    if (on) {
        if (stopped_) {
            stopped_ = false;
            // The worker starts with the first report to send: a transfer
            // that writes its reports itself never needs the thread.
            if (QueuedCount() > 0) {
                worker_ = std::thread(&CHidSendRcvMgr::SendThreadProc, this);
            }
        }
        return 0;
    }
    if (!stopped_) {
        stopped_ = true;
        wakeEvent_.Set();
        if (worker_.joinable()) {
            worker_.join();
        }
    }
    return 0;
}

bool CHidSendRcvMgr::Enqueue(const std::uint8_t* report, std::size_t length, std::uint8_t kind) {
    if (length > 0xFFFF || (report == nullptr && length != 0)) {
        return false;
    }
    SendItem item;
    item.length = static_cast<std::uint16_t>(length);
    item.kind = kind;
    if (length != 0) {
        item.bytes = std::make_unique<std::uint8_t[]>(length);
        std::memcpy(item.bytes.get(), report, length);
    }
    {
        std::lock_guard lock(queueLock_);
        sendQueue_.push_back(std::move(item));
    }
    {
        // A worker that has ended after a failed send is not replaced until
        // a stop has joined it.
        std::lock_guard control(controlLock_);
        if (!stopped_ && !worker_.joinable()) {
            worker_ = std::thread(&CHidSendRcvMgr::SendThreadProc, this);
        }
    }
    wakeEvent_.Set();
    return true;
}

std::size_t CHidSendRcvMgr::QueuedCount() {
    std::lock_guard lock(queueLock_);
    return sendQueue_.size();
}

bool CHidSendRcvMgr::TakeNext(SendItem& item) {
    std::lock_guard lock(queueLock_);
    if (sendQueue_.empty()) {
        return false;
    }
    item = std::move(sendQueue_.front());
    sendQueue_.pop_front();
    return true;
}

bool CHidSendRcvMgr::Send(const SendItem& item) {
    switch (static_cast<SendKind>(item.kind)) {
        case SendKind::Feature:
            return device_.Backend().SetFeature(device_.DeviceHandle(), item.bytes.get(),
                                                item.length);
        case SendKind::Output:
            return device_.WriteOutputReport(item.bytes.get(), item.length) == 0;
    }
    return true;
}

void CHidSendRcvMgr::SendThreadProc() {
    while (!stopped_) {
        wakeEvent_.Wait();
        // Drain everything queued: several signals may have merged into one wake-up.
        while (!stopped_) {
            SendItem item;
            if (!TakeNext(item) || item.length == 0) {
                break;
            }
            if (!Send(item)) {
                return;  // a failed send ends the worker; what is behind it stays queued
            }
        }
    }
}

}  // namespace zelk::hid
