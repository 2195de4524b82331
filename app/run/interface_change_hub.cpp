#include "app/run/interface_change_hub.h"

#include <algorithm>

namespace zelk::app {
namespace {

// The longest a wait goes without looking at the outside stop flag: a signal
// handler can only set a flag, so the waits come round to look at it.
constexpr std::uint32_t kStopCheckMs = 100;
// With a watch the interfaces are still listed again this often: a watch can
// be deaf without knowing it (in a container with a network namespace of its
// own the kernel's device events never arrive).
constexpr std::uint32_t kWatchedRelistMs = 5000;

}  // namespace

InterfaceChangeHub::InterfaceChangeHub(hid::HidBackend& backend, Options options)
    : options_(options), watch_(backend.WatchInterfaces()) {
    if (options_.timeDivisor == 0) {
        options_.timeDivisor = 1;
    }
    mechanism_ = watch_ != nullptr ? watch_->Mechanism() + ", and re-listing every " +
                                         std::to_string(kWatchedRelistMs / 1000) + " s"
                                   : "re-listing every " + std::to_string(options_.tickMs) + " ms";
    thread_ = std::thread([this] { Run(); });
}

InterfaceChangeHub::~InterfaceChangeHub() {
    {
        std::lock_guard lock(mutex_);
        shutdown_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::chrono::milliseconds InterfaceChangeHub::Real(std::uint32_t ms) const {
    return std::chrono::milliseconds(std::max<std::uint32_t>(ms / options_.timeDivisor, 1));
}

bool InterfaceChangeHub::StopAsked() const {
    return options_.stopFlag != nullptr && options_.stopFlag->load();
}

void InterfaceChangeHub::Run() {
    auto lastChange = std::chrono::steady_clock::now();
    for (;;) {
        bool change = false;
        if (watch_ != nullptr) {
            {
                std::lock_guard lock(mutex_);
                if (shutdown_) {
                    return;
                }
            }
            // The watch cannot be woken from outside: short waits let the
            // hub end promptly.
            change = watch_->WaitForChange(kStopCheckMs) ||
                     std::chrono::steady_clock::now() - lastChange >= Real(kWatchedRelistMs);
        } else {
            std::unique_lock lock(mutex_);
            change = !changed_.wait_for(lock, Real(options_.tickMs), [this] { return shutdown_; });
            if (!change) {
                return;
            }
        }
        if (change) {
            lastChange = std::chrono::steady_clock::now();
            Poke();
        }
    }
}

std::uint64_t InterfaceChangeHub::Generation() {
    std::lock_guard lock(mutex_);
    return generation_;
}

std::uint64_t InterfaceChangeHub::WaitPast(std::uint64_t seen, std::uint32_t maxMs) {
    std::unique_lock lock(mutex_);
    const auto due = std::chrono::steady_clock::now() + Real(maxMs);
    // A signal handler can only set a flag: the wait looks at it in short
    // slices.
    while (!stopRequested_ && !StopAsked() && generation_ <= seen) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) {
            break;
        }
        changed_.wait_until(lock, std::min(due, now + std::chrono::milliseconds(kStopCheckMs)));
    }
    return generation_;
}

std::uint32_t InterfaceChangeHub::Pause(std::uint32_t maxMs) {
    const auto start = std::chrono::steady_clock::now();
    {
        std::unique_lock lock(mutex_);
        const std::uint64_t seen = generation_;
        changed_.wait_for(lock, Real(maxMs), [&] { return generation_ > seen || shutdown_; });
    }
    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    const auto asked = static_cast<std::uint64_t>(realMs) * options_.timeDivisor;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(asked, maxMs));
}

void InterfaceChangeHub::Poke() {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
    }
    changed_.notify_all();
}

void InterfaceChangeHub::RequestStop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    changed_.notify_all();
}

bool InterfaceChangeHub::StopRequested() {
    std::lock_guard lock(mutex_);
    return stopRequested_ || StopAsked();
}

}  // namespace zelk::app
