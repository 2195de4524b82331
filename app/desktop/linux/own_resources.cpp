// The package appended to the running program (see resource_bundle.h). The
// file is read and checked once per process; every look-up answers from that.
#include <array>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>

#include "desktop/platform.h"
#include "elf_image_size.h"
#include "resource_bundle.h"

namespace zelk::app::platform {
namespace {

struct OwnPackage {
    // Found: the bundle is intact. NotFound: the program carries none.
    // Unusable: it carries one that is damaged, or the file cannot be read.
    ResourceLookup state = ResourceLookup::Unusable;
    std::vector<BundleEntry> entries;
};

OwnPackage LoadOwnPackage() {
    // The kernel's link opens the program that runs, even when its file has
    // been renamed or replaced since.
    std::vector<std::uint8_t> file;
    {
        std::ifstream in("/proc/self/exe", std::ios::in | std::ios::binary);
        if (!in.is_open()) {
            return {};
        }
        std::array<char, 1 << 16> chunk{};
        while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
            const auto* begin = reinterpret_cast<const std::uint8_t*>(chunk.data());
            file.insert(file.end(), begin, begin + in.gcount());
        }
        if (in.bad()) {
            return {};
        }
    }
    BundleReadResult read = ReadBundle(file);
    OwnPackage package;
    if (read.ok) {
        package.state = ResourceLookup::Found;
        package.entries = std::move(read.entries);
        return package;
    }
    if (read.status != BundleStatus::NoBundle) {
        return package;
    }
    // No trailer. Bytes beyond what the ELF headers account for are a package
    // whose end was cut off; a program without a package ends with its image.
    const std::optional<std::uint64_t> image = ElfImageSize(file);
    if (image && *image != file.size()) {
        return package;
    }
    package.state = ResourceLookup::NotFound;
    return package;
}

const OwnPackage& Package() {
    static const OwnPackage package = LoadOwnPackage();
    return package;
}

}  // namespace

ResourceLookup FindOwnResource(std::u16string_view type, int id, std::vector<std::uint8_t>& bytes) {
    const OwnPackage& package = Package();
    if (package.state != ResourceLookup::Found) {
        return package.state;
    }
    if (id < 0) {
        return ResourceLookup::NotFound;
    }
    for (const BundleEntry& entry : package.entries) {
        if (entry.id == static_cast<std::uint32_t>(id) && SameResourceType(entry.type, type)) {
            if (entry.bytes.empty()) {
                return ResourceLookup::Unusable;
            }
            bytes = entry.bytes;
            return ResourceLookup::Found;
        }
    }
    return ResourceLookup::NotFound;
}

}  // namespace zelk::app::platform
