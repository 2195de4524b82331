// Progress broadcasts as a D-Bus signal on the session bus (see
// docs/progress-broadcast.md): the Linux form of the registered window message
// that Windows posts to every application.

#include <systemd/sd-bus.h>

#include <mutex>
#include <string>

#include "app/platform/platform.h"
#include "app/text/text_encoding.h"

namespace zelk::app::platform {
namespace {

constexpr char kObjectPath[] = "/com/zelk/UpdateTool";
constexpr char kInterface[] = "com.zelk.UpdateTool";
constexpr char kMember[] = "Progress";

class SessionBusBroadcaster final : public ProgressBroadcaster {
  public:
    ~SessionBusBroadcaster() override { sd_bus_flush_close_unref(bus_); }

    void Broadcast(ProgressEvent event, std::int64_t lParam) override {
        // Broadcasts come from the update worker and sd-bus objects are not
        // thread-safe.
        std::lock_guard lock(mutex_);
        if (!Connected()) {
            return;
        }
        const int emitted =
            sd_bus_emit_signal(bus_, kObjectPath, kInterface, kMember, "sux", name_.c_str(),
                               static_cast<std::uint32_t>(event), lParam);
        // Flushing only hands the message to the bus daemon; nobody is asked
        // to answer.
        if (emitted < 0 || sd_bus_flush(bus_) < 0) {
            // A bus that went away does not come back for this process.
            bus_ = sd_bus_close_unref(bus_);
        }
    }

  private:
    // Connects on first use. Without a session bus (a service, a login
    // without a desktop) broadcasts are meant to be dropped silently, so a
    // failed attempt is not repeated for every percent of a run.
    bool Connected() {
        if (bus_ != nullptr) {
            return true;
        }
        if (connectTried_) {
            return false;
        }
        connectTried_ = true;
        sd_bus* bus = nullptr;
        if (sd_bus_open_user(&bus) < 0) {
            sd_bus_unref(bus);
            return false;
        }
        bus_ = bus;
        return true;
    }

    std::mutex mutex_;
    sd_bus* bus_ = nullptr;
    bool connectTried_ = false;
    const std::string name_ = Utf16ToUtf8(kProgressBroadcastName);
};

}  // namespace

std::unique_ptr<ProgressBroadcaster> CreateProgressBroadcaster() {
    return std::make_unique<SessionBusBroadcaster>();
}

}  // namespace zelk::app::platform
