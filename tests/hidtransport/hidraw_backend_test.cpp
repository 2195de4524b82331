// The hidraw backend's own parts that need no kernel device: its path format
// and its listing, on a made-up sysfs tree. What it does with real devices is
// in the conformance tests, run on a guest kernel.
#if defined(__linux__)

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hidtransport/device_discovery.h"
#include "hidtransport/linux/hidraw_backend.h"
#include "hidtransport/linux/hidraw_path.h"
#include "hidtransport/virtual/report_descriptor_builder.h"
#include "hidtransport/virtual/virtual_device_file.h"

namespace zelk::hid::hidraw {
namespace {

namespace fs = std::filesystem;

TEST(HidrawPath, CarriesTheIdentityTheNodeAndTheCollection) {
    struct Case {
        InterfaceIdentity identity;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {{"/dev/hidraw3", 0x320F, 0x5055, 2, 0, "0003:320F:5055.0007"},
         "/dev/hidraw3#VID_320F&PID_5055&MI_02#0003:320F:5055.0007"},
        {{"/dev/hidraw12", 0x046D, 0xC52B, -1, 2, "0005:046D:C52B.0001"},
         "/dev/hidraw12#VID_046D&PID_C52B&Col02#0005:046D:C52B.0001"},
        {{"/dev/hidraw0", 0xABCD, 0x0001, 0x1F, 1, ""},
         "/dev/hidraw0#VID_ABCD&PID_0001&MI_1F&Col01"},
    };
    for (const Case& c : cases) {
        const std::string path = FormatInterfacePath(c.identity);
        EXPECT_EQ(path, c.expected);
        const auto target = ParseInterfacePath(path);
        ASSERT_TRUE(target) << path;
        EXPECT_EQ(target->node, c.identity.node);
        EXPECT_EQ(target->collectionIndex,
                  c.identity.collection > 0 ? c.identity.collection - 1 : 0);
        EXPECT_EQ(target->deviceName, c.identity.deviceName);
    }
}

TEST(HidrawPath, RefusesWhatNamesNoHidrawNode) {
    for (const char* bad : {"", "/dev/null", "/dev/hidraw", "/dev/hidrawX#VID_1", "/tmp/hidraw1",
                            "/dev/hidraw1#VID_320F&Col00", "/dev/hidraw1#VID_320F&ColXY",
                            "/dev/hidraw1#VID_320F#", "/dev/hidraw1#VID_320F#a/b"}) {
        EXPECT_FALSE(ParseInterfacePath(bad)) << bad;
    }
    const auto lower = ParseInterfacePath("/dev/hidraw1#vid_320f&pid_5055&col03");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->collectionIndex, 2);
    EXPECT_TRUE(ParseInterfacePath("/dev/hidraw7"));
}

TEST(HidrawPath, ReadsHidIdAndThePhysicalInterfaceNumber) {
    const auto usb = ParseHidId("0003:0000320F:00005055");
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->bus, 3u);
    EXPECT_EQ(usb->vendorId, 0x320F);
    EXPECT_EQ(usb->productId, 0x5055);
    for (const char* bad : {"", "0003", "0003:0000320F", "0003:00010000:00000001",
                            "0003:0000320G:00005055", "0003::5055"}) {
        EXPECT_FALSE(ParseHidId(bad)) << bad;
    }
    EXPECT_EQ(InterfaceNumberFromPhys("usb-0000:00:14.0-1/input2"), 2);
    EXPECT_EQ(InterfaceNumberFromPhys("zelk-uhid-1/input12"), 12);
    EXPECT_EQ(InterfaceNumberFromPhys("usb-0000:00:14.0-1"), -1);
    EXPECT_EQ(InterfaceNumberFromPhys("x/input"), -1);
    EXPECT_EQ(InterfaceNumberFromPhys("x/input2a"), -1);
}

// A made-up /sys/class/hidraw and /dev.
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("zelk-hidraw-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "class");
        fs::create_directories(root_ / "dev");
    }
    void TearDown() override { fs::remove_all(root_); }

    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    static std::string Bytes(const std::vector<std::uint8_t>& bytes) {
        return std::string(bytes.begin(), bytes.end());
    }
    // A node whose device hangs off `parent`; empty texts leave files out.
    void AddNode(const std::string& node, const std::string& parent, const std::string& name,
                 const std::string& uevent, const std::string& descriptor) {
        const fs::path device = root_ / "devices" / parent / name;
        fs::create_directories(device);
        if (!uevent.empty()) {
            Write(device / "uevent", uevent);
        }
        if (!descriptor.empty()) {
            Write(device / "report_descriptor", descriptor);
        }
        fs::create_directories(root_ / "class" / node);
        fs::create_directory_symlink(device, root_ / "class" / node / "device");
    }
    HidrawBackend Backend() const {
        return HidrawBackend(HidrawRoots{(root_ / "class").string(), (root_ / "dev").string()});
    }
    std::string Dev() const { return (root_ / "dev").string(); }

    fs::path root_;
};

TEST_F(FakeSysfs, ListsUsableNodesInNumberOrderAndSkipsOddOnes) {
    const std::string earbud = Bytes(virt::BuildReportDescriptor(virt::DefaultEarbud()));
    const std::string twoCollections = std::string(
                                           "\x05\x0C\x09\x01\xA1\x01\x85\x01\x15\x00"
                                           "\x26\xFF\x00\x75\x08\x95\x02\x09\xE9\x81"
                                           "\x02\xC0",
                                           22) +
                                       earbud;
    Write(root_ / "devices/usb1/1-1:1.2/bInterfaceNumber", "02\n");
    AddNode("hidraw10", "usb1/1-1:1.2", "0003:320F:5055.000A",
            "HID_ID=0003:0000320F:00005055\nHID_PHYS=usb-1/input2\n", earbud);
    AddNode("hidraw0", "usb1/1-1:1.2", "0003:320F:5055.0001",
            "HID_ID=0003:0000320F:00005055\nHID_NAME=Zelk Earbud\nHID_PHYS=usb-1/input2\n", earbud);
    AddNode("hidraw1", "virtual", "0003:0001:0001.0002", "", earbud);
    AddNode("hidraw2", "virtual", "0003:0001:0002.0003", "HID_ID=what\n", earbud);
    AddNode("hidraw3", "bt", "0005:046D:B01A.0004", "HID_ID=0005:0000046D:0000B01A\n",
            twoCollections);
    AddNode("hidraw4", "uhid", "0003:1234:5678.0005",
            "HID_ID=0003:00001234:00005678\nHID_PHYS=zelk-uhid-1/input7\n", "");
    AddNode("hidraw5", "uhid", "0003:1234:5679.0006", "HID_ID=0003:00001234:00005679\n",
            std::string("\xA1\x01\x81", 3));  // the parser refuses it
    AddNode("hidraw6", "uhid", "0019:1234:567A.0007", "HID_ID=0019:00001234:0000567A\n",
            earbud);  // an unusual bus is still a device
    fs::create_directories(root_ / "class" / "hidrawx");

    HidrawBackend backend = Backend();
    std::vector<std::u16string> paths;
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    std::vector<std::string> narrow;
    for (const auto& path : paths) {
        narrow.emplace_back(path.begin(), path.end());
    }
    const std::string dev = Dev();
    const std::vector<std::string> expected = {
        dev + "/hidraw0#VID_320F&PID_5055&MI_02#0003:320F:5055.0001",
        dev + "/hidraw3#VID_046D&PID_B01A&Col01#0005:046D:B01A.0004",
        dev + "/hidraw3#VID_046D&PID_B01A&Col02#0005:046D:B01A.0004",
        dev + "/hidraw4#VID_1234&PID_5678&MI_07#0003:1234:5678.0005",
        dev + "/hidraw6#VID_1234&PID_567A#0019:1234:567A.0007",
        dev + "/hidraw10#VID_320F&PID_5055&MI_02#0003:320F:5055.000A",
    };
    EXPECT_EQ(narrow, expected);
}

TEST_F(FakeSysfs, NoHidrawClassMeansNoInterfaces) {
    fs::remove_all(root_ / "class");
    HidrawBackend backend = Backend();
    std::vector<std::u16string> paths = {u"stale"};
    EXPECT_EQ(backend.ListInterfaces(paths), 0);
    EXPECT_TRUE(paths.empty());
}

TEST_F(FakeSysfs, OpenRefusesFilesThatAreNotHidrawNodesAndReusedNumbers) {
    const std::string earbud = Bytes(virt::BuildReportDescriptor(virt::DefaultEarbud()));
    AddNode("hidraw0", "usb", "0003:320F:5055.0001", "HID_ID=0003:0000320F:00005055\n", earbud);
    Write(root_ / "dev" / "hidraw0", "not a device");
    HidrawBackend backend = Backend();
    const std::string dev = Dev();
    for (const std::string& path :
         {dev + "/hidraw0#VID_320F&PID_5055#0003:320F:5055.0001",  // a plain file
          dev + "/hidraw0#VID_320F&PID_5055#0003:320F:5055.0009",  // another device now
          dev + "/hidraw1#VID_320F&PID_5055"}) {                   // no such node
        const std::u16string wide(path.begin(), path.end());
        EXPECT_EQ(backend.Open(wide, HidOpenMode::Query), kInvalidHidHandle) << path;
        EXPECT_EQ(backend.Open(wide, HidOpenMode::Io), kInvalidHidHandle) << path;
    }
    EXPECT_FALSE(backend.AccessWasDenied());
    EXPECT_EQ(backend.AccessProblem(), "");
}

// The serial string comes from HID_UNIQ of the node's HID device, read from
// sysfs (no /dev node here, so nothing could be opened), and only while the
// node still belongs to the device that the path names.
TEST_F(FakeSysfs, TheSerialIsTheHidUniqOfTheDeviceBehindTheNode) {
    struct Case {
        const char* name;
        std::string uniqLine;    // of the uevent
        std::string pathDevice;  // the device the path names
        bool expected;
        std::u16string serial;
    };
    const Case cases[] = {
        {"a serial", "HID_UNIQ=ZB-0042\n", "0003:320F:5055.0001", true, u"ZB-0042"},
        {"UTF-8 in it", "HID_UNIQ=ZB-\xC3\xA9\n", "0003:320F:5055.0001", true, u"ZB-\u00E9"},
        {"a byte that is no UTF-8 left out",
         "HID_UNIQ=Z\xFF"
         "B\n",
         "0003:320F:5055.0001", true, u"ZB"},
        {"empty", "HID_UNIQ=\n", "0003:320F:5055.0001", false, u""},
        {"none", "", "0003:320F:5055.0001", false, u""},
        {"the node went to another device", "HID_UNIQ=ZB-0042\n", "0003:320F:5055.0009", false,
         u""},
    };
    const std::string earbud = Bytes(virt::BuildReportDescriptor(virt::DefaultEarbud()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_ / "class" / "hidraw0");
        fs::remove_all(root_ / "devices");
        AddNode("hidraw0", "usb", "0003:320F:5055.0001",
                "HID_ID=0003:0000320F:00005055\n" + c.uniqLine + "HID_PHYS=usb-1/input2\n", earbud);
        HidrawBackend backend = Backend();
        const std::string path = Dev() + "/hidraw0#VID_320F&PID_5055&MI_02#" + c.pathDevice;
        std::u16string serial = u"stale";
        EXPECT_EQ(backend.SerialNumber(std::u16string(path.begin(), path.end()), serial),
                  c.expected);
        EXPECT_EQ(serial, c.serial);
    }
}

// A node the user may not open: sysfs still tells which collection each of
// its interfaces is, so only the wanted one counts as a device left unopened.
TEST_F(FakeSysfs, AnUnopenableNodeIsDescribedFromSysfs) {
    const std::string earbud = Bytes(virt::BuildReportDescriptor(virt::DefaultEarbud()));
    const std::string consumer(
        "\x05\x0C\x09\x01\xA1\x01\x85\x01\x15\x00"
        "\x26\xFF\x00\x75\x08\x95\x02\x09\xE9\x81"
        "\x02\xC0",
        22);
    AddNode("hidraw3", "usb", "0003:320F:5055.0004", "HID_ID=0003:0000320F:00005055\n",
            consumer + earbud);  // no /dev/hidraw3: it cannot be opened
    HidrawBackend backend = Backend();
    std::vector<std::u16string> paths;
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    ASSERT_EQ(paths.size(), 2u);
    HidCaps caps;
    ASSERT_TRUE(backend.DescribeUnopened(paths[0], caps));
    EXPECT_EQ(caps.UsagePage, 0x000C);
    ASSERT_TRUE(backend.DescribeUnopened(paths[1], caps));
    EXPECT_EQ(caps.UsagePage, 0xFF0B);
    EXPECT_EQ(caps.Usage, 0x0104);
    EXPECT_EQ(backend.Open(paths[1], HidOpenMode::Query), kInvalidHidHandle);

    const MatchCriteria criteria{0x320F, 0x5055, 0xFF0B, 0x0104};
    InterfacePathList matched;
    EXPECT_EQ(MatchDevices(backend, criteria, matched), 0);
    EXPECT_EQ(UnopenableMatches(backend, criteria), InterfacePathList{paths[1]});
}

}  // namespace
}  // namespace zelk::hid::hidraw

#endif
