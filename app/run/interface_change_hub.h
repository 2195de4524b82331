// One place that hears of interfaces coming and going, for everyone who waits
// for devices at once: the station's loop and each update's read-back pause.
//
// The backend's watch is made when the hub is, so a caller that lists the
// interfaces after making the hub misses nothing plugged in between. One
// thread waits on the watch (or, where the backend has none, ticks on a
// bounded interval: the caller lists again each time) and counts the changes
// in a generation number; waiters wait for the number to move.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "hidtransport/hid_platform.h"

namespace zelk::app {

class InterfaceChangeHub {
  public:
    struct Options {
        // Without a watch: how often the interfaces are listed again.
        std::uint32_t tickMs = 500;
        // Real time is the asked time divided by this (tests make it large).
        std::uint32_t timeDivisor = 1;
        // Set from outside (a signal handler): WaitPast ends within a
        // fraction of a second, as after RequestStop().
        const std::atomic<bool>* stopFlag = nullptr;
    };

    // Makes the watch at once (before the caller's first listing).
    InterfaceChangeHub(hid::HidBackend& backend, Options options);
    ~InterfaceChangeHub();
    InterfaceChangeHub(const InterfaceChangeHub&) = delete;
    InterfaceChangeHub& operator=(const InterfaceChangeHub&) = delete;

    // "re-listing every 500 ms" without a watch, else the watch's mechanism
    // and the slower re-listing that backs it up.
    const std::string& Mechanism() const { return mechanism_; }
    bool HasWatch() const { return watch_ != nullptr; }

    std::uint64_t Generation();
    // Waits at most `maxMs` for the generation to pass `seen` (a change, or
    // a Poke) or for a stop to be asked; returns the generation then.
    std::uint64_t WaitPast(std::uint64_t seen, std::uint32_t maxMs);
    // The read-back pause: waits for a change or `maxMs`, returns the time
    // waited (in the asked time's unit). A stop does not cut it short: the
    // updates that run when the station is stopped are finished.
    std::uint32_t Pause(std::uint32_t maxMs);
    // Wakes every waiter as a change would (a job ended, say).
    void Poke();
    // Asks the station to stop: WaitPast returns at once from now on.
    void RequestStop();
    bool StopRequested();

  private:
    void Run();
    std::chrono::milliseconds Real(std::uint32_t ms) const;
    bool StopAsked() const;

    Options options_;
    std::unique_ptr<hid::HidChangeWatch> watch_;
    std::string mechanism_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t generation_ = 0;  // guarded by mutex_
    bool stopRequested_ = false;    // guarded by mutex_
    bool shutdown_ = false;         // guarded by mutex_: ends the thread
    std::thread thread_;
};

}  // namespace zelk::app
