// What a user without access to a hidraw node sees: the device is still
// listed, opening it fails, and one line says how to get access. Needs root
// and /dev/uhid, so it runs only with ZELK_CONFORMANCE_BACKEND=hidraw (in the
// guest kernel).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hidtransport/linux/hidraw_backend.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "tools/linux/uhid_device.h"

namespace zelk::hid::hidraw {
namespace {

bool OnHidraw() {
    const char* chosen = std::getenv("ZELK_CONFORMANCE_BACKEND");
    return chosen != nullptr && std::string_view(chosen) == "hidraw";
}

TEST(HidrawAccess, APermissionProblemIsListedRefusedAndExplained) {
    if (!OnHidraw() || ::geteuid() != 0) {
        GTEST_SKIP() << "needs root and /dev/uhid (ZELK_CONFORMANCE_BACKEND=hidraw)";
    }
    std::string error;
    auto device = uhid::UhidDevice::Create(virt::DefaultEarbud(), "access", error);
    ASSERT_NE(device, nullptr) << error;
    const std::string node = device->WaitForNode(std::chrono::seconds(5));
    ASSERT_FALSE(node.empty());
    ASSERT_EQ(::chmod(node.c_str(), 0600), 0);

    char messages[] = "/tmp/zelk-access-XXXXXX";
    const int messageFd = ::mkstemp(messages);
    ASSERT_GE(messageFd, 0);
    // The user's side runs in a fresh process (this one has threads), as
    // nobody, with stderr captured.
    const std::string nodeVariable = "ZELK_ACCESS_TEST_NODE=" + node;
    char* const childEnvironment[] = {const_cast<char*>(nodeVariable.c_str()), nullptr};
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(messageFd, STDOUT_FILENO);
        ::dup2(messageFd, STDERR_FILENO);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(10);
        }
        ::execle("/proc/self/exe", "hid_conformance_tests", "--gtest_filter=HidrawAccess.UserSide",
                 nullptr, childEnvironment);
        ::_exit(14);
    }
    int status = 0;
    const pid_t waited = ::waitpid(child, &status, 0);
    std::string text(16384, '\0');
    const ssize_t got = ::pread(messageFd, text.data(), text.size(), 0);
    ::close(messageFd);
    ::unlink(messages);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    ASSERT_EQ(waited, child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: setuid failed, 14: exec failed, 1: see below\n"
                                      << text;

    // The child printed the backend's note for the user.
    EXPECT_NE(text.find("note: No permission to open " + node + " ("), std::string::npos) << text;
    EXPECT_NE(text.find("udev"), std::string::npos) << text;
}

// The other half of the test above: an ordinary user's view of the node.
TEST(HidrawAccess, UserSide) {
    const char* nodeText = std::getenv("ZELK_ACCESS_TEST_NODE");
    if (nodeText == nullptr) {
        GTEST_SKIP() << "run by APermissionProblemIsListedRefusedAndExplained";
    }
    const std::string node = nodeText;
    HidrawBackend backend;
    std::vector<std::u16string> paths;
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    std::u16string own;
    for (const auto& path : paths) {
        if (std::string(path.begin(), path.end()).starts_with(node + "#")) {
            own = path;
        }
    }
    ASSERT_FALSE(own.empty()) << "the node is listed without opening it";
    EXPECT_EQ(backend.Open(own, HidOpenMode::Query), kInvalidHidHandle);
    EXPECT_EQ(backend.Open(own, HidOpenMode::Io), kInvalidHidHandle);
    EXPECT_TRUE(backend.AccessWasDenied());
    std::printf("note: %s\n", backend.AccessProblem().c_str());
}

}  // namespace
}  // namespace zelk::hid::hidraw
