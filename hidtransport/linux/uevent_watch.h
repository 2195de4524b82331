// Hears hidraw nodes come and go through the kernel's device events
// (NETLINK_KOBJECT_UEVENT). With a udev daemon the watch listens to udev's
// copies of the events instead of the kernel's: udev sends its copy after its
// rules have set the node's owner and mode, so a node we hear of can be opened
// at once; the kernel's event may come before the rule has run.
//
// Only the kernel and root may send on these groups, and a message of anyone
// else is ignored; still, a message is only ever taken as a reason to list
// the interfaces again, never as a statement of what is there.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "hidtransport/hid_platform.h"

namespace zelk::hid::hidraw {

enum class UeventSource {
    Kernel,  // the kernel's own events (netlink group 1)
    Udev,    // udev's copies, sent once its rules ran (netlink group 2)
};

// Who a datagram came from, as recvmsg tells it.
struct UeventSender {
    std::uint32_t portId = 0;  // sockaddr_nl.nl_pid: 0 for the kernel
    std::uint32_t groups = 0;  // sockaddr_nl.nl_groups: the group it was sent to, 0 for unicast
    bool hasCredentials = false;
    std::uint32_t uid = 0;  // SCM_CREDENTIALS, when hasCredentials
};

// True when a datagram of `sender` may be heard on a watch of `source`:
// multicast on the source's group, from the kernel (port 0) for kernel
// events, from a root process for udev's.
bool TrustedUeventSender(UeventSource source, const UeventSender& sender);

// True when the datagram `bytes` of `sender` is a reason to list again: a
// trusted sender's event about a hidraw node, or a trusted message cut short
// (its subsystem may have been in the part that was lost).
bool SignalsHidrawChange(UeventSource source, const UeventSender& sender,
                         std::span<const std::uint8_t> bytes, bool truncated);

class UeventWatch final : public HidChangeWatch {
  public:
    // A watch on a socket of its own, or null when none can be made or bound.
    static std::unique_ptr<UeventWatch> Make(UeventSource source);
    // Kernel events when there is no udev daemon (no `udevControl`, normally
    // /run/udev/control), else udev's.
    static UeventSource SourceFor(const std::string& udevControl);

    ~UeventWatch() override;
    UeventWatch(const UeventWatch&) = delete;
    UeventWatch& operator=(const UeventWatch&) = delete;

    bool WaitForChange(std::uint32_t timeoutMs) override;
    std::string Mechanism() const override;

    // The socket's netlink port, so that tests can address it.
    std::uint32_t PortId() const;

  private:
    UeventWatch(int socket, UeventSource source) : socket_(socket), source_(source) {}
    // Reads every datagram waiting; true when one signals a change or some
    // were lost for want of room.
    bool Drain();

    const int socket_;
    const UeventSource source_;
};

}  // namespace zelk::hid::hidraw
