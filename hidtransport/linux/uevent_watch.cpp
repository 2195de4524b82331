#include "hidtransport/linux/uevent_watch.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "hidtransport/linux/uevent_message.h"

namespace zelk::hid::hidraw {
namespace {

constexpr std::uint32_t kKernelGroup = 1;
constexpr std::uint32_t kUdevGroup = 2;
// The kernel's events are at most 2048 bytes; udev's carry its properties
// as well and stay well below this.
constexpr std::size_t kDatagramBytes = 8192;
// Room for a burst of events (a hub with several devices plugged in at once)
// before the socket drops any; a drop is noticed and counts as a change.
constexpr int kReceiveBufferBytes = 1 << 20;

std::uint32_t GroupMask(UeventSource source) {
    return source == UeventSource::Kernel ? kKernelGroup : kUdevGroup;
}

}  // namespace

bool TrustedUeventSender(UeventSource source, const UeventSender& sender) {
    if (sender.groups != GroupMask(source)) {
        return false;  // unicast, which any process may send us
    }
    if (source == UeventSource::Kernel) {
        return sender.portId == 0;
    }
    return sender.hasCredentials && sender.uid == 0;
}

bool SignalsHidrawChange(UeventSource source, const UeventSender& sender,
                         std::span<const std::uint8_t> bytes, bool truncated) {
    if (!TrustedUeventSender(source, sender)) {
        return false;
    }
    if (truncated) {
        return true;
    }
    const auto message = ParseUeventMessage(bytes);
    return message && ConcernsHidraw(*message);
}

std::unique_ptr<UeventWatch> UeventWatch::Make(UeventSource source) {
    const int fd =
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) {
        return nullptr;
    }
    const int on = 1;
    // The sender's credentials come with each datagram: udev's must be root's.
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        ::close(fd);
        return nullptr;
    }
    // Past the system's limit when we may; a smaller buffer only drops
    // sooner, which is noticed.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes,
                     sizeof kReceiveBufferBytes) != 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = GroupMask(source);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<UeventWatch>(new UeventWatch(fd, source));
}

UeventSource UeventWatch::SourceFor(const std::string& udevControl) {
    struct stat info {};
    return !udevControl.empty() && ::stat(udevControl.c_str(), &info) == 0 ? UeventSource::Udev
                                                                           : UeventSource::Kernel;
}

UeventWatch::~UeventWatch() {
    ::close(socket_);
}

std::string UeventWatch::Mechanism() const {
    return source_ == UeventSource::Kernel ? "kernel device events" : "udev device events";
}

std::uint32_t UeventWatch::PortId() const {
    sockaddr_nl address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return address.nl_pid;
}

bool UeventWatch::Drain() {
    bool changed = false;
    std::array<std::uint8_t, kDatagramBytes> buffer;
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(ucred))> control;
    for (;;) {
        sockaddr_nl from{};
        iovec part{buffer.data(), buffer.size()};
        msghdr header{};
        header.msg_name = &from;
        header.msg_namelen = sizeof from;
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        header.msg_control = control.data();
        header.msg_controllen = control.size();
        const ssize_t got = ::recvmsg(socket_, &header, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == ENOBUFS) {
                // Events were dropped while the buffer was full: one of them
                // may have been about a hidraw node.
                changed = true;
                continue;
            }
            return changed;  // EAGAIN: nothing more waits
        }
        UeventSender sender;
        if (header.msg_namelen >= sizeof from) {
            sender.portId = from.nl_pid;
            sender.groups = from.nl_groups;
        } else {
            sender.groups = 0;  // no address: trust nothing
        }
        for (cmsghdr* item = CMSG_FIRSTHDR(&header); item != nullptr;
             item = CMSG_NXTHDR(&header, item)) {
            if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_CREDENTIALS &&
                item->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
                ucred credentials{};
                std::memcpy(&credentials, CMSG_DATA(item), sizeof credentials);
                sender.hasCredentials = true;
                sender.uid = credentials.uid;
            }
        }
        const bool truncated = (header.msg_flags & MSG_TRUNC) != 0;
        const std::size_t length = static_cast<std::size_t>(got) < buffer.size()
                                       ? static_cast<std::size_t>(got)
                                       : buffer.size();
        if (SignalsHidrawChange(source_, sender, std::span(buffer.data(), length), truncated)) {
            changed = true;
        }
    }
}

bool UeventWatch::WaitForChange(std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Whatever came since the last call (or since the watch was made)
        // waits in the socket and is read first.
        if (Drain()) {
            return true;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd waiting{socket_, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace zelk::hid::hidraw
