// What a download procedure reads from the library that owns it. The library
// implements this; tests may implement it directly.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/image_entry.h"
#include "engine/update_types.h"
#include "hidtransport/hid_platform.h"
#include "hidtransport/wait_clock.h"

namespace zelk::engine {

// The images of the next update, in the order they were added.
using ImageEntries = std::vector<std::unique_ptr<ImageEntry>>;

class EngineEnvironment {
  public:
    virtual ~EngineEnvironment() = default;
    virtual hid::HidBackend& Backend() = 0;
    virtual WaitClock& Clock() = 0;
    // Read afresh at every use: they may change between updates.
    virtual std::int32_t DeviceFamily() const = 0;
    virtual UpdateOptions Options() const = 0;
    virtual const ImageEntries& Images() const = 0;
    // The device behind `endpoint` answered an offer with Busy, for the first
    // time in this update; the update may keep offering for up to `waitMs`
    // before it gives up. Called on the updating thread, once per update, so
    // that a caller can say why the run seems to stand still.
    virtual void DeviceBusy(std::uint64_t /*endpoint*/, std::uint64_t /*waitMs*/) {}
    // Changes whenever a new image list is started. A device remembers the
    // image tags it accepted only as long as this stays the same.
    virtual std::uint64_t ImageListGeneration() const { return 0; }
};

}  // namespace zelk::engine
