#include "app/run/run_inputs.h"

namespace zelk::app {

const DeviceIdentity& StartupInputs::Identity() const {
    static const DeviceIdentity kNone{};
    return deviceInfo ? deviceInfo->identity : kNone;
}

RunInput StartupInputs::Run() const {
    return RunInput{Identity(), paths.OfferTempPath, paths.PayloadTempPath, texts};
}

StartupInputs GatherStartupInputs(Desktop& desktop) {
    StartupInputs inputs;
    ExtractPackage(desktop, inputs.paths);
    inputs.deviceInfo = ReadDeviceInfo(desktop, inputs.paths);
    inputs.texts = ChooseLanguage(desktop.SystemLanguageId());
    return inputs;
}

}  // namespace zelk::app
