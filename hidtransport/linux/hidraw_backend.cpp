#include "hidtransport/linux/hidraw_backend.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <utility>

#include "hidtransport/linux/hidraw_path.h"
#include "hidtransport/linux/uevent_watch.h"
#include "hidtransport/report_descriptor.h"
#include "hidtransport/utf8_text.h"

namespace zelk::hid::hidraw {
namespace {

namespace fs = std::filesystem;

constexpr HidHandle kFirstHandle = 0x2000;
constexpr HidHandle kHandleStep = 4;
constexpr std::uint32_t kBusUsb = 0x03;
// Larger than any report a HID device can send over hidraw.
constexpr std::size_t kReadChunk = 16384;

bool DebugEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("ZELK_HID_DEBUG");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

void Debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Debug(const char* format, ...) {
    if (!DebugEnabled()) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    std::fputs("hidraw: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}

std::string ToUtf8(std::u16string_view text) {
    // Paths of this backend are ASCII; anything else cannot name a node.
    std::string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::u16string ToUtf16(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

bool ReadWholeFile(const fs::path& file, std::string& out) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string UeventValue(const std::string& uevent, std::string_view key) {
    std::size_t at = 0;
    while (at < uevent.size()) {
        std::size_t end = uevent.find('\n', at);
        if (end == std::string::npos) {
            end = uevent.size();
        }
        const std::string_view line(uevent.data() + at, end - at);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
            return std::string(line.substr(key.size() + 1));
        }
        at = end + 1;
    }
    return {};
}

bool HasBlank(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '#'; });
}

// The number of "hidrawN", or -1.
long NodeNumber(const std::string& name) {
    if (!name.starts_with("hidraw") || name.size() == 6 || name.size() > 14) {
        return -1;
    }
    long number = 0;
    for (std::size_t i = 6; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// The interface number of a USB device: bInterfaceNumber of the USB interface
// the HID device hangs off; for a device without one (uhid), the "/inputN"
// at the end of its physical path.
int InterfaceNumber(const fs::path& device, std::uint32_t bus, const std::string& phys) {
    if (bus != kBusUsb) {
        return -1;
    }
    std::error_code error;
    const fs::path real = fs::canonical(device, error);
    if (!error) {
        std::string text;
        if (ReadWholeFile(real.parent_path() / "bInterfaceNumber", text)) {
            unsigned value = 0;
            if (std::sscanf(text.c_str(), "%x", &value) == 1 && value <= 0xFF) {
                return static_cast<int>(value);
            }
        }
    }
    return InterfaceNumberFromPhys(phys);
}

bool ReadDescriptor(int fd, std::vector<std::uint8_t>& out) {
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
        return false;
    }
    auto descriptor = std::make_unique<hidraw_report_descriptor>();
    descriptor->size = static_cast<std::uint32_t>(size);
    if (::ioctl(fd, HIDIOCGRDESC, descriptor.get()) < 0) {
        return false;
    }
    out.assign(descriptor->value, descriptor->value + size);
    return true;
}

bool UsesReportIds(const std::vector<ParsedCollection>& collections) {
    for (const ParsedCollection& collection : collections) {
        for (const auto& ids : collection.reportIds) {
            if (std::any_of(ids.begin(), ids.end(), [](std::uint8_t id) { return id != 0; })) {
                return true;
            }
        }
    }
    return false;
}

bool IsGone(int error) {
    return error == ENODEV || error == EIO || error == ENXIO || error == ESHUTDOWN;
}

}  // namespace

struct HidrawBackend::OpenNode {
    int fd = -1;
    // Written by InterruptRead to end a waiting read; Io handles only.
    int wakeFd = -1;
    HidOpenMode mode = HidOpenMode::Query;
    std::string node;
    int collectionIndex = 0;
    // From the descriptor read at open; without one, reports pass unchanged.
    bool described = false;
    bool numbered = true;
    std::size_t collectionCount = 1;
    std::vector<std::uint8_t> inputIds;
    std::size_t inputLength = 0;

    ~OpenNode() {
        if (fd >= 0) {
            ::close(fd);
        }
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }
};

HidrawBackend::HidrawBackend(HidrawRoots roots)
    : roots_(std::move(roots)), nextHandle_(kFirstHandle) {}

HidrawBackend::~HidrawBackend() = default;

int HidrawBackend::ListInterfaces(std::vector<std::u16string>& paths) {
    paths.clear();
    std::vector<std::pair<long, std::string>> nodes;
    std::error_code error;
    fs::directory_iterator entries(roots_.sysfs, error);
    if (error) {
        // No hidraw class at all (no HID device ever appeared, or no hidraw
        // support): nothing is present.
        Debug("%s: %s", roots_.sysfs.c_str(), error.message().c_str());
        return 0;
    }
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        const long number = NodeNumber(name);
        if (number >= 0) {
            nodes.emplace_back(number, name);
        }
    }
    std::sort(nodes.begin(), nodes.end());

    for (const auto& [number, name] : nodes) {
        const fs::path device = fs::path(roots_.sysfs) / name / "device";
        std::string uevent;
        if (!ReadWholeFile(device / "uevent", uevent)) {
            Debug("%s: no readable uevent; left out", name.c_str());
            continue;
        }
        const std::optional<HidId> id = ParseHidId(UeventValue(uevent, "HID_ID"));
        if (!id) {
            Debug("%s: no usable HID_ID in uevent; left out", name.c_str());
            continue;
        }
        InterfaceIdentity identity;
        identity.node = roots_.dev + "/" + name;
        identity.vendorId = id->vendorId;
        identity.productId = id->productId;
        identity.interfaceNumber =
            InterfaceNumber(device, id->bus, UeventValue(uevent, "HID_PHYS"));
        const fs::path real = fs::canonical(device, error);
        if (!error) {
            identity.deviceName = real.filename().string();
            if (HasBlank(identity.deviceName)) {
                identity.deviceName.clear();
            }
        }
        if (HasBlank(identity.node)) {
            Debug("%s: node path has blanks; left out", name.c_str());
            continue;
        }

        std::size_t collections = 1;
        std::string descriptor;
        if (ReadWholeFile(device / "report_descriptor", descriptor) && !descriptor.empty()) {
            std::string why;
            const auto parsed = ParseReportDescriptor(
                reinterpret_cast<const std::uint8_t*>(descriptor.data()), descriptor.size(), why);
            if (parsed.empty()) {
                Debug("%s: report descriptor refused (%s); left out", name.c_str(), why.c_str());
                continue;
            }
            collections = parsed.size();
        }
        try {
            for (std::size_t i = 0; i < collections; ++i) {
                identity.collection = collections > 1 ? static_cast<int>(i + 1) : 0;
                paths.push_back(ToUtf16(FormatInterfacePath(identity)));
            }
        } catch (const std::bad_alloc&) {
            paths.clear();
            return 2;
        }
    }
    return 0;
}

void HidrawBackend::ReportAccessDenied(const std::string& node, std::u16string_view path) {
    const std::string line =
        "No permission to open " + node + " (" + ToUtf8(path) +
        "). Install the udev rule that grants the logged-in user access (sudo cmake --install "
        "<build folder> --component udev, see docs/linux-devices.md), then unplug and replug "
        "the device; or run as root.";
    std::lock_guard lock(mutex_);
    accessProblem_ = line;
    deniedNodes_.insert(node);
}

std::unique_ptr<HidChangeWatch> HidrawBackend::WatchInterfaces() {
    return UeventWatch::Make(UeventWatch::SourceFor(roots_.udevControl));
}

std::string HidrawBackend::AccessProblem() const {
    std::lock_guard lock(mutex_);
    return accessProblem_;
}

bool HidrawBackend::AccessWasDenied() const {
    std::lock_guard lock(mutex_);
    return !deniedNodes_.empty();
}

HidHandle HidrawBackend::Open(std::u16string_view path, HidOpenMode mode) {
    const std::string text = ToUtf8(path);
    const std::optional<OpenTarget> target = ParseInterfacePath(text, roots_.dev);
    if (!target) {
        Debug("%s: not a hidraw interface path", text.c_str());
        return kInvalidHidHandle;
    }
    if (!target->deviceName.empty()) {
        // The node number may have gone to another device since the listing.
        std::error_code error;
        const fs::path nodeName = fs::path(target->node).filename();
        const fs::path real = fs::canonical(fs::path(roots_.sysfs) / nodeName / "device", error);
        if (error || real.filename().string() != target->deviceName) {
            Debug("%s: %s no longer belongs to %s", text.c_str(), target->node.c_str(),
                  target->deviceName.c_str());
            return kInvalidHidHandle;
        }
    }
    const int flags = (mode == HidOpenMode::Io ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    auto node = std::make_shared<OpenNode>();
    node->fd = ::open(target->node.c_str(), flags);
    if (node->fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) {
            ReportAccessDenied(target->node, path);
        }
        Debug("%s: open: %s", target->node.c_str(), std::strerror(error));
        return kInvalidHidHandle;
    }
    hidraw_devinfo info{};
    if (::ioctl(node->fd, HIDIOCGRAWINFO, &info) < 0) {
        Debug("%s: not a hidraw node (%s)", target->node.c_str(), std::strerror(errno));
        return kInvalidHidHandle;
    }
    if (mode == HidOpenMode::Io) {
        node->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (node->wakeFd < 0) {
            Debug("%s: eventfd: %s", target->node.c_str(), std::strerror(errno));
            return kInvalidHidHandle;
        }
    }
    node->mode = mode;
    node->node = target->node;
    node->collectionIndex = target->collectionIndex;

    std::vector<std::uint8_t> bytes;
    if (ReadDescriptor(node->fd, bytes)) {
        std::string why;
        const auto parsed = ParseReportDescriptor(bytes.data(), bytes.size(), why);
        if (!parsed.empty()) {
            if (static_cast<std::size_t>(node->collectionIndex) >= parsed.size()) {
                Debug("%s: the device has %zu collection(s)", text.c_str(), parsed.size());
                return kInvalidHidHandle;
            }
            const ParsedCollection& own = parsed[static_cast<std::size_t>(node->collectionIndex)];
            node->described = true;
            node->numbered = UsesReportIds(parsed);
            node->collectionCount = parsed.size();
            node->inputIds = own.reportIds[0];
            node->inputLength = own.caps.InputReportByteLength;
        }
    }

    std::lock_guard lock(mutex_);
    const HidHandle handle = nextHandle_;
    nextHandle_ += kHandleStep;
    if (nextHandle_ == kInvalidHidHandle || nextHandle_ < kFirstHandle) {
        nextHandle_ = kFirstHandle;
    }
    handles_[handle] = std::move(node);
    return handle;
}

bool HidrawBackend::Close(HidHandle handle) {
    std::shared_ptr<OpenNode> node;
    {
        std::lock_guard lock(mutex_);
        const auto found = handles_.find(handle);
        if (found == handles_.end()) {
            return false;
        }
        node = std::move(found->second);
        handles_.erase(found);
    }
    // A read still running on another thread keeps the descriptor open until it
    // returns.
    return true;
}

std::shared_ptr<HidrawBackend::OpenNode> HidrawBackend::Find(HidHandle handle, bool needIo) const {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(handle);
    if (found == handles_.end() || (needIo && found->second->mode != HidOpenMode::Io)) {
        return nullptr;
    }
    return found->second;
}

HidLockResult HidrawBackend::LockForUpdate(HidHandle handle) {
    const std::shared_ptr<OpenNode> node = Find(handle, true);
    if (node == nullptr) {
        return HidLockResult::Failed;
    }
    while (::flock(node->fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return HidLockResult::HeldElsewhere;
        }
        if (errno != EINTR) {
            return HidLockResult::Failed;
        }
    }
    return HidLockResult::Taken;
}

void HidrawBackend::UnlockForUpdate(HidHandle handle) {
    if (const std::shared_ptr<OpenNode> node = Find(handle, true)) {
        ::flock(node->fd, LOCK_UN);
    }
}

std::unique_ptr<HidDescriptor> HidrawBackend::GetDescriptor(HidHandle handle) {
    const std::shared_ptr<OpenNode> node = Find(handle, false);
    if (!node) {
        return nullptr;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadDescriptor(node->fd, bytes)) {
        Debug("%s: descriptor: %s", node->node.c_str(), std::strerror(errno));
        return nullptr;
    }
    std::string why;
    std::vector<ParsedCollection> parsed = ParseReportDescriptor(bytes.data(), bytes.size(), why);
    if (static_cast<std::size_t>(node->collectionIndex) >= parsed.size()) {
        Debug("%s: descriptor refused (%s)", node->node.c_str(), why.c_str());
        return nullptr;
    }
    return std::make_unique<ParsedCollection>(
        std::move(parsed[static_cast<std::size_t>(node->collectionIndex)]));
}

bool HidrawBackend::DescribeUnopened(std::u16string_view path, HidCaps& caps) {
    const std::optional<OpenTarget> target = ParseInterfacePath(ToUtf8(path), roots_.dev);
    if (!target) {
        return false;
    }
    // sysfs shows the descriptor to every user, also when the node is not
    // theirs to open.
    std::string bytes;
    const fs::path nodeName = fs::path(target->node).filename();
    if (!ReadWholeFile(fs::path(roots_.sysfs) / nodeName / "device" / "report_descriptor", bytes) ||
        bytes.empty()) {
        return false;
    }
    std::string why;
    const std::vector<ParsedCollection> parsed = ParseReportDescriptor(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), why);
    const auto index = static_cast<std::size_t>(target->collectionIndex);
    if (index >= parsed.size()) {
        return false;
    }
    return parsed[index].GetCaps(caps) >= 0;
}

bool HidrawBackend::SerialNumber(std::u16string_view path, std::u16string& serial) {
    serial.clear();
    const std::optional<OpenTarget> target = ParseInterfacePath(ToUtf8(path), roots_.dev);
    if (!target) {
        return false;
    }
    const fs::path device = fs::path(roots_.sysfs) / fs::path(target->node).filename() / "device";
    if (!target->deviceName.empty()) {
        // The node number may have gone to another device since the listing:
        // its serial is not this interface's.
        std::error_code error;
        const fs::path real = fs::canonical(device, error);
        if (error || real.filename().string() != target->deviceName) {
            return false;
        }
    }
    std::string uevent;
    if (!ReadWholeFile(device / "uevent", uevent)) {
        return false;
    }
    // The kernel gives the string as the device sent it (UTF-8 from USB).
    const std::string uniq = UeventValue(uevent, "HID_UNIQ");
    serial = Utf16FromUtf8(uniq);
    return !serial.empty();
}

bool HidrawBackend::SetOutputReport(HidHandle handle, const std::uint8_t* report,
                                    std::size_t length) {
    const std::shared_ptr<OpenNode> node = Find(handle, true);
    if (!node || report == nullptr || length == 0) {
        return false;
    }
    for (;;) {
        const ssize_t written = ::write(node->fd, report, length);
        if (written >= 0) {
            return static_cast<std::size_t>(written) == length;
        }
        if (errno != EINTR) {
            Debug("%s: write: %s", node->node.c_str(), std::strerror(errno));
            return false;
        }
    }
}

bool HidrawBackend::SetFeature(HidHandle handle, const std::uint8_t* report, std::size_t length) {
    const std::shared_ptr<OpenNode> node = Find(handle, true);
    if (!node || report == nullptr || length == 0 || length > 0x3FFF) {
        return false;
    }
    std::vector<std::uint8_t> copy(report, report + length);
    if (::ioctl(node->fd, HIDIOCSFEATURE(length), copy.data()) < 0) {
        Debug("%s: set feature: %s", node->node.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

bool HidrawBackend::GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    const std::shared_ptr<OpenNode> node = Find(handle, true);
    if (!node || buffer == nullptr || length == 0 || length > 0x3FFF) {
        return false;
    }
    const std::uint8_t id = buffer[0];
    std::vector<std::uint8_t> answer(length, 0);
    answer[0] = id;
    const int got = ::ioctl(node->fd, HIDIOCGFEATURE(length), answer.data());
    if (got <= 0) {
        Debug("%s: get feature %u: %s", node->node.c_str(), id,
              got < 0 ? std::strerror(errno) : "empty answer");
        return false;
    }
    std::fill(answer.begin() + std::min<std::size_t>(static_cast<std::size_t>(got), length),
              answer.end(), 0);
    std::copy(answer.begin(), answer.end(), buffer);
    return true;
}

HidReadResult HidrawBackend::ReadInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity,
                                       std::size_t& received, std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    received = 0;
    const std::shared_ptr<OpenNode> node = Find(handle, true);
    if (!node) {
        return HidReadResult::Failed;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds{timeoutMs};
    thread_local std::vector<std::uint8_t> chunk(kReadChunk + 1);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd waits[2] = {{node->fd, POLLIN, 0}, {node->wakeFd, POLLIN, 0}};
        const pollfd& wait = waits[0];
        const int ready = ::poll(waits, node->wakeFd >= 0 ? 2 : 1,
                                 static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            Debug("%s: poll: %s", node->node.c_str(), std::strerror(errno));
            return HidReadResult::Failed;
        }
        if (ready == 0) {
            return HidReadResult::TimedOut;
        }
        if (node->wakeFd >= 0 && (waits[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t drained = ::read(node->wakeFd, &count, sizeof count);
            return HidReadResult::TimedOut;
        }
        if ((wait.revents & POLLNVAL) != 0) {
            return HidReadResult::Failed;
        }
        if ((wait.revents & POLLIN) == 0) {
            // POLLHUP or POLLERR without data: the device is gone.
            return HidReadResult::DeviceGone;
        }
        // Room for the 0 byte in front of a report without an ID.
        const ssize_t got = ::read(node->fd, chunk.data() + 1, kReadChunk);
        if (got < 0) {
            const int error = errno;
            if (error == EINTR || error == EAGAIN) {
                continue;
            }
            if (IsGone(error)) {
                return HidReadResult::DeviceGone;
            }
            Debug("%s: read: %s", node->node.c_str(), std::strerror(error));
            return HidReadResult::Failed;
        }
        if (got == 0) {
            continue;
        }
        const std::uint8_t* report = chunk.data() + 1;
        std::size_t length = static_cast<std::size_t>(got);
        if (node->described && !node->numbered) {
            chunk[0] = 0;
            report = chunk.data();
            ++length;
        } else if (node->described && node->collectionCount > 1 &&
                   std::find(node->inputIds.begin(), node->inputIds.end(), report[0]) ==
                       node->inputIds.end()) {
            continue;  // a report of another collection of the device
        }
        // The real length, never padded to the collection's: zeros past a
        // short answer would read as fields the device never sent (a content
        // status 0 is success).
        const std::size_t count = std::min(length, capacity);
        if (buffer != nullptr) {
            std::copy_n(report, count, buffer);
            received = count;
        }
        return HidReadResult::Data;
    }
}

void HidrawBackend::InterruptRead(HidHandle handle) {
    const std::shared_ptr<OpenNode> node = Find(handle, true);
    if (node && node->wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(node->wakeFd, &one, sizeof one);
    }
}

}  // namespace zelk::hid::hidraw
