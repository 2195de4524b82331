// The components that accept an update, and the device families each accepts
// it under.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace zelk::engine {

using ComponentFamilyTable = std::map<std::uint8_t, std::vector<std::int32_t>>;
const ComponentFamilyTable& ComponentTable();

enum class ComponentCheck { Accepted, UnknownComponent, FamilyNotListed };
// ComponentId 0xFF is never looked up and always passes.
ComponentCheck CheckComponent(std::uint8_t componentId, std::int32_t deviceFamily);

}  // namespace zelk::engine
