// A decorator over the library calls for driver tests: every call is made on
// the real library and its name recorded; the first call of the chosen name
// then reports the chosen error instead of its own result. The call is still
// made, so the library stays as the run left it (a close that "fails" has
// closed) and the run's later calls work on real state.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/update_error.h"
#include "updatelib/update_library.h"

namespace zelk::app {

class FailingLibrary final : public cfu::UpdateLibrary {
  public:
    FailingLibrary(cfu::UpdateLibrary& inner, std::string failingCall, engine::UpdateError error)
        : inner_(inner), failingCall_(std::move(failingCall)), error_(error) {}

    // The calls in the order they were made.
    const std::vector<std::string>& Calls() const { return calls_; }

    void SetConfig(const engine::UpdateConfiguration& config) override {
        Record("SetConfig");
        inner_.SetConfig(config);
    }
    void SetConfigEx(const engine::UpdateConfiguration& config) override {
        Record("SetConfigEx");
        inner_.SetConfigEx(config);
    }
    void SetUpdateOptions(const engine::UpdateOptions& options) override {
        Record("SetUpdateOptions");
        inner_.SetUpdateOptions(options);
    }
    void Initialize(std::int32_t deviceFamily) override {
        Record("Initialize");
        inner_.Initialize(deviceFamily);
    }
    void Uninitialize() override {
        Record("Uninitialize");
        inner_.Uninitialize();
    }
    std::size_t MatchDevices() override {
        Record("MatchDevices");
        return inner_.MatchDevices();
    }
    engine::UpdateError GetDeviceEndpointPaths(std::vector<std::u16string>& paths) override {
        return Result("GetDeviceEndpointPaths", inner_.GetDeviceEndpointPaths(paths));
    }
    engine::UpdateError StartAddImage() override {
        return Result("StartAddImage", inner_.StartAddImage());
    }
    engine::UpdateError AddImage(std::u16string_view offerPath,
                                 std::u16string_view payloadPath) override {
        return Result("AddImage", inner_.AddImage(offerPath, payloadPath));
    }
    engine::UpdateError StopAddImage() override {
        return Result("StopAddImage", inner_.StopAddImage());
    }
    engine::UpdateError OpenDeviceEndpoint(std::u16string_view path,
                                           cfu::EndpointHandle& handle) override {
        return Result("OpenDeviceEndpoint", inner_.OpenDeviceEndpoint(path, handle));
    }
    engine::UpdateError CloseDeviceEndpoint(cfu::EndpointHandle handle) override {
        return Result("CloseDeviceEndpoint", inner_.CloseDeviceEndpoint(handle));
    }
    engine::UpdateError GetDeviceDescription(cfu::EndpointHandle handle,
                                             cfu::DeviceComponents& description) override {
        return Result("GetDeviceDescription", inner_.GetDeviceDescription(handle, description));
    }
    engine::UpdateError RegisterProgressListener(cfu::EndpointHandle handle,
                                                 engine::ProgressListener* listener) override {
        return Result("RegisterProgressListener",
                      inner_.RegisterProgressListener(handle, listener));
    }
    engine::UpdateError UnregisterProgressListener(cfu::EndpointHandle handle) override {
        return Result("UnregisterProgressListener", inner_.UnregisterProgressListener(handle));
    }
    engine::UpdateError Update(cfu::EndpointHandle handle) override {
        return Result("Update", inner_.Update(handle));
    }

    // Reads, not calls of the run's order: forwarded unrecorded.
    cfu::DeviceAnswer LastDeviceAnswer(cfu::EndpointHandle handle) override {
        return inner_.LastDeviceAnswer(handle);
    }
    const engine::ImageEntries& Images() override { return inner_.Images(); }
    std::int32_t DeviceFamily() override { return inner_.DeviceFamily(); }
    int ListInterfaces(std::vector<std::u16string>& paths) override {
        return inner_.ListInterfaces(paths);
    }
    std::u16string InterfaceSerial(const std::u16string& path) override {
        return inner_.InterfaceSerial(path);
    }

  private:
    void Record(const char* call) { calls_.emplace_back(call); }
    engine::UpdateError Result(const char* call, engine::UpdateError real) {
        Record(call);
        if (!failed_ && failingCall_ == call) {
            failed_ = true;
            return error_;
        }
        return real;
    }

    cfu::UpdateLibrary& inner_;
    const std::string failingCall_;
    const engine::UpdateError error_;
    bool failed_ = false;
    std::vector<std::string> calls_;
};

}  // namespace zelk::app
