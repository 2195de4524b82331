// Texts that say in words what happened in a run: the identity searched for,
// a device that was found but could not be opened, and what a result code of
// the update library means. English on the console, the interface's
// language in the log; they stand beside the run's fixed texts.
#pragma once

#include <cstdint>
#include <string>

#include "embedded_package.h"

namespace zelk::app {

// "CFU_RESULT_CONTENT_FAILED" for 20; "CFU_RESULT_UNKNOWN" past the last code.
const char* ResultCodeName(std::int64_t code);

// One sentence (no full stop) on what `code` means.
std::string ResultMeaning(std::int64_t code, bool chinese);

// "No HID device matches VID 0x320F, PID 0x5055, usage page 0xFF00, usage 0x0001, MI 0."
std::string NoMatchingDeviceText(const DeviceIdentity& identity, bool chinese);

// A matching device is present but may not be opened.
std::string CannotOpenText(bool chinese);

// The update call ended well but the device took no image whole.
std::string NothingTransferredText(bool chinese);

// The device disappeared during the run (unplugged or restarted).
std::string DeviceGoneText(bool chinese);

}  // namespace zelk::app
