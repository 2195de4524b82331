#include "app/run/run_messages.h"

#include <array>
#include <cstdio>

#include "app/run/update_driver.h"
#include "engine/update_error.h"

namespace zelk::app {
namespace {

// One code of the device: its key, English and Chinese words.
struct DeviceCode {
    const char* key;
    const char* english;
    const char* chinese;
};

constexpr DeviceCode kUnknownCode{"UNKNOWN", "unknown", "\u672A\u77E5"};

constexpr std::array<DeviceCode, 9> kRejectReasons{{
    {"OLD_FIRMWARE", "old firmware", "\u65E7\u56FA\u4EF6"},
    {"INVALID_COMPONENT", "invalid component", "\u65E0\u6548\u7EC4\u4EF6"},
    {"SWAP_PENDING", "swap pending", "\u7B49\u5F85\u5207\u6362"},
    {"MISMATCH", "mismatch", "\u4E0D\u5339\u914D"},
    {"BANK", "bank", "\u5206\u533A\u4E0D\u7B26"},
    {"PLATFORM", "platform", "\u5E73\u53F0\u4E0D\u7B26"},
    {"MILESTONE", "milestone", "\u91CC\u7A0B\u7891\u4E0D\u7B26"},
    {"INVALID_PROTOCOL_REVISION", "invalid protocol revision",
     "\u65E0\u6548\u534F\u8BAE\u7248\u672C"},
    {"VARIANT", "variant", "\u53D8\u4F53\u4E0D\u7B26"},
}};
constexpr DeviceCode kVendorReason{"VENDOR_SPECIFIC", "vendor specific",
                                   "\u5382\u5546\u81EA\u5B9A\u4E49"};
constexpr std::uint8_t kFirstVendorReason = 0xE0;

constexpr std::array<DeviceCode, 12> kContentStatuses{{
    {"SUCCESS", "success", "\u6210\u529F"},
    {"PREPARE_ERROR", "prepare error", "\u51C6\u5907\u9519\u8BEF"},
    {"WRITE_ERROR", "write error", "\u5199\u5165\u9519\u8BEF"},
    {"COMPLETE_ERROR", "complete error", "\u5B8C\u6210\u9519\u8BEF"},
    {"VERIFY_ERROR", "verify error", "\u6821\u9A8C\u9519\u8BEF"},
    {"CRC_ERROR", "CRC error", "CRC \u9519\u8BEF"},
    {"SIGNATURE_ERROR", "signature error", "\u7B7E\u540D\u9519\u8BEF"},
    {"VERSION_ERROR", "version error", "\u7248\u672C\u9519\u8BEF"},
    {"SWAP_PENDING", "swap pending", "\u7B49\u5F85\u5207\u6362"},
    {"INVALID_ADDRESS", "invalid address", "\u65E0\u6548\u5730\u5740"},
    {"NO_OFFER", "no offer", "\u65E0\u66F4\u65B0\u8BF7\u6C42"},
    {"INVALID", "invalid", "\u65E0\u6548"},
}};

constexpr std::array<DeviceCode, 5> kOfferStatuses{{
    {"SKIP", "skip", "\u8DF3\u8FC7"},
    {"ACCEPT", "accept", "\u63A5\u53D7"},
    {"REJECT", "reject", "\u62D2\u7EDD"},
    {"BUSY", "busy", "\u5FD9"},
    {"COMMAND_READY", "command ready", "\u547D\u4EE4\u5C31\u7EEA"},
}};
constexpr DeviceCode kOfferNotSupported{"NOT_SUPPORTED", "not supported", "\u4E0D\u652F\u6301"};
constexpr auto kOfferStatusAccept = static_cast<std::uint8_t>(engine::OfferStatus::Accept);
constexpr auto kOfferStatusReject = static_cast<std::uint8_t>(engine::OfferStatus::Reject);
constexpr auto kOfferStatusNotSupported =
    static_cast<std::uint8_t>(engine::OfferStatus::NotSupported);
constexpr std::uint8_t kContentStatusSuccess = engine::kContentStatusSuccess;

template <std::size_t N>
const DeviceCode& Lookup(const std::array<DeviceCode, N>& table, std::uint8_t code) {
    return code < N ? table[code] : kUnknownCode;
}

const DeviceCode& RejectReason(std::uint8_t reason) {
    return reason >= kFirstVendorReason ? kVendorReason : Lookup(kRejectReasons, reason);
}

const DeviceCode& OfferStatus(std::uint8_t status) {
    return status == kOfferStatusNotSupported ? kOfferNotSupported : Lookup(kOfferStatuses, status);
}

std::string Words(const DeviceCode& code, bool chinese) {
    return chinese ? code.chinese : code.english;
}

}  // namespace

std::string ResultMeaning(engine::UpdateError error, bool chinese) {
    return engine::ErrorMeaning(error,
                                chinese ? engine::Language::Chinese : engine::Language::English);
}

const char* OfferStatusKey(std::uint8_t status) {
    return OfferStatus(status).key;
}

const char* RejectReasonKey(std::uint8_t reason) {
    return RejectReason(reason).key;
}

const char* ContentStatusKey(std::uint8_t status) {
    return Lookup(kContentStatuses, status).key;
}

std::string OfferStatusWords(std::uint8_t status, bool chinese) {
    return Words(OfferStatus(status), chinese);
}

std::string RejectReasonWords(std::uint8_t reason, bool chinese) {
    return Words(RejectReason(reason), chinese);
}

std::string ContentStatusWords(std::uint8_t status, bool chinese) {
    return Words(Lookup(kContentStatuses, status), chinese);
}

bool DeviceAnswerTells(const cfu::DeviceAnswer& answer) {
    return (answer.ContentSeen && answer.ContentStatus != kContentStatusSuccess) ||
           (answer.OfferSeen && answer.OfferStatus != kOfferStatusAccept);
}

std::string DeviceAnswerText(const cfu::DeviceAnswer& answer, bool chinese) {
    char buffer[256];
    if (answer.ContentSeen && answer.ContentStatus != kContentStatusSuccess) {
        const std::string words = ContentStatusWords(answer.ContentStatus, chinese);
        if (chinese) {
            std::snprintf(buffer, sizeof buffer,
                          "\u8BBE\u5907\u62A5\u544A\u6570\u636E\u5757 %u "
                          "\u7684\u5185\u5BB9\u72B6\u6001 0x%02X\uFF08%s\uFF09\u3002",
                          static_cast<unsigned>(answer.ContentSequence),
                          static_cast<unsigned>(answer.ContentStatus), words.c_str());
        } else {
            std::snprintf(buffer, sizeof buffer,
                          "The device reported content status 0x%02X (%s) for block %u.",
                          static_cast<unsigned>(answer.ContentStatus), words.c_str(),
                          static_cast<unsigned>(answer.ContentSequence));
        }
        return buffer;
    }
    if (!answer.OfferSeen || answer.OfferStatus == kOfferStatusAccept) {
        return {};
    }
    if (answer.OfferStatus == kOfferStatusReject) {
        const std::string words = RejectReasonWords(answer.RejectReason, chinese);
        std::snprintf(buffer, sizeof buffer,
                      chinese ? "\u8BBE\u5907\u62D2\u7EDD\u4E86\u66F4\u65B0\u8BF7\u6C42"
                                "\uFF1A\u539F\u56E0 0x%02X\uFF0C%s\u3002"
                              : "The device rejected the offer: reason 0x%02X, %s.",
                      static_cast<unsigned>(answer.RejectReason), words.c_str());
        return buffer;
    }
    const std::string words = OfferStatusWords(answer.OfferStatus, chinese);
    std::snprintf(buffer, sizeof buffer,
                  chinese ? "\u8BBE\u5907\u4EE5\u72B6\u6001 0x%02X\uFF08%s\uFF09\u5E94"
                            "\u7B54\u66F4\u65B0\u8BF7\u6C42\u3002"
                          : "The device answered the offer with status 0x%02X (%s).",
                  static_cast<unsigned>(answer.OfferStatus), words.c_str());
    return buffer;
}

std::string NoMatchingDeviceText(const DeviceIdentity& identity, bool chinese) {
    char buffer[256];
    std::snprintf(
        buffer, sizeof buffer,
        chinese ? "\u6CA1\u6709\u5339\u914D\u7684 HID \u8BBE\u5907\uFF1AVID 0x%04X\uFF0CPID "
                  "0x%04X\uFF0C\u7528\u6CD5\u9875 0x%04X\uFF0C\u7528\u6CD5 "
                  "0x%04X\uFF0CMI %u\u3002"
                : "No HID device matches VID 0x%04X, PID 0x%04X, usage page 0x%04X, "
                  "usage 0x%04X, MI %u.",
        static_cast<unsigned>(identity.VendorId), static_cast<unsigned>(identity.ProductId),
        static_cast<unsigned>(identity.UsagePage), static_cast<unsigned>(identity.Usage),
        static_cast<unsigned>(identity.MiValue));
    return buffer;
}

std::string NoDeviceIdentityText(bool chinese) {
    return chinese ? "\u672A\u80FD\u8BFB\u53D6\u8BBE\u5907\u4FE1\u606F\uFF08\u7A0B\u5E8F"
                     "\u5185\u7684\u56FA\u4EF6\u5305\u6216\u4E34\u65F6\u6587\u4EF6\u5939"
                     "\u6709\u95EE\u9898\uFF0C\u89C1\u4E0A\u6587\uFF09\uFF0C\u672A\u67E5"
                     "\u627E\u8BBE\u5907\u3002"
                   : "No device information could be read (see above: the program's firmware "
                     "package or the temporary folder), so no device was searched for.";
}

std::string CannotOpenText(bool chinese) {
    return chinese ? "\u627E\u5230\u4E86\u5339\u914D\u7684\u8BBE\u5907\uFF0C\u4F46\u65E0\u6CD5"
                     "\u6253\u5F00\u5B83\u3002"
                   : "A matching device was found but cannot be opened.";
}

std::string NotOpenableText(bool chinese) {
    return chinese ? "\u6B64\u63A5\u53E3\u4E0E\u8BBE\u5907\u5339\u914D\uFF0C\u4F46\u65E0\u6CD5"
                     "\u6253\u5F00\u6216\u8BFB\u53D6\u5176\u63CF\u8FF0\uFF1B\u672A\u5411\u5176"
                     "\u53D1\u9001\u4EFB\u4F55\u5185\u5BB9\u3002"
                   : "This interface matches but cannot be opened or described; nothing was "
                     "sent to it.";
}

std::string DeviceBusyText(std::uint64_t waitMs, bool chinese) {
    const std::string seconds = std::to_string((waitMs + 999) / 1000);
    return chinese ? "\u8BBE\u5907\u6B63\u5FD9\uFF1B\u66F4\u65B0\u5C06\u7EE7\u7EED\u63D0\u4F9B"
                     "\u955C\u50CF\uFF0C\u6700\u591A\u7B49\u5F85 " +
                         seconds + " \u79D2\u540E\u653E\u5F03\u3002"
                   : "The device is busy; the update keeps offering the image for up to " +
                         seconds + " s before it gives up.";
}

std::string NothingTransferredText(bool chinese) {
    return chinese ? "\u8BBE\u5907\u672A\u63A5\u53D7\u4EFB\u4F55\u955C\u50CF\uFF0C\u672A\u66F4"
                     "\u65B0\u4EFB\u4F55\u5185\u5BB9\u3002"
                   : "The device took no image, so nothing was updated.";
}

std::string DeviceGoneText(bool chinese) {
    return chinese ? "\u8BBE\u5907\u5DF2\u4E0D\u5728\uFF08\u88AB\u62D4\u51FA\u6216\u91CD\u65B0"
                     "\u542F\u52A8\uFF09\u3002"
                   : "The device is gone (unplugged or restarted).";
}

std::string DowngradeText(const std::string& deviceVersion, const std::string& offeredVersion,
                          bool chinese) {
    return chinese ? "\u964D\u7EA7\uFF1A\u8BBE\u5907\u7684\u7248\u672C\u4E3A " + deviceVersion +
                         "\uFF1B\u63D0\u4F9B\u7684\u56FA\u4EF6\u662F\u8F83\u65E7\u7684\u7248"
                         "\u672C " +
                         offeredVersion + "\u3002"
                   : "Downgrade: the device has version " + deviceVersion +
                         "; the offered firmware is the older version " + offeredVersion + ".";
}

std::string OutcomeFailureText(const RunOutcome& outcome) {
    if (outcome.noDevice) {
        return "the device was not found";
    }
    if (outcome.cannotOpen && outcome.failedStep.empty()) {
        return NotOpenableText(false);
    }
    if (!outcome.reason.empty() && outcome.failedStep.empty()) {
        return outcome.reason;
    }
    if (outcome.failedStep.empty()) {
        if (outcome.Success()) {
            return "the version was not confirmed";
        }
        return "failed";
    }
    std::string text = outcome.failedStep + " fail, rst " + std::to_string(outcome.resultCode) +
                       " (" + engine::ErrorName(outcome.error) + ": " +
                       (outcome.error == engine::UpdateError::Success
                            ? NothingTransferredText(false)
                            : ResultMeaning(outcome.error, false) + ".") +
                       ")";
    if (DeviceAnswerTells(outcome.deviceAnswer)) {
        text += ' ';
        text += DeviceAnswerText(outcome.deviceAnswer, false);
    }
    if (outcome.deviceGone) {
        text += ' ';
        text += DeviceGoneText(false);
    }
    return text;
}

}  // namespace zelk::app
