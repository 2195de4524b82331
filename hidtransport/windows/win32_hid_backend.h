// The Windows HID backend: HID interfaces as the configuration manager lists
// them (one per top-level collection), opened with CreateFileW and driven with
// hid.dll. Every system call goes through a Win32HidApi table.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "hid_platform.h"
#include "win32_hid_api.h"

namespace zelk::hid::win32 {

// Last errors that mean the device has been removed (or its stack torn down)
// rather than one read having failed.
bool IsDeviceGoneError(DWORD error);
// Open errors of an interface that is there but may not be opened by us
// (access denied, held unshared by another program).
bool IsRefusedOpenError(DWORD error);

class Win32HidBackend final : public HidBackend {
  public:
    explicit Win32HidBackend(Win32HidApi& api) : api_(api) {}
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
    // The last interface that is there but could not be opened, and why.
    std::string AccessProblem() const override;

  private:
    struct OpenHandle {
        HANDLE handle = INVALID_HANDLE_VALUE;
        HidOpenMode mode = HidOpenMode::Query;
        HANDLE event = nullptr;  // I/O handles: the one event all their reads wait on
        // The read that is waiting, while one is; InterruptRead cancels it.
        OVERLAPPED* pendingRead = nullptr;
        bool readInterrupted = false;  // the pending read was cancelled by InterruptRead
        bool interruptNext = false;    // InterruptRead came while no read waited
        bool gone = false;             // a report failed with an error that says the device went
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
};

}  // namespace zelk::hid::win32
