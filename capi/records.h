// The packed records of the C interface and the library's own types, each
// way: configuration, options, progress and the device description.
#pragma once

#include "engine/update_types.h"
#include "updatelib/cfu_library.h"
#include "zelk/cfu_update.h"

namespace zelk::capi {

// Reserved bytes are not carried over: the library never reads them.
engine::UpdateConfiguration FromRecord(const UpdateConfig& config);
UpdateConfig ToRecord(const engine::UpdateConfiguration& config);
engine::UpdateOptions FromRecord(const UpdateOptions& options);
UpdateStatus ToRecord(const engine::UpdateProgress& progress);

// Writes the count, the reserved bytes, the protocol flags and one entry per
// component into the caller's buffer, byte by byte in the record's
// little-endian layout; byte 0 and everything after the last component keep
// what the caller put there.
void WriteDescription(const cfu::DeviceComponents& components, DeviceDescription& description);

}  // namespace zelk::capi
