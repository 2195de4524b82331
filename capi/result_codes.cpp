#include "capi/result_codes.h"

#include <array>
#include <cstddef>
#include <utility>

namespace zelk::capi {
namespace {

using engine::UpdateError;

// Several values share a code: the C interface reports them as one.
constexpr std::pair<UpdateError, ResultCode> kCodes[] = {
    {UpdateError::Success, CFU_RESULT_SUCCESS},
    {UpdateError::PathListTooSmall, CFU_RESULT_REFUSED},
    {UpdateError::EndpointOpenFailed, CFU_RESULT_REFUSED},
    {UpdateError::EndpointAlreadyRegistered, CFU_RESULT_REFUSED},
    {UpdateError::EndpointNotRegistered, CFU_RESULT_REFUSED},
    {UpdateError::ListenerAlreadyRegistered, CFU_RESULT_REFUSED},
    {UpdateError::DescriptionFailed, CFU_RESULT_NOT_ANSWERED},
    {UpdateError::OfferRejected, CFU_RESULT_REFUSED},
    {UpdateError::DeviceStayedBusy, CFU_RESULT_REFUSED},
    {UpdateError::NoOfferAnswered, CFU_RESULT_NOT_ANSWERED},
    {UpdateError::SingleBankUnfinished, CFU_RESULT_SINGLE_BANK_UNFINISHED},
    {UpdateError::LastImageRejected, CFU_RESULT_LAST_IMAGE_REJECTED},
    {UpdateError::VersionQueryFailed, CFU_RESULT_VERSION_QUERY_FAILED},
    {UpdateError::UnknownComponent, CFU_RESULT_UNKNOWN_COMPONENT},
    {UpdateError::FamilyNotListed, CFU_RESULT_FAMILY_NOT_LISTED},
    {UpdateError::ImageListOpen, CFU_RESULT_IMAGE_LIST_OPEN},
    {UpdateError::ImageListNotOpen, CFU_RESULT_IMAGE_LIST_NOT_OPEN},
    {UpdateError::ImageFileUnusable, CFU_RESULT_IMAGE_FILE_UNUSABLE},
    {UpdateError::ImageListFull, CFU_RESULT_IMAGE_LIST_FULL},
    {UpdateError::ReportTooShort, CFU_RESULT_REPORT_TOO_SHORT},
    {UpdateError::NoImageForBank, CFU_RESULT_NO_IMAGE_FOR_BANK},
    {UpdateError::UpdateRunning, CFU_RESULT_UPDATE_RUNNING},
    {UpdateError::WrongImageCount, CFU_RESULT_WRONG_IMAGE_COUNT},
    {UpdateError::OfferSendFailed, CFU_RESULT_OFFER_SEND_FAILED},
    {UpdateError::OfferNoResponse, CFU_RESULT_OFFER_NO_RESPONSE},
    {UpdateError::OfferUnexpected, CFU_RESULT_OFFER_UNEXPECTED},
    {UpdateError::RepetitionLimit, CFU_RESULT_REPETITION_LIMIT},
    {UpdateError::ContentFailed, CFU_RESULT_CONTENT_FAILED},
    {UpdateError::ContentSequenceMismatch, CFU_RESULT_CONTENT_SEQUENCE_MISMATCH},
    {UpdateError::ContentWriteError, CFU_RESULT_CONTENT_WRITE_ERROR},
    {UpdateError::ContentNoResponse, CFU_RESULT_CONTENT_NO_RESPONSE},
    {UpdateError::ContentFailedIgnoringVersion, CFU_RESULT_CONTENT_FAILED_IGNORING_VERSION},
    {UpdateError::InternalError, CFU_RESULT_INTERNAL_ERROR},
    {UpdateError::DeviceBusyElsewhere, CFU_RESULT_DEVICE_BUSY_ELSEWHERE},
};

// Every value has its row, at its own index: a value added to the
// enumeration without a code stops the build here.
constexpr bool EveryValueInOrder() {
    if (std::size(kCodes) != static_cast<std::size_t>(UpdateError::Count)) {
        return false;
    }
    for (std::size_t i = 0; i < std::size(kCodes); ++i) {
        if (static_cast<std::size_t>(kCodes[i].first) != i) {
            return false;
        }
    }
    return true;
}
static_assert(EveryValueInOrder(), "every UpdateError needs its result code, in order");

}  // namespace

ResultCode ToResultCode(UpdateError error) {
    const auto index = static_cast<std::size_t>(error);
    return index < std::size(kCodes) ? kCodes[index].second : CFU_RESULT_INTERNAL_ERROR;
}

UpdateError ErrorOfCode(std::int64_t code) {
    for (const auto& [error, number] : kCodes) {
        if (number == code) {
            return error;
        }
    }
    return UpdateError::Count;
}

}  // namespace zelk::capi
