// The HID seam: everything the transport needs from the operating system, in
// Win32 terms so that the Windows backend is a thin pass-through and the other
// backends produce the same values. Exactly one backend is active per process.
// Backends: the virtual devices (virtual/), hidraw on Linux (linux/) and
// hid.dll on Windows (windows/). Every backend passes the same conformance
// tests (tests/hidtransport/conformance/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::hid {

// An open interface. Values are opaque; all ones means "no handle" on every
// backend, so a bare handle value can be adopted the same way everywhere.
using HidHandle = std::uint64_t;
inline constexpr HidHandle kInvalidHidHandle = ~HidHandle{0};

enum class HidReportType : std::uint32_t { Input = 0, Output = 1, Feature = 2 };

// NTSTATUS-style result of a capability query: negative is failure.
using HidStatus = std::int32_t;
inline constexpr HidStatus kHidStatusSuccess = 0x00110000;
inline constexpr HidStatus kHidStatusInvalidReportType = static_cast<HidStatus>(0xC0110002);
inline constexpr HidStatus kHidStatusUsageNotFound = static_cast<HidStatus>(0xC0110004);
inline constexpr HidStatus kHidStatusBufferTooSmall = static_cast<HidStatus>(0xC0110007);
inline constexpr HidStatus kHidStatusInternalError = static_cast<HidStatus>(0xC0110008);

// The top-level collection of an interface. Report lengths count the
// report-ID byte (0 when the interface has no report of that type).
struct HidCaps {
    std::uint16_t Usage = 0;
    std::uint16_t UsagePage = 0;
    std::uint16_t InputReportByteLength = 0;
    std::uint16_t OutputReportByteLength = 0;
    std::uint16_t FeatureReportByteLength = 0;
    std::uint16_t NumberInputButtonCaps = 0;
    std::uint16_t NumberInputValueCaps = 0;
    std::uint16_t NumberOutputButtonCaps = 0;
    std::uint16_t NumberOutputValueCaps = 0;
    std::uint16_t NumberFeatureButtonCaps = 0;
    std::uint16_t NumberFeatureValueCaps = 0;
};

// One value or button capability record. For a single usage UsageMin and
// UsageMax are equal and IsRange is false.
struct HidCapability {
    std::uint8_t ReportId = 0;
    std::uint16_t UsagePage = 0;
    std::uint16_t UsageMin = 0;
    std::uint16_t UsageMax = 0;
    bool IsRange = false;
    std::uint16_t LinkCollection = 0;

    bool Carries(std::uint16_t usage) const { return usage >= UsageMin && usage <= UsageMax; }
};

// The parsed report structure of one interface (Windows: its preparsed data).
// Owned by whoever asked for it; valid after the handle it came from is closed.
class HidDescriptor {
  public:
    virtual ~HidDescriptor() = default;
    virtual HidStatus GetCaps(HidCaps& caps) const = 0;
    // Replace `out` with every value (or button) capability of one report type.
    virtual HidStatus GetValueCaps(HidReportType type, std::vector<HidCapability>& out) const = 0;
    virtual HidStatus GetButtonCaps(HidReportType type, std::vector<HidCapability>& out) const = 0;
    // Replace `out` with the value capabilities of one report type that carry
    // `usage`; usagePage 0 and linkCollection 0 mean any. No match gives
    // kHidStatusUsageNotFound and an empty `out`.
    virtual HidStatus GetSpecificValueCaps(HidReportType type, std::uint16_t usagePage,
                                           std::uint16_t linkCollection, std::uint16_t usage,
                                           std::vector<HidCapability>& out) const = 0;
};

enum class HidOpenMode {
    Query,  // read-only, for capability queries
    Io,     // read and write, for reports
};

// What one ReadInput came to. Which failures pass and which last:
// - TimedOut passes: nothing arrived; the next read may bring a report.
// - DeviceGone lasts: the device was removed (Windows: ERROR_DEVICE_NOT_CONNECTED;
//   hidraw: POLLHUP/POLLERR, EIO or ENODEV). Every later call on the handle fails
//   the same way; readers stop and report the device gone.
// - Failed may pass or last: the read could not be made for another reason (an
//   unknown or closed handle, a query handle, an unexpected error). Trying again
//   is allowed, but a reader must pause between attempts, since the cause may
//   never go away.
enum class HidReadResult {
    Data,        // `received` bytes arrived (may be 0 when a read completed with an error)
    TimedOut,    // nothing within the time-out
    DeviceGone,  // the device was removed; further reads will fail the same way
    Failed,      // the read could not be made for another reason; see above
};

// What LockForUpdate came to.
enum class HidLockResult {
    Taken,          // this handle now holds the device's update lock
    HeldElsewhere,  // another open handle (or another process) holds it
    Failed,         // no lock could be taken for another reason (unknown handle, ...)
};

// Wakes a caller when interfaces may have come or gone, so that a program
// waiting for devices lists them again only when there is a reason to. Made
// by HidBackend::WatchInterfaces; must not outlive its backend, and is used
// from one thread at a time.
class HidChangeWatch {
  public:
    virtual ~HidChangeWatch() = default;
    // Waits at most `timeoutMs` for a sign that an interface came or went.
    // True when one arrived (the caller lists again; a true may be spurious,
    // and several changes may come as one), false when the time ran out. A
    // change that happened after the watch was made and before this call is
    // not lost: the call returns true at once.
    virtual bool WaitForChange(std::uint32_t timeoutMs) = 0;
    // How changes are detected, in a few words for the program's output
    // ("kernel device events", "device-interface notifications", ...).
    virtual std::string Mechanism() const = 0;
};

class HidBackend {
  public:
    virtual ~HidBackend() = default;

    // Replace `paths` with the interface paths of every present HID interface, in
    // the system's order. Every path carries "VID_xxxx&PID_xxxx" (and "&MI_xx"
    // where the interface has a number) and has no blanks. A device with several
    // top-level collections gives one interface per collection, each with its
    // own path ("&Col01", "&Col02", ... as on Windows) and its own capabilities. Returns 0 on
    // success; 1 when the size query failed, 2 when no memory could be had, 3 when the list query
    // failed.
    virtual int ListInterfaces(std::vector<std::u16string>& paths) = 0;

    // Returns a new handle, or kInvalidHidHandle when the path cannot be opened
    // (no such interface, not a HID interface, no permission, device gone).
    virtual HidHandle Open(std::u16string_view path, HidOpenMode mode) = 0;
    // Closes a handle this backend returned; false for a value it does not know.
    virtual bool Close(HidHandle handle) = 0;

    // The report structure of an open interface, or null when it cannot be read.
    virtual std::unique_ptr<HidDescriptor> GetDescriptor(HidHandle handle) = 0;

    // The top-level caps of an interface read without opening it (hidraw: the
    // report descriptor that sysfs shows to everyone), so that an interface the
    // caller may not open can still be told apart from another collection of
    // the same device. False when the backend has no such way or the
    // descriptor cannot be read; the caller then knows only the path.
    virtual bool DescribeUnopened(std::u16string_view /*path*/, HidCaps& /*caps*/) { return false; }

    // The serial string of the device behind an interface, read without
    // opening it for reports (hidraw: HID_UNIQ in sysfs; Windows: a handle
    // without access), so that a device that restarted under a new node can
    // be known again. False when the device has none, it cannot be read, or
    // the backend has no way to read it; `serial` is then empty.
    virtual bool SerialNumber(std::u16string_view /*path*/, std::u16string& serial) {
        serial.clear();
        return false;
    }

    // Report bytes start with the report ID; a device without report IDs takes
    // and gives a 0 byte in that place. Each returns true once the device took
    // (or, for GetFeature, answered) the report; false on any failure, also once
    // the device is gone.
    virtual bool SetOutputReport(HidHandle handle, const std::uint8_t* report,
                                 std::size_t length) = 0;
    virtual bool SetFeature(HidHandle handle, const std::uint8_t* report, std::size_t length) = 0;
    // `buffer[0]` holds the wanted report ID; the answer fills `length` bytes.
    virtual bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) = 0;

    // Reads one input report into `buffer`, waiting at most `timeoutMs`; the
    // report ID comes first (0 for a device without IDs) and the report is
    // padded with zeros to the collection's InputReportByteLength. A read
    // never outlives the call: whatever was started is finished or cancelled
    // before it returns, so `buffer` is free again afterwards. Safe to call on one
    // thread while another thread writes reports on the same handle.
    virtual HidReadResult ReadInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity,
                                    std::size_t& received, std::uint32_t timeoutMs) = 0;

    // Ends a ReadInput on `handle` that is waiting, or else the next one to
    // start, at once with TimedOut, so that a reader told to stop need not sit
    // out its time-out. Safe to call from any thread. Backends without a way to
    // wake a waiting read do nothing, and the reader ends at its time-out.
    virtual void InterruptRead(HidHandle /*handle*/) {}

    // Takes the device's update lock for `handle` without waiting, so that two
    // updaters never write offers and blocks to the same device at once. Only
    // an update takes it; listing and describing a device never do. The lock
    // lasts until UnlockForUpdate or the handle's Close. Taking it again on the
    // handle that holds it gives Taken. Backends that cannot lock give Taken.
    virtual HidLockResult LockForUpdate(HidHandle /*handle*/) { return HidLockResult::Taken; }
    // Gives up the update lock `handle` holds; nothing when it holds none.
    virtual void UnlockForUpdate(HidHandle /*handle*/) {}

    // A watch over this backend's interfaces, made before the caller's first
    // listing so that nothing plugged in between is missed; null when the
    // backend has no way to hear of changes (the caller then lists again on
    // a bounded interval).
    virtual std::unique_ptr<HidChangeWatch> WatchInterfaces() { return nullptr; }

    // Empty, or one line saying which interface could not be opened for want of
    // permission and what to do about it (the last such refusal), so that a
    // caller that found no device can tell the user why.
    virtual std::string AccessProblem() const { return {}; }
};

// The backend of this process. The first call chooses it: the virtual backend
// when ZELK_VIRTUAL_DEVICES is set (a device file, or "default" for the built-in
// earbud), otherwise the platform's own.
HidBackend& ActiveHidBackend();

// Chooses the virtual backend with the devices of `source` (a file path, or
// "default") for the rest of the process. Must come before the first
// ActiveHidBackend(); returns false with a message in `error` when it is too
// late or the devices cannot be loaded.
bool SelectVirtualHidBackend(std::string_view source, std::string& error);

// The platform backend (hidraw on Linux, hid.dll on Windows). Defined in the
// backend folder that the build picks.
std::unique_ptr<HidBackend> CreatePlatformHidBackend();

}  // namespace zelk::hid
