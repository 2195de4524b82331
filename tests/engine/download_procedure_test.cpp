#include "engine/download_procedure.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"

namespace zelk::engine {
namespace {

using hid::virt::ContentRule;
using hid::virt::OfferAnswer;
using hid::virt::VirtualDeviceConfig;

constexpr std::uint64_t kNoHandle = ~std::uint64_t{0};

// Runs every wait `divisor` times faster than asked and remembers what was asked.
class FastClock final : public WaitClock {
  public:
    static constexpr std::uint32_t kSleepDivisor = 100;
    explicit FastClock(std::uint32_t divisor) : divisor_(divisor) {}

    bool WaitForEvent(hid::AutoResetEvent& event, std::uint32_t ms) override {
        {
            std::lock_guard lock(mutex_);
            waits_.push_back(ms);
        }
        return event.WaitFor(std::chrono::microseconds(std::uint64_t{ms} * 1000 / divisor_));
    }
    void SleepFor(std::uint32_t ms) override {
        {
            std::lock_guard lock(mutex_);
            sleeps_.push_back(ms);
        }
        // A pause never waits for an answer, so it may always run short.
        std::this_thread::sleep_for(std::chrono::microseconds(std::uint64_t{ms} * 1000 /
                                                              std::max(divisor_, kSleepDivisor)));
    }
    std::vector<std::uint32_t> Waits() const {
        std::lock_guard lock(mutex_);
        return waits_;
    }
    std::vector<std::uint32_t> Sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

  private:
    const std::uint32_t divisor_;
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> waits_;
    std::vector<std::uint32_t> sleeps_;
};

class TestEnvironment final : public EngineEnvironment {
  public:
    TestEnvironment(VirtualDeviceConfig device, std::uint32_t divisor)
        : backend_(std::vector<VirtualDeviceConfig>{std::move(device)}), clock_(divisor) {}

    hid::HidBackend& Backend() override { return backend_; }
    WaitClock& Clock() override { return clock_; }
    FastClock& TestClock() { return clock_; }
    std::int32_t DeviceFamily() const override { return family; }
    UpdateOptions Options() const override { return options; }
    const ImageEntries& Images() const override { return images; }
    void DeviceBusy(std::uint64_t, std::uint64_t waitMs) override { busyNotices.push_back(waitMs); }

    hid::virt::VirtualDevice& Device() { return backend_.Device(0); }
    const FastClock& Waits() const { return clock_; }

    std::int32_t family = 1;
    UpdateOptions options{};
    ImageEntries images;
    std::vector<std::uint64_t> busyNotices;  // the bound of each Busy notice

  private:
    hid::virt::VirtualHidBackend backend_;
    FastClock clock_;
};

hid::ReportLayout ReportOf(std::uint16_t usage, std::uint32_t type, std::uint8_t id = 0,
                           std::uint16_t length = 0) {
    hid::ReportLayout report;
    report.Usage = usage;
    report.ReportType = static_cast<hid::HidReportType>(type);
    report.ReportId = id;
    report.ReportLength = length;
    return report;
}

// Reports resolved from the device's capabilities.
UpdateConfiguration CapsConfig() {
    UpdateConfiguration config;
    config.CheckReportCaps = true;
    config.VersionReport = ReportOf(0x62, 2);
    config.OfferResponseReport = ReportOf(0x8A, 0);
    config.ContentResponseReport = ReportOf(0x66, 0);
    config.OfferReport = ReportOf(0x8E, 1);
    config.ContentReport = ReportOf(0x61, 1);
    return config;
}

// The default earbud's reports, given rather than resolved.
UpdateConfiguration GivenConfig() {
    UpdateConfiguration config = CapsConfig();
    config.CheckReportCaps = false;
    config.VersionReport = ReportOf(0x62, 2, 0x20, 61);
    config.OfferResponseReport = ReportOf(0x8A, 0, 0x24, 17);
    config.ContentResponseReport = ReportOf(0x66, 0, 0x22, 17);
    config.OfferReport = ReportOf(0x8E, 1, 0x23, 61);
    config.ContentReport = ReportOf(0x61, 1, 0x21, 61);
    return config;
}

struct Notification {
    std::uint64_t endpoint;
    std::uint8_t percentage;
    std::uint32_t status;
    std::uint16_t imageTag;
    std::size_t blocksSent;  // content blocks the device had taken by then
};

// Hears the procedure's progress with the device's count of blocks by then.
struct Recorder final : ProgressListener {
    void OnProgress(std::uint64_t endpoint, const UpdateProgress& progress) override {
        notifications.push_back({endpoint, progress.Percentage,
                                 static_cast<std::uint32_t>(progress.Status), progress.ImageTag,
                                 device->ContentBlockCount()});
    }
    hid::virt::VirtualDevice* device = nullptr;
    std::vector<Notification> notifications;
};

struct RigOptions {
    std::int32_t family = 1;
    // Answers come in microseconds; a wait only runs out on a device that
    // does not answer, so exact counts are checked with real-time waits.
    std::uint32_t divisor = 1;
    UpdateConfiguration config = CapsConfig();
};

// One virtual device, its environment and a procedure on it.
struct Rig {
    explicit Rig(VirtualDeviceConfig device, RigOptions options = {})
        : env(std::move(device), options.divisor), procedure(env, options.config, kReadWaitMs) {
        env.family = options.family;
        recorder.device = &env.Device();
    }
    ~Rig() {
        procedure.EnableTransfer(false);
        procedure.CloseDevice();
    }

    int Open() { return procedure.OpenDevice(env.Device().Path(), &handle); }
    // Opened, reading and reporting progress.
    void Start() {
        ASSERT_EQ(Open(), 0);
        ASSERT_TRUE(procedure.RegisterListener(&recorder));
        procedure.EnableTransfer(true);
    }
    hid::virt::VirtualDevice& Device() { return env.Device(); }
    std::vector<std::uint8_t> Written(std::size_t index) {
        const auto written = Device().WrittenReports();
        return index < written.size() ? written[index] : std::vector<std::uint8_t>{};
    }

    static constexpr std::uint32_t kReadWaitMs = 10;
    TestEnvironment env;
    CDownloadProcedure procedure;
    Recorder recorder;
    std::uint64_t handle = 0;
};

VirtualDeviceConfig Earbud(std::uint8_t componentId = 0x0F, std::uint8_t bank = 0) {
    VirtualDeviceConfig device = hid::virt::DefaultEarbud();
    device.components.front().id = componentId;
    device.components.front().bank = bank;
    return device;
}

// Content rules: `times` arrivals of `block` (0: all of them).
ContentRule Answer(std::uint16_t block, std::uint32_t times, std::uint8_t status,
                   std::optional<std::uint16_t> sequence = std::nullopt) {
    ContentRule rule;
    rule.block = block;
    rule.times = times;
    rule.status = status;
    rule.sequence = sequence;
    return rule;
}
ContentRule Late(std::uint16_t block, std::uint32_t times, std::uint32_t delayMs) {
    ContentRule rule = Answer(block, times, 0);
    rule.delayMs = delayMs;
    return rule;
}
ContentRule Silent(std::uint16_t block, std::uint32_t times) {
    ContentRule rule = Answer(block, times, 0);
    rule.silent = true;
    return rule;
}
ContentRule Unplug(std::uint16_t block) {
    ContentRule rule = Answer(block, 1, 0);
    rule.unplug = true;
    return rule;
}

struct ImageShape {
    std::uint8_t tag = 1;
    std::uint8_t bank = 0;
    std::uint32_t records = 3;
    std::uint32_t firstAddress = 0x1000;
    std::uint8_t component = 0x0F;
};

constexpr std::uint32_t kImageVersion = 0x10003002;

std::uint8_t DataByte(std::uint32_t record, std::size_t at, std::uint8_t tag) {
    return static_cast<std::uint8_t>(record * 31 + at * 7 + tag);
}

std::unique_ptr<ImageEntry> MakeImage(const ImageShape& shape) {
    auto image = std::make_unique<ImageEntry>();
    image->OfferBank = shape.bank;
    image->OfferSize = 16;
    image->Offer.assign(16, 0);
    image->Offer[1] = shape.tag;
    image->Offer[2] = shape.component;
    image->Offer[3] = 0x5A;
    WriteLe32(image->Offer.data() + 4, kImageVersion);
    image->Offer[12] = static_cast<std::uint8_t>(shape.bank << 4);
    image->RecordCount = shape.records;
    image->Records.assign(shape.records * kPayloadRecordSize, 0);
    for (std::uint32_t k = 0; k < shape.records; ++k) {
        std::uint8_t* record = image->Records.data() + k * kPayloadRecordSize;
        WriteLe32(record, shape.firstAddress + k * static_cast<std::uint32_t>(kPayloadDataSize));
        record[4] = static_cast<std::uint8_t>(kPayloadDataSize);
        for (std::size_t j = 0; j < kPayloadDataSize; ++j) {
            record[5 + j] = DataByte(k, j, shape.tag);
        }
    }
    return image;
}

// Offers `image` and sends its content, as a policy would after an acceptance.
ContentResult Transfer(Rig& rig, const ImageEntry& image) {
    EXPECT_EQ(rig.procedure.SendOffer(image.Offer.data(), 16), OfferResult::Accepted);
    return rig.procedure.SendContent(image.Records.data(),
                                     static_cast<std::int32_t>(image.RecordCount));
}

std::vector<std::uint8_t> Percentages(const Rig& rig) {
    std::vector<std::uint8_t> out;
    for (const Notification& n : rig.recorder.notifications) {
        out.push_back(n.percentage);
    }
    return out;
}

// --- Opening and the version report --------------------------------------

TEST(DownloadProcedure, OpenResolvesTheFiveReportsFromTheDevice) {
    Rig rig(Earbud());
    ASSERT_EQ(rig.Open(), 0);
    EXPECT_NE(rig.handle, kNoHandle);
    EXPECT_EQ(rig.procedure.EndpointHandle(), rig.handle);
    const UpdateConfiguration& config = rig.procedure.Config();
    struct Expect {
        hid::ReportLayout report;
        std::uint8_t id;
        std::uint16_t length;
    };
    const Expect expected[] = {{config.VersionReport, 0x20, 61},
                               {config.OfferResponseReport, 0x24, 17},
                               {config.ContentResponseReport, 0x22, 17},
                               {config.OfferReport, 0x23, 61},
                               {config.ContentReport, 0x21, 61}};
    for (const Expect& e : expected) {
        const std::uint16_t usage = e.report.Usage;
        const std::uint16_t length = e.report.ReportLength;
        EXPECT_EQ(e.report.ReportId, e.id) << "usage " << usage;
        EXPECT_EQ(length, e.length) << "usage " << usage;
    }
    rig.procedure.CloseDevice();
    EXPECT_EQ(rig.procedure.EndpointHandle(), kNoHandle);
}

TEST(DownloadProcedure, FailedOpenLeavesNoEndpoint) {
    VirtualDeviceConfig unopenable = Earbud();
    unopenable.behaviour.faults.open = true;
    VirtualDeviceConfig noDescriptor = Earbud();
    noDescriptor.behaviour.faults.descriptor = true;
    VirtualDeviceConfig noContentReport = Earbud();
    noContentReport.content.usage = 0x71;

    {
        Rig rig(unopenable);
        EXPECT_EQ(rig.Open(), 1);
        EXPECT_EQ(rig.handle, kNoHandle);
        EXPECT_EQ(rig.procedure.EndpointHandle(), kNoHandle);
    }
    for (const VirtualDeviceConfig& device : {noDescriptor, noContentReport}) {
        Rig rig(device);
        EXPECT_EQ(rig.Open(), 1);
        EXPECT_NE(rig.handle, kNoHandle);  // open, but not resolved
        EXPECT_EQ(rig.procedure.EndpointHandle(), kNoHandle);
    }
    {
        // Given reports are not resolved, so nothing can fail after the open.
        Rig rig(noDescriptor, {.config = GivenConfig()});
        EXPECT_EQ(rig.Open(), 0);
        EXPECT_EQ(rig.procedure.EndpointHandle(), rig.handle);
    }
}

TEST(DownloadProcedure, ReadsTheFirmwareVersionReport) {
    Rig rig(Earbud());
    ASSERT_EQ(rig.Open(), 0);
    VersionResponse response{};
    ASSERT_EQ(rig.procedure.ReadFirmwareVersion(response.data()), 0);
    VersionResponse expected{};
    expected[0] = 0x20;
    expected[1] = 1;     // one component
    expected[4] = 0x02;  // protocol flags
    WriteLe32(expected.data() + 5, 0x10003001);
    expected[9] = 0x04;  // bank 0, bud role 1
    expected[10] = 0x0F;
    EXPECT_EQ(response, expected);
}

TEST(DownloadProcedure, VersionReadFailures) {
    VirtualDeviceConfig zero = Earbud();
    zero.behaviour.versionAnswer = hid::virt::VersionAnswer::Zero;
    VirtualDeviceConfig shortReport = Earbud();
    shortReport.version.size = 40;
    VirtualDeviceConfig failing = Earbud();
    failing.behaviour.versionFailures = 1;

    struct Case {
        const char* name;
        VirtualDeviceConfig device;
        int expected;
    };
    const Case cases[] = {
        {"zero words", zero, 3}, {"short report", shortReport, 2}, {"read fails", failing, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.device);
        ASSERT_EQ(rig.Open(), 0);
        VersionResponse response{};
        response.fill(0xEE);
        EXPECT_EQ(rig.procedure.ReadFirmwareVersion(response.data()), c.expected);
        if (c.expected == 3) {
            EXPECT_EQ(response[0], 0x20);  // the response is handed over all the same
            EXPECT_EQ(response[1], 1);
        }
    }

    // No version report length: nothing is asked of the device.
    UpdateConfiguration noLength = GivenConfig();
    noLength.VersionReport.ReportLength = 0;
    Rig rig(Earbud(), {.config = noLength});
    ASSERT_EQ(rig.Open(), 0);
    VersionResponse response{};
    EXPECT_EQ(rig.procedure.ReadFirmwareVersion(response.data()), 1);
    EXPECT_EQ(rig.Device().VersionQueryCount(), 0u);
}

TEST(DownloadProcedure, VersionQueryRetriesOnlyForFamilyZero) {
    struct Case {
        std::int32_t family;
        std::uint32_t failures;
        int expected;
        std::size_t queries;
    };
    const Case cases[] = {{0, 2, 0, 3}, {0, 3, 1, 3}, {0, 0, 0, 1}, {1, 1, 1, 1}, {1, 0, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "family " << c.family << " failures " << c.failures);
        VirtualDeviceConfig device = Earbud();
        device.behaviour.versionFailures = c.failures;
        Rig rig(device, {.family = c.family});
        ASSERT_EQ(rig.Open(), 0);
        VersionResponse response{};
        EXPECT_EQ(rig.procedure.QueryFirmwareVersion(response.data()), c.expected);
        EXPECT_EQ(rig.Device().VersionQueryCount(), c.queries);
    }
}

// --- Offers --------------------------------------------------------------

TEST(DownloadProcedure, OfferGoesOutWithTheCurrentOptionsForced) {
    Rig rig(Earbud());
    rig.Start();
    std::uint8_t offer[16];
    for (std::uint8_t i = 0; i < 16; ++i) {
        offer[i] = static_cast<std::uint8_t>(0x30 + i);
    }
    offer[1] = 0x45;   // immediate reset set in the file, tag 5
    offer[2] = 0x0F;   // the device's component
    offer[10] = 0x00;  // vendor flag clear in the file

    ASSERT_EQ(rig.procedure.SendOffer(offer, 16), OfferResult::Accepted);
    rig.env.options = {1, 0, 1, 0};
    ASSERT_EQ(rig.procedure.SendOffer(offer, 16), OfferResult::Accepted);
    ASSERT_EQ(rig.procedure.SendOffer(offer, 3), OfferResult::Accepted);

    for (std::size_t i = 0; i < 3; ++i) {
        const std::vector<std::uint8_t> report = rig.Written(i);
        ASSERT_EQ(report.size(), 61u) << i;
        std::vector<std::uint8_t> expected(61, 0);
        expected[0] = 0x23;
        const std::size_t length = i == 2 ? 3 : 16;
        std::copy(offer, offer + length, expected.begin() + 1);
        expected[2] = i == 0 ? 0x05 : 0x85;
        if (i != 0) {
            expected[11] = static_cast<std::uint8_t>(expected[11] | 0x04);
        }
        EXPECT_EQ(report, expected) << i;
    }
}

TEST(DownloadProcedure, OfferVerdicts) {
    auto answers = [](std::initializer_list<std::uint8_t> statuses) {
        std::vector<OfferAnswer> list;
        for (std::uint8_t s : statuses) {
            list.push_back(OfferAnswer{s, 0, 0, false});
        }
        return list;
    };
    struct Case {
        std::vector<OfferAnswer> answers;
        std::int32_t family;
        OfferResult expected;
        std::size_t offers;
    };
    const Case cases[] = {
        {answers({0x00}), 1, OfferResult::Skipped, 1},
        {answers({0x01}), 1, OfferResult::Accepted, 1},
        {answers({0x02}), 1, OfferResult::Rejected, 1},
        // Command-ready says the device is ready for an offer, not that it took
        // this one: the offer goes out again, and never leads to content.
        {answers({0x04, 0x01}), 1, OfferResult::Accepted, 2},
        {answers({0x04}), 1, OfferResult::UnexpectedStatus, 10},
        {answers({0xFF}), 1, OfferResult::NotSupported, 1},
        {answers({0x07}), 1, OfferResult::UnexpectedStatus, 1},
        {answers({0x03, 0x03, 0x01}), 1, OfferResult::Accepted, 3},
        {answers({0x03}), 1, OfferResult::Busy, 10},
        {answers({0x03}), 0, OfferResult::Busy, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "first status " << int{c.answers[0].status} << " family " << c.family);
        VirtualDeviceConfig device = Earbud();
        device.behaviour.offerAnswers = c.answers;
        Rig rig(device, {.family = c.family});
        rig.Start();
        const auto image = MakeImage({});
        EXPECT_EQ(rig.procedure.SendOffer(image->Offer.data(), 16), c.expected);
        EXPECT_EQ(rig.Device().OfferCount(), c.offers);
        // Between two busy answers the device is given the rest of the
        // attempt's 200 ms, never more: no flood, and no wait past the bound.
        std::size_t busyRepeats = 0;
        for (std::size_t i = 0; i + 1 < c.offers && i < c.answers.size(); ++i) {
            busyRepeats += c.answers[i].status == 0x03 ? 1 : 0;
        }
        if (c.answers.size() == 1 && c.answers[0].status == 0x03) {
            busyRepeats = c.offers - 1;
        }
        const std::vector<std::uint32_t> sleeps = rig.env.TestClock().Sleeps();
        EXPECT_EQ(sleeps.size(), busyRepeats);
        for (std::uint32_t ms : sleeps) {
            EXPECT_GT(ms, 100u);
            EXPECT_LE(ms, 200u);
        }
    }
}

TEST(DownloadProcedure, SilentDeviceGetsEveryAttemptThenNoResponse) {
    struct Case {
        std::int32_t family;
        std::uint8_t longWait;
        std::size_t attempts;
        std::uint32_t waitMs;
    };
    const Case cases[] = {{1, 0, 10, 200}, {0, 0, 20, 200}, {3, 1, 10, 2000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "family " << c.family << " long " << int{c.longWait});
        VirtualDeviceConfig device = Earbud();
        device.behaviour.silent = true;
        Rig rig(device, {.family = c.family, .divisor = 1000});
        rig.env.options.LongResponseWait = c.longWait;
        rig.Start();
        const auto image = MakeImage({});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(rig.procedure.SendOffer(image->Offer.data(), 16), OfferResult::NoResponse);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(rig.Device().WrittenReportCount(), c.attempts);
        EXPECT_EQ(rig.env.Waits().Waits(), std::vector<std::uint32_t>(c.attempts, c.waitMs));
    }
}

TEST(DownloadProcedure, AnswerThatCameBeforeTheOfferIsNotItsAnswer) {
    VirtualDeviceConfig device = Earbud();
    device.behaviour.silent = true;
    Rig rig(device, {.divisor = 50});
    rig.Start();
    const auto image = MakeImage({});

    // An offer answer nobody asked for, waiting to be read when the offer
    // goes out: it is read (and kept as the last answer) but is not the
    // offer's answer.
    std::vector<std::uint8_t> accept(17, 0);
    accept[0] = 0x24;
    accept[13] = 0x01;
    rig.Device().InjectInputReport(accept);
    EXPECT_EQ(rig.procedure.SendOffer(image->Offer.data(), 16), OfferResult::NoResponse);
    EXPECT_EQ(rig.procedure.LastAnswers().OfferStatus, 0x01);

    // A content answer arriving while an offer waits is no verdict on the offer.
    std::vector<std::uint8_t> content(17, 0);
    content[0] = 0x22;
    content[1] = 0x42;
    rig.Device().InjectInputReport(content, std::chrono::milliseconds(2));
    EXPECT_EQ(rig.procedure.SendOffer(image->Offer.data(), 16), OfferResult::NoResponse);
    EXPECT_EQ(rig.procedure.LastAnswers().Content.SequenceNumber, 0x42);
}

// --- Content -------------------------------------------------------------

TEST(DownloadProcedure, ContentCommandsCarryFlagsSequenceAndOffset) {
    struct Case {
        std::uint32_t records;
        std::vector<std::uint8_t> flags;
    };
    const Case cases[] = {{3, {0x80, 0x00, 0x40}}, {1, {0xC0}}, {2, {0x80, 0x40}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.records << " records");
        Rig rig(Earbud());
        rig.Start();
        const auto image = MakeImage({.records = c.records, .firstAddress = 0x1000});
        ASSERT_EQ(Transfer(rig, *image), ContentResult::Done);
        ASSERT_EQ(rig.Device().WrittenReportCount(), 1 + c.records);
        for (std::uint32_t k = 0; k < c.records; ++k) {
            const std::vector<std::uint8_t> report = rig.Written(1 + k);
            ASSERT_EQ(report.size(), 61u);
            EXPECT_EQ(report[0], 0x21);
            EXPECT_EQ(report[1], c.flags[k]) << k;
            EXPECT_EQ(report[2], 52);
            EXPECT_EQ(ReadLe16(&report[3]), k);
            EXPECT_EQ(ReadLe32(&report[5]), 0x34 * k);
            for (std::size_t j = 0; j < kPayloadDataSize; ++j) {
                ASSERT_EQ(report[9 + j], DataByte(k, j, 1)) << k << " " << j;
            }
        }
    }
}

TEST(DownloadProcedure, ProgressNotifications) {
    struct Case {
        std::uint32_t records;
        std::vector<std::uint8_t> percentages;
        std::vector<std::size_t> atBlock;  // blocks already sent at each notification
    };
    const Case cases[] = {
        {1, {100}, {1}},
        {2, {50, 100}, {1, 2}},
        {10, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.records << " records");
        Rig rig(Earbud());
        rig.Start();
        const auto image = MakeImage({.records = c.records});
        ASSERT_EQ(Transfer(rig, *image), ContentResult::Done);
        EXPECT_EQ(Percentages(rig), c.percentages);
        std::vector<std::size_t> atBlock;
        for (const Notification& n : rig.recorder.notifications) {
            atBlock.push_back(n.blocksSent);
            EXPECT_EQ(n.status, 0u);
            EXPECT_EQ(n.endpoint, rig.handle);
        }
        EXPECT_EQ(atBlock, c.atBlock);
    }
}

TEST(DownloadProcedure, LongPayloadAdvancesOnePercentPerStep) {
    Rig rig(Earbud());
    rig.Start();
    const auto image = MakeImage({.records = 3705});
    ASSERT_EQ(Transfer(rig, *image), ContentResult::Done);
    const auto& notifications = rig.recorder.notifications;
    ASSERT_EQ(notifications.size(), 100u);
    for (std::size_t k = 1; k <= 99; ++k) {
        EXPECT_EQ(notifications[k - 1].percentage, k);
        EXPECT_EQ(notifications[k - 1].blocksSent, 37 * k);
    }
    EXPECT_EQ(notifications.back().percentage, 100);
    EXPECT_EQ(notifications.back().blocksSent, 3705u);
}

TEST(DownloadProcedure, LateAnswerIsNotTakenForTheNextBlock) {
    // Block 0's first answer comes late, after its repeat was answered; block 1
    // is never answered. The late answer must not stand in for block 1's.
    VirtualDeviceConfig device = Earbud();
    device.behaviour.contentScript = {
        Late(0, 1, 60),
        Silent(1, 0),
    };
    Rig rig(device, {.divisor = 10});
    rig.Start();
    const auto image = MakeImage({.records = 3});
    EXPECT_EQ(Transfer(rig, *image), ContentResult::NoResponse);
    ASSERT_FALSE(rig.recorder.notifications.empty());
    EXPECT_EQ(rig.recorder.notifications.back().status, 13u);
}

TEST(DownloadProcedure, SuccessNamingAnotherBlockDoesNotCompleteTheBlockInFlight) {
    // Block 1's first answer names block 2: block 1 goes out again.
    VirtualDeviceConfig device = Earbud();
    device.behaviour.contentScript = {Answer(1, 1, 0, 2)};
    Rig rig(device);
    rig.Start();
    const auto image = MakeImage({.records = 3});
    EXPECT_EQ(Transfer(rig, *image), ContentResult::Done);
    EXPECT_EQ(rig.Device().ContentBlockCount(), 4u);
    EXPECT_EQ(ReadLe16(&rig.Written(3)[3]), 1u);  // the repeat of block 1

    // Answers that always name another block end the transfer as a mismatch.
    VirtualDeviceConfig always = Earbud();
    always.behaviour.contentScript = {Answer(1, 0, 0, 2)};
    Rig second(always);
    second.Start();
    EXPECT_EQ(Transfer(second, *image), ContentResult::SequenceMismatch);
    ASSERT_FALSE(second.recorder.notifications.empty());
    EXPECT_EQ(second.recorder.notifications.back().status, 11u);
}

// --- Whole updates -------------------------------------------------------

TEST(DownloadProcedureUpdate, FlashHoldsEveryRecordAfterwards) {
    Rig rig(Earbud());
    const ImageShape shape{.tag = 1, .records = 300, .firstAddress = 0x8000};
    rig.env.images.push_back(MakeImage(shape));
    rig.Start();
    ASSERT_EQ(rig.procedure.Update(), UpdateError::Success);
    EXPECT_EQ(rig.Device().CompletedTransfers(), 1u);
    EXPECT_EQ(rig.Device().ComponentVersion(0x0F), kImageVersion);
    const std::vector<std::uint8_t> flash =
        rig.Device().ReadFlash(0x0F, 0, shape.records * kPayloadDataSize);
    ASSERT_EQ(flash.size(), shape.records * kPayloadDataSize);
    for (std::uint32_t k = 0; k < shape.records; ++k) {
        for (std::size_t j = 0; j < kPayloadDataSize; ++j) {
            ASSERT_EQ(flash[k * kPayloadDataSize + j], DataByte(k, j, 1)) << k << " " << j;
        }
    }
    const UpdateProgress status = rig.procedure.CurrentStatus();
    EXPECT_EQ(status.Percentage, 100);
    EXPECT_EQ(status.Status, TransferStatus::Fine);
    EXPECT_EQ(rig.procedure.StoredVersionResponse()[10], 0x0F);
}

TEST(DownloadProcedureUpdate, FailuresEndWithTheirResult) {
    struct Case {
        const char* name;
        std::uint8_t componentId;
        std::int32_t family;
        std::vector<OfferAnswer> offers;
        std::vector<ContentRule> script;
        std::uint32_t divisor;
        UpdateError expected;
        std::optional<std::uint32_t> lastStatus;
    };
    const std::vector<OfferAnswer> busy{OfferAnswer{.status = 0x03}};
    const Case cases[] = {
        {"always busy, standard",
         0x00,
         0x1800,
         busy,
         {},
         1,
         UpdateError::DeviceStayedBusy,
         std::nullopt},
        {"content status 5", 0x0F, 1, {}, {Answer(0, 0, 5)}, 1, UpdateError::ContentFailed, 10},
        {"wrong sequence",
         0x0F,
         1,
         {},
         {Answer(0, 0, 5, 0x1234)},
         1,
         UpdateError::ContentSequenceMismatch,
         11},
        {"mismatch then matching failure: the last answer decides",
         0x0F,
         1,
         {},
         {Answer(1, 9, 5, 0x1234), Answer(1, 0, 5)},
         1,
         UpdateError::ContentFailed,
         10},
        {"write error", 0x0F, 1, {}, {Answer(1, 1, 2)}, 1, UpdateError::ContentWriteError, 12},
        {"content never answered",
         0x0F,
         1,
         {},
         {Silent(2, 0)},
         50,
         UpdateError::ContentNoResponse,
         13},
        {"one failed block is repeated",
         0x0F,
         1,
         {},
         {Answer(1, 1, 5)},
         1,
         UpdateError::Success,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualDeviceConfig device = Earbud(c.componentId, 0);
        device.behaviour.offerAnswers = c.offers;
        device.behaviour.contentScript = c.script;
        Rig rig(device, {.family = c.family, .divisor = c.divisor});
        rig.env.images.push_back(MakeImage({.bank = 1, .records = 4}));
        rig.Start();
        EXPECT_EQ(rig.procedure.Update(), c.expected);
        if (c.lastStatus) {
            ASSERT_FALSE(rig.recorder.notifications.empty());
            EXPECT_EQ(rig.recorder.notifications.back().status, *c.lastStatus);
        }
    }
}

// A busy device holds an update for a long time without a status: the
// environment hears it once per update, with the longest the update can wait
// (answer wait x attempts x images, x passes for the bud policies).
TEST(DownloadProcedureUpdate, ABusyDeviceIsToldOnceWithHowLongTheUpdateMayWait) {
    struct Case {
        const char* name;
        std::uint8_t componentId;
        std::int32_t family;
        std::vector<OfferAnswer> offers;
        UpdateError expected;
        std::vector<std::uint64_t> notices;
    };
    const OfferAnswer busy{.status = 0x03};
    const OfferAnswer accept{.status = 0x01};
    const Case cases[] = {
        {"standard, busy for ever",
         0x00,
         0x1800,
         {busy},
         UpdateError::DeviceStayedBusy,
         {200 * 10}},
        {"dual-bank bud, busy for ever",
         0x0F,
         1,
         {busy},
         UpdateError::RepetitionLimit,
         {200 * 10 * 50}},
        {"bud, busy twice then accepted",
         0x0F,
         1,
         {busy, busy, accept},
         UpdateError::Success,
         {200 * 10 * 50}},
        {"never busy", 0x0F, 1, {}, UpdateError::Success, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualDeviceConfig device = Earbud(c.componentId, 0);
        device.behaviour.offerAnswers = c.offers;
        Rig rig(device, {.family = c.family, .divisor = 50});
        rig.env.images.push_back(MakeImage({.bank = 1, .records = 4}));
        rig.Start();
        EXPECT_EQ(rig.procedure.Update(), c.expected);
        EXPECT_EQ(rig.env.busyNotices, c.notices);
    }
}

TEST(DownloadProcedureUpdate, UnplugMidTransferNeverSucceeds) {
    VirtualDeviceConfig device = Earbud();
    device.behaviour.contentScript = {Unplug(5)};
    Rig rig(device, {.divisor = 50});
    rig.env.images.push_back(MakeImage({.records = 20}));
    rig.Start();
    const UpdateError result = rig.procedure.Update();
    EXPECT_EQ(result,
              UpdateError::ContentFailed);  // the repeat of the lost block cannot be written
    EXPECT_FALSE(rig.Device().IsPlugged());
    EXPECT_LT(rig.procedure.CurrentStatus().Percentage, 100);
}

// A block that is never answered goes out once per attempt, each attempt
// waiting as long as an offer's would: 20 attempts for family 0, 10 for every
// other family, 2000 ms each with LongResponseWait.
TEST(DownloadProcedure, SilentContentGetsEveryAttemptThenNoResponse) {
    struct Case {
        std::int32_t family;
        std::uint8_t longWait;
        std::size_t attempts;
        std::uint32_t waitMs;
    };
    const Case cases[] = {{1, 0, 10, 200}, {0, 0, 20, 200}, {3, 0, 10, 200}, {1, 1, 10, 2000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "family " << c.family << " long " << int{c.longWait});
        VirtualDeviceConfig device = Earbud();
        device.behaviour.contentScript = {Silent(0, 0)};
        // The offer's answer must still reach the read thread within a
        // shortened attempt on a loaded machine: 4 ms (2000 / 50) at least.
        Rig rig(device, {.family = c.family, .divisor = 50});
        rig.env.options.LongResponseWait = c.longWait;
        rig.Start();
        const auto image = MakeImage({});
        ASSERT_EQ(rig.procedure.SendOffer(image->Offer.data(), 16), OfferResult::Accepted);
        const std::size_t offerWrites = rig.Device().WrittenReportCount();
        const std::size_t offerWaits = rig.env.Waits().Waits().size();
        EXPECT_EQ(rig.procedure.SendContent(image->Records.data(), 3), ContentResult::NoResponse);
        EXPECT_EQ(rig.Device().WrittenReportCount() - offerWrites, c.attempts);
        const auto waits = rig.env.Waits().Waits();
        EXPECT_EQ(std::vector<std::uint32_t>(
                      waits.begin() + static_cast<std::ptrdiff_t>(offerWaits), waits.end()),
                  std::vector<std::uint32_t>(c.attempts, c.waitMs));
        ASSERT_FALSE(rig.recorder.notifications.empty());
        EXPECT_EQ(rig.recorder.notifications.back().status,
                  static_cast<std::uint32_t>(ContentResult::NoResponse));
    }
}

// A content command that cannot be written ends the transfer with
// ContentFailed at once, and the callback hears nothing about it.
TEST(DownloadProcedure, FailedContentWriteEndsWithoutANotification) {
    VirtualDeviceConfig device = Earbud();
    device.behaviour.contentScript = {Unplug(1)};
    Rig rig(device, {.divisor = 10});
    rig.Start();
    const auto image = MakeImage({.records = 4});
    ASSERT_EQ(rig.procedure.SendOffer(image->Offer.data(), 16), OfferResult::Accepted);
    EXPECT_EQ(rig.procedure.SendContent(image->Records.data(), 4), ContentResult::ContentFailed);
    EXPECT_FALSE(rig.Device().IsPlugged());
    for (const Notification& n : rig.recorder.notifications) {
        EXPECT_EQ(n.status, 0u) << "a notification after the failed write";
    }
    EXPECT_LT(rig.procedure.CurrentStatus().Percentage, 100);
}

TEST(DownloadProcedureUpdate, ReportsTooShortForTheirCommandAreRefused) {
    UpdateConfiguration shortOffer = GivenConfig();
    shortOffer.OfferReport.ReportLength = 10;
    UpdateConfiguration shortContent = GivenConfig();
    shortContent.ContentReport.ReportLength = 60;
    VirtualDeviceConfig smallReports = Earbud();
    smallReports.offer.size = 10;
    smallReports.content.size = 10;
    VirtualDeviceConfig smallVersion = Earbud();
    smallVersion.version.size = 10;

    struct Case {
        const char* name;
        VirtualDeviceConfig device;
        UpdateConfiguration config;
        UpdateError expected;
    };
    const Case cases[] = {
        {"given offer length 10", Earbud(), shortOffer, UpdateError::ReportTooShort},
        {"given content length 60", Earbud(), shortContent, UpdateError::ReportTooShort},
        {"device with 10-byte offer and content reports", smallReports, CapsConfig(),
         UpdateError::ReportTooShort},
        {"device with a 10-byte version report", smallVersion, CapsConfig(),
         UpdateError::VersionQueryFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.device, {.config = c.config});
        rig.env.images.push_back(MakeImage({}));
        rig.Start();
        EXPECT_EQ(rig.procedure.Update(), c.expected);
        EXPECT_EQ(rig.Device().WrittenReportCount(), 0u);

        // Sent directly, the commands are refused the same way.
        if (c.expected == UpdateError::ReportTooShort) {
            const ImageEntry& image = *rig.env.images.front();
            const bool offerFits = rig.procedure.Config().OfferReport.ReportLength >= 17;
            EXPECT_EQ(rig.procedure.SendOffer(image.Offer.data(), 16),
                      offerFits ? OfferResult::Accepted : OfferResult::SendFailed);
            if (rig.procedure.Config().ContentReport.ReportLength < 61) {
                const std::size_t written = rig.Device().WrittenReportCount();
                EXPECT_EQ(rig.procedure.SendContent(image.Records.data(), 3),
                          ContentResult::ContentFailed);
                EXPECT_EQ(rig.Device().WrittenReportCount(), written);
            }
        }
    }
}

TEST(DownloadProcedureUpdate, PolicyFollowsComponentBankAndFamily) {
    struct Case {
        const char* name;
        std::uint8_t componentId;
        std::uint8_t bank;
        std::int32_t family;
        std::vector<std::uint8_t> imageBanks;  // image i has tag i + 1
        UpdateError expected;
        std::size_t offers;
        std::optional<std::uint8_t> lastOfferedBank;
        std::uint16_t imageTag;  // the status's tag afterwards
    };
    const Case cases[] = {
        {"single-bank bud", 0x0F, 2, 1, {0, 1}, UpdateError::SingleBankUnfinished, 2, 1, 2},
        {"dual-bank bud", 0x0F, 0, 1, {0, 1}, UpdateError::Success, 2, 1, 0xFFFF},
        {"bud of an unlisted family",
         0x0F,
         0,
         3,
         {0, 1},
         UpdateError::FamilyNotListed,
         0,
         std::nullopt,
         0xFFFF},
        {"second bud component, dual bank", 0x10, 1, 3, {0, 0}, UpdateError::Success, 2, 0, 0xFFFF},
        {"second bud component, single bank",
         0x10,
         2,
         3,
         {1},
         UpdateError::SingleBankUnfinished,
         1,
         1,
         1},
        {"second bud under family 1",
         0x10,
         0,
         1,
         {0, 1},
         UpdateError::FamilyNotListed,
         0,
         std::nullopt,
         0xFFFF},
        {"standard, running bank 0", 0x00, 0, 0x1800, {0, 1}, UpdateError::Success, 1, 1, 0xFFFF},
        {"standard, running bank 1", 0x00, 1, 1, {0, 1}, UpdateError::Success, 1, 0, 0xFFFF},
        {"any component, standard", 0xFF, 0, 0x0F, {1, 0}, UpdateError::Success, 1, 1, 0xFFFF},
        {"standard, no image for the bank",
         0x00,
         0,
         0x1800,
         {0, 0},
         UpdateError::NoImageForBank,
         0,
         std::nullopt,
         0xFFFF},
        {"standard, two images for the bank",
         0xA2,
         3,
         2,
         {0, 0},
         UpdateError::WrongImageCount,
         0,
         std::nullopt,
         0xFFFF},
        {"listed component outside the buds",
         0xA1,
         0,
         0x1000,
         {1},
         UpdateError::Success,
         1,
         1,
         0xFFFF},
        {"unknown component",
         0x55,
         0,
         1,
         {0, 1},
         UpdateError::UnknownComponent,
         0,
         std::nullopt,
         0xFFFF},
        {"bud of a family past the buds",
         0x0F,
         0,
         0x1000,
         {0, 1},
         UpdateError::FamilyNotListed,
         0,
         std::nullopt,
         0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualDeviceConfig device = Earbud(c.componentId, c.bank);
        // The device takes images only for a component it has; 0xFF names
        // none, so that device also carries the images' component.
        const std::uint8_t imageComponent = c.componentId == 0xFF ? 0x0F : c.componentId;
        if (c.componentId == 0xFF) {
            device.components.push_back({0x0F, 0, 0, 0x10003001, 0});
        }
        Rig rig(device, {.family = c.family});
        for (std::size_t i = 0; i < c.imageBanks.size(); ++i) {
            rig.env.images.push_back(MakeImage({.tag = static_cast<std::uint8_t>(i + 1),
                                                .bank = c.imageBanks[i],
                                                .component = imageComponent}));
        }
        rig.Start();
        EXPECT_EQ(rig.procedure.Update(), c.expected);
        EXPECT_EQ(rig.Device().OfferCount(), c.offers);
        if (c.lastOfferedBank) {
            ASSERT_TRUE(rig.Device().LastOffer().has_value());
            EXPECT_EQ(rig.Device().LastOffer()->bank, *c.lastOfferedBank);
        }
        EXPECT_EQ(std::uint16_t{rig.procedure.CurrentStatus().ImageTag}, c.imageTag);
    }
}

// --- Status callback -----------------------------------------------------

std::vector<std::pair<char, std::uint16_t>> g_calls;
struct NamedListener final : ProgressListener {
    explicit NamedListener(char letter) : name(letter) {}
    void OnProgress(std::uint64_t, const UpdateProgress& progress) override {
        g_calls.emplace_back(name, progress.ImageTag);
    }
    char name;
};

TEST(DownloadProcedure, CallbackRegistrationKeepsTheFirst) {
    Rig rig(Earbud());
    g_calls.clear();
    const UpdateProgress initial = rig.procedure.CurrentStatus();
    EXPECT_EQ(initial.Percentage, 0);
    EXPECT_EQ(initial.Status, TransferStatus::Fine);
    EXPECT_EQ(initial.ImageTag, 0xFFFF);

    NamedListener a('A');
    NamedListener b('B');
    EXPECT_TRUE(rig.procedure.RegisterListener(&a));
    EXPECT_FALSE(rig.procedure.RegisterListener(&b));
    rig.procedure.SetImageTag(5);
    rig.procedure.UnregisterListener();
    rig.procedure.SetImageTag(6);
    EXPECT_TRUE(rig.procedure.RegisterListener(&b));
    rig.procedure.SetImageTag(0x0F);
    const std::vector<std::pair<char, std::uint16_t>> expected{{'A', 5}, {'B', 0x0F}};
    EXPECT_EQ(g_calls, expected);
}

}  // namespace
}  // namespace zelk::engine
