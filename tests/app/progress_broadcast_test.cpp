// Progress broadcasts as D-Bus signals, checked on a private session bus: a
// dbus-daemon of the test's own, listened to over a second connection.
#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/platform/platform.h"
#include "tests/app/scoped_environment.h"
#include "tests/app/scratch_directory.h"

extern char** environ;

namespace zelk::app {
namespace {

struct Signal {
    std::string path;
    std::string interface;
    std::string member;
    std::string signature;
    std::string name;
    std::uint32_t event = 0;
    std::int64_t lParam = 0;
};

int CollectSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    Signal signal;
    signal.path = sd_bus_message_get_path(message) ? sd_bus_message_get_path(message) : "";
    signal.interface =
        sd_bus_message_get_interface(message) ? sd_bus_message_get_interface(message) : "";
    signal.member = sd_bus_message_get_member(message) ? sd_bus_message_get_member(message) : "";
    signal.signature = sd_bus_message_get_signature(message, 1);
    const char* name = nullptr;
    if (sd_bus_message_read(message, "sux", &name, &signal.event, &signal.lParam) >= 0) {
        signal.name = name;
    }
    static_cast<std::vector<Signal>*>(userdata)->push_back(signal);
    return 0;
}

// A session bus daemon on a socket in a scratch directory, and a connection
// that has subscribed to the updater's interface.
class ProgressBroadcast : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        StartDaemon();
        if (HasFatalFailure()) {
            return;
        }
        environment_.Set("DBUS_SESSION_BUS_ADDRESS", address_);

        ASSERT_GE(sd_bus_open_user(&listener_), 0);
        ASSERT_GE(
            sd_bus_add_match(listener_, nullptr, "type='signal',interface='com.zelk.UpdateTool'",
                             CollectSignal, &received_),
            0);
    }

    void TearDown() override {
        sd_bus_flush_close_unref(listener_);
        if (daemon_ > 0) {
            kill(daemon_, SIGTERM);
            waitpid(daemon_, nullptr, 0);
        }
    }

    void StartDaemon() {
        int pipeFds[2];
        ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        const std::string listen = "--address=unix:path=" + scratch_.Path() + "/bus";
        std::vector<std::string> words{"dbus-daemon", "--session", "--nofork", "--print-address",
                                       listen};
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        const int spawned =
            posix_spawnp(&daemon_, "dbus-daemon", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        if (spawned != 0) {
            daemon_ = 0;
            close(pipeFds[0]);
            FAIL() << "cannot start dbus-daemon (" << std::strerror(spawned)
                   << "): install the dbus-daemon package to test progress broadcasts";
        }
        // The address is printed once the daemon listens.
        std::string line;
        char c = 0;
        pollfd readable{pipeFds[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&readable, 1, 10'000) > 0 &&
               read(pipeFds[0], &c, 1) == 1) {
            line += c;
        }
        close(pipeFds[0]);
        ASSERT_NE(line.find('\n'), std::string::npos) << "dbus-daemon printed no address";
        line.pop_back();
        address_ = line;
    }

    // Dispatches the listener's messages until `count` signals arrived or a
    // generous deadline passed.
    void Receive(std::size_t count) {
        for (int rounds = 0; received_.size() < count && rounds < 200; ++rounds) {
            const int processed = sd_bus_process(listener_, nullptr);
            ASSERT_GE(processed, 0);
            if (processed == 0) {
                sd_bus_wait(listener_, 50'000);
            }
        }
    }

    ScratchDirectory scratch_{"zelk-dbus"};
    ScopedEnvironment environment_;
    pid_t daemon_ = 0;
    std::string address_;
    sd_bus* listener_ = nullptr;
    std::vector<Signal> received_;
};

TEST_F(ProgressBroadcast, SignalsArriveInOrderWithNameEventAndValue) {
    const auto broadcaster = platform::CreateProgressBroadcaster();
    constexpr std::int64_t kWide = (std::int64_t{1} << 40) + 3;  // needs all 64 bits
    broadcaster->Broadcast(ProgressEvent::Progress, 10);
    broadcaster->Broadcast(ProgressEvent::Succeeded, 0);
    broadcaster->Broadcast(ProgressEvent::RunEnded, kWide);

    Receive(3);
    ASSERT_EQ(received_.size(), 3u);
    const std::pair<std::uint32_t, std::int64_t> expected[] = {{4, 10}, {1, 0}, {5, kWide}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Signal& signal = received_[i];
        EXPECT_EQ(signal.path, "/com/zelk/UpdateTool");
        EXPECT_EQ(signal.interface, "com.zelk.UpdateTool");
        EXPECT_EQ(signal.member, "Progress");
        EXPECT_EQ(signal.signature, "sux");
        EXPECT_EQ(signal.name, "{4695579F-999A-41d4-9FAF-EFFCE93EBF15}");
        EXPECT_EQ(signal.event, expected[i].first);
        EXPECT_EQ(signal.lParam, expected[i].second);
    }
}

TEST_F(ProgressBroadcast, ConnectsAtTheFirstBroadcastNotWhenCreated) {
    environment_.Set("DBUS_SESSION_BUS_ADDRESS", nullptr);
    environment_.Set("XDG_RUNTIME_DIR", nullptr);
    const auto broadcaster = platform::CreateProgressBroadcaster();
    environment_.Set("DBUS_SESSION_BUS_ADDRESS", address_);
    broadcaster->Broadcast(ProgressEvent::NoDevice, 0);
    Receive(1);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].event, 2u);
}

TEST_F(ProgressBroadcast, NoSecondAttemptAfterTheBusWasMissing) {
    environment_.Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + scratch_.Path() + "/missing");
    const auto gaveUp = platform::CreateProgressBroadcaster();
    gaveUp->Broadcast(ProgressEvent::Progress, 1);
    environment_.Set("DBUS_SESSION_BUS_ADDRESS", address_);
    gaveUp->Broadcast(ProgressEvent::Progress, 2);
    // A broadcaster that connects marks the end: the one that gave up has sent
    // its message by then, if it sent one.
    platform::CreateProgressBroadcaster()->Broadcast(ProgressEvent::RunEnded, 0);
    Receive(1);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].event, 5u);
}

// Without a session bus nothing is sent, nothing is printed and nothing fails.
TEST(ProgressBroadcastWithoutBus, IsSkippedQuietly) {
    ScratchDirectory scratch;
    ASSERT_FALSE(scratch.Path().empty());
    struct Case {
        const char* what;
        std::string address;     // empty: unset
        std::string runtimeDir;  // empty: unset
    };
    const Case cases[] = {
        {"address of a missing socket", "unix:path=" + scratch.Path() + "/missing", ""},
        {"unparsable address", "no-such-transport:", ""},
        {"no address, runtime dir without a bus", "", scratch.Path()},
        {"no address, no runtime dir", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnvironment environment;
        environment.Set("DBUS_SESSION_BUS_ADDRESS",
                        c.address.empty() ? nullptr : c.address.c_str());
        environment.Set("XDG_RUNTIME_DIR", c.runtimeDir.empty() ? nullptr : c.runtimeDir.c_str());

        std::fflush(stderr);
        const std::string captured = scratch.Path() + "/stderr";
        const int capture = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(capture, 0);
        const int savedStderr = dup(STDERR_FILENO);
        dup2(capture, STDERR_FILENO);
        {
            const auto broadcaster = platform::CreateProgressBroadcaster();
            broadcaster->Broadcast(ProgressEvent::Progress, 50);
            broadcaster->Broadcast(ProgressEvent::RunEnded, 0);
        }
        std::fflush(stderr);
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
        close(capture);

        struct stat info {};
        ASSERT_EQ(stat(captured.c_str(), &info), 0);
        EXPECT_EQ(info.st_size, 0) << "the broadcaster printed to stderr";
    }
}

}  // namespace
}  // namespace zelk::app

#endif
