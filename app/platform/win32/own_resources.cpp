// Resources of the program's own .exe, by type name and numeric id.
#include "app/platform/platform.h"

// After the seam's headers: <windows.h> turns FindResource and MessageBox
// into macros, which must not rename the seam's members.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>

#include "app/package/package_seal.h"

namespace zelk::app::platform {
namespace {

ResourceLookup Load(std::u16string_view type, int id, std::vector<std::uint8_t>& bytes);

// True when the package resources match their seal. A copy without a seal
// was not made by the build or the packaging tool and is refused as well.
bool PackageMatchesSeal() {
    std::vector<std::uint8_t> sealBytes;
    if (Load(seal::kType, seal::kId, sealBytes) != ResourceLookup::Found) {
        return false;
    }
    std::array<std::vector<std::uint8_t>, 3> parts;
    const std::u16string_view types[] = {u"FIRE_WARE", u"FIRE_WARE2", u"FIRE_DEVICEINFO"};
    const int ids[] = {resource::kOffer, resource::kPayload, resource::kDeviceInfo};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (Load(types[i], ids[i], parts[i]) != ResourceLookup::Found) {
            return false;
        }
    }
    return seal::SealText(parts) == std::string(sealBytes.begin(), sealBytes.end());
}

bool IsPackageResource(int id) {
    return id == resource::kOffer || id == resource::kPayload || id == resource::kDeviceInfo;
}

}  // namespace

ResourceLookup FindOwnResource(std::u16string_view type, int id, std::vector<std::uint8_t>& bytes) {
    const ResourceLookup lookup = Load(type, id, bytes);
    if (lookup == ResourceLookup::Found && IsPackageResource(id) && !PackageMatchesSeal()) {
        bytes.clear();
        return ResourceLookup::Unusable;
    }
    return lookup;
}

namespace {

ResourceLookup Load(std::u16string_view type, int id, std::vector<std::uint8_t>& bytes) {
    if (id < 0 || id > 0xFFFF || type.empty()) {
        return ResourceLookup::NotFound;
    }
    // wchar_t is UTF-16 on Windows.
    const std::wstring typeName(type.begin(), type.end());
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), typeName.c_str());
    if (found == nullptr) {
        return ResourceLookup::NotFound;
    }
    const DWORD size = SizeofResource(nullptr, found);
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (size == 0 || loaded == nullptr) {
        return ResourceLookup::Unusable;
    }
    const void* data = LockResource(loaded);
    if (data == nullptr) {
        return ResourceLookup::Unusable;
    }
    const auto* begin = static_cast<const std::uint8_t*>(data);
    bytes.assign(begin, begin + size);
    return ResourceLookup::Found;
}

}  // namespace
}  // namespace zelk::app::platform
