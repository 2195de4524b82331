// The fault matrix: device files and images of every kind of trouble, each
// row run through the library as the updater runs it. Every row ends with its
// own result in bounded time, and nothing ends as a success unless the flash
// holds the whole image.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "capi/c_library.h"
#include "capi/records.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "tests/support/fast_wait_clock.h"
#include "updatelib/update_config.h"
#include "zelk/cfu_result_codes.h"

namespace zelk::cfu {
namespace {

namespace fs = std::filesystem;

// Where a row ends.
enum class Step { NoDevice, Open, Update };

constexpr std::uint32_t kOldVersion = 0x10003001;
constexpr std::uint32_t kNewVersion = 0x10004002;

// A bud that runs bank 0 (the dual-bank policy), one running bank 2 (the
// single-bank policy) and a standard component (the standard policy).
constexpr const char* kDualBankBud = R"([{ "id": "0x0F", "bank": 0, "version": "0x10003001" }])";
constexpr const char* kSingleBankBud = R"([{ "id": "0x0F", "bank": 2, "version": "0x10003001" }])";
constexpr const char* kStandard = R"([{ "id": "0x00", "bank": 0, "version": "0x10003001" }])";

struct Row {
    const char* name;
    const char* behaviour = "{}";  // the device file's "behaviour" object
    const char* components = kDualBankBud;
    const char* reports = "{}";
    std::uint32_t records = 120;           // payload records of the image
    std::uint8_t offeredComponent = 0x0F;  // offer byte 2
    Step step = Step::Update;
    ResultCode result = CFU_RESULT_SUCCESS;
    bool versionApplied = true;  // for rows that end in success
    bool nothingSent = false;    // success without a transfer (every image refused)
};

// Shorthands for the device-file text of one rule or answer list.
#define OFFERS(list) R"({ "offerAnswers": )" list "}"
#define SCRIPT(list) R"({ "contentScript": )" list "}"

const Row kRows[] = {
    // Whole updates, including the image sizes at every boundary.
    {.name = "plain update"},
    {.name = "one-record image", .records = 1},
    {.name = "two-record image", .records = 2},
    {.name = "98-record image", .records = 98},
    {.name = "99-record image", .records = 99},
    {.name = "image whose sequence numbers wrap past 65535", .records = 65540},
    {.name = "device that never applies the version",
     .behaviour = R"({ "applyVersionOnComplete": false })",
     .versionApplied = false},

    // Unplugged at the first, a middle and the last block.
    {.name = "unplug at the first block",
     .behaviour = R"({ "unplugAtBlock": 0 })",
     .result = CFU_RESULT_CONTENT_FAILED},
    {.name = "unplug at a middle block",
     .behaviour = R"({ "unplugAtBlock": 60 })",
     .result = CFU_RESULT_CONTENT_FAILED},
    {.name = "unplug at the last block",
     .behaviour = R"({ "unplugAtBlock": 119 })",
     .result = CFU_RESULT_CONTENT_FAILED},

    // Silence.
    {.name = "silent device",
     .behaviour = R"({ "silent": true })",
     .result = CFU_RESULT_OFFER_NO_RESPONSE},
    {.name = "offers never answered",
     .behaviour = OFFERS(R"([{ "silent": true }])"),
     .result = CFU_RESULT_OFFER_NO_RESPONSE},
    {.name = "a block never answered",
     .behaviour = SCRIPT(R"([{ "block": 30, "silent": true, "times": 0 }])"),
     .result = CFU_RESULT_CONTENT_NO_RESPONSE},
    {.name = "the last block never answered",
     .behaviour = SCRIPT(R"([{ "block": 119, "silent": true, "times": 0 }])"),
     .result = CFU_RESULT_CONTENT_NO_RESPONSE},
    {.name = "a block lost once", .behaviour = SCRIPT(R"([{ "block": 30, "silent": true }])")},
    {.name = "the last block lost once",
     .behaviour = SCRIPT(R"([{ "block": 119, "silent": true }])")},

    // Late, duplicate, wrong-sequence and next-sequence answers.
    {.name = "late answer", .behaviour = SCRIPT(R"([{ "block": 10, "delayMs": 300 }])")},
    {.name = "late offer answer",
     .behaviour = OFFERS(R"([{ "status": "accept", "delayMs": 300 }, "accept"])")},
    {.name = "duplicate of the previous block's answer",
     .behaviour = SCRIPT(R"([{ "block": 6, "sequence": 5 }])")},
    {.name = "answer naming the next block",
     .behaviour = SCRIPT(R"([{ "block": 6, "sequence": 7 }])")},
    // Block 4's first answer comes late and names block 6 while block 5 is
    // lost (three times): the host must not take it for block 5's.
    {.name = "block lost while a late answer names the next block",
     .behaviour = SCRIPT(R"([{ "block": 5, "silent": true, "times": 3 },
                             { "block": 4, "delayMs": 40, "sequence": 6 }])")},
    {.name = "last block lost while a late answer names the one after",
     .behaviour = SCRIPT(R"([{ "block": 119, "silent": true, "times": 3 },
                             { "block": 118, "delayMs": 40, "sequence": 120 }])")},
    // A device that answers success for a block it did not store: the host
    // cannot tell, but the device finds the hole at the last block and the
    // update fails rather than ending with a hole.
    {.name = "block answered but not stored",
     .behaviour = SCRIPT(R"([{ "block": 5, "discard": true }])"),
     .result = CFU_RESULT_CONTENT_FAILED},
    {.name = "answers always name another block",
     .behaviour = SCRIPT(R"([{ "block": 6, "sequence": 4000, "times": 0 }])"),
     .result = CFU_RESULT_CONTENT_SEQUENCE_MISMATCH},
    {.name = "error answers always name another block",
     .behaviour = SCRIPT(R"([{ "block": 6, "status": 5, "sequence": 4000, "times": 0 }])"),
     .result = CFU_RESULT_CONTENT_SEQUENCE_MISMATCH},

    // Every offer status, and reject reasons.
    {.name = "offer skipped, then accepted", .behaviour = OFFERS(R"(["skip", "accept"])")},
    {.name = "offer skipped for ever",
     .behaviour = OFFERS(R"(["skip"])"),
     .result = CFU_RESULT_REPETITION_LIMIT},
    {.name = "offer rejected (old firmware)",
     .behaviour = OFFERS(R"([{ "status": "reject", "rejectReason": 0 }])"),
     .result = CFU_RESULT_LAST_IMAGE_REJECTED},
    {.name = "offer rejected (swap pending)",
     .behaviour = OFFERS(R"([{ "status": "reject", "rejectReason": 2 }])"),
     .result = CFU_RESULT_LAST_IMAGE_REJECTED},
    {.name = "offer rejected (wrong bank)",
     .behaviour = OFFERS(R"([{ "status": "reject", "rejectReason": 4 }])"),
     .result = CFU_RESULT_LAST_IMAGE_REJECTED},
    {.name = "offer for a component the device lacks",
     .offeredComponent = 0x33,
     .result = CFU_RESULT_LAST_IMAGE_REJECTED},
    {.name = "busy, then accepted", .behaviour = OFFERS(R"(["busy", "busy", "accept"])")},
    {.name = "busy for ever",
     .behaviour = OFFERS(R"(["busy"])"),
     .result = CFU_RESULT_REPETITION_LIMIT},
    {.name = "command ready, then accepted", .behaviour = OFFERS(R"(["commandReady", "accept"])")},
    {.name = "command ready for ever",
     .behaviour = OFFERS(R"(["commandReady"])"),
     .result = CFU_RESULT_OFFER_UNEXPECTED},
    {.name = "offer not supported",
     .behaviour = OFFERS(R"(["notSupported"])"),
     .result = CFU_RESULT_OFFER_UNEXPECTED},
    {.name = "unknown offer status",
     .behaviour = OFFERS(R"([126])"),
     .result = CFU_RESULT_OFFER_UNEXPECTED},

    // Every content status, once (retried) and always.
    {.name = "prepare error once", .behaviour = SCRIPT(R"([{ "block": 3, "status": 1 }])")},
    {.name = "write error once",
     .behaviour = SCRIPT(R"([{ "block": 3, "status": 2 }])"),
     .result = CFU_RESULT_CONTENT_WRITE_ERROR},
    {.name = "complete error once", .behaviour = SCRIPT(R"([{ "block": 119, "status": 3 }])")},
    {.name = "verify error once", .behaviour = SCRIPT(R"([{ "block": 119, "status": 4 }])")},
    {.name = "crc error once", .behaviour = SCRIPT(R"([{ "block": 3, "status": 5 }])")},
    {.name = "signature error once", .behaviour = SCRIPT(R"([{ "block": 3, "status": 6 }])")},
    {.name = "version error once", .behaviour = SCRIPT(R"([{ "block": 3, "status": 7 }])")},
    {.name = "swap pending once", .behaviour = SCRIPT(R"([{ "block": 3, "status": 8 }])")},
    {.name = "invalid address once", .behaviour = SCRIPT(R"([{ "block": 3, "status": 9 }])")},
    {.name = "no offer once", .behaviour = SCRIPT(R"([{ "block": 3, "status": 10 }])")},
    {.name = "invalid once", .behaviour = SCRIPT(R"([{ "block": 3, "status": 11 }])")},
    {.name = "crc error always",
     .behaviour = SCRIPT(R"([{ "block": 3, "status": 5, "times": 0 }])"),
     .result = CFU_RESULT_CONTENT_FAILED},
    {.name = "complete error always at the last block",
     .behaviour = SCRIPT(R"([{ "block": 119, "status": 3, "times": 0 }])"),
     .result = CFU_RESULT_CONTENT_FAILED},
    {.name = "write error always",
     .behaviour = SCRIPT(R"([{ "block": 3, "status": 2, "times": 0 }])"),
     .result = CFU_RESULT_CONTENT_WRITE_ERROR},

    // Write, open and descriptor faults; report lengths.
    {.name = "writes fail",
     .behaviour = R"({ "faults": { "writes": true } })",
     .result = CFU_RESULT_OFFER_SEND_FAILED},
    {.name = "open fails",
     .behaviour = R"({ "faults": { "open": true } })",
     .step = Step::NoDevice},
    {.name = "descriptor unreadable",
     .behaviour = R"({ "faults": { "descriptor": true } })",
     .step = Step::NoDevice},
    {.name = "output reports too short for a content block",
     .reports = R"({ "offer": { "size": 59 }, "content": { "size": 59 } })",
     .result = CFU_RESULT_REPORT_TOO_SHORT},
    // Answers that cannot carry their status: refused at open when the whole
    // input length is too short; a short content answer among longer input
    // reports is no answer (its missing status never reads as success).
    {.name = "input reports too short for an answer's status",
     .reports = R"({ "offerResponse": { "size": 4 }, "contentResponse": { "size": 4 } })",
     .result = CFU_RESULT_REPORT_TOO_SHORT},
    {.name = "content answer too short for its status",
     .reports = R"({ "contentResponse": { "size": 4 } })",
     .result = CFU_RESULT_CONTENT_NO_RESPONSE},

    // Version queries.
    {.name = "version query fails",
     .behaviour = R"({ "versionFailures": 1 })",
     .result = CFU_RESULT_VERSION_QUERY_FAILED},
    {.name = "version answer all zero",
     .behaviour = R"({ "versionAnswer": "zero" })",
     .result = CFU_RESULT_VERSION_QUERY_FAILED},
    {.name = "component not in the table",
     .components = R"([{ "id": "0x33", "version": "0x10003001" }])",
     .offeredComponent = 0x33,
     .result = CFU_RESULT_UNKNOWN_COMPONENT},

    // The other two policies.
    {.name = "single-bank bud", .components = kSingleBankBud},
    {.name = "single-bank bud, every offer rejected",
     .behaviour = OFFERS(R"(["reject"])"),
     .components = kSingleBankBud,
     .nothingSent = true},
    {.name = "single-bank bud, not supported",
     .behaviour = OFFERS(R"(["notSupported"])"),
     .components = kSingleBankBud,
     .result = CFU_RESULT_OFFER_UNEXPECTED},
    {.name = "single-bank bud, busy for ever",
     .behaviour = OFFERS(R"(["busy"])"),
     .components = kSingleBankBud,
     .result = CFU_RESULT_REPETITION_LIMIT},
    {.name = "single-bank bud, block lost for ever",
     .behaviour = SCRIPT(R"([{ "block": 30, "silent": true, "times": 0 }])"),
     .components = kSingleBankBud,
     .result = CFU_RESULT_CONTENT_NO_RESPONSE},
    {.name = "standard component", .components = kStandard, .offeredComponent = 0x00},
    {.name = "standard component, rejected",
     .behaviour = OFFERS(R"(["reject"])"),
     .components = kStandard,
     .offeredComponent = 0x00,
     .result = CFU_RESULT_REFUSED},
    {.name = "standard component, busy for ever",
     .behaviour = OFFERS(R"(["busy"])"),
     .components = kStandard,
     .offeredComponent = 0x00,
     .result = CFU_RESULT_REFUSED},
    {.name = "standard component, command ready",
     .behaviour = OFFERS(R"(["commandReady"])"),
     .components = kStandard,
     .offeredComponent = 0x00,
     .result = CFU_RESULT_OFFER_UNEXPECTED},
    {.name = "standard component, not supported",
     .behaviour = OFFERS(R"(["notSupported"])"),
     .components = kStandard,
     .offeredComponent = 0x00,
     .result = CFU_RESULT_OFFER_UNEXPECTED},
};

#undef OFFERS
#undef SCRIPT

std::string DeviceFile(const Row& row) {
    return std::string(R"({ "devices": [{ "vendorId": "0x320F", "productId": "0x5055",
        "interfaceNumber": 2, "components": )") +
           row.components + R"(, "reports": )" + row.reports + R"(, "behaviour": )" +
           row.behaviour + "}]}";
}

std::uint8_t DataByte(std::uint32_t record, std::size_t at) {
    return static_cast<std::uint8_t>(record * 13 + at * 5 + 1);
}

// The image's payload records, 52 bytes each, one after another from 0x8000.
std::vector<std::uint8_t> Payload(std::uint32_t records) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(records) * 57, 0);
    for (std::uint32_t k = 0; k < records; ++k) {
        std::uint8_t* record = bytes.data() + static_cast<std::size_t>(k) * 57;
        const std::uint32_t address = 0x8000 + k * 52;
        for (int b = 0; b < 4; ++b) {
            record[b] = static_cast<std::uint8_t>(address >> (8 * b));
        }
        record[4] = 52;
        for (std::size_t j = 0; j < 52; ++j) {
            record[5 + j] = DataByte(k, j);
        }
    }
    return bytes;
}

// What the flash must hold after the image went through: every record's data
// in place.
std::vector<std::uint8_t> WholeImage(std::uint32_t records) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(records) * 52);
    for (std::uint32_t k = 0; k < records; ++k) {
        for (std::size_t j = 0; j < 52; ++j) {
            bytes[static_cast<std::size_t>(k) * 52 + j] = DataByte(k, j);
        }
    }
    return bytes;
}

std::vector<std::uint8_t> Offer(std::uint8_t component) {
    std::vector<std::uint8_t> offer(16, 0);
    offer[1] = 0x01;  // image tag 1
    offer[2] = component;
    offer[3] = 0x5A;  // token
    for (int b = 0; b < 4; ++b) {
        offer[4 + b] = static_cast<std::uint8_t>(kNewVersion >> (8 * b));
    }
    offer[12] = 1 << 4;  // built for bank 1
    return offer;
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

struct Notifications {
    std::mutex mutex;
    std::vector<UpdateStatus> statuses;
    static Notifications*& Current() {
        static Notifications* current = nullptr;
        return current;
    }
    static std::int32_t Callback(std::uint64_t, const UpdateStatus* status) {
        if (Notifications* n = Current()) {
            std::lock_guard lock(n->mutex);
            n->statuses.push_back(*status);
        }
        return 0;
    }
    bool CompletionReported() {
        std::lock_guard lock(mutex);
        for (const UpdateStatus& status : statuses) {
            if (status.Percentage == 100 && status.Status == 0) {
                return true;
            }
        }
        return false;
    }
};

class FaultMatrix : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("zelk_matrix_" + std::to_string(random()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path dir_;
};

TEST_F(FaultMatrix, EveryRowEndsAsTabledAndOnlyAWholeImageIsASuccess) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        std::vector<hid::virt::VirtualDeviceConfig> devices;
        std::string error;
        ASSERT_TRUE(hid::virt::ParseVirtualDevices(DeviceFile(row), row.name, devices, error))
            << error;
        hid::virt::VirtualHidBackend backend(std::move(devices));
        zelk::testing::FastWaitClock clock;
        CfuLibrary core(backend, clock);
        capi::CLibrary library(core);
        Notifications notifications;
        Notifications::Current() = &notifications;

        const fs::path offerPath = dir_ / "offer.bin";
        const fs::path payloadPath = dir_ / "payload.bin";
        WriteFile(offerPath, Offer(row.offeredComponent));
        WriteFile(payloadPath, Payload(row.records));

        const auto start = std::chrono::steady_clock::now();
        UpdateConfig config = capi::ToRecord(DefaultUpdateConfig());
        config.VendorId = 0x320F;
        config.ProductId = 0x5055;
        config.CheckReportCaps = 1;
        library.SetConfig(config);
        library.Initialize(1);
        Step step = Step::NoDevice;
        ResultCode result = CFU_RESULT_SUCCESS;
        if (library.GetDeviceNumber() > 0) {
            library.SetConfigEx(config);
            library.SetUpdateOptions(UpdateOptions{1, 0, 0, 0});  // as the updater sets them
            ASSERT_EQ(library.StartAddImage(), CFU_RESULT_SUCCESS);
            ASSERT_EQ(library.AddImage(offerPath.u16string(), payloadPath.u16string()),
                      CFU_RESULT_SUCCESS);
            ASSERT_EQ(library.StopAddImage(), CFU_RESULT_SUCCESS);
            EndpointHandle handle = CFU_NO_ENDPOINT;
            step = Step::Open;
            result =
                library.OpenDeviceEndpoint(library.Library().InterfacePaths().front(), &handle);
            if (result == CFU_RESULT_SUCCESS) {
                step = Step::Update;
                library.RegisterUpdateStatusCallback(handle, &Notifications::Callback);
                result = library.Update(handle);
                EXPECT_EQ(library.CloseDeviceEndpoint(handle), CFU_RESULT_SUCCESS);
            }
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        Notifications::Current() = nullptr;

        EXPECT_EQ(step, row.step);
        EXPECT_EQ(result, row.result);
        // A guard against hangs, not a speed check: the waits run on the fast
        // clock, so a row that ends at all ends in a few seconds; sanitizers on
        // a loaded machine can stretch that several times over.
        EXPECT_LT(elapsed, std::chrono::seconds(120));

        hid::virt::VirtualDevice& device = backend.Device(0);
        const std::vector<std::uint8_t> whole = WholeImage(row.records);
        const bool flashWhole =
            device.CompletedTransfers() > 0 &&
            device.ReadFlash(row.offeredComponent, 0, whole.size() + 1) == whole;
        // No success, and no completion reported to the caller, unless the
        // device holds the whole image.
        if (notifications.CompletionReported()) {
            EXPECT_TRUE(flashWhole);
        }
        if (step == Step::Update && result == CFU_RESULT_SUCCESS && !row.nothingSent) {
            EXPECT_TRUE(flashWhole);
            EXPECT_TRUE(notifications.CompletionReported());
            EXPECT_EQ(device.ComponentVersion(row.offeredComponent),
                      row.versionApplied ? kNewVersion : kOldVersion);
        }
        if (row.nothingSent) {
            EXPECT_EQ(device.ContentBlockCount(), 0u);
            EXPECT_FALSE(notifications.CompletionReported());
        }
        if (result != CFU_RESULT_SUCCESS) {
            EXPECT_EQ(device.ComponentVersion(row.offeredComponent).value_or(kOldVersion),
                      kOldVersion);
        }
    }
}

}  // namespace
}  // namespace zelk::cfu
