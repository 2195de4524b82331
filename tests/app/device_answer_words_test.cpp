// A failed update says what the device itself answered: the reject reason of
// a refused offer, the content status of a failed block, any other offer
// answer, each by name, beside the fixed texts; English on the console, the
// interface's language in the log, and stable fields in the JSON result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run/json_lines_sink.h"
#include "app/run/run_messages.h"
#include "app/run/update_driver.h"
#include "app/text/text_encoding.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/app/captured_lines.h"
#include "tests/app/recording_desktop.h"
#include "tests/support/fast_wait_clock.h"

namespace zelk::app {
namespace {

using engine::UpdateError;

constexpr const char* kDualBankBud = R"([{ "id": "0x0F", "bank": 0, "version": "0x10003001" }])";
constexpr const char* kSingleBankBud = R"([{ "id": "0x0F", "bank": 2, "version": "0x10003001" }])";

struct AnswerRow {
    const char* name;
    const char* behaviour;  // the device file's "behaviour"
    const char* components = kDualBankBud;
    const char* updateLine;  // the fixed console text of the failed update
    const char* says;        // the sentence after it; empty: none
    const char* saysInLog;   // the same in Chinese; empty: none
    const char* field;       // the JSON result's field for the answer
    int code;
    const char* key;
    int block = -1;  // contentStatus only
};

const AnswerRow kRows[] = {
    {.name = "offer rejected: invalid component",
     .behaviour = R"({ "offerAnswers": [{ "status": "reject", "rejectReason": 1 }] })",
     .updateLine = "Update fail, rst 4.",
     .says = "The device rejected the offer: reason 0x01, invalid component.",
     .saysInLog = "\u8BBE\u5907\u62D2\u7EDD\u4E86\u66F4\u65B0\u8BF7\u6C42\uFF1A"
                  "\u539F\u56E0 0x01\uFF0C\u65E0\u6548\u7EC4\u4EF6\u3002",
     .field = "rejectReason",
     .code = 1,
     .key = "INVALID_COMPONENT"},
    {.name = "offer rejected for a vendor's reason",
     .behaviour = R"({ "offerAnswers": [{ "status": "reject", "rejectReason": 229 }] })",
     .updateLine = "Update fail, rst 4.",
     .says = "The device rejected the offer: reason 0xE5, vendor specific.",
     .saysInLog = "\u539F\u56E0 0xE5\uFF0C\u5382\u5546\u81EA\u5B9A\u4E49\u3002",
     .field = "rejectReason",
     .code = 0xE5,
     .key = "VENDOR_SPECIFIC"},
    {.name = "offer rejected for a reason the protocol does not define",
     .behaviour = R"({ "offerAnswers": [{ "status": "reject", "rejectReason": 66 }] })",
     .updateLine = "Update fail, rst 4.",
     .says = "The device rejected the offer: reason 0x42, unknown.",
     .saysInLog = "\u539F\u56E0 0x42\uFF0C\u672A\u77E5\u3002",
     .field = "rejectReason",
     .code = 0x42,
     .key = "UNKNOWN"},
    {.name = "single-bank bud refusing every offer: swap pending",
     .behaviour = R"({ "offerAnswers": [{ "status": "reject", "rejectReason": 2 }] })",
     .components = kSingleBankBud,
     .updateLine = "Update fail, no image was transferred, rst 0.",
     .says = "The device rejected the offer: reason 0x02, swap pending.",
     .saysInLog = "\u539F\u56E0 0x02\uFF0C\u7B49\u5F85\u5207\u6362\u3002",
     .field = "rejectReason",
     .code = 2,
     .key = "SWAP_PENDING"},
    {.name = "verify error at block 37, always",
     .behaviour = R"({ "contentScript": [{ "block": 37, "status": 4, "times": 0 }] })",
     .updateLine = "Update fail, rst 20.",
     .says = "The device reported content status 0x04 (verify error) for block 37.",
     .saysInLog = "\u8BBE\u5907\u62A5\u544A\u6570\u636E\u5757 37 "
                  "\u7684\u5185\u5BB9\u72B6\u6001 0x04\uFF08\u6821\u9A8C\u9519\u8BEF"
                  "\uFF09\u3002",
     .field = "contentStatus",
     .code = 4,
     .key = "VERIFY_ERROR",
     .block = 37},
    {.name = "write error at block 3",
     .behaviour = R"({ "contentScript": [{ "block": 3, "status": 2 }] })",
     .updateLine = "Update fail, rst 22.",
     .says = "The device reported content status 0x02 (write error) for block 3.",
     .saysInLog = "\u8BBE\u5907\u62A5\u544A\u6570\u636E\u5757 3 "
                  "\u7684\u5185\u5BB9\u72B6\u6001 0x02\uFF08\u5199\u5165\u9519\u8BEF"
                  "\uFF09\u3002",
     .field = "contentStatus",
     .code = 2,
     .key = "WRITE_ERROR",
     .block = 3},
    {.name = "busy for ever",
     .behaviour = R"({ "offerAnswers": ["busy"] })",
     .updateLine = "Update fail, rst 19.",
     .says = "The device answered the offer with status 0x03 (busy).",
     .saysInLog = "\u8BBE\u5907\u4EE5\u72B6\u6001 0x03\uFF08\u5FD9\uFF09\u5E94\u7B54"
                  "\u66F4\u65B0\u8BF7\u6C42\u3002",
     .field = "offerStatus",
     .code = 3,
     .key = "BUSY"},
    // A CRC error that a retry mended is not blamed for a later silence:
    // the last answer (block 29, success) says nothing more than the code.
    {.name = "error mended, then silence at block 30",
     .behaviour = R"({ "contentScript": [{ "block": 3, "status": 5 },
                                         { "block": 30, "silent": true, "times": 0 }] })",
     .updateLine = "Update fail, rst 23.",
     .says = "",
     .saysInLog = "",
     .field = "contentStatus",
     .code = 0,
     .key = "SUCCESS",
     .block = 29},
};

std::u16string Utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

std::string DeviceFile(const AnswerRow& row) {
    return std::string(R"({ "devices": [{ "vendorId": "0x320F", "productId": "0x5055",
        "interfaceNumber": 2, "components": )") +
           row.components + R"(, "behaviour": )" + row.behaviour + "}]}";
}

// The console line that begins with `text`, without its line end.
std::string LineOf(const std::string& out, const std::string& text) {
    const std::size_t at = out.find(text);
    if (at == std::string::npos) {
        return {};
    }
    return out.substr(at, out.find('\n', at) - at);
}

TEST(DeviceAnswerWords, AFailedUpdateNamesWhatTheDeviceAnswered) {
    for (const AnswerRow& row : kRows) {
        SCOPED_TRACE(row.name);
        std::vector<hid::virt::VirtualDeviceConfig> devices;
        std::string error;
        ASSERT_TRUE(hid::virt::ParseVirtualDevices(DeviceFile(row), row.name, devices, error))
            << error;
        hid::virt::VirtualHidBackend backend(std::move(devices));
        zelk::testing::FastWaitClock clock{1000};
        cfu::CfuLibrary library{backend, clock};
        RecordingDesktop desktop;
        CapturedLines lines;
        JsonLinesSink sink{lines.File()};
        UpdateDriver driver{desktop, library, clock};
        driver.SetEventSink(&sink);
        RunInput input{{0x320F, 0x5055, 0x0104, 0xFF0B, 2},
                       Utf16(ZELK_SAMPLE_OFFER),
                       Utf16(ZELK_SAMPLE_PAYLOAD),
                       ChooseLanguage(std::nullopt)};
        input.texts.ChineseUi = true;

        const RunOutcome outcome = driver.RunUpdate(input);
        EXPECT_FALSE(outcome.Success());
        EXPECT_EQ(outcome.failedStep, "Update");

        // The fixed text stays first; the device's words end its line.
        const std::string line = LineOf(desktop.Stdout(), row.updateLine);
        ASSERT_FALSE(line.empty()) << desktop.Stdout();
        const std::string says = row.says;
        if (says.empty()) {
            for (const char* sentence :
                 {"The device rejected", "The device reported", "The device answered"}) {
                EXPECT_EQ(line.find(sentence), std::string::npos) << line;
            }
        } else {
            EXPECT_TRUE(line.ends_with(". " + says)) << line;
        }

        if (!says.empty()) {
            bool logSays = false;
            for (const auto& entry : desktop.Log()) {
                logSays =
                    logSays || Utf16ToUtf8(entry.text).find(row.saysInLog) != std::string::npos;
            }
            EXPECT_TRUE(logSays);
        }

        const auto events = lines.Events();
        ASSERT_FALSE(events.empty());
        const nlohmann::json& result = events.back();
        ASSERT_EQ(result["event"], "result");
        ASSERT_TRUE(result.contains(row.field)) << result.dump();
        EXPECT_EQ(result[row.field]["code"], row.code);
        EXPECT_EQ(result[row.field]["name"], row.key);
        if (row.block >= 0) {
            EXPECT_EQ(result[row.field]["block"], row.block);
        }
        if (says.empty()) {
            EXPECT_FALSE(result.contains("deviceSays"));
        } else {
            EXPECT_EQ(result["deviceSays"], says);
        }
    }
}

// The edges of the protocol's code tables.
TEST(DeviceAnswerWords, CodesAtTheEdgesOfEachTable) {
    enum class Table { RejectReason, ContentStatus, OfferStatus };
    struct Edge {
        Table table;
        std::uint8_t code;
        const char* key;
    };
    const Edge edges[] = {
        {Table::RejectReason, 0x00, "OLD_FIRMWARE"},
        {Table::RejectReason, 0x08, "VARIANT"},
        {Table::RejectReason, 0x09, "UNKNOWN"},
        {Table::RejectReason, 0xDF, "UNKNOWN"},
        {Table::RejectReason, 0xE0, "VENDOR_SPECIFIC"},
        {Table::RejectReason, 0xFF, "VENDOR_SPECIFIC"},
        {Table::ContentStatus, 0x0B, "INVALID"},
        {Table::ContentStatus, 0x0C, "UNKNOWN"},
        {Table::ContentStatus, 0xFF, "UNKNOWN"},
        {Table::OfferStatus, 0x04, "COMMAND_READY"},
        {Table::OfferStatus, 0x05, "UNKNOWN"},
        {Table::OfferStatus, 0xFF, "NOT_SUPPORTED"},
    };
    for (const Edge& edge : edges) {
        SCOPED_TRACE(static_cast<int>(edge.code));
        switch (edge.table) {
            case Table::RejectReason:
                EXPECT_STREQ(RejectReasonKey(edge.code), edge.key);
                break;
            case Table::ContentStatus:
                EXPECT_STREQ(ContentStatusKey(edge.code), edge.key);
                break;
            case Table::OfferStatus:
                EXPECT_STREQ(OfferStatusKey(edge.code), edge.key);
                break;
        }
    }
}

// Each update tells its own answers: a second update on the same endpoint
// that hears nothing reports nothing seen, not the first one's rejection.
TEST(DeviceAnswerWords, OnlyTheAnswersOfTheLatestUpdateCount) {
    std::vector<hid::virt::VirtualDeviceConfig> devices;
    std::string error;
    ASSERT_TRUE(hid::virt::ParseVirtualDevices(
        R"({ "devices": [{ "vendorId": "0x320F", "productId": "0x5055", "interfaceNumber": 2,
             "components": [{ "id": "0x0F", "bank": 0, "version": "0x10003001" }],
             "behaviour": { "offerAnswers": [{ "status": "reject", "rejectReason": 3 },
                                             { "silent": true }] } }] })",
        "two updates", devices, error))
        << error;
    hid::virt::VirtualHidBackend backend(std::move(devices));
    zelk::testing::FastWaitClock clock{1000};
    cfu::CfuLibrary library{backend, clock};
    const engine::UpdateConfiguration config = RunConfigFor({0x320F, 0x5055, 0x0104, 0xFF0B, 2});
    library.SetConfig(config);
    library.Initialize(1);
    ASSERT_GT(library.MatchDevices(), 0);
    library.SetConfigEx(config);
    library.SetUpdateOptions({.ForceIgnoreVersion = true});
    ASSERT_EQ(library.StartAddImage(), UpdateError::Success);
    ASSERT_EQ(library.AddImage(Utf16(ZELK_SAMPLE_OFFER), Utf16(ZELK_SAMPLE_PAYLOAD)),
              UpdateError::Success);
    ASSERT_EQ(library.StopAddImage(), UpdateError::Success);
    cfu::EndpointHandle handle = cfu::kNoEndpoint;
    ASSERT_EQ(library.OpenDeviceEndpoint(library.InterfacePaths().front(), handle),
              UpdateError::Success);
    EXPECT_FALSE(library.LastDeviceAnswer(handle).OfferSeen);

    EXPECT_EQ(library.Update(handle), UpdateError::LastImageRejected);
    const cfu::DeviceAnswer first = library.LastDeviceAnswer(handle);
    EXPECT_TRUE(first.OfferSeen);
    EXPECT_EQ(first.OfferStatus, 0x02);
    EXPECT_EQ(first.RejectReason, 3);
    EXPECT_FALSE(first.ContentSeen);

    EXPECT_EQ(library.Update(handle), UpdateError::OfferNoResponse);
    const cfu::DeviceAnswer second = library.LastDeviceAnswer(handle);
    EXPECT_FALSE(second.OfferSeen);
    EXPECT_FALSE(DeviceAnswerTells(second));

    EXPECT_EQ(library.CloseDeviceEndpoint(handle), UpdateError::Success);
    EXPECT_FALSE(library.LastDeviceAnswer(handle).OfferSeen);
}

}  // namespace
}  // namespace zelk::app
