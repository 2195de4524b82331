// The Linux HID backend: every hidraw node of the kernel, one interface per
// top-level collection (path format: linux/hidraw_path.h).
//
// How the kernel's behaviour becomes the seam's:
// - listing reads /sys/class/hidraw/*/device (uevent, report_descriptor and
//   the USB interface's bInterfaceNumber) without opening any node, in the
//   order of the node numbers; a node whose sysfs entry is odd, or whose
//   descriptor the parser refuses, is left out (ZELK_HID_DEBUG=1 says why);
// - a device without report IDs sends and receives reports without the ID
//   byte; the backend adds a 0 byte in front of every input report, and the
//   0 byte the caller puts in front of an output or feature report goes to
//   the kernel as hidraw expects it;
// - input reports are padded with zeros to the collection's input length, as
//   Windows delivers them, and on a device with several collections a handle
//   sees only the input reports of its own collection's report IDs;
// - once the device is removed, poll() reports POLLHUP/POLLERR, read() fails
//   with EIO and writes and ioctls with ENODEV: reads then give DeviceGone and
//   every other call fails;
// - interfaces coming and going are heard through the kernel's device events
//   (or udev's, once its rules have run), as a reason to list again;
// - an open refused for want of permission leaves a line for AccessProblem()
//   that says how to get access (the project's udev rule); the update driver
//   shows it when it finds no device.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "hidtransport/hid_platform.h"

namespace zelk::hid::hidraw {

struct HidrawRoots {
    std::string sysfs = "/sys/class/hidraw";
    std::string dev = "/dev";
    // Present while a udev daemon runs; the change watch then hears udev's
    // events rather than the kernel's.
    std::string udevControl = "/run/udev/control";
};

class HidrawBackend final : public HidBackend {
  public:
    explicit HidrawBackend(HidrawRoots roots = {});
    ~HidrawBackend() override;

    int ListInterfaces(std::vector<std::u16string>& paths) override;
    HidHandle Open(std::u16string_view path, HidOpenMode mode) override;
    bool Close(HidHandle handle) override;
    std::unique_ptr<HidDescriptor> GetDescriptor(HidHandle handle) override;
    bool DescribeUnopened(std::u16string_view path, HidCaps& caps) override;
    // HID_UNIQ of the HID device's uevent (for USB the iSerialNumber string,
    // for Bluetooth the device's address), read from sysfs without opening
    // the node; only while the node still belongs to the device the path names.
    bool SerialNumber(std::u16string_view path, std::u16string& serial) override;
    bool SetOutputReport(HidHandle handle, const std::uint8_t* report, std::size_t length) override;
    bool SetFeature(HidHandle handle, const std::uint8_t* report, std::size_t length) override;
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    HidReadResult ReadInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity,
                            std::size_t& received, std::uint32_t timeoutMs) override;
    void InterruptRead(HidHandle handle) override;
    // flock(LOCK_EX | LOCK_NB) on the handle's open node: an advisory lock that
    // every process opening the same node sees, released with the last close.
    HidLockResult LockForUpdate(HidHandle handle) override;
    void UnlockForUpdate(HidHandle handle) override;

    // Device events of hidraw nodes (linux/uevent_watch.h): udev's when a
    // udev daemon runs, else the kernel's; null when no netlink socket can
    // be had.
    std::unique_ptr<HidChangeWatch> WatchInterfaces() override;

    std::string AccessProblem() const override;
    // True once an open was refused for want of permission.
    bool AccessWasDenied() const;

  private:
    struct OpenNode;
    std::shared_ptr<OpenNode> Find(HidHandle handle, bool needIo) const;
    void ReportAccessDenied(const std::string& node, std::u16string_view path);

    const HidrawRoots roots_;
    mutable std::mutex mutex_;
    std::map<HidHandle, std::shared_ptr<OpenNode>> handles_;
    HidHandle nextHandle_;
    std::set<std::string> deniedNodes_;
    std::string accessProblem_;
};

}  // namespace zelk::hid::hidraw
