// Progress broadcasts as a registered window message posted to every
// top-level window of every application: wParam is the event, lParam its
// value (docs/progress-broadcast.md).

#include "app/platform/platform.h"
#include "app/platform/win32/wide_text.h"

#include <windows.h>

namespace zelk::app::platform {
namespace {

class WindowMessageBroadcaster final : public ProgressBroadcaster {
  public:
    // Other programs register the same name and so learn the same number.
    WindowMessageBroadcaster()
        : message_(RegisterWindowMessageW(ToWide(kProgressBroadcastName).c_str())) {}

    // Posted, never sent: a hung window cannot hold up the update.
    void Broadcast(ProgressEvent event, std::int64_t lParam) override {
        if (message_ == 0) {
            return;
        }
        DWORD recipients = BSM_APPLICATIONS;  // the call may write to it
        BroadcastSystemMessageW(BSF_POSTMESSAGE, &recipients, message_, static_cast<WPARAM>(event),
                                static_cast<LPARAM>(lParam));
    }

  private:
    const UINT message_;
};

}  // namespace

std::unique_ptr<ProgressBroadcaster> CreateProgressBroadcaster() {
    return std::make_unique<WindowMessageBroadcaster>();
}

}  // namespace zelk::app::platform
