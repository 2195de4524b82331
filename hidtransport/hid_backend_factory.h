// What the one-time choice of the process's HID backend found out.
#pragma once

#include <string>

namespace zelk::hid {

// Empty unless ZELK_VIRTUAL_DEVICES named devices that could not be loaded; then
// the line that was printed to stderr (the virtual backend runs with no device).
std::string VirtualBackendLoadError();

// The active backend's AccessProblem(); empty before the backend is chosen.
std::string ActiveHidAccessProblem();

}  // namespace zelk::hid
