#include "hidtransport/device_discovery.h"

#include <new>

namespace zelk::hid {

int EnumHidInterfaces(HidBackend& backend, InterfacePathList& list) {
    list.clear();
    try {
        const int result = backend.ListInterfaces(list);
        if (result != 0) {
            list.clear();
        }
        return result;
    } catch (const std::bad_alloc&) {
        list.clear();
        return 2;
    }
}

int QueryInterfaceCaps(HidBackend& backend, std::u16string_view path,
                       std::unique_ptr<HidDescriptor>& descriptor, HidCaps& caps) {
    const HidHandle handle = backend.Open(path, HidOpenMode::Query);
    if (handle == kInvalidHidHandle) {
        return 1;
    }
    descriptor = backend.GetDescriptor(handle);
    const bool ok = descriptor && descriptor->GetCaps(caps) >= 0;
    backend.Close(handle);
    return ok ? 0 : 1;
}

namespace {

bool HasVersionCapability(const HidDescriptor& descriptor, const MatchCriteria& criteria) {
    std::vector<HidCapability> found;
    const HidStatus status = descriptor.GetSpecificValueCaps(
        static_cast<HidReportType>(criteria.VersionReportType), 0, 0, criteria.VersionUsage, found);
    return status >= 0 && !found.empty();
}

bool InterfaceFits(HidBackend& backend, const std::u16string& path, const MatchCriteria& criteria) {
    if (!MatchInterfacePath(path, criteria.VendorId, criteria.ProductId)) {
        return false;
    }
    std::unique_ptr<HidDescriptor> descriptor;
    HidCaps caps;
    if (QueryInterfaceCaps(backend, path, descriptor, caps) != 0) {
        return false;
    }
    if (caps.Usage != criteria.Usage || caps.UsagePage != criteria.UsagePage) {
        return false;
    }
    if (criteria.CapsFilterArmed && criteria.RequireVersionCapsAtMatch) {
        return HasVersionCapability(*descriptor, criteria);
    }
    return true;
}

}  // namespace

int MatchDevices(HidBackend& backend, const MatchCriteria& criteria, InterfacePathList& list) {
    InterfacePathList present;
    const int result = EnumHidInterfaces(backend, present);
    if (result != 0) {
        return result;
    }
    list.clear();
    for (const std::u16string& path : present) {
        if (InterfaceFits(backend, path, criteria)) {
            list.push_back(path);
        }
    }
    return static_cast<int>(list.size());
}

InterfacePathList UnopenableMatches(HidBackend& backend, const MatchCriteria& criteria) {
    InterfacePathList present;
    InterfacePathList unopenable;
    if (EnumHidInterfaces(backend, present) != 0) {
        return unopenable;
    }
    for (const std::u16string& path : present) {
        if (!MatchInterfacePath(path, criteria.VendorId, criteria.ProductId)) {
            continue;
        }
        std::unique_ptr<HidDescriptor> descriptor;
        HidCaps caps;
        if (QueryInterfaceCaps(backend, path, descriptor, caps) == 0) {
            continue;  // described: MatchDevices has decided on it
        }
        HidCaps seen;
        if (backend.DescribeUnopened(path, seen) &&
            (seen.Usage != criteria.Usage || seen.UsagePage != criteria.UsagePage)) {
            continue;  // another collection of the same device
        }
        unopenable.push_back(path);
    }
    return unopenable;
}

std::int64_t GetAllDeviceNumber(HidBackend& backend, InterfacePathList& list) {
    if (EnumHidInterfaces(backend, list) != 0) {
        return 0;
    }
    return static_cast<std::int64_t>(list.size());
}

}  // namespace zelk::hid
