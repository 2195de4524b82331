// Which interface is the device an update went to, when the run reads it back
// after the transfer: the device may have restarted and come back under a new
// node, beside other buds of the same kind.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zelk::app {

// What the run knew of the updated device before the transfer.
struct UpdatedDevice {
    std::u16string path;    // the node the image went to
    std::u16string serial;  // its serial string; empty: it has none, or it could not be read
    // The matching nodes listed when the run began: a node among them that is
    // not the device's own belongs to another device.
    std::vector<std::u16string> listedAtStart;
};

struct ReadBackCandidates {
    // The nodes that may be the updated device, to be read and checked for its
    // component and bud role; exactly one must fit.
    std::vector<std::u16string> paths;
    // `paths` is the device's own node, still there.
    bool ownNode = false;
};

// The serial string of the device behind a node; empty when there is none.
using SerialOf = std::function<std::u16string(const std::u16string& path)>;

// From the matching nodes now `present`: the device's own node while it is
// still there (unless it now carries another serial: the node went to another
// device); else the nodes that were not listed when the run began. Where the
// device has a serial, only a node with that same serial is it, whatever
// other new nodes there are; a node with another serial, or none, never is.
ReadBackCandidates ChooseReadBackCandidates(const UpdatedDevice& updated,
                                            const std::vector<std::u16string>& present,
                                            const SerialOf& serialOf);

}  // namespace zelk::app
