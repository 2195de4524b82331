// Which node a run reads back after the transfer, when the updated bud may
// have restarted under a new node beside other buds.
#include "app/run/read_back_target.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace zelk::app {
namespace {

using Paths = std::vector<std::u16string>;

TEST(ReadBackCandidates, TheSerialTellsTheUpdatedDeviceApartAmongNewNodes) {
    struct Case {
        const char* name;
        std::u16string serial;  // of the updated device before the transfer
        Paths present;
        std::map<std::u16string, std::u16string> serials;  // now, by node
        Paths expected;
        bool ownNode;
    };
    // Nodes A and B were listed when the run began; A was updated.
    const Case cases[] = {
        {"its own node, still there", u"S1", {u"A", u"B"}, {{u"A", u"S1"}}, {u"A"}, true},
        {"its own node, serial not readable now", u"S1", {u"A"}, {}, {u"A"}, true},
        {"its own node given to another device", u"S1", {u"A"}, {{u"A", u"S9"}}, {}, false},
        {"new node with its serial among other new ones",
         u"S1",
         {u"B", u"C", u"D"},
         {{u"C", u"S2"}, {u"D", u"S1"}},
         {u"D"},
         false},
        {"only a new node with another serial", u"S1", {u"B", u"C"}, {{u"C", u"S2"}}, {}, false},
        {"only a new node without a serial", u"S1", {u"B", u"C"}, {}, {}, false},
        {"a node listed at the start never counts, even with its serial",
         u"S1",
         {u"B"},
         {{u"B", u"S1"}},
         {},
         false},
        {"no serial: every new node without one, for the role check",
         u"",
         {u"B", u"C", u"D", u"E"},
         {{u"C", u"S2"}},
         {u"D", u"E"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UpdatedDevice updated{u"A", c.serial, {u"A", u"B"}};
        const ReadBackCandidates chosen =
            ChooseReadBackCandidates(updated, c.present, [&](const std::u16string& path) {
                const auto found = c.serials.find(path);
                return found == c.serials.end() ? std::u16string() : found->second;
            });
        EXPECT_EQ(chosen.paths, c.expected);
        EXPECT_EQ(chosen.ownNode, c.ownNode);
    }
}

}  // namespace
}  // namespace zelk::app
