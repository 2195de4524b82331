#include "updatelib/update_library.h"

namespace zelk::cfu {

std::size_t LibraryCalls::MatchDevices() {
    // A listing that failed leaves the earlier paths, as the C count does.
    return library_.MatchDevices() == 0 ? 0 : library_.InterfacePaths().size();
}

UpdateError LibraryCalls::GetDeviceEndpointPaths(std::vector<std::u16string>& paths) {
    const hid::InterfacePathList& found = library_.InterfacePaths();
    paths.assign(found.begin(), found.end());
    return UpdateError::Success;
}

UpdateError LibraryCalls::OpenDeviceEndpoint(std::u16string_view path, EndpointHandle& handle) {
    const UpdateError result = library_.OpenDeviceEndpoint(path, handle);
    if (result != UpdateError::Success && handle != kNoEndpoint) {
        // Opened, but its reports did not resolve: the library gives the
        // handle all the same (for the C interface, whose callers adopt it to
        // close it); whoever opens closes, so it is closed here.
        library_.Backend().Close(handle);
        handle = kNoEndpoint;
    }
    return result;
}

std::u16string LibraryCalls::InterfaceSerial(const std::u16string& path) {
    std::u16string serial;
    library_.Backend().SerialNumber(path, serial);
    return serial;
}

}  // namespace zelk::cfu
