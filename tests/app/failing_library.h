// A decorator over the library calls for driver tests: every call is made on
// the real library and its name recorded; the first call of the chosen name
// then reports the chosen code instead of its own result. The call is still
// made, so the library stays as the run left it (a close that "fails" has
// closed) and the run's later calls work on real state.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/run/update_library.h"

namespace zelk::app {

class FailingLibrary final : public UpdateLibrary {
  public:
    FailingLibrary(UpdateLibrary& inner, std::string failingCall, ResultCode code)
        : inner_(inner), failingCall_(std::move(failingCall)), code_(code) {}

    // The calls in the order they were made.
    const std::vector<std::string>& Calls() const { return calls_; }

    void SetConfig(const UpdateConfig& config) override {
        Record("SetConfig");
        inner_.SetConfig(config);
    }
    void SetConfigEx(const UpdateConfig& config) override {
        Record("SetConfigEx");
        inner_.SetConfigEx(config);
    }
    void SetUpdateOptions(const UpdateOptions& options) override {
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
    std::int32_t GetDeviceNumber() override {
        Record("GetDeviceNumber");
        return inner_.GetDeviceNumber();
    }
    ResultCode GetDeviceEndpointPath(char16_t* buffer, std::int32_t capacity) override {
        return Result("GetDeviceEndpointPath", inner_.GetDeviceEndpointPath(buffer, capacity));
    }
    ResultCode StartAddImage() override { return Result("StartAddImage", inner_.StartAddImage()); }
    ResultCode AddImage(std::u16string_view offerPath, std::u16string_view payloadPath) override {
        return Result("AddImage", inner_.AddImage(offerPath, payloadPath));
    }
    ResultCode StopAddImage() override { return Result("StopAddImage", inner_.StopAddImage()); }
    ResultCode OpenDeviceEndpoint(std::u16string_view path, EndpointHandle* handle) override {
        return Result("OpenDeviceEndpoint", inner_.OpenDeviceEndpoint(path, handle));
    }
    ResultCode CloseDeviceEndpoint(EndpointHandle handle) override {
        return Result("CloseDeviceEndpoint", inner_.CloseDeviceEndpoint(handle));
    }
    ResultCode GetDeviceDescription(EndpointHandle handle,
                                    DeviceDescription* description) override {
        return Result("GetDeviceDescription", inner_.GetDeviceDescription(handle, description));
    }
    ResultCode RegisterUpdateStatusCallback(EndpointHandle handle,
                                            UpdateStatusCallback callback) override {
        return Result("RegisterUpdateStatusCallback",
                      inner_.RegisterUpdateStatusCallback(handle, callback));
    }
    ResultCode UnregisterUpdateStatusCallback(EndpointHandle handle) override {
        return Result("UnregisterUpdateStatusCallback",
                      inner_.UnregisterUpdateStatusCallback(handle));
    }
    ResultCode Update(EndpointHandle handle) override {
        return Result("Update", inner_.Update(handle));
    }

    // Reads, not calls of the run's order: forwarded unrecorded.
    cfu::DeviceAnswer LastDeviceAnswer(EndpointHandle handle) override {
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
    ResultCode Result(const char* call, ResultCode real) {
        Record(call);
        if (!failed_ && failingCall_ == call) {
            failed_ = true;
            return code_;
        }
        return real;
    }

    UpdateLibrary& inner_;
    const std::string failingCall_;
    const ResultCode code_;
    bool failed_ = false;
    std::vector<std::string> calls_;
};

}  // namespace zelk::app
