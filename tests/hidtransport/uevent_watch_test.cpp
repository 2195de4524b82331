// Device events of hidraw nodes: the parser of the kernel's and udev's
// netlink messages, which senders are heard, and the watch's socket. Real
// events of a real device are in the conformance tests, run on a guest kernel.
#if defined(__linux__)

#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hidtransport/linux/hidraw_backend.h"
#include "hidtransport/linux/uevent_message.h"
#include "hidtransport/linux/uevent_watch.h"

// Table rows of refused messages and header changes name only what matters.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace zelk::hid::hidraw {
namespace {

using namespace std::string_view_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// A udev message with `properties`; the header's fields can be changed.
struct UdevLayout {
    std::uint32_t magic = kUdevMonitorMagic;
    std::uint32_t headerSize = sizeof(UdevMonitorHeader);
    std::int64_t offsetShift = 0;      // added to the true properties offset
    std::int64_t lengthOverride = -1;  // the properties length, when not -1
};

Bytes Udev(std::string_view properties, UdevLayout layout = {}) {
    UdevMonitorHeader header{};
    std::memcpy(header.prefix, "libudev", 8);
    header.magic = __builtin_bswap32(layout.magic);
    header.headerSize = layout.headerSize;
    header.propertiesOffset = static_cast<std::uint32_t>(sizeof header + layout.offsetShift);
    header.propertiesLength = layout.lengthOverride >= 0
                                  ? static_cast<std::uint32_t>(layout.lengthOverride)
                                  : static_cast<std::uint32_t>(properties.size());
    Bytes bytes(sizeof header + properties.size());
    std::memcpy(bytes.data(), &header, sizeof header);
    if (!properties.empty()) {
        std::memcpy(bytes.data() + sizeof header, properties.data(), properties.size());
    }
    return bytes;
}

constexpr std::string_view kKernelHidrawAdd =
    "add@/devices/virtual/misc/uhid/0003:320F:5055.0001/hidraw/hidraw0\0"
    "ACTION=add\0DEVPATH=/devices/virtual/misc/uhid/0003:320F:5055.0001/hidraw/hidraw0\0"
    "SUBSYSTEM=hidraw\0MAJOR=243\0MINOR=0\0DEVNAME=hidraw0\0SEQNUM=1201\0"sv;
constexpr std::string_view kUdevHidrawRemove =
    "ACTION=remove\0DEVPATH=/devices/x/hidraw/hidraw3\0SUBSYSTEM=hidraw\0DEVNAME=/dev/hidraw3\0"sv;

TEST(UeventMessage, ReadsBothFormatsAndRefusesOtherBytes) {
    struct Case {
        const char* name;
        Bytes bytes;
        bool parsed;
        bool fromUdev;
        const char* action;
        const char* subsystem;
        bool hidraw;
    };
    const std::vector<Case> cases = {
        {"kernel hidraw add", Text(kKernelHidrawAdd), true, false, "add", "hidraw", true},
        {"kernel, last pair without NUL", Text("remove@/d/hidraw1\0SUBSYSTEM=hidraw"sv), true,
         false, "remove", "hidraw", true},
        {"kernel, another subsystem", Text("add@/d/input9\0SUBSYSTEM=input\0"sv), true, false,
         "add", "input", false},
        {"kernel, no pairs", Text("bind@/d/x"), true, false, "bind", "", false},
        {"kernel, first SUBSYSTEM counts", Text("add@/d/x\0SUBSYSTEM=usb\0SUBSYSTEM=hidraw\0"sv),
         true, false, "add", "usb", false},
        {"kernel, pair without key", Text("add@/d/x\0=hidraw\0"sv), true, false, "add", "", false},
        {"no @", Text("SUBSYSTEM=hidraw\0"sv), false},
        {"no action", Text("@/d/x\0SUBSYSTEM=hidraw\0"sv), false},
        {"no devpath", Text("add@\0SUBSYSTEM=hidraw\0"sv), false},
        {"empty", Bytes{}, false},
        {"udev hidraw remove", Udev(kUdevHidrawRemove), true, true, "remove", "hidraw", true},
        {"udev, another subsystem", Udev("ACTION=change\0SUBSYSTEM=block\0"sv), true, true,
         "change", "block", false},
        {"udev, properties after a longer header",
         Udev("\0\0\0\0ACTION=add\0SUBSYSTEM=hidraw\0"sv,
              {.headerSize = 44, .offsetShift = 4, .lengthOverride = 28}),
         true, true, "add", "hidraw", true},
        {"udev, wrong magic", Udev(kUdevHidrawRemove, {.magic = 0xCAFEFEED}), false},
        {"udev, header size below the header", Udev(kUdevHidrawRemove, {.headerSize = 8}), false},
        {"udev, properties inside the header", Udev(kUdevHidrawRemove, {.offsetShift = -8}), false},
        {"udev, properties past the end", Udev(kUdevHidrawRemove, {.offsetShift = 1000}), false},
        {"udev, length past the end",
         Udev(kUdevHidrawRemove, {.lengthOverride = kUdevHidrawRemove.size() + 1}), false},
        {"udev, length that wraps", Udev(kUdevHidrawRemove, {.lengthOverride = 0xFFFFFFFF}), false},
        {"udev, no ACTION", Udev("SUBSYSTEM=hidraw\0"sv), false},
        {"udev prefix only", Text("libudev\0"sv), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto message = ParseUeventMessage(c.bytes);
        ASSERT_EQ(message.has_value(), c.parsed);
        if (!message) {
            continue;
        }
        EXPECT_EQ(message->fromUdev, c.fromUdev);
        EXPECT_EQ(message->action, c.action);
        EXPECT_EQ(message->subsystem, c.subsystem);
        EXPECT_EQ(ConcernsHidraw(*message), c.hidraw);
    }
}

TEST(UeventWatch, HearsOnlyTheKernelOrRootOnItsOwnGroup) {
    const Bytes hidraw = Text(kKernelHidrawAdd);
    const Bytes input = Text("add@/d/input9\0SUBSYSTEM=input\0"sv);
    const Bytes udevHidraw = Udev(kUdevHidrawRemove);
    struct Case {
        const char* name;
        UeventSource source;
        UeventSender sender;
        const Bytes& bytes;
        bool truncated;
        bool signals;
    };
    const UeventSource kernel = UeventSource::Kernel;
    const UeventSource udev = UeventSource::Udev;
    const std::vector<Case> cases = {
        {"kernel event", kernel, {0, 1, true, 0}, hidraw, false, true},
        {"kernel event of another subsystem", kernel, {0, 1, true, 0}, input, false, false},
        {"kernel group, a process's port", kernel, {4321, 1, true, 0}, hidraw, false, false},
        {"kernel watch, unicast", kernel, {0, 0, true, 0}, hidraw, false, false},
        {"kernel watch, udev's group", kernel, {0, 2, true, 0}, hidraw, false, false},
        {"kernel event cut short", kernel, {0, 1, true, 0}, input, true, true},
        {"a process's message cut short", kernel, {4321, 1, true, 0}, input, true, false},
        {"udev event from root", udev, {811, 2, true, 0}, udevHidraw, false, true},
        {"udev event of another subsystem", udev, {811, 2, true, 0}, input, false, false},
        {"udev group, not root", udev, {811, 2, true, 1000}, udevHidraw, false, false},
        {"udev group, no credentials", udev, {811, 2, false, 0}, udevHidraw, false, false},
        {"udev watch, unicast from root", udev, {811, 0, true, 0}, udevHidraw, false, false},
        {"udev watch, kernel's group", udev, {0, 1, true, 0}, hidraw, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SignalsHidrawChange(c.source, c.sender, c.bytes, c.truncated), c.signals);
    }
}

std::unique_ptr<UeventWatch> MakeOrNull(UeventSource source) {
    return UeventWatch::Make(source);
}

TEST(UeventWatch, AMessageFromAnotherProcessIsNoChange) {
    for (const UeventSource source : {UeventSource::Kernel, UeventSource::Udev}) {
        auto watch = MakeOrNull(source);
        if (!watch) {
            GTEST_SKIP() << "no NETLINK_KOBJECT_UEVENT socket here";
        }
        const int sender = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
        ASSERT_GE(sender, 0);
        sockaddr_nl to{};
        to.nl_family = AF_NETLINK;
        to.nl_pid = watch->PortId();
        ASSERT_NE(to.nl_pid, 0u);
        // Well-formed hidraw events in both formats, sent straight to the
        // watch's port as any process may.
        for (const Bytes& bytes : {Text(kKernelHidrawAdd), Udev(kUdevHidrawRemove)}) {
            ASSERT_EQ(::sendto(sender, bytes.data(), bytes.size(), 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to),
                      static_cast<ssize_t>(bytes.size()))
                << std::strerror(errno);
        }
        ::close(sender);
        EXPECT_FALSE(watch->WaitForChange(100)) << watch->Mechanism();
    }
}

TEST(UeventWatch, UdevIsHeardWhileItsDaemonRuns) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("zelk-uevent-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "control").put('x');
    struct Case {
        std::string udevControl;
        const char* mechanism;
    };
    const std::vector<Case> cases = {
        {(dir / "control").string(), "udev device events"},
        {(dir / "missing").string(), "kernel device events"},
        {"", "kernel device events"},
    };
    for (const Case& c : cases) {
        HidrawRoots roots;
        roots.udevControl = c.udevControl;
        HidrawBackend backend(roots);
        auto watch = backend.WatchInterfaces();
        if (!watch) {
            std::filesystem::remove_all(dir);
            GTEST_SKIP() << "no NETLINK_KOBJECT_UEVENT socket here";
        }
        EXPECT_EQ(watch->Mechanism(), c.mechanism) << c.udevControl;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zelk::hid::hidraw

#endif  // __linux__
