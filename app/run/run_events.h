// What a run tells a machine reader, beside the texts it prints for people:
// the driver calls these at each stage. All calls of one run come from the
// thread that runs it; with several runs at once an implementation must take
// calls from several threads.
#pragma once

#include <cstdint>
#include <string>

#include "app/run/embedded_package.h"
#include "updatelib/cfu_library.h"

namespace zelk::app {

struct RunOutcome;

class RunEventSink {
  public:
    virtual ~RunEventSink() = default;
    // No interface matched `identity`; `cannotOpen` when one was there but
    // could not be opened, with the system's hint (may be empty).
    virtual void NoDevice(const DeviceIdentity& identity, bool cannotOpen,
                          const std::string& hint) = 0;
    // The interface this run updates.
    virtual void DeviceFound(const std::string& path) = 0;
    virtual void Description(const std::string& path, const cfu::DeviceComponents& description) = 0;
    // Before the transfer: the offered version is older than the one the
    // device reports for the offered component. The update goes on.
    virtual void Downgrade(const std::string& path, const std::string& deviceVersion,
                           const std::string& offeredVersion) {
        (void)path;
        (void)deviceVersion;
        (void)offeredVersion;
    }
    virtual void Progress(const std::string& path, int percentage, std::uint32_t status) = 0;
    // After a completed transfer: the device read again.
    virtual void Verification(const std::string& path, const RunOutcome& outcome) = 0;
    // The run's end, once.
    virtual void Result(const std::string& path, const RunOutcome& outcome) = 0;
};

}  // namespace zelk::app
