// Package authoring in administrator mode: choosing a new offer and payload,
// writing DeviceInfo.txt from the identifier edits, and, after the main dialog
// has ended, handing the files to the packaging tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/desktop/desktop.h"
#include "app/dialog/main_dialog.h"

namespace zelk::app {

// The size of a file in bytes; 0 when it cannot be opened.
std::uint64_t PackageFileCheck(std::u16string_view path);

// Why the packaging tool would refuse `size` bytes as an offer (exactly 16
// bytes) or a payload (whole 57-byte records); empty when it would not.
std::u16string PackagingRefusal(bool payload, std::uint64_t size, bool chinese);

// Button 1006: the open-file dialog (default extension "bin", the current
// path as initial file, the filter "FIREWARE (*.bin)" / "所有文件(*.*)"). A file
// of 1 to 1048575 bytes becomes AdminOfferPath and is shown in edit 1005;
// any other size empties AdminOfferPath and leaves the edit as it was. Both
// are said in a message box: a file that was not taken, or one the packaging
// tool will refuse (which would otherwise end in no packaged copy and no word).
void ChooseOffer(MainDialog& dialog);
// Button 1009: the same for the payload and edit 1008; then, whenever the
// user confirmed the dialog, WriteDeviceInfo.
void ChoosePayload(MainDialog& dialog);
// Button 1021 and after every confirmed payload choice: the five identifier
// edits and the hide-window box, one per line with CR LF, in the Chinese
// simplified code page, to TempDirectory() + "DeviceInfo.txt" (which becomes
// DeviceInfoPath). "Create file error" in a message box when it cannot be written.
void WriteDeviceInfo(MainDialog& dialog);
// The identifier edits and the hide-window box as the administrator sees them
// now, kept for the packaging tool. Call it while the window still shows them
// (when it closes); RunPackagingCheck reads the window itself when it was not.
void KeepAdministratorValues(MainDialog& dialog);
// Reveals the 17 administrator controls, in their order.
void RevealAdminControls(Desktop& desktop);

// After the main dialog has ended: when the administrator's offer, payload and
// DeviceInfo.txt all name existing files, start the packaging tool beside the
// program with (own path, offer, payload, device information), each argument
// whole. The device information is the administrator's (KeepAdministratorValues),
// written to a new file in a new private directory of its own (left for the
// tool, which runs on after this program): the shared DeviceInfo.txt is
// rewritten by every other run of the same user and could make the package
// target another product. True when the tool was started.
bool RunPackagingCheck(MainDialog& dialog);

}  // namespace zelk::app
