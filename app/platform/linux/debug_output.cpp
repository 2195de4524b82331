// Developer lines go to the system log at debug level under the tag
// "zelkupdate"; with systemd they are in the journal:
//   journalctl -t zelkupdate -p debug
// Without a syslog socket (some containers) they are dropped.

#include <syslog.h>

#include <mutex>

#include "app/platform/platform.h"
#include "app/text/text_encoding.h"

namespace zelk::app::platform {

void DebugOutput(std::u16string_view text) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("zelkupdate", LOG_PID, LOG_USER); });
    const std::string line = Utf16ToUtf8(text);
    syslog(LOG_DEBUG, "%s", line.c_str());
}

}  // namespace zelk::app::platform
