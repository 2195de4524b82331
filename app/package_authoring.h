// Package authoring in administrator mode: choosing a new offer and payload,
// writing DeviceInfo.txt from the identifier edits, and, after the main dialog
// has ended, handing the files to the packaging tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "desktop/desktop.h"
#include "main_dialog.h"

namespace zelk::app {

inline constexpr std::uint64_t kMaxPackageFileSize = 0xFFFFF;  // below 1 MiB

// The size of a file in bytes; 0 when it cannot be opened.
std::uint64_t PackageFileCheck(std::u16string_view path);

// Button 1006: the open-file dialog (default extension "bin", the current
// path as initial file, the filter "FIREWARE (*.bin)" / "所有文件(*.*)"). A file
// of 1 to 1048575 bytes becomes AdminOfferPath and is shown in edit 1005;
// any other size empties AdminOfferPath and leaves the edit as it was.
void ChooseOffer(MainDialog& dialog);
// Button 1009: the same for the payload and edit 1008; then, whenever the
// user confirmed the dialog, WriteDeviceInfo.
void ChoosePayload(MainDialog& dialog);
// Button 1021 and after every confirmed payload choice: the five identifier
// edits and the hide-window box, one per line with CR LF, in the Chinese
// simplified code page, to TempDirectory() + "DeviceInfo.txt" (which becomes
// DeviceInfoPath). "Create file error" in a message box when it cannot be written.
void WriteDeviceInfo(MainDialog& dialog);
// Reveals the 17 administrator controls, in their order.
void RevealAdminControls(Desktop& desktop);

// After the main dialog has ended: when the administrator's offer, payload and
// DeviceInfo.txt all name existing files, start the packaging tool beside the
// program with (own path, offer, payload, DeviceInfo path), each argument whole.
// True when the tool was started.
bool RunPackagingCheck(MainDialog& dialog);

}  // namespace zelk::app
