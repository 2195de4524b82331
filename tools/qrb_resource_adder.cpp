// Packages firmware into a copy of the updater, for administrators who ship
// the updater with other firmware than it was built with.
//
// Usage: qrb_resource_adder UPDATER OFFER PAYLOAD DEVICEINFO [-o OUTPUT]
//
// The updater must be a program of this platform (ELF on Linux, PE on
// Windows); the offer is 16 bytes, the payload 1 to 1048575 bytes of whole
// 57-byte records, DEVICEINFO at most 4 KiB. The output never names one of
// the inputs.
//
// Exit status: 0 written (the output path is printed), 1 the copy could not be
// written, 2 bad arguments or an input that fails its checks. Every failure is
// one line on stderr naming the file and the problem. The updater is never
// changed; no partial output is ever left behind.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/package/package_files.h"
#include "tools/resource_adder_arguments.h"
#include "tools/resource_adder_platform.h"

namespace {

namespace fs = std::filesystem;
using zelk::tools::PackageResource;
using zelk::tools::WriteOutcome;

constexpr int kExitWritten = 0;
constexpr int kExitWriteFailed = 1;
constexpr int kExitBadInput = 2;

using zelk::app::kMaxPayloadFileSize;
using zelk::app::kOfferFileSize;
using zelk::app::kPayloadRecordSize;
// Read limits beyond the checked sizes, so that the check names the problem.
constexpr std::uintmax_t kOfferReadLimit = 4 * 1024;
constexpr std::uintmax_t kDeviceInfoLimit = 4 * 1024;
constexpr std::uintmax_t kUpdaterLimit = 512u * 1024 * 1024;

constexpr char kUsage[] = "usage: qrb_resource_adder UPDATER OFFER PAYLOAD DEVICEINFO [-o OUTPUT]";

std::string Show(const fs::path& path) {
    return zelk::tools::ShowPath(path);
}

void Fail(const std::string& line) {
    std::fprintf(stderr, "qrb_resource_adder: %s\n", line.c_str());
}

// The whole of a regular file of at most `limit` bytes, or nothing after a
// line on stderr.
std::optional<std::vector<std::uint8_t>> ReadInput(const fs::path& path, const char* role,
                                                   std::uintmax_t limit) {
    const std::string name = Show(path) + " (" + role + ")";
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        Fail(name + ": no such file");
        return std::nullopt;
    }
    if (!fs::is_regular_file(status)) {
        Fail(name + ": not a regular file");
        return std::nullopt;
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        Fail(name + ": cannot read its size: " + ec.message());
        return std::nullopt;
    }
    if (size > limit) {
        Fail(name + ": " + std::to_string(size) + " bytes is too large (at most " +
             std::to_string(limit) + ")");
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
        Fail(name + ": cannot be opened for reading");
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size || in.peek() != EOF) {
        Fail(name + ": changed while it was read");
        return std::nullopt;
    }
    return bytes;
}

bool CheckInputs(const fs::path& offerPath, const std::vector<std::uint8_t>& offer,
                 const fs::path& payloadPath, const std::vector<std::uint8_t>& payload,
                 const fs::path& deviceInfoPath, const std::vector<std::uint8_t>& deviceInfo) {
    if (offer.size() != kOfferFileSize) {
        Fail(Show(offerPath) + " (OFFER): an offer is exactly 16 bytes, this file has " +
             std::to_string(offer.size()));
        return false;
    }
    if (payload.empty()) {
        Fail(Show(payloadPath) + " (PAYLOAD): the payload is empty");
        return false;
    }
    if (payload.size() % kPayloadRecordSize != 0) {
        Fail(Show(payloadPath) + " (PAYLOAD): " + std::to_string(payload.size()) +
             " bytes is not a whole number of 57-byte records");
        return false;
    }
    if (deviceInfo.empty()) {
        Fail(Show(deviceInfoPath) + " (DEVICEINFO): the file is empty");
        return false;
    }
    return true;
}

// "zelkupdate" -> "zelkupdate-packaged", "ZelkUpdate.exe" -> "ZelkUpdate-packaged.exe",
// beside the updater.
fs::path DefaultOutput(const fs::path& updater) {
    fs::path name = updater.stem();
    name += "-packaged";
    name += updater.extension();
    return updater.parent_path() / name;
}

int Run(int argc, char** argv) {
    std::string argumentError;
    const std::optional<zelk::tools::ResourceAdderArguments> arguments =
        zelk::tools::ParseResourceAdderArguments(zelk::tools::ProgramArguments(argc, argv),
                                                 argumentError);
    if (!arguments) {
        Fail(argumentError);
        std::fprintf(stderr, "%s\n", kUsage);
        return kExitBadInput;
    }
    if (arguments->help) {
        std::printf("%s\n", kUsage);
        return kExitWritten;
    }
    const fs::path& updaterPath = arguments->inputs[0];
    const fs::path& offerPath = arguments->inputs[1];
    const fs::path& payloadPath = arguments->inputs[2];
    const fs::path& deviceInfoPath = arguments->inputs[3];

    const auto updater = ReadInput(updaterPath, "UPDATER", kUpdaterLimit);
    if (!updater) {
        return kExitBadInput;
    }
    if (updater->empty()) {
        Fail(Show(updaterPath) + " (UPDATER): the file is empty, not a program");
        return kExitBadInput;
    }
    if (const auto problem = zelk::tools::ProgramFormatProblem(*updater)) {
        Fail(Show(updaterPath) + " (UPDATER): " + *problem);
        return kExitBadInput;
    }
    const auto offer = ReadInput(offerPath, "OFFER", kOfferReadLimit);
    if (!offer) {
        return kExitBadInput;
    }
    // The limit check reads "below 1 MiB": one byte less is the largest size.
    const auto payload = ReadInput(payloadPath, "PAYLOAD", kMaxPayloadFileSize);
    if (!payload) {
        return kExitBadInput;
    }
    const auto deviceInfo = ReadInput(deviceInfoPath, "DEVICEINFO", kDeviceInfoLimit);
    if (!deviceInfo) {
        return kExitBadInput;
    }
    if (!CheckInputs(offerPath, *offer, payloadPath, *payload, deviceInfoPath, *deviceInfo)) {
        return kExitBadInput;
    }

    const fs::path output = arguments->output ? *arguments->output : DefaultOutput(updaterPath);
    // Writing over an input would lose it (or, for the updater, the program
    // that was to be copied); the same file may hide behind another spelling
    // or a link, so files are compared, not names.
    const char* const roles[] = {"UPDATER", "OFFER", "PAYLOAD", "DEVICEINFO"};
    for (std::size_t i = 0; i < arguments->inputs.size(); ++i) {
        if (zelk::tools::SameFile(output, arguments->inputs[i])) {
            Fail(Show(output) + ": the output would overwrite the " + roles[i] + " input " +
                 Show(arguments->inputs[i]) + "; choose another output file");
            return kExitBadInput;
        }
    }
    const std::vector<PackageResource> resources{
        {u"FIRE_WARE", 139, *offer},
        {u"FIRE_WARE2", 140, *payload},
        {u"FIRE_DEVICEINFO", 141, *deviceInfo},
    };
    const zelk::tools::WriteResult result =
        zelk::tools::WritePackagedCopy(updaterPath, *updater, output, resources);
    switch (result.outcome) {
        case WriteOutcome::Written:
            std::printf("%s\n", Show(output).c_str());
            return kExitWritten;
        case WriteOutcome::BadUpdater:
            Fail(result.error);
            return kExitBadInput;
        case WriteOutcome::WriteFailed:
            break;
    }
    Fail(result.error);
    return kExitWriteFailed;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        Fail(std::string("out of resources: ") + error.what());
        return kExitWriteFailed;
    }
}
