#include "tools/linux/uhid_device.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hidtransport/report_descriptor.h"

namespace zelk::uhid {
namespace {

namespace fs = std::filesystem;

bool DescriptorUsesReportIds(const std::vector<std::uint8_t>& descriptor) {
    std::string error;
    for (const auto& collection :
         hid::ParseReportDescriptor(descriptor.data(), descriptor.size(), error)) {
        for (const auto& ids : collection.reportIds) {
            if (std::any_of(ids.begin(), ids.end(), [](std::uint8_t id) { return id != 0; })) {
                return true;
            }
        }
    }
    return false;
}

void CopyText(char* to, std::size_t capacity, const std::string& text) {
    const std::size_t count = std::min(capacity - 1, text.size());
    std::memcpy(to, text.data(), count);
    to[count] = '\0';
}

}  // namespace

std::string UhidDevice::Unservable(const hid::virt::VirtualDeviceConfig& config,
                                   const std::string& where) {
    if (!config.schedule.empty()) {
        return where +
               ".schedule: not supported by zelk-uhid-device, which creates every device at its "
               "start (start the tool again to plug in another device)";
    }
    if (config.behaviour.reappearAsNewNode) {
        return where +
               ".behaviour.reappearAsNewNode: not supported by zelk-uhid-device (there a restart "
               "would remove the device for good; use unplugOnComplete)";
    }
    return {};
}

std::unique_ptr<UhidDevice> UhidDevice::Create(hid::virt::VirtualDeviceConfig config,
                                               const std::string& tag, std::string& error) {
    std::unique_ptr<UhidDevice> device(new UhidDevice);
    device->phys_ = "zelk-uhid-" + tag;
    if (config.interfaceNumber >= 0) {
        device->phys_ += "/input" + std::to_string(config.interfaceNumber);
    }
    device->featureLength_ = static_cast<std::size_t>(config.version.size) + 1;
    const std::string name = config.name.empty() ? "Zelk uhid earbud" : config.name;
    std::u16string path = hid::virt::VirtualDevicePath(config, 0);
    device->model_ = std::make_unique<hid::virt::VirtualDevice>(std::move(config), std::move(path));
    const std::vector<std::uint8_t>& descriptor = device->model_->DescriptorBytes();
    if (descriptor.empty() || descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        error = "the report descriptor is empty or too long for uhid";
        return nullptr;
    }
    device->numbered_ = DescriptorUsesReportIds(descriptor);
    device->session_ = device->model_->Connect().value_or(0);

    device->fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (device->fd_ < 0) {
        error = std::string("/dev/uhid: ") + std::strerror(errno) +
                (errno == ENOENT ? " (load the uhid module: modprobe uhid)" : "");
        return nullptr;
    }
    auto event = std::make_unique<uhid_event>();
    std::memset(event.get(), 0, sizeof *event);
    event->type = UHID_CREATE2;
    uhid_create2_req& create = event->u.create2;
    CopyText(reinterpret_cast<char*>(create.name), sizeof create.name, name);
    CopyText(reinterpret_cast<char*>(create.phys), sizeof create.phys, device->phys_);
    CopyText(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, tag);
    create.rd_size = static_cast<std::uint16_t>(descriptor.size());
    create.bus = BUS_USB;
    create.vendor = device->model_->Config().vendorId;
    create.product = device->model_->Config().productId;
    create.version = 0x0100;
    std::memcpy(create.rd_data, descriptor.data(), descriptor.size());
    if (!device->WriteEvent(event.get(), sizeof *event)) {
        error = std::string("UHID_CREATE2: ") + std::strerror(errno);
        return nullptr;
    }
    device->events_ = std::thread(&UhidDevice::EventLoop, device.get());
    device->input_ = std::thread(&UhidDevice::InputLoop, device.get());
    return device;
}

UhidDevice::~UhidDevice() {
    stop_ = true;
    if (events_.joinable()) {
        events_.join();
    }
    if (input_.joinable()) {
        input_.join();
    }
    if (fd_ >= 0) {
        if (!destroyed_) {
            uhid_event event{};
            event.type = UHID_DESTROY;
            WriteEvent(&event, sizeof event);
        }
        ::close(fd_);
    }
}

bool UhidDevice::WriteEvent(const void* event, std::size_t size) {
    std::lock_guard lock(writeMutex_);
    for (;;) {
        const ssize_t written = ::write(fd_, event, size);
        if (written >= 0) {
            return static_cast<std::size_t>(written) == size;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

std::string UhidDevice::WaitForNode(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const std::string wanted = "HID_PHYS=" + phys_ + "\n";
    do {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
            std::ifstream in(entry.path() / "device" / "uevent");
            std::stringstream text;
            text << in.rdbuf();
            if (text.str().find(wanted) == std::string::npos) {
                continue;
            }
            const std::string node = "/dev/" + entry.path().filename().string();
            struct stat info {};
            if (::stat(node.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
                return node;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    return {};
}

void UhidDevice::Destroy() {
    if (destroyed_.exchange(true)) {
        return;
    }
    model_->Unplug();
    uhid_event event{};
    event.type = UHID_DESTROY;
    WriteEvent(&event, sizeof event);
}

bool UhidDevice::SendInput(const std::vector<std::uint8_t>& report) {
    std::size_t skip = numbered_ ? 0 : 1;
    if (report.size() <= skip || report.size() - skip > UHID_DATA_MAX || destroyed_) {
        return false;
    }
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<std::uint16_t>(report.size() - skip);
    std::memcpy(event.u.input2.data, report.data() + skip, report.size() - skip);
    return WriteEvent(&event, sizeof event);
}

std::vector<std::vector<std::uint8_t>> UhidDevice::RawOutputs() const {
    std::lock_guard lock(outputsMutex_);
    return outputs_;
}

void UhidDevice::EventLoop() {
    auto event = std::make_unique<uhid_event>();
    while (!stop_) {
        pollfd wait{fd_, POLLIN, 0};
        const int ready = ::poll(&wait, 1, 50);
        if (ready <= 0 || (wait.revents & POLLIN) == 0) {
            continue;
        }
        std::memset(event.get(), 0, sizeof *event);
        if (::read(fd_, event.get(), sizeof *event) <= 0) {
            continue;
        }
        switch (event->type) {
            case UHID_OUTPUT: {
                const uhid_output_req& output = event->u.output;
                const std::size_t size = std::min<std::size_t>(output.size, UHID_DATA_MAX);
                {
                    std::lock_guard lock(outputsMutex_);
                    outputs_.emplace_back(output.data, output.data + size);
                }
                model_->WriteOutput(session_, output.data, size);
                break;
            }
            case UHID_GET_REPORT: {
                const uhid_get_report_req request = event->u.get_report;
                auto reply = std::make_unique<uhid_event>();
                std::memset(reply.get(), 0, sizeof *reply);
                reply->type = UHID_GET_REPORT_REPLY;
                reply->u.get_report_reply.id = request.id;
                std::vector<std::uint8_t> buffer(featureLength_, 0);
                buffer[0] = request.rnum;
                const bool ok = request.rtype == UHID_FEATURE_REPORT &&
                                featureLength_ <= UHID_DATA_MAX &&
                                model_->GetFeature(session_, buffer.data(), buffer.size());
                if (ok) {
                    reply->u.get_report_reply.size = static_cast<std::uint16_t>(buffer.size());
                    std::memcpy(reply->u.get_report_reply.data, buffer.data(), buffer.size());
                } else {
                    reply->u.get_report_reply.err = EIO;
                }
                WriteEvent(reply.get(), sizeof *reply);
                break;
            }
            case UHID_SET_REPORT: {
                // The model has no report the host may set.
                uhid_event reply{};
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = event->u.set_report.id;
                reply.u.set_report_reply.err = EIO;
                WriteEvent(&reply, sizeof reply);
                break;
            }
            default:
                break;  // START, STOP, OPEN, CLOSE: nothing to do
        }
    }
}

void UhidDevice::InputLoop() {
    std::vector<std::uint8_t> buffer(UHID_DATA_MAX + 1);
    while (!stop_) {
        std::size_t received = 0;
        const hid::HidReadResult result =
            model_->ReadInput(session_, buffer.data(), buffer.size(), received, 50);
        if (result == hid::HidReadResult::Data && received > 0) {
            SendInput(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + received));
        } else if (result == hid::HidReadResult::DeviceGone) {
            // The model pulled its own plug (a content rule): so does the kernel device.
            Destroy();
            return;
        }
    }
}

}  // namespace zelk::uhid
