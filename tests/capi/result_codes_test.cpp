// Every value of the library's error enumeration against the documented code
// the C interface reports it as, and the name the programs print for it.
#include "capi/result_codes.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "engine/update_error.h"

namespace zelk::capi {
namespace {

using engine::UpdateError;

struct CodeRow {
    UpdateError error;
    ResultCode code;
    const char* codeName;  // as zelk/cfu_result_codes.h spells it
};

#define ROW(error, code)                \
    CodeRow {                           \
        UpdateError::error, code, #code \
    }

// clang-format off
const CodeRow kRows[] = {
    ROW(Success,                      CFU_RESULT_SUCCESS),
    ROW(PathListTooSmall,             CFU_RESULT_REFUSED),
    ROW(EndpointOpenFailed,           CFU_RESULT_REFUSED),
    ROW(ReportsNotResolved,           CFU_RESULT_REFUSED),
    ROW(EndpointAlreadyRegistered,    CFU_RESULT_REFUSED),
    ROW(EndpointNotRegistered,        CFU_RESULT_REFUSED),
    ROW(ListenerAlreadyRegistered,    CFU_RESULT_REFUSED),
    ROW(DescriptionFailed,            CFU_RESULT_NOT_ANSWERED),
    ROW(OfferRejected,                CFU_RESULT_REFUSED),
    ROW(DeviceStayedBusy,             CFU_RESULT_REFUSED),
    ROW(NoOfferAnswered,              CFU_RESULT_NOT_ANSWERED),
    ROW(SingleBankUnfinished,         CFU_RESULT_SINGLE_BANK_UNFINISHED),
    ROW(LastImageRejected,            CFU_RESULT_LAST_IMAGE_REJECTED),
    ROW(VersionQueryFailed,           CFU_RESULT_VERSION_QUERY_FAILED),
    ROW(UnknownComponent,             CFU_RESULT_UNKNOWN_COMPONENT),
    ROW(FamilyNotListed,              CFU_RESULT_FAMILY_NOT_LISTED),
    ROW(ImageListOpen,                CFU_RESULT_IMAGE_LIST_OPEN),
    ROW(ImageListNotOpen,             CFU_RESULT_IMAGE_LIST_NOT_OPEN),
    ROW(ImageFileUnusable,            CFU_RESULT_IMAGE_FILE_UNUSABLE),
    ROW(ImageListFull,                CFU_RESULT_IMAGE_LIST_FULL),
    ROW(ReportTooShort,               CFU_RESULT_REPORT_TOO_SHORT),
    ROW(NoImageForBank,               CFU_RESULT_NO_IMAGE_FOR_BANK),
    ROW(UpdateRunning,                CFU_RESULT_UPDATE_RUNNING),
    ROW(WrongImageCount,              CFU_RESULT_WRONG_IMAGE_COUNT),
    ROW(OfferSendFailed,              CFU_RESULT_OFFER_SEND_FAILED),
    ROW(OfferNoResponse,              CFU_RESULT_OFFER_NO_RESPONSE),
    ROW(OfferUnexpected,              CFU_RESULT_OFFER_UNEXPECTED),
    ROW(RepetitionLimit,              CFU_RESULT_REPETITION_LIMIT),
    ROW(ContentFailed,                CFU_RESULT_CONTENT_FAILED),
    ROW(ContentSequenceMismatch,      CFU_RESULT_CONTENT_SEQUENCE_MISMATCH),
    ROW(ContentWriteError,            CFU_RESULT_CONTENT_WRITE_ERROR),
    ROW(ContentNoResponse,            CFU_RESULT_CONTENT_NO_RESPONSE),
    ROW(ContentFailedIgnoringVersion, CFU_RESULT_CONTENT_FAILED_IGNORING_VERSION),
    ROW(InternalError,                CFU_RESULT_INTERNAL_ERROR),
    ROW(DeviceBusyElsewhere,          CFU_RESULT_DEVICE_BUSY_ELSEWHERE),
};
// clang-format on
#undef ROW

const CodeRow* RowOf(UpdateError error) {
    for (const CodeRow& row : kRows) {
        if (row.error == error) {
            return &row;
        }
    }
    return nullptr;
}

// A value added to the enumeration fails here until it has its row, and the
// name the programs print always names the code the C caller gets.
TEST(ResultCodes, EveryErrorHasItsDocumentedCodeAndName) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(UpdateError::Count); ++i) {
        const auto error = static_cast<UpdateError>(i);
        const CodeRow* row = RowOf(error);
        ASSERT_NE(row, nullptr) << "UpdateError value " << i << " has no row";
        EXPECT_EQ(ToResultCode(error), row->code) << row->codeName;
        EXPECT_EQ(std::string(engine::ErrorName(error)), row->codeName) << "value " << i;
        EXPECT_FALSE(engine::ErrorMeaning(error).empty()) << row->codeName;
    }
}

TEST(ResultCodes, AValueOutsideTheEnumerationIsAnInternalError) {
    EXPECT_EQ(ToResultCode(UpdateError::Count), CFU_RESULT_INTERNAL_ERROR);
    EXPECT_STREQ(engine::ErrorName(UpdateError::Count), "CFU_RESULT_UNKNOWN");
    EXPECT_EQ(engine::ErrorMeaning(UpdateError::Count), "a result code this program does not know");
}

// The programs name a code they were given by the value it stands for.
TEST(ResultCodes, EveryDocumentedCodeLeadsBackToAValueOfThatCode) {
    for (ResultCode code = CFU_RESULT_SUCCESS; code <= CFU_RESULT_DEVICE_BUSY_ELSEWHERE; ++code) {
        const UpdateError error = ErrorOfCode(code);
        ASSERT_NE(error, UpdateError::Count) << "code " << code;
        EXPECT_EQ(ToResultCode(error), code);
    }
    EXPECT_EQ(ErrorOfCode(CFU_RESULT_DEVICE_BUSY_ELSEWHERE + 1), UpdateError::Count);
    EXPECT_EQ(ErrorOfCode(-1), UpdateError::Count);
}

}  // namespace
}  // namespace zelk::capi
