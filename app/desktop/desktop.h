// The desktop seam as the updater's logic sees it: one object with both
// parts, the window (desktop_window.h) and the operating system's services
// (system_services.h). The dialog logic, the update driver and the package
// code are written once against this.
//
// A desktop implements the window part itself and takes the services from
// OsServices (os_services.h), written once per OS:
//
//     class ConsoleDesktop final : public Desktop, public OsServices { ... };
//
// Both parts are virtual bases, so OsServices' definitions complete the
// Desktop without any forwarding.
#pragma once

#include "app/desktop/desktop_window.h"
#include "app/platform/system_services.h"

namespace zelk::app {

class Desktop : public virtual DesktopWindow, public virtual SystemServices {};

}  // namespace zelk::app
