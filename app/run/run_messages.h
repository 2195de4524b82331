// Texts that say in words what happened in a run: the identity searched for,
// a device that was found but could not be opened, and what a result code of
// the update library means. English on the console, the interface's
// language in the log; they stand beside the run's fixed texts.
#pragma once

#include <cstdint>
#include <string>

#include "app/run/embedded_package.h"
#include "engine/update_error.h"
#include "updatelib/cfu_library.h"

namespace zelk::app {

struct RunOutcome;

// One sentence (no full stop) on what the result code of `error` means; its
// name is engine::ErrorName.
std::string ResultMeaning(engine::UpdateError error, bool chinese);

// "No HID device matches VID 0x320F, PID 0x5055, usage page 0xFF00, usage 0x0001, MI 0."
std::string NoMatchingDeviceText(const DeviceIdentity& identity, bool chinese);
// Said instead of searching when no device information could be read.
std::string NoDeviceIdentityText(bool chinese);

// A matching device is present but may not be opened.
std::string CannotOpenText(bool chinese);

// One interface of the searched-for device that cannot be opened or
// described: it was not updated (--all) or could not be shown (--list).
std::string NotOpenableText(bool chinese);

// The device answered an offer with Busy; the update keeps offering for up
// to `waitMs` (said in whole seconds, rounded up) before it gives up.
std::string DeviceBusyText(std::uint64_t waitMs, bool chinese);

// The update call ended well but the device took no image whole.
std::string NothingTransferredText(bool chinese);

// The device disappeared during the run (unplugged or restarted).
std::string DeviceGoneText(bool chinese);

// The offered firmware is older than what the device runs (said before the
// transfer; the update goes on, as the offers ask the device to ignore the
// version).
std::string DowngradeText(const std::string& deviceVersion, const std::string& offeredVersion,
                          bool chinese);

// The device's own codes in the published CFU protocol: a stable key for
// machine readers ("INVALID_COMPONENT") and words for people ("invalid
// component"). Codes the protocol does not define read "UNKNOWN"; reject
// reasons 0xE0 to 0xFF are "VENDOR_SPECIFIC".
const char* OfferStatusKey(std::uint8_t status);
const char* RejectReasonKey(std::uint8_t reason);
const char* ContentStatusKey(std::uint8_t status);
std::string OfferStatusWords(std::uint8_t status, bool chinese);
std::string RejectReasonWords(std::uint8_t reason, bool chinese);
std::string ContentStatusWords(std::uint8_t status, bool chinese);

// One sentence on what the device itself answered during a failed update,
// or empty when its answers say nothing more than the result code: an error
// status of the last content answer ("The device reported content status
// 0x04 (verify error) for block 37."), else a refused offer ("The device
// rejected the offer: reason 0x01, invalid component.") or any other answer
// than an acceptance ("The device answered the offer with status 0x03
// (busy).").
std::string DeviceAnswerText(const cfu::DeviceAnswer& answer, bool chinese);

// True when DeviceAnswerText has something to say.
bool DeviceAnswerTells(const cfu::DeviceAnswer& answer);

// Why a run did not end in success, in one English line: the failed step
// with its result and what the device said, or why the run never started.
// The --all summary and the unit log say it alike.
std::string OutcomeFailureText(const RunOutcome& outcome);

}  // namespace zelk::app
