// zelk-uhid-device serves each device as one kernel device from its start to
// its stop; a device file that asks for more is refused by name, not served
// as something else.
#include <gtest/gtest.h>

#include <string>

#include "hidtransport/virtual/virtual_device_file.h"
#include "tools/linux/uhid_device.h"

namespace {

using zelk::hid::virt::DefaultEarbud;
using zelk::hid::virt::DeviceBehaviour;
using zelk::hid::virt::VirtualDeviceConfig;
using zelk::uhid::UhidDevice;

TEST(UhidUnservable, ScheduleAndReturnUnderANewNodeAreRefusedByName) {
    struct Case {
        const char* name;
        void (*shape)(VirtualDeviceConfig&);
        const char* refusalStart;  // empty: served
    };
    const Case cases[] = {
        {"plain earbud", [](VirtualDeviceConfig&) {}, ""},
        {"unplugs when done", [](VirtualDeviceConfig& c) { c.behaviour.unplugOnComplete = true; },
         ""},
        {"schedule",
         [](VirtualDeviceConfig& c) {
             c.schedule = {{100, true, false}};
         },
         "devices[3].schedule: not supported by zelk-uhid-device"},
        {"reappears",
         [](VirtualDeviceConfig& c) {
             c.behaviour.reappearAsNewNode = DeviceBehaviour::Reappearance{};
         },
         "devices[3].behaviour.reappearAsNewNode: not supported by zelk-uhid-device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualDeviceConfig config = DefaultEarbud();
        c.shape(config);
        const std::string why = UhidDevice::Unservable(config, "devices[3]");
        EXPECT_EQ(why.rfind(c.refusalStart, 0), 0u) << why;
        EXPECT_EQ(why.empty(), *c.refusalStart == '\0') << why;
    }
}

}  // namespace
