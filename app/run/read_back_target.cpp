#include "app/run/read_back_target.h"

#include <algorithm>

namespace zelk::app {

ReadBackCandidates ChooseReadBackCandidates(const UpdatedDevice& updated,
                                            const std::vector<std::u16string>& present,
                                            const SerialOf& serialOf) {
    ReadBackCandidates chosen;
    const auto listed = [](const std::vector<std::u16string>& list, const std::u16string& path) {
        return std::find(list.begin(), list.end(), path) != list.end();
    };
    if (listed(present, updated.path)) {
        // Its own node: unless a serial tells otherwise, read it (the bud role
        // is checked once it is read). A serial that cannot be read now does
        // not disown the node.
        if (!updated.serial.empty()) {
            const std::u16string now = serialOf(updated.path);
            if (!now.empty() && now != updated.serial) {
                return chosen;
            }
        }
        chosen.paths = {updated.path};
        chosen.ownNode = true;
        return chosen;
    }
    for (const std::u16string& path : present) {
        if (listed(updated.listedAtStart, path) || listed(chosen.paths, path)) {
            continue;
        }
        // A serial must be the updated device's; a device without one is
        // never read in a node that shows one (another bud's).
        if (serialOf(path) != updated.serial) {
            continue;  // another device, or one that cannot show it is this one
        }
        chosen.paths.push_back(path);
    }
    return chosen;
}

}  // namespace zelk::app
