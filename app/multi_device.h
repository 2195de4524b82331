// The console program's modes over every matching interface: listing them
// without changing anything, and updating each on a thread of its own.
//
// The library keeps its configuration, image list and endpoints in one
// object; the process's object expects its calls from one thread at a time.
// Updating several devices at once therefore gives each device a library
// object of its own over the shared HID backend (whose calls are safe from
// several threads): each thread configures, loads the same image files, and
// opens, updates and closes only its own interface.
#pragma once

#include <string>
#include <vector>

#include "cfu_library.h"
#include "desktop/desktop.h"
#include "json_lines_sink.h"
#include "update_driver.h"

namespace zelk::app {

// The interfaces that match `identity`, in the system's order (the library's
// own matching). Leaves the library uninitialized.
std::vector<std::u16string> MatchingInterfaces(cfu::CfuLibrary& library,
                                               const DeviceIdentity& identity);

// Opens and describes each matching interface, then closes it; sends nothing
// else to the devices. Prints each one on the console (and to `sink`); when
// none matches, says which identity was searched for. Returns the devices.
std::vector<ListedDevice> ListDevices(Desktop& desktop, cfu::CfuLibrary& library,
                                      const DeviceIdentity& identity, bool chinese,
                                      JsonLinesSink* sink);

// Updates every interface of `paths` at once, each with its own library
// object and driver on its own thread; prints a summary line for each device
// (and gives `sink` the summary). Returns one entry per path, in its order.
std::vector<DeviceSummary> UpdateAll(Desktop& desktop, hid::HidBackend& backend, WaitClock& clock,
                                     const RunInput& input,
                                     const std::vector<std::u16string>& paths, JsonLinesSink* sink);

// True when every device of the summary succeeded (and there was one).
bool AllSucceeded(const std::vector<DeviceSummary>& devices, bool requireVerified);

}  // namespace zelk::app
