// The default configuration template that every run starts from.
#pragma once

#include "engine/update_types.h"

namespace zelk::cfu {

// The template: VID 0x320F, PID 0x226B, usage page 0xFF0B, usage 0x0104,
// no report check, version caps required at match, and the five reports by
// their default usages with report IDs and lengths left at 0.
engine::UpdateConfiguration DefaultUpdateConfig();

}  // namespace zelk::cfu
