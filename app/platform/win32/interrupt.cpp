// Console control events arrive on a thread of their own, so the handler may
// remove the run directories with the ordinary calls before ending.

#include "app/platform/interrupt.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/platform/win32/wide_text.h"

namespace zelk::app {
namespace {

std::mutex gMutex;
std::vector<std::wstring> gDirectories;
bool gJson = false;
std::atomic<bool> gGraceful{false};
std::atomic<bool> gStopAsked{false};

constexpr const wchar_t* kRunFiles[] = {
    L"ImgPacketFile.offer.bin",     L"ImgPacketFile.payload.bin",     L"DeviceInfo.txt",
    L"ImgPacketFile.offer.bin.tmp", L"ImgPacketFile.payload.bin.tmp", L"DeviceInfo.txt.tmp",
};

const char* EventName(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return "CTRL_C_EVENT";
        case CTRL_BREAK_EVENT:
            return "CTRL_BREAK_EVENT";
        case CTRL_CLOSE_EVENT:
            return "CTRL_CLOSE_EVENT";
        case CTRL_LOGOFF_EVENT:
            return "CTRL_LOGOFF_EVENT";
        default:
            return "CTRL_SHUTDOWN_EVENT";
    }
}

BOOL WINAPI OnControl(DWORD event) {
    // The first Ctrl+C or Ctrl+Break of a program that stops on its own only
    // asks it to.
    if (gGraceful.load() && (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) &&
        !gStopAsked.exchange(true)) {
        return TRUE;
    }
    // Ctrl+C is 130, as a shell reports an interrupted program; the others
    // (Ctrl+Break, the window closed, logoff, shutdown) as a hang-up, 129.
    const int status = event == CTRL_C_EVENT ? 130 : 129;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        for (const std::wstring& directory : gDirectories) {
            for (const wchar_t* name : kRunFiles) {
                DeleteFileW((directory + name).c_str());
            }
            RemoveDirectoryW(directory.c_str());
        }
        if (gJson) {
            std::printf(
                "{\"event\":\"interrupted\",\"signal\":\"%s\"}\n"
                "{\"event\":\"exit\",\"status\":%d}\n",
                EventName(event), status);
            std::fflush(stdout);
        }
    }
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace

void InstallInterruptCleanup(bool json) {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gJson = json;
    }
    SetConsoleCtrlHandler(OnControl, TRUE);
}

const std::atomic<bool>& EnableGracefulStop() {
    gGraceful.store(true);
    return gStopAsked;
}

void RegisterRunDirectory(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(gMutex);
    gDirectories.push_back(platform::ToWide(path));
}

void UnregisterRunDirectory(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(gMutex);
    const std::wstring wide = platform::ToWide(path);
    for (auto it = gDirectories.begin(); it != gDirectories.end(); ++it) {
        if (*it == wide) {
            gDirectories.erase(it);
            return;
        }
    }
}

}  // namespace zelk::app
