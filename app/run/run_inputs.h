// What a program gathers at start before it can run an update: the package
// written out of its own file, the device information read back from it and
// the language of the texts. The console program runs from this value
// directly; the dialog shows it in its controls and runs from it on Start.
#pragma once

#include "app/desktop/desktop.h"
#include "app/run/embedded_package.h"
#include "app/run/update_driver.h"
#include "app/text/language_texts.h"

namespace zelk::app {

struct StartupInputs {
    PackagePaths paths;
    // Nothing when DeviceInfo.txt could not be read (a message box said so):
    // the run then looks for the all-zero identity.
    std::optional<DeviceInfo> deviceInfo;
    LanguageTexts texts;

    const DeviceIdentity& Identity() const;
    // The run these inputs describe.
    RunInput Run() const;
};

// Writes the package to the temporary directory (ExtractPackage), reads its
// DeviceInfo.txt (ReadDeviceInfo) and chooses the language from the
// system's, in that order; what goes wrong is reported on the desktop.
StartupInputs GatherStartupInputs(Desktop& desktop);

}  // namespace zelk::app
