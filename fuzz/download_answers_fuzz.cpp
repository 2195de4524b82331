// The device's answers as a download procedure meets them: a scripted device
// answers the version query with the first chunk of the input and every
// report written to it with the next chunk, delivered on the procedure's own
// read thread. Runs a version query, an offer and, when it is taken, three
// content blocks, and checks that every result is one the callers know.
// Waits are shortened so that a silent device costs little time.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/download_procedure.h"
#include "engine/engine_environment.h"
#include "fuzz/fuzz_support.h"
#include "hidtransport/report_descriptor.h"

namespace {

using zelk::fuzz::Require;
namespace hid = zelk::hid;
namespace engine = zelk::engine;

using Chunk = std::vector<std::uint8_t>;

// The built-in earbud's report descriptor: version 0x20, offer 0x23, offer
// response 0x24, content 0x21, content response 0x22.
const std::uint8_t kDescriptor[] = {
    0x06, 0x0b, 0xff, 0x0a, 0x04, 0x01, 0xa1, 0x01, 0x85, 0x20, 0x09, 0x62, 0x15, 0x00,
    0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x3c, 0xb1, 0x02, 0x85, 0x23, 0x09, 0x8e, 0x15,
    0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x3c, 0x91, 0x02, 0x85, 0x24, 0x09, 0x8a,
    0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x10, 0x81, 0x02, 0x85, 0x21, 0x09,
    0x61, 0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x3c, 0x91, 0x02, 0x85, 0x22,
    0x09, 0x66, 0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x10, 0x81, 0x02, 0xc0};

class ScriptedDevice final : public hid::HidBackend {
  public:
    ScriptedDevice(Chunk feature, std::deque<Chunk> answers)
        : feature_(std::move(feature)), answers_(std::move(answers)) {}

    int ListInterfaces(std::vector<std::u16string>& paths) override {
        paths = {kPath};
        return 0;
    }
    hid::HidHandle Open(std::u16string_view path, hid::HidOpenMode) override {
        return path == kPath ? 1 : hid::kInvalidHidHandle;
    }
    bool Close(hid::HidHandle handle) override { return handle == 1; }
    std::unique_ptr<hid::HidDescriptor> GetDescriptor(hid::HidHandle) override {
        std::string error;
        auto parsed = hid::ParseReportDescriptor(kDescriptor, sizeof kDescriptor, error);
        Require(parsed.size() == 1, "the earbud descriptor parses");
        return std::make_unique<hid::ParsedCollection>(std::move(parsed.front()));
    }
    bool SetOutputReport(hid::HidHandle, const std::uint8_t* report, std::size_t length) override {
        Require(report != nullptr && length > 0, "a written report has bytes");
        std::lock_guard lock(mutex_);
        if (!answers_.empty()) {
            if (!answers_.front().empty()) {
                pending_.push_back(std::move(answers_.front()));
                ready_.notify_all();
            }
            answers_.pop_front();
        }
        return true;
    }
    bool SetFeature(hid::HidHandle, const std::uint8_t*, std::size_t) override { return true; }
    bool GetFeature(hid::HidHandle, std::uint8_t* buffer, std::size_t length) override {
        if (feature_.empty()) {
            return false;  // the device does not answer the query
        }
        std::memset(buffer + 1, 0, length - 1);
        std::memcpy(buffer, feature_.data(), std::min(length, feature_.size()));
        return true;
    }
    hid::HidReadResult ReadInput(hid::HidHandle, std::uint8_t* buffer, std::size_t capacity,
                                 std::size_t& received, std::uint32_t timeoutMs) override {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !pending_.empty(); })) {
            received = 0;
            return hid::HidReadResult::TimedOut;
        }
        const Chunk report = std::move(pending_.front());
        pending_.pop_front();
        received = std::min(capacity, report.size());
        std::memcpy(buffer, report.data(), received);
        return hid::HidReadResult::Data;
    }

  private:
    static constexpr char16_t kPath[] = u"\\\\?\\HID#VID_320F&PID_5055&MI_02#fuzz";
    const Chunk feature_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk> answers_;
    std::deque<Chunk> pending_;
};

// Every wait a fiftieth of what was asked, at least 2 ms.
class ShortClock final : public zelk::WaitClock {
  public:
    bool WaitForEvent(hid::AutoResetEvent& event, std::uint32_t ms) override {
        return event.WaitFor(std::chrono::milliseconds(std::max<std::uint32_t>(ms / 50, 2)));
    }
    void SleepFor(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max<std::uint32_t>(ms / 50, 1)));
    }
};

class Environment final : public engine::EngineEnvironment {
  public:
    Environment(hid::HidBackend& backend, std::int32_t family, engine::UpdateOptions options)
        : backend_(backend), family_(family), options_(options) {}
    hid::HidBackend& Backend() override { return backend_; }
    zelk::WaitClock& Clock() override { return clock_; }
    std::int32_t DeviceFamily() const override { return family_; }
    engine::UpdateOptions Options() const override { return options_; }
    const engine::ImageEntries& Images() const override { return images_; }

  private:
    hid::HidBackend& backend_;
    ShortClock clock_;
    std::int32_t family_;
    engine::UpdateOptions options_;
    engine::ImageEntries images_;
};

hid::ReportLayout Report(std::uint16_t usage, std::uint32_t type, std::uint8_t id,
                         std::uint16_t length) {
    hid::ReportLayout report;
    report.Usage = usage;
    report.ReportType = static_cast<hid::HidReportType>(type);
    report.ReportId = id;
    report.ReportLength = length;
    return report;
}

bool Known(engine::OfferResult result) {
    return static_cast<std::int32_t>(result) >= 0 && static_cast<std::int32_t>(result) <= 7;
}

bool Known(engine::ContentResult result) {
    switch (result) {
        case engine::ContentResult::Done:
        case engine::ContentResult::ContentFailed:
        case engine::ContentResult::SequenceMismatch:
        case engine::ContentResult::WriteError:
        case engine::ContentResult::NoResponse:
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::ByteReader reader(data, size);
    const std::uint8_t setup = reader.Byte();
    const std::int32_t family = (setup & 3) == 3 ? -1 : setup & 3;
    const engine::UpdateOptions options{};
    // The answers: a length byte, then that many bytes; at most 64 of them.
    auto next = [&reader]() {
        Chunk chunk(reader.Byte() % 80);
        for (std::uint8_t& byte : chunk) {
            byte = reader.Byte();
        }
        return chunk;
    };
    Chunk feature = next();
    std::deque<Chunk> answers;
    while (reader.RestSize() > 0 && answers.size() < 64) {
        answers.push_back(next());
    }

    ScriptedDevice device(std::move(feature), std::move(answers));
    Environment env(device, family, options);
    engine::UpdateConfiguration config;
    config.VersionReport = Report(0x62, 2, 0x20, 61);
    config.OfferReport = Report(0x8E, 1, 0x23, 61);
    config.OfferResponseReport = Report(0x8A, 0, 0x24, 17);
    config.ContentReport = Report(0x61, 1, 0x21, 61);
    config.ContentResponseReport = Report(0x66, 0, 0x22, 17);
    if ((setup & 4) != 0) {
        config.ContentResponseReport.ReportId = 0x24;  // both answers on one ID
    }

    engine::CDownloadProcedure procedure(env, config, 2);
    std::uint64_t handle = 0;
    Require(procedure.OpenDevice(u"\\\\?\\HID#VID_320F&PID_5055&MI_02#fuzz", &handle) == 0,
            "the scripted device opens");
    procedure.EnableTransfer(true);
    std::uint8_t version[61] = {};
    const int query = procedure.QueryFirmwareVersion(version);
    Require(query >= 0 && query <= 3, "a version query result the callers know");

    const std::uint8_t offer[16] = {0x00, 0x00, 0x0F, 0x00, 0x01, 0x30, 0x00, 0x10,
                                    0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};
    const engine::OfferResult offered = procedure.SendOffer(offer, 16);
    Require(Known(offered), "an offer result the callers know");
    if (offered == engine::OfferResult::Accepted) {
        std::uint8_t records[3 * 57] = {};
        for (std::size_t i = 0; i < 3; ++i) {
            records[i * 57] = static_cast<std::uint8_t>(i * 52);
            records[i * 57 + 4] = 52;
        }
        Require(Known(procedure.SendContent(records, 3)), "a content result the callers know");
    }
    procedure.EnableTransfer(false);
    procedure.CloseDevice();
    return 0;
}
