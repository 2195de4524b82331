// The one error vocabulary of the update library, from the engine up to the
// library's C++ class. Values are finer than the documented C result codes
// (several of them share one code there); ErrorNumber gives each value's
// number from the one table, which the C edge (capi/) uses as it is.
#pragma once

#include <cstdint>
#include <string>

namespace zelk::engine {

enum class UpdateError : std::uint32_t {
    Success,
    // Endpoints and paths.
    PathListTooSmall,           // the found paths do not fit the caller's buffer (or none)
    EndpointOpenFailed,         // the path could not be opened
    ReportsNotResolved,         // opened, but a report could not be resolved from its capabilities
    EndpointAlreadyRegistered,  // the handle value on entry is a registered endpoint
    EndpointNotRegistered,      // no endpoint is registered under the handle value
    ListenerAlreadyRegistered,  // the endpoint has a progress listener already
    DescriptionFailed,          // reports not resolved, version unreadable, or no record
    // Policies.
    OfferRejected,                 // standard policy: the device rejected the offer
    DeviceStayedBusy,              // standard policy: the device answered Busy on every attempt
    NoOfferAnswered,               // single-bank bud policy: no offer answered
    SingleBankUnfinished,          // single-bank bud policy: a pass ended unfinished
    LastImageRejected,             // dual-bank bud policy
    VersionQueryFailed,            // the firmware version could not be read
    UnknownComponent,              // the device's component is not one this library updates
    FamilyNotListed,               // the component is not updated in this device family
    ImageListOpen,                 // StartAddImage with the list open already
    ImageListNotOpen,              // StopAddImage without a Start
    ImageFileUnusable,             // an offer or payload file cannot be used
    ImageListFull,                 // the list holds its 20 images
    ReportTooShort,                // a report is too short for its command or answer
    NoImageForBank,                // no image for the bank the device is not running from
    UpdateRunning,                 // refused from inside a running update's progress listener
    WrongImageCount,               // the policy received the wrong number of images
    OfferSendFailed,               // an offer could not be written
    OfferNoResponse,               // no answer to an offer within the attempts
    OfferUnexpected,               // an offer answer the policy does not accept
    RepetitionLimit,               // the device kept putting the update off
    ContentFailed,                 // the content transfer failed
    ContentSequenceMismatch,       // content answers kept naming another block
    ContentWriteError,             // the device reported a write error
    ContentNoResponse,             // no answer to a content block within the attempts
    ContentFailedIgnoringVersion,  // single-bank bud policy with ForceIgnoreVersion
    InternalError,                 // out of memory, or a progress listener that threw
    DeviceBusyElsewhere,           // another update holds this device's update lock
    // Not an error: the number of values, so that tables can be checked whole.
    Count
};

// The documented number of the C result code an error is reported as
// (several values share one); the internal error's for a value out of range.
// The C interface's codes and the programs' printed numbers both come from here.
std::int32_t ErrorNumber(UpdateError error);

// The documented name of the result code an error is reported as, e.g.
// "CFU_RESULT_CONTENT_FAILED"; "CFU_RESULT_UNKNOWN" for a value out of range.
const char* ErrorName(UpdateError error);

enum class Language { English, Chinese };
// One sentence, without a full stop, on what the error's result code means
// (values that share a code share its sentence).
std::string ErrorMeaning(UpdateError error, Language language = Language::English);

}  // namespace zelk::engine
