#include "engine/component_table.h"

#include <algorithm>

namespace zelk::engine {

const ComponentFamilyTable& ComponentTable() {
    static const ComponentFamilyTable table = {
        {0x00, {1, 0x1800}},
        {0x0C, {0}},
        {0x0F, {1}},
        {0x10, {3}},
        {0xA1, {0x1000, 0x2000, 0x3000}},
        {0xA2, {0x1000, 2}},
    };
    return table;
}

ComponentCheck CheckComponent(std::uint8_t componentId, std::int32_t deviceFamily) {
    constexpr std::uint8_t kAnyComponent = 0xFF;
    if (componentId == kAnyComponent) {
        return ComponentCheck::Accepted;
    }
    const auto entry = ComponentTable().find(componentId);
    if (entry == ComponentTable().end()) {
        return ComponentCheck::UnknownComponent;
    }
    const std::vector<std::int32_t>& families = entry->second;
    return std::find(families.begin(), families.end(), deviceFamily) != families.end()
               ? ComponentCheck::Accepted
               : ComponentCheck::FamilyNotListed;
}

}  // namespace zelk::engine
