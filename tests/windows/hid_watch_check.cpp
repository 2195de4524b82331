// hid_watch_check.exe READY-FILE SECONDS: makes the Windows backend's change
// watch on the system's own calls, lets earlier notifications pass, creates
// READY-FILE, then waits up to SECONDS for an interface to come or go. For the
// Wine HID guest (tests/kernel/wine-guest-tests.sh), which plugs a kernel
// earbud in (or pulls it out) once the file is there.
// Exit 0 "change heard", 1 nothing within SECONDS, 2 no watch, 64 usage.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "hidtransport/windows/win32_hid_api.h"
#include "hidtransport/windows/win32_hid_backend.h"

int main(int argc, char** argv) {
    using namespace zelk::hid::win32;
    if (argc != 3) {
        std::fprintf(stderr, "usage: hid_watch_check READY-FILE SECONDS\n");
        return 64;
    }
    const unsigned long seconds = std::strtoul(argv[2], nullptr, 10);
    Win32HidBackend backend(SystemWin32HidApi());
    auto watch = backend.WatchInterfaces();
    if (!watch) {
        std::printf("no watch\n");
        return 2;
    }
    // Notifications of what happened before this program started.
    for (int i = 0; i < 10 && watch->WaitForChange(2000); ++i) {
    }
    std::ofstream(argv[1]) << "ready\n";
    if (watch->WaitForChange(static_cast<std::uint32_t>(seconds * 1000))) {
        std::printf("change heard (%s)\n", watch->Mechanism().c_str());
        return 0;
    }
    std::printf("no change within %lu s (%s)\n", seconds, watch->Mechanism().c_str());
    return 1;
}
