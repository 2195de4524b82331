// The library's configuration records: the default template that every run
// starts from, and the table of components that accept an update.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "zelk/cfu_update.h"

namespace zelk::cfu {

// The template: VID 0x320F, PID 0x226B, usage page 0xFF0B, usage 0x0104,
// no report check, version caps required at match, and the five reports by
// their default usages with report IDs and lengths left at 0.
UpdateConfig DefaultUpdateConfig();

// Which device families each component accepts an update under.
using ComponentFamilyTable = std::map<std::uint8_t, std::vector<std::int32_t>>;
const ComponentFamilyTable& ComponentTable();

enum class ComponentCheck { Accepted, UnknownComponent, FamilyNotListed };
// ComponentId 0xFF is never looked up and always passes.
ComponentCheck CheckComponent(std::uint8_t componentId, std::int32_t deviceFamily);

}  // namespace zelk::cfu
