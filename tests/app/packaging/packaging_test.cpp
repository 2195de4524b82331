// The package as the programs see it: the probe built with zelk_embed_package,
// damaged copies of it, and qrb_resource_adder run as an administrator would.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/package/resource_bundle.h"
#include "sample_firmware_paths.h"

extern char** environ;

namespace zelk::app {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) {
        return {};
    }
    Bytes bytes(static_cast<std::size_t>(size));
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return bytes;
}

void WriteFile(const fs::path& path, const Bytes& bytes,
               fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    fs::permissions(path, perms);
}

constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class PackagingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() /
               ("zelk_packaging_" + std::to_string(random()) + std::to_string(random()));
        ASSERT_TRUE(fs::create_directories(dir_ / "io"));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Runs a program to its end with stdout and stderr captured.
    Outcome Run(const std::vector<std::string>& arguments) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        const std::string out = (dir_ / "io" / "out").string();
        const std::string err = (dir_ / "io" / "err").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        Outcome outcome;
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << arguments[0];
            return outcome;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        const Bytes outBytes = ReadFile(out);
        const Bytes errBytes = ReadFile(err);
        outcome.out.assign(outBytes.begin(), outBytes.end());
        outcome.err.assign(errBytes.begin(), errBytes.end());
        return outcome;
    }

    // A copy of the probe in the test's directory, changed by `damage`.
    fs::path ProbeCopy(const std::string& name, void (*damage)(Bytes&, std::size_t)) {
        Bytes bytes = ReadFile(ZELK_PROBE);
        const BundleReadResult read = ReadBundle(bytes);
        EXPECT_TRUE(read.ok) << read.error;
        damage(bytes, read.executableSize);
        const fs::path copy = dir_ / name;
        WriteFile(copy, bytes, kExecutable);
        return copy;
    }

    // Every file in the test's directory except the captured output.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            if (entry.path().filename() != "io") {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

constexpr const char* kLookups[] = {"FIRE_WARE 139 ", "FIRE_WARE2 140 ", "FIRE_DEVICEINFO 141 "};

// Whether each of the three resources was reported with `state`.
bool AllThree(const std::string& out, const std::string& state) {
    for (const char* lookup : kLookups) {
        if (out.find(std::string(lookup) + state) == std::string::npos) {
            return false;
        }
    }
    return true;
}

TEST_F(PackagingTest, BuiltProbeFindsAllThreeByteForByte) {
    const Outcome run =
        Run({ZELK_PROBE, ZELK_SAMPLE_OFFER, ZELK_SAMPLE_PAYLOAD, ZELK_SHIPPED_DEVICEINFO});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(AllThree(run.out, "Found")) << run.out;
    EXPECT_NE(run.out.find("FIRE_DEVICEINFO 141 Found 41 matches"), std::string::npos) << run.out;
}

TEST_F(PackagingTest, ProbeWithoutPackageFindsNothing) {
    const fs::path probe = ProbeCopy("bare", [](Bytes& b, std::size_t start) { b.resize(start); });
    const Outcome run = Run({probe.string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(AllThree(run.out, "NotFound")) << run.out;
}

TEST_F(PackagingTest, DamagedPackageIsUnusable) {
    struct Damage {
        const char* name;
        void (*apply)(Bytes&, std::size_t);
    };
    const Damage damages[] = {
        {"last byte cut off", [](Bytes& b, std::size_t) { b.pop_back(); }},
        {"half the package cut off",
         [](Bytes& b, std::size_t start) { b.resize(start + (b.size() - start) / 2); }},
        {"all but one package byte cut off",
         [](Bytes& b, std::size_t start) { b.resize(start + 1); }},
        {"payload byte flipped", [](Bytes& b, std::size_t start) { b[start + 1000] ^= 0x04; }},
        {"trailer byte flipped", [](Bytes& b, std::size_t) { b[b.size() - 28] ^= 0x01; }},
        {"byte appended", [](Bytes& b, std::size_t) { b.push_back(0x00); }},
        {"byte between the program and its package",
         [](Bytes& b, std::size_t start) { b.insert(b.begin() + static_cast<long>(start), 0x00); }},
        {"stale package between the program and its package",
         [](Bytes& b, std::size_t start) {
             const Bytes package(b.begin() + static_cast<long>(start), b.end());
             b.insert(b.begin() + static_cast<long>(start), package.begin(), package.end());
         }},
    };
    for (const Damage& damage : damages) {
        const fs::path probe = ProbeCopy("damaged", damage.apply);
        const Outcome run = Run({probe.string()});
        EXPECT_EQ(run.status, 0) << damage.name;
        EXPECT_TRUE(AllThree(run.out, "Unusable")) << damage.name << ":\n" << run.out;
    }
}

// Inputs for the tool: a probe without package as the updater and firmware
// that differs from the sample the build embeds.
class ResourceAdderTest : public PackagingTest {
  protected:
    void SetUp() override {
        PackagingTest::SetUp();
        updater_ = ProbeCopy("updater", [](Bytes& b, std::size_t start) { b.resize(start); });
        offer_ = Bytes(16, 0x0F);
        payload_ = Bytes(57 * 10, 0x21);
        deviceInfo_ = Bytes{'0', 'x', '1', '\r', '\n'};
        Write("offer.bin", offer_);
        Write("payload.bin", payload_);
        Write("DeviceInfo.txt", deviceInfo_);
    }

    void Write(const std::string& name, const Bytes& bytes) { WriteFile(dir_ / name, bytes); }
    std::string At(const std::string& name) const { return (dir_ / name).string(); }
    Outcome Add(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), ZELK_RESOURCE_ADDER);
        return Run(arguments);
    }

    fs::path updater_;
    Bytes offer_, payload_, deviceInfo_;
};

// The probe's own ELF header marked as a relocatable object (e_type 1).
Bytes ElfObject() {
    Bytes bytes = ReadFile(ZELK_PROBE);
    bytes.resize(64);
    bytes[16] = 1;
    bytes[17] = 0;
    return bytes;
}

TEST_F(ResourceAdderTest, BadInputIsRefusedWithOneLineAndNoOutput) {
    struct Case {
        const char* name;
        const char* file;  // the input to replace, or nothing
        Bytes bytes;
        const char* problem;  // part of the stderr line
    };
    const std::vector<Case> cases{
        {"15-byte offer", "offer.bin", Bytes(15, 1),
         "offer.bin (OFFER): an offer is exactly 16 bytes, this file has 15"},
        {"17-byte offer", "offer.bin", Bytes(17, 1),
         "offer.bin (OFFER): an offer is exactly 16 bytes, this file has 17"},
        {"empty payload", "payload.bin", Bytes{}, "payload.bin (PAYLOAD): the payload is empty"},
        {"58-byte payload", "payload.bin", Bytes(58, 1),
         "payload.bin (PAYLOAD): 58 bytes is not a whole number of 57-byte records"},
        {"1 MiB payload", "payload.bin", Bytes(1048576, 1),
         "payload.bin (PAYLOAD): 1048576 bytes is too large"},
        {"1 MiB of whole records", "payload.bin", Bytes(57 * 18397, 1),
         "payload.bin (PAYLOAD): 1048629 bytes is too large"},
        {"empty device information", "DeviceInfo.txt", Bytes{},
         "DeviceInfo.txt (DEVICEINFO): the file is empty"},
        {"4 KiB and one byte of device information", "DeviceInfo.txt", Bytes(4097, '0'),
         "DeviceInfo.txt (DEVICEINFO): 4097 bytes is too large"},
        {"empty updater", "updater", Bytes{}, "updater (UPDATER): the file is empty"},
        {"text as the updater", "updater", Bytes{'e', 'c', 'h', 'o', '\n'},
         "updater (UPDATER): is not a program (no ELF header)"},
        {"ELF object file as the updater", "updater", ElfObject(),
         "updater (UPDATER): is an ELF file but not a program"},
    };
    for (const Case& c : cases) {
        const Bytes saved = ReadFile(dir_ / c.file);
        Write(c.file, c.bytes);
        const Outcome run =
            Add({updater_.string(), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt")});
        Write(c.file, saved);
        EXPECT_EQ(run.status, 2) << c.name;
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << c.name << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.name << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.name;
        EXPECT_EQ(Files(), (std::vector<std::string>{"DeviceInfo.txt", "offer.bin", "payload.bin",
                                                     "updater"}))
            << c.name;
    }
}

TEST_F(ResourceAdderTest, MissingFilesAndBadArgumentsAreRefused) {
    struct Case {
        std::vector<std::string> arguments;
        const char* problem;
    };
    const std::vector<Case> cases{
        {{updater_.string(), At("offer.bin"), At("payload.bin"), At("none.txt")},
         "none.txt (DEVICEINFO): no such file"},
        {{At("none"), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt")},
         "none (UPDATER): no such file"},
        {{dir_.string(), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt")},
         "(UPDATER): not a regular file"},
        {{updater_.string(), At("offer.bin"), At("payload.bin")}, "expected 4 files, got 3"},
        {{updater_.string(), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt"), "-o"},
         "-o needs a file name"},
        {{updater_.string(), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt"), "-x"},
         "unknown option -x"},
    };
    for (const Case& c : cases) {
        const Outcome run = Add(c.arguments);
        EXPECT_EQ(run.status, 2) << c.problem;
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
        EXPECT_EQ(Files().size(), 4u) << c.problem;
    }
}

TEST_F(ResourceAdderTest, CopyCarriesTheNewFilesAndTheUpdaterStaysAsItWas) {
    const Bytes before = ReadFile(updater_);
    const Outcome run =
        Add({updater_.string(), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt")});
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path output = dir_ / "updater-packaged";
    EXPECT_EQ(run.out, output.string() + "\n");
    EXPECT_EQ(ReadFile(updater_), before);

    const BundleReadResult read = ReadBundleFile(output);
    ASSERT_TRUE(read.ok) << read.error;
    const std::vector<BundleEntry> expected{{u"FIRE_WARE", 139, offer_},
                                            {u"FIRE_WARE2", 140, payload_},
                                            {u"FIRE_DEVICEINFO", 141, deviceInfo_}};
    EXPECT_EQ(read.entries, expected);
    EXPECT_EQ(read.executableSize, before.size());
    EXPECT_EQ(fs::status(output).permissions(), fs::status(updater_).permissions());
    EXPECT_EQ(Files(), (std::vector<std::string>{"DeviceInfo.txt", "offer.bin", "payload.bin",
                                                 "updater", "updater-packaged"}));

    // The copy runs and finds what it was given.
    const Outcome probe =
        Run({output.string(), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt")});
    EXPECT_EQ(probe.status, 0) << probe.out;
}

TEST_F(ResourceAdderTest, APackagedCopyCanBePackagedAgain) {
    // The build's own use: the probe's package replaced in a copy beside it.
    const fs::path packaged = ProbeCopy("packaged", [](Bytes&, std::size_t) {});
    const Bytes program = ReadFile(updater_);
    const Outcome run = Add({packaged.string(), At("offer.bin"), At("payload.bin"),
                             At("DeviceInfo.txt"), "-o", At("repackaged")});
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes bytes = ReadFile(dir_ / "repackaged");
    const BundleReadResult read = ReadBundle(bytes);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(read.entries.size(), 3u);
    EXPECT_EQ(read.entries[0].bytes, offer_);
    EXPECT_EQ(
        Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(read.executableSize)),
        program);
}

TEST_F(ResourceAdderTest, AnOutputThatNamesAnInputIsRefused) {
    fs::create_symlink(dir_ / "payload.bin", dir_ / "payload-link");
    fs::create_hard_link(dir_ / "DeviceInfo.txt", dir_ / "info-hardlink");
    struct Case {
        std::string output;
        const char* input;  // the role named in the refusal
    };
    const Case cases[] = {
        {updater_.string(), "UPDATER"},
        {At("offer.bin"), "OFFER"},
        {(dir_ / "." / "sub" / ".." / "offer.bin").string(), "OFFER"},
        {At("payload-link"), "PAYLOAD"},
        {At("info-hardlink"), "DEVICEINFO"},
    };
    fs::create_directory(dir_ / "sub");
    const Bytes updaterBefore = ReadFile(updater_);
    for (const Case& c : cases) {
        const Outcome run = Add({updater_.string(), At("offer.bin"), At("payload.bin"),
                                 At("DeviceInfo.txt"), "-o", c.output});
        EXPECT_EQ(run.status, 2) << c.output;
        EXPECT_NE(run.err.find(c.output + ": the output would overwrite the " + c.input + " input"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(ReadFile(updater_), updaterBefore);
        EXPECT_EQ(ReadFile(dir_ / "offer.bin"), offer_);
        EXPECT_EQ(ReadFile(dir_ / "payload.bin"), payload_);
        EXPECT_EQ(ReadFile(dir_ / "DeviceInfo.txt"), deviceInfo_);
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"DeviceInfo.txt", "info-hardlink", "offer.bin",
                                                 "payload-link", "payload.bin", "sub", "updater"}));
}

TEST_F(ResourceAdderTest, AnUpdaterWithADamagedPackageIsRefused) {
    const fs::path damaged =
        ProbeCopy("damaged", [](Bytes& b, std::size_t start) { b.resize(start + 100); });
    const Outcome run =
        Add({damaged.string(), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt")});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("damaged (UPDATER): has 100 bytes after its program"), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "damaged-packaged"));
}

TEST_F(ResourceAdderTest, AnUpdaterWithBytesBeforeItsPackageIsRefused) {
    // Replacing only the last package would carry the bytes before it into
    // the copy.
    struct Case {
        const char* name;
        void (*apply)(Bytes&, std::size_t);
        const char* refusal;
    };
    const Case cases[] = {
        {"one byte",
         [](Bytes& b, std::size_t start) { b.insert(b.begin() + static_cast<long>(start), 0x00); },
         "has 1 bytes between its program and its package"},
        {"a stale package",
         [](Bytes& b, std::size_t start) {
             const Bytes package(b.begin() + static_cast<long>(start), b.end());
             b.insert(b.begin() + static_cast<long>(start), package.begin(), package.end());
         },
         "bytes between its program and its package"},
    };
    for (const Case& c : cases) {
        const fs::path stale = ProbeCopy("stale", c.apply);
        const Outcome run =
            Add({stale.string(), At("offer.bin"), At("payload.bin"), At("DeviceInfo.txt")});
        EXPECT_EQ(run.status, 2) << c.name;
        EXPECT_EQ(run.err.rfind("qrb_resource_adder: " + stale.string() + " (UPDATER): has ", 0),
                  0u)
            << c.name << ": " << run.err;
        EXPECT_NE(run.err.find(c.refusal), std::string::npos) << c.name << ": " << run.err;
        EXPECT_FALSE(fs::exists(dir_ / "stale-packaged")) << c.name;
    }
}

TEST_F(ResourceAdderTest, AWriteFailureIsStatusOneAndLeavesNothing) {
    const fs::path output = dir_ / "no-such-directory" / "out";
    const Outcome run = Add({updater_.string(), At("offer.bin"), At("payload.bin"),
                             At("DeviceInfo.txt"), "-o", output.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(output.string() + ": cannot create a file beside it"), std::string::npos)
        << run.err;
    EXPECT_EQ(Files().size(), 4u);
}

}  // namespace
}  // namespace zelk::app
