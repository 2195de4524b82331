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

#include "app/desktop/desktop.h"
#include "app/run/json_lines_sink.h"
#include "app/run/update_driver.h"
#include "updatelib/cfu_library.h"

namespace zelk::app {

// The interfaces that match `identity`, in the system's order (the library's
// own matching). Leaves the library uninitialized.
std::vector<std::u16string> MatchingInterfaces(cfu::CfuLibrary& library,
                                               const DeviceIdentity& identity);

// The interfaces of `identity` that the library's matching passes over only
// because they cannot be opened or described (hid::UnopenableMatches): devices
// that are there but cannot be updated.
std::vector<std::u16string> UnopenableInterfaces(hid::HidBackend& backend,
                                                 const DeviceIdentity& identity);

// Opens and describes each matching interface, then closes it; sends nothing
// else to the devices. Prints each one on the console (and to `sink`), then
// each interface that matches but cannot be opened, marked so (with the
// permission hint where there is one); when none matches, says which identity
// was searched for. Returns the devices, those that cannot be opened last.
std::vector<ListedDevice> ListDevices(Desktop& desktop, cfu::CfuLibrary& library,
                                      const DeviceIdentity& identity, bool chinese,
                                      JsonLinesSink* sink);

// Updates every interface of `paths` at once, each with its own library
// object and driver on its own thread; prints a summary line for each device
// (and gives `sink` the summary). Each interface of `unopenable` is a device
// that could not be updated: it is a failed entry of the summary, after the
// others. Returns one entry per path of `paths`, then of `unopenable`.
std::vector<DeviceSummary> UpdateAll(Desktop& desktop, hid::HidBackend& backend, WaitClock& clock,
                                     const RunInput& input,
                                     const std::vector<std::u16string>& paths, JsonLinesSink* sink,
                                     const std::vector<std::u16string>& unopenable = {},
                                     const DriverOptions& options = {});

// Why a run failed, in one line of English: the failed step with its result
// and meaning, what the device last answered, whether it went.
std::string FailureText(const RunOutcome& outcome);

// True when every device of the summary succeeded (and there was one).
bool AllSucceeded(const std::vector<DeviceSummary>& devices, bool requireVerified);

}  // namespace zelk::app
