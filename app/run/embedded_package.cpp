#include "app/run/embedded_package.h"

#include "app/package/file_replace.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "app/platform/interrupt.h"
#include "app/text/text_encoding.h"

namespace zelk::app {
namespace {

namespace fs = std::filesystem;

constexpr char16_t kNotFoundText[] =
    u"can't find the user define resource\uFF0Cplease check code\n";
constexpr char16_t kUnusableText[] = u"the resource user defined is error,please check resource\n";
constexpr char16_t kOpenFailedText[] = u"Create file error";
// DeviceInfo.txt is six short lines; nothing beyond this is read.
constexpr std::size_t kDeviceInfoReadLimit = 64 * 1024;
constexpr std::size_t kDeviceInfoLines = 6;

struct PackageFile {
    const char16_t* type;
    int id;
    const char16_t* fileName;
    std::u16string PackagePaths::*member;
    bool inRunDirectory;  // else in the temporary directory, copied into the run's
};

constexpr std::array<PackageFile, 3> kPackageFiles{{
    {u"FIRE_WARE", resource::kOffer, kOfferFileName, &PackagePaths::OfferTempPath, true},
    {u"FIRE_WARE2", resource::kPayload, kPayloadFileName, &PackagePaths::PayloadTempPath, true},
    {u"FIRE_DEVICEINFO", resource::kDeviceInfo, kDeviceInfoFileName, &PackagePaths::DeviceInfoPath,
     false},
}};

constexpr char16_t kRunDirectoryPrefix[] = u"ZelkUpdate-";
constexpr int kRunDirectoryTries = 16;

void Report(Desktop& desktop, std::u16string_view text) {
    desktop.WriteStdout(Utf16ToUtf8(text));
    desktop.AppendLog(text, kRed);
}

// Removes an earlier run's file so that nothing reads it as this package's.
void RemoveStale(const std::u16string& directory, const char16_t* fileName) {
    if (directory.empty()) {
        return;
    }
    try {
        std::error_code ignored;
        fs::remove(fs::path(directory + fileName), ignored);
    } catch (const std::exception&) {
    }
}

void ExtractOne(Desktop& desktop, const PackageFile& file, const std::u16string& tempDirectory,
                PackagePaths& paths) {
    // The offer and the payload go only into this run's own directory.
    const std::u16string directory =
        !file.inRunDirectory ? tempDirectory : (paths.Run ? paths.Run->Path() : std::u16string{});
    std::u16string& member = paths.*file.member;
    member.clear();
    std::vector<std::uint8_t> bytes;
    const ResourceLookup lookup = desktop.FindResource(file.type, file.id, bytes);
    if (lookup == ResourceLookup::NotFound) {
        Report(desktop, kNotFoundText);
        paths.PackageDamaged = true;
        RemoveStale(directory, file.fileName);
        return;
    }
    if (lookup != ResourceLookup::Found || bytes.empty()) {
        Report(desktop, kUnusableText);
        paths.PackageDamaged = true;
        RemoveStale(directory, file.fileName);
        return;
    }
    if (tempDirectory.empty()) {
        Report(desktop, u"can't write " + std::u16string(file.fileName) +
                            u": there is no temporary directory\n");
        return;
    }
    if (directory.empty()) {
        Report(desktop, u"can't write " + tempDirectory + file.fileName + u"\n");
        return;
    }
    const std::u16string path = directory + file.fileName;
    bool written = false;
    try {
        written = WriteFileReplacing(fs::path(path), bytes);
    } catch (const std::exception&) {
        written = false;  // an unconvertible path or no memory
    }
    if (!written) {
        Report(desktop, u"can't write " + path + u"\n");
        RemoveStale(directory, file.fileName);
        return;
    }
    member = path;
    if (!file.inRunDirectory && paths.Run) {
        // This run reads its own copy: another run may replace the shared one.
        try {
            WriteFileReplacing(fs::path(paths.Run->Path() + file.fileName), bytes);
        } catch (const std::exception&) {
        }
    }
}

// The first kDeviceInfoLines lines of the file, without their line ends.
std::array<std::vector<std::uint8_t>, kDeviceInfoLines> SplitLines(
    std::span<const std::uint8_t> text) {
    std::array<std::vector<std::uint8_t>, kDeviceInfoLines> lines;
    std::size_t line = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size() && line < kDeviceInfoLines; ++i) {
        if (i < text.size() && text[i] != '\n') {
            continue;
        }
        std::size_t end = i;
        if (i < text.size() && end > start && text[end - 1] == '\r') {
            --end;
        }
        lines[line].assign(text.begin() + static_cast<std::ptrdiff_t>(start),
                           text.begin() + static_cast<std::ptrdiff_t>(end));
        ++line;
        start = i + 1;
    }
    return lines;
}

bool ReadDeviceInfoBytes(const std::u16string& path, std::vector<std::uint8_t>& bytes) {
    try {
        const fs::path file(path);
        std::error_code ec;
        if (!fs::is_regular_file(file, ec) || ec) {
            return false;
        }
        std::ifstream in(file, std::ios::in | std::ios::binary);
        if (!in.is_open()) {
            return false;
        }
        bytes.resize(kDeviceInfoReadLimit);
        in.read(reinterpret_cast<char*>(bytes.data()),
                static_cast<std::streamsize>(kDeviceInfoReadLimit));
        if (in.bad()) {
            return false;
        }
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int DigitValue(char16_t c, int base) {
    int value = base;
    if (c >= u'0' && c <= u'9') {
        value = c - u'0';
    } else if (c >= u'a' && c <= u'z') {
        value = c - u'a' + 10;
    } else if (c >= u'A' && c <= u'Z') {
        value = c - u'A' + 10;
    }
    return value < base ? value : -1;
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

}  // namespace

std::shared_ptr<RunDirectory> RunDirectory::Create(const std::u16string& parent) {
    if (parent.empty()) {
        return nullptr;
    }
    try {
        std::random_device entropy;
        std::mt19937_64 random((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
        for (int attempt = 0; attempt < kRunDirectoryTries; ++attempt) {
            char name[17];
            std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(random()));
            const std::u16string path = parent + kRunDirectoryPrefix + Utf8ToUtf16(name);
            std::error_code error;
            // create_directory fails on anything already there (a directory,
            // a file, a planted link): the directory is always a new one.
            if (!fs::create_directory(fs::path(path), error) || error) {
                continue;
            }
            fs::permissions(fs::path(path), fs::perms::owner_all, fs::perm_options::replace, error);
            // Same separator as the temporary directory's own.
            const char16_t separator = parent.back() == u'\\' ? u'\\' : u'/';
            auto run = std::shared_ptr<RunDirectory>(new RunDirectory(path + separator));
            RegisterRunDirectory(run->Path());
            return run;
        }
    } catch (const std::exception&) {
    }
    return nullptr;
}

RunDirectory::~RunDirectory() {
    UnregisterRunDirectory(path_);
    try {
        std::error_code ignored;
        fs::remove_all(fs::path(path_), ignored);
    } catch (const std::exception&) {
    }
}

void ExtractPackage(Desktop& desktop, PackagePaths& paths) {
    const std::u16string directory = desktop.TempDirectory();
    paths.Run = RunDirectory::Create(directory);
    paths.PackageDamaged = false;
    for (const PackageFile& file : kPackageFiles) {
        ExtractOne(desktop, file, directory, paths);
    }
}

namespace {

// strtol with base 0 restricted to what DeviceInfo.txt allows: hexadecimal
// only after a leading "0x" (when `allowHex`), otherwise signed decimal.
std::int64_t ParseLong(std::u16string_view text, bool allowHex) {
    constexpr std::int64_t kLongMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kLongMin = std::numeric_limits<std::int32_t>::min();
    int base = 10;
    std::size_t i = 0;
    bool negative = false;
    if (allowHex && text.size() >= 2 && text[0] == u'0' && text[1] == u'x') {
        base = 16;
        i = 2;
    } else {
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
            negative = text[i] == u'-';
            ++i;
        }
    }
    // The magnitude stops growing past the most negative long's; the sign
    // then decides where it saturates.
    const std::int64_t cap = -kLongMin;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) {
            break;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > cap) {
            magnitude = cap + 1;
        }
    }
    if (negative) {
        return magnitude > cap ? kLongMin : -magnitude;
    }
    return magnitude > kLongMax ? kLongMax : magnitude;
}

}  // namespace

std::int64_t ParseDeviceInfoNumber(std::u16string_view text) {
    return ParseLong(text, true);
}

std::int64_t ParseDeviceInfoDecimal(std::u16string_view text) {
    return ParseLong(text, false);
}

std::optional<DeviceInfo> ReadDeviceInfo(Desktop& desktop, const PackagePaths& paths) {
    const std::u16string directory = desktop.TempDirectory();
    std::vector<std::uint8_t> bytes;
    const bool ownCopy =
        paths.Run && ReadDeviceInfoBytes(paths.Run->Path() + kDeviceInfoFileName, bytes);
    if (!ownCopy &&
        (directory.empty() || !ReadDeviceInfoBytes(directory + kDeviceInfoFileName, bytes))) {
        desktop.MessageBox(kOpenFailedText);
        return std::nullopt;
    }
    const auto raw = SplitLines(bytes);
    std::array<std::u16string, kDeviceInfoLines> lines;
    // The file is in the Chinese code page, as the package writer writes it.
    for (std::size_t i = 0; i < kDeviceInfoLines; ++i) {
        lines[i] = desktop.FromChineseCodePageBytes(
            std::string_view(reinterpret_cast<const char*>(raw[i].data()), raw[i].size()));
    }
    DeviceInfo info;
    std::copy_n(lines.begin(), info.texts.size(), info.texts.begin());
    info.hideWindow = ParseDeviceInfoDecimal(lines[5]) == 1;
    info.identity.VendorId = Low16(ParseDeviceInfoNumber(lines[0]));
    info.identity.ProductId = Low16(ParseDeviceInfoNumber(lines[1]));
    info.identity.UsagePage = Low16(ParseDeviceInfoNumber(lines[2]));
    info.identity.Usage = Low16(ParseDeviceInfoNumber(lines[3]));
    info.identity.MiValue = Low8(ParseDeviceInfoNumber(lines[4]));
    return info;
}

}  // namespace zelk::app
