// The Windows HID backend: HID interfaces as the configuration manager lists
// them (one per top-level collection), opened with CreateFileW and driven with
// hid.dll. Every system call goes through a Win32HidApi table.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "hidtransport/hid_platform.h"
#include "hidtransport/windows/win32_hid_api.h"

namespace zelk::hid::win32 {

// Last errors that mean the device has been removed (or its stack torn down)
// rather than one read having failed.
bool IsDeviceGoneError(DWORD error);
// Open errors of an interface that is there but may not be opened by us
// (access denied, held unshared by another program).
bool IsRefusedOpenError(DWORD error);

// The name of the update lock of the interface at `path`: a named mutex in
// the session's Local\ namespace whose name carries a 64-bit FNV-1a hash of
// the path with ASCII letters upper-cased. The system compares interface
// paths without regard to case, and one interface may reach two updaters
// spelled in two cases, so the name must not depend on case. A hash, not the
// path itself: a mutex name may hold no backslash after its namespace and no
// more than MAX_PATH characters, and interface paths have both. Local\, not
// Global\: a program of another user cannot squat the name there and keep
// this user from updating; an updater in another user's session is not seen,
// but the earbud is used by the user at the desktop.
std::wstring UpdateLockName(std::u16string_view path);

class Win32HidBackend final : public HidBackend {
  public:
    explicit Win32HidBackend(Win32HidApi& api);  // out of line: UpdateLock is whole there
    ~Win32HidBackend() override;

    int ListInterfaces(std::vector<std::u16string>& paths) override;
    HidHandle Open(std::u16string_view path, HidOpenMode mode) override;
    bool Close(HidHandle handle) override;
    std::unique_ptr<HidDescriptor> GetDescriptor(HidHandle handle) override;
    bool DescribeUnopened(std::u16string_view path, HidCaps& caps) override;
    bool SerialNumber(std::u16string_view path, std::u16string& serial) override;
    bool SetOutputReport(HidHandle handle, const std::uint8_t* report, std::size_t length) override;
    bool SetFeature(HidHandle handle, const std::uint8_t* report, std::size_t length) override;
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    HidReadResult ReadInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity,
                            std::size_t& received, std::uint32_t timeoutMs) override;
    // Cancels the read that waits on `handle` (only that read, never a write),
    // or makes the next one end at once.
    void InterruptRead(HidHandle handle) override;
    // The update lock is the interface's named mutex (UpdateLockName), held
    // by a thread of its own while the lock lasts: a mutex belongs to the
    // thread that took it, so a second handle on the caller's thread would
    // take it again (it counts recursively), and an unlock or close from
    // another thread could not give it up. A mutex whose holder died without
    // giving it up counts as taken by us. Never waits for another holder.
    HidLockResult LockForUpdate(HidHandle handle) override;
    void UnlockForUpdate(HidHandle handle) override;
    // Arrival and removal notifications of the HID class's interfaces
    // (win32_change_watch.h); null when they cannot be registered.
    std::unique_ptr<HidChangeWatch> WatchInterfaces() override;
    // The last interface that is there but could not be opened, and why.
    std::string AccessProblem() const override;

  private:
    class UpdateLock;
    // A handle to `path` without read or write access (nullptr when it cannot
    // be had); the caller closes it.
    HANDLE OpenWithoutAccess(std::u16string_view path);
    // The length (ID byte included) of each input report, by report ID; 0
    // where it is not known.
    using InputLengths = std::array<std::uint16_t, 256>;

    struct OpenHandle {
        HANDLE handle = INVALID_HANDLE_VALUE;
        HidOpenMode mode = HidOpenMode::Query;
        HANDLE event = nullptr;  // I/O handles: the one event all their reads wait on
        // The read that is waiting, while one is; InterruptRead cancels it.
        OVERLAPPED* pendingRead = nullptr;
        bool readInterrupted = false;  // the pending read was cancelled by InterruptRead
        bool interruptNext = false;    // InterruptRead came while no read waited
        bool gone = false;             // a report failed with an error that says the device went
        std::uint64_t lockKey = 0;     // the hash in UpdateLockName of the path
        // I/O handles: the declared length of each input report, or null when
        // the capabilities do not account for every byte.
        std::shared_ptr<const InputLengths> inputLengths;
    };

    // Registers the read of `overlapped` as the one waiting on `handle`; false
    // (nothing registered) when an interrupt is already due for it.
    bool BeginWait(HidHandle handle, OVERLAPPED* overlapped);
    // Unregisters it; true when InterruptRead cancelled it.
    bool EndWait(HidHandle handle);
    // After a failed report call: an error that says the device is gone marks
    // the handle so and cancels its waiting read.
    void NoteFailedTransfer(HidHandle handle, DWORD error);
    bool Gone(HidHandle handle);
    // The declared input report lengths of an open interface; see OpenHandle.
    std::shared_ptr<const InputLengths> ReadInputLengths(HANDLE handle);
    // The length of the report that a read delivered: the system pads every
    // report to the collection's longest, and zeros past a shorter report
    // would read as fields the device never sent (a content status 0 is
    // success), so it is cut to the length its report declares.
    static std::size_t DeliveredLength(const OpenHandle& open, const std::uint8_t* buffer,
                                       std::size_t received);

    // The system handle behind a value this backend returned; false for any
    // other value.
    bool Lookup(HidHandle handle, OpenHandle& open);
    // "<call> failed: error <n>" (plus `detail`) to the debugger.
    void Report(const wchar_t* call, DWORD error, std::u16string_view detail = {});
    void NoteRefusedOpen(DWORD error, std::u16string_view path);

    Win32HidApi& api_;
    mutable std::mutex mutex_;
    std::string accessProblem_;
    std::map<HidHandle, OpenHandle> open_;
    // Taking and giving up update locks, one at a time. Taken before `mutex_`
    // where both are held, never after it.
    std::mutex lockMutex_;
    std::map<HidHandle, std::unique_ptr<UpdateLock>> locks_;  // under lockMutex_
};

}  // namespace zelk::hid::win32
