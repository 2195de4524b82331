#include "engine/update_error.h"

#include <array>
#include <cstddef>

namespace zelk::engine {
namespace {

// The words of each documented result code, in English and Chinese.
struct CodeText {
    std::int32_t number;  // as the C interface documents it
    const char* name;
    const char* english;
    const char* chinese;
};

constexpr CodeText kSuccess{0, "CFU_RESULT_SUCCESS", "success", "\u6210\u529F"};
constexpr CodeText kRefused{
    1, "CFU_RESULT_REFUSED",
    "refused: the path list did not fit, the interface could not be opened, or the device "
    "rejected the offer or stayed busy",
    "\u88AB\u62D2\u7EDD\uFF1A\u63A5\u53E3\u65E0\u6CD5\u6253\u5F00\uFF0C\u6216\u8BBE\u5907\u62D2"
    "\u7EDD\u4E86\u66F4\u65B0\u6216\u4E00\u76F4\u5FD9"};
constexpr CodeText kNotAnswered{
    2, "CFU_RESULT_NOT_ANSWERED",
    "no answer: the device's description could not be read, or no offer was answered",
    "\u65E0\u5E94\u7B54\uFF1A\u65E0\u6CD5\u8BFB\u53D6\u8BBE\u5907\u63CF\u8FF0\uFF0C\u6216\u8BBE"
    "\u5907\u672A\u5E94\u7B54\u4EFB\u4F55\u66F4\u65B0\u8BF7\u6C42"};
constexpr CodeText kSingleBankUnfinished{
    3, "CFU_RESULT_SINGLE_BANK_UNFINISHED",
    "the single-bank update sent the image but did not finish every image",
    "\u5355\u5206\u533A\u66F4\u65B0\u5DF2\u53D1\u9001\u955C\u50CF\uFF0C\u4F46\u672A\u5B8C\u6210"
    "\u5168\u90E8\u955C\u50CF"};
constexpr CodeText kLastImageRejected{
    4, "CFU_RESULT_LAST_IMAGE_REJECTED", "the device rejected the offered image",
    "\u8BBE\u5907\u62D2\u7EDD\u4E86\u63D0\u4F9B\u7684\u955C\u50CF"};
constexpr CodeText kVersionQueryFailed{
    5, "CFU_RESULT_VERSION_QUERY_FAILED", "the device's firmware version could not be read",
    "\u65E0\u6CD5\u8BFB\u53D6\u8BBE\u5907\u7684\u56FA\u4EF6\u7248\u672C"};
constexpr CodeText kUnknownComponent{
    6, "CFU_RESULT_UNKNOWN_COMPONENT", "the device's component is not one this updater updates",
    "\u8BBE\u5907\u7684\u7EC4\u4EF6\u4E0D\u5728\u53EF\u66F4\u65B0\u8303\u56F4\u5185"};
constexpr CodeText kFamilyNotListed{
    7, "CFU_RESULT_FAMILY_NOT_LISTED", "the component is not updated in this device family",
    "\u8BE5\u8BBE\u5907\u7CFB\u5217\u4E0D\u66F4\u65B0\u6B64\u7EC4\u4EF6"};
constexpr CodeText kImageListOpen{8, "CFU_RESULT_IMAGE_LIST_OPEN",
                                  "the image list was already open",
                                  "\u955C\u50CF\u5217\u8868\u5DF2\u6253\u5F00"};
constexpr CodeText kImageListNotOpen{9, "CFU_RESULT_IMAGE_LIST_NOT_OPEN",
                                     "the image list was not open",
                                     "\u955C\u50CF\u5217\u8868\u672A\u6253\u5F00"};
constexpr CodeText kImageFileUnusable{
    10, "CFU_RESULT_IMAGE_FILE_UNUSABLE",
    "the offer or payload file cannot be used (missing, unreadable, empty or of the wrong size)",
    "\u66F4\u65B0\u6587\u4EF6\u65E0\u6CD5\u4F7F\u7528\uFF08\u7F3A\u5931\u3001\u4E0D\u53EF\u8BFB"
    "\u3001\u4E3A\u7A7A\u6216\u5927\u5C0F\u9519\u8BEF\uFF09"};
constexpr CodeText kImageListFull{11, "CFU_RESULT_IMAGE_LIST_FULL", "the image list is full",
                                  "\u955C\u50CF\u5217\u8868\u5DF2\u6EE1"};
constexpr CodeText kReportTooShort{
    12, "CFU_RESULT_REPORT_TOO_SHORT", "the device's reports are too short for the update",
    "\u8BBE\u5907\u7684\u62A5\u544A\u957F\u5EA6\u4E0D\u8DB3\u4EE5\u8FDB\u884C\u66F4\u65B0"};
constexpr CodeText kNoImageForBank{
    13, "CFU_RESULT_NO_IMAGE_FOR_BANK",
    "no image is meant for the bank the device is not running from",
    "\u6CA1\u6709\u9002\u7528\u4E8E\u8BBE\u5907\u5907\u7528\u5206\u533A\u7684\u955C\u50CF"};
constexpr CodeText kUpdateRunning{
    14, "CFU_RESULT_UPDATE_RUNNING", "refused while an update is running",
    "\u66F4\u65B0\u8FDB\u884C\u4E2D\uFF0C\u64CD\u4F5C\u88AB\u62D2\u7EDD"};
constexpr CodeText kWrongImageCount{15, "CFU_RESULT_WRONG_IMAGE_COUNT",
                                    "the wrong number of images for this device",
                                    "\u955C\u50CF\u6570\u91CF\u4E0E\u8BBE\u5907\u4E0D\u7B26"};
constexpr CodeText kOfferSendFailed{
    16, "CFU_RESULT_OFFER_SEND_FAILED", "the offer could not be written to the device",
    "\u65E0\u6CD5\u5411\u8BBE\u5907\u53D1\u9001\u66F4\u65B0\u8BF7\u6C42"};
constexpr CodeText kOfferNoResponse{17, "CFU_RESULT_OFFER_NO_RESPONSE",
                                    "the device did not answer the offer",
                                    "\u8BBE\u5907\u672A\u5E94\u7B54\u66F4\u65B0\u8BF7\u6C42"};
constexpr CodeText kOfferUnexpected{
    18, "CFU_RESULT_OFFER_UNEXPECTED",
    "the device answered the offer with a status it may not give",
    "\u8BBE\u5907\u4EE5\u610F\u5916\u7684\u72B6\u6001\u5E94\u7B54\u66F4\u65B0\u8BF7\u6C42"};
constexpr CodeText kRepetitionLimit{19, "CFU_RESULT_REPETITION_LIMIT",
                                    "the device kept putting the update off",
                                    "\u8BBE\u5907\u4E00\u76F4\u63A8\u8FDF\u66F4\u65B0"};
constexpr CodeText kContentFailed{
    20, "CFU_RESULT_CONTENT_FAILED",
    "the transfer failed: a block could not be written, or the device reported an error",
    "\u4F20\u8F93\u5931\u8D25\uFF1A\u6570\u636E\u5757\u65E0\u6CD5\u5199\u5165\uFF0C\u6216\u8BBE"
    "\u5907\u62A5\u544A\u9519\u8BEF"};
constexpr CodeText kContentSequenceMismatch{
    21, "CFU_RESULT_CONTENT_SEQUENCE_MISMATCH", "the device's answers kept naming another block",
    "\u8BBE\u5907\u7684\u5E94\u7B54\u4E00\u76F4\u6307\u5411\u5176\u4ED6\u6570\u636E\u5757"};
constexpr CodeText kContentWriteError{22, "CFU_RESULT_CONTENT_WRITE_ERROR",
                                      "the device reported a write error",
                                      "\u8BBE\u5907\u62A5\u544A\u5199\u5165\u9519\u8BEF"};
constexpr CodeText kContentNoResponse{
    23, "CFU_RESULT_CONTENT_NO_RESPONSE", "the device stopped answering during the transfer",
    "\u4F20\u8F93\u8FC7\u7A0B\u4E2D\u8BBE\u5907\u505C\u6B62\u5E94\u7B54"};
constexpr CodeText kContentFailedIgnoringVersion{
    24, "CFU_RESULT_CONTENT_FAILED_IGNORING_VERSION",
    "the transfer failed (single-bank update ignoring the version)",
    "\u4F20\u8F93\u5931\u8D25\uFF08\u5FFD\u7565\u7248\u672C\u7684\u5355\u5206\u533A\u66F4\u65B0"
    "\uFF09"};
constexpr CodeText kInternalError{25, "CFU_RESULT_INTERNAL_ERROR",
                                  "the update library failed inside",
                                  "\u66F4\u65B0\u5E93\u5185\u90E8\u9519\u8BEF"};
constexpr CodeText kDeviceBusyElsewhere{
    26, "CFU_RESULT_DEVICE_BUSY_ELSEWHERE", "another update is running on this device",
    "\u6B64\u8BBE\u5907\u4E0A\u6B63\u5728\u8FD0\u884C\u53E6\u4E00\u4E2A\u66F4\u65B0"};

// Indexed by UpdateError: the code each value is reported as.
constexpr std::array<const CodeText*, static_cast<std::size_t>(UpdateError::Count)> kTexts{{
    &kSuccess,                       // Success
    &kRefused,                       // PathListTooSmall
    &kRefused,                       // EndpointOpenFailed
    &kRefused,                       // ReportsNotResolved
    &kRefused,                       // EndpointAlreadyRegistered
    &kRefused,                       // EndpointNotRegistered
    &kRefused,                       // ListenerAlreadyRegistered
    &kNotAnswered,                   // DescriptionFailed
    &kRefused,                       // OfferRejected
    &kRefused,                       // DeviceStayedBusy
    &kNotAnswered,                   // NoOfferAnswered
    &kSingleBankUnfinished,          // SingleBankUnfinished
    &kLastImageRejected,             // LastImageRejected
    &kVersionQueryFailed,            // VersionQueryFailed
    &kUnknownComponent,              // UnknownComponent
    &kFamilyNotListed,               // FamilyNotListed
    &kImageListOpen,                 // ImageListOpen
    &kImageListNotOpen,              // ImageListNotOpen
    &kImageFileUnusable,             // ImageFileUnusable
    &kImageListFull,                 // ImageListFull
    &kReportTooShort,                // ReportTooShort
    &kNoImageForBank,                // NoImageForBank
    &kUpdateRunning,                 // UpdateRunning
    &kWrongImageCount,               // WrongImageCount
    &kOfferSendFailed,               // OfferSendFailed
    &kOfferNoResponse,               // OfferNoResponse
    &kOfferUnexpected,               // OfferUnexpected
    &kRepetitionLimit,               // RepetitionLimit
    &kContentFailed,                 // ContentFailed
    &kContentSequenceMismatch,       // ContentSequenceMismatch
    &kContentWriteError,             // ContentWriteError
    &kContentNoResponse,             // ContentNoResponse
    &kContentFailedIgnoringVersion,  // ContentFailedIgnoringVersion
    &kInternalError,                 // InternalError
    &kDeviceBusyElsewhere,           // DeviceBusyElsewhere
}};

const CodeText* TextOf(UpdateError error) {
    const auto index = static_cast<std::size_t>(error);
    return index < kTexts.size() ? kTexts[index] : nullptr;
}

}  // namespace

std::int32_t ErrorNumber(UpdateError error) {
    const CodeText* text = TextOf(error);
    return text != nullptr ? text->number : kInternalError.number;
}

const char* ErrorName(UpdateError error) {
    const CodeText* text = TextOf(error);
    return text != nullptr ? text->name : "CFU_RESULT_UNKNOWN";
}

std::string ErrorMeaning(UpdateError error, Language language) {
    const bool chinese = language == Language::Chinese;
    const CodeText* text = TextOf(error);
    if (text == nullptr) {
        return chinese ? "\u672A\u77E5\u7684\u7ED3\u679C\u4EE3\u7801"
                       : "a result code this program does not know";
    }
    return chinese ? text->chinese : text->english;
}

}  // namespace zelk::engine
