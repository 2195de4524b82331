// Reports what platform::FindOwnResource finds in this program's own file,
// one line per package resource: "<type> <id> Found <size>", "... NotFound"
// or "... Unusable".
//
// Usage: embedded_package_probe [OFFER PAYLOAD DEVICEINFO]
// With files, also compares each found resource with its file; the exit
// status is 0 only when all three are found and equal.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/platform/platform.h"

namespace {

const char* Name(zelk::app::ResourceLookup lookup) {
    switch (lookup) {
        case zelk::app::ResourceLookup::Found:
            return "Found";
        case zelk::app::ResourceLookup::NotFound:
            return "NotFound";
        case zelk::app::ResourceLookup::Unusable:
            return "Unusable";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    struct Resource {
        const char* type;
        const char16_t* wideType;
        int id;
    };
    const Resource resources[] = {
        {"FIRE_WARE", u"FIRE_WARE", zelk::app::resource::kOffer},
        {"FIRE_WARE2", u"FIRE_WARE2", zelk::app::resource::kPayload},
        {"FIRE_DEVICEINFO", u"FIRE_DEVICEINFO", zelk::app::resource::kDeviceInfo},
    };
    const bool compare = argc == 4;
    bool allMatch = true;
    for (int i = 0; i < 3; ++i) {
        std::vector<std::uint8_t> bytes;
        const auto lookup =
            zelk::app::platform::FindOwnResource(resources[i].wideType, resources[i].id, bytes);
        std::printf("%s %d %s", resources[i].type, resources[i].id, Name(lookup));
        if (lookup == zelk::app::ResourceLookup::Found) {
            std::printf(" %zu", bytes.size());
        }
        if (compare) {
            std::ifstream in(argv[i + 1], std::ios::binary);
            const std::vector<std::uint8_t> expected{std::istreambuf_iterator<char>(in),
                                                     std::istreambuf_iterator<char>()};
            const bool match = lookup == zelk::app::ResourceLookup::Found && bytes == expected;
            std::printf(match ? " matches %s" : " differs from %s", argv[i + 1]);
            allMatch = allMatch && match;
        }
        std::printf("\n");
    }
    return compare && !allMatch ? 1 : 0;
}
