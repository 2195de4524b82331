// Brief busy-waiting for hand-offs between threads that usually complete
// within microseconds, where a sleep would cost a scheduler wake-up.
#pragma once

#include <chrono>
#include <thread>

namespace zelk {

// Tells the processor this is a spin loop.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#else
    std::this_thread::yield();
#endif
}

// Calls `done` until it returns true or `limit` has passed; true when it did.
// Yields now and then so that a spinning thread never starves the one it waits for.
template <class Done>
bool SpinUntil(std::chrono::steady_clock::duration limit, Done&& done) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (unsigned i = 1;; ++i) {
        if (done()) {
            return true;
        }
        if (i % 64 == 0) {
            if (std::chrono::steady_clock::now() >= until) {
                return false;
            }
            if (i % 1024 == 0) {
                std::this_thread::yield();
            }
        }
        CpuRelax();
    }
}

}  // namespace zelk
