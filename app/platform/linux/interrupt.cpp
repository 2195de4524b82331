// The signal handler does only what is safe in a signal handler: unlink,
// rmdir, write and _exit on byte strings prepared before.

#include "app/platform/interrupt.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

#include "app/text/text_encoding.h"

namespace zelk::app {
namespace {

constexpr std::size_t kSlots = 4;
// Everything a run directory can hold: its three files and the temporary
// names they are written under before being renamed into place.
constexpr const char* kRunFiles[] = {
    "ImgPacketFile.offer.bin",     "ImgPacketFile.payload.bin",     "DeviceInfo.txt",
    "ImgPacketFile.offer.bin.tmp", "ImgPacketFile.payload.bin.tmp", "DeviceInfo.txt.tmp",
};

enum SlotState : int { kFree, kChanging, kUsed };
struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX] = {};
};
std::array<Slot, kSlots> gSlots;
std::atomic<bool> gJson{false};
std::atomic<bool> gGraceful{false};
std::atomic<bool> gStopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr std::array<int, 4> kSignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

const char* SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "SIGPIPE";
    }
}

void WriteAll(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, text, left);
        if (n <= 0) {
            return;
        }
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

void OnInterrupt(int signal) {
    // The first SIGINT or SIGTERM of a program that stops on its own only
    // asks it to.
    if (gGraceful.load() && (signal == SIGINT || signal == SIGTERM) && !gStopAsked.exchange(true)) {
        return;
    }
    for (Slot& slot : gSlots) {
        if (slot.state.load(std::memory_order_acquire) != kUsed) {
            continue;
        }
        // A copy, taken while the slot is still in use: another thread may
        // hand the slot back (and a later run reuse it) meanwhile.
        char path[PATH_MAX];
        std::memcpy(path, slot.path, sizeof path);
        path[sizeof path - 1] = '\0';
        if (slot.state.load(std::memory_order_acquire) != kUsed || path[0] != '/') {
            continue;
        }
        char file[PATH_MAX];
        const std::size_t length = std::strlen(path);
        for (const char* name : kRunFiles) {
            const std::size_t nameLength = std::strlen(name);
            if (length + nameLength < sizeof file) {
                std::memcpy(file, path, length);
                std::memcpy(file + length, name, nameLength + 1);
                ::unlink(file);
            }
        }
        ::rmdir(path);
    }
    const int status = 128 + signal;
    if (gJson.load() && signal != SIGPIPE) {
        char line[128] = "{\"event\":\"interrupted\",\"signal\":\"";
        std::strcat(line, SignalName(signal));
        std::strcat(line, "\"}\n{\"event\":\"exit\",\"status\":1");
        // 129..143: the status's last two digits follow the "1".
        const char digits[] = {static_cast<char>('0' + status / 10 % 10),
                               static_cast<char>('0' + status % 10), '}', '\n', '\0'};
        std::strcat(line, digits);
        WriteAll(line);
    }
    ::_exit(status);
}

}  // namespace

void InstallInterruptCleanup(bool json) {
    gJson.store(json);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    // The first signal of a graceful stop returns: calls it interrupted go on
    // (a write of JSON lines to a pipe must not fail with EINTR).
    action.sa_flags = SA_RESTART;
    sigfillset(&action.sa_mask);
    for (const int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

const std::atomic<bool>& EnableGracefulStop() {
    gGraceful.store(true);
    return gStopAsked;
}

void RegisterRunDirectory(const std::u16string& path) {
    const std::string bytes = Utf16ToUtf8(path);
    if (bytes.empty() || bytes.size() >= PATH_MAX) {
        return;
    }
    for (Slot& slot : gSlots) {
        int expected = kFree;
        if (slot.state.compare_exchange_strong(expected, kChanging)) {
            std::memcpy(slot.path, bytes.c_str(), bytes.size() + 1);
            slot.state.store(kUsed, std::memory_order_release);
            return;
        }
    }
}

void UnregisterRunDirectory(const std::u16string& path) {
    const std::string bytes = Utf16ToUtf8(path);
    for (Slot& slot : gSlots) {
        int expected = kUsed;
        if (bytes == slot.path && slot.state.compare_exchange_strong(expected, kChanging)) {
            // The path stays as it was: a handler that read the slot in use
            // just before still finds a whole path in it.
            slot.state.store(kFree, std::memory_order_release);
            return;
        }
    }
}

}  // namespace zelk::app
