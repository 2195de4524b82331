#include "app/dialog/package_authoring.h"

#include "app/package/file_replace.h"
#include "app/package/package_files.h"

#include <array>
#include <exception>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace zelk::app {
namespace {

namespace fs = std::filesystem;

constexpr char16_t kCreateFileError[] = u"Create file error";
constexpr char16_t kPackagingTool[] = u"qrb_resource_adder";
constexpr char16_t kPackagingDirectoryPrefix[] = u"ZelkUpdate-package-";
constexpr int kPackagingDirectoryTries = 16;

std::u16string Number(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string NotTakenText(std::uint64_t size, bool chinese) {
    if (size == 0) {
        return chinese ? u"此文件为空或无法读取，未采用。"
                       : u"This file is empty or cannot be read; it was not taken.";
    }
    return chinese ? u"此文件有 " + Number(size) + u" 字节，文件须为 1 到 1048575 字节，未采用。"
                   : u"This file has " + Number(size) +
                         u" bytes; a package file has 1 to 1048575 bytes. It was not taken.";
}

// The device information text: the five identifier edits and the
// hide-window box, one per line with CR LF.
std::u16string DeviceInfoText(Desktop& desktop);

// The identifier edits in the order of DeviceInfo.txt's lines; the
// hide-window box is the sixth line.
constexpr std::array<int, 5> kIdentifierEdits{control::kVidEdit, control::kPidEdit,
                                              control::kUsagePageEdit, control::kUsageEdit,
                                              control::kMiEdit};

constexpr std::array<int, 17> kAdminControls{
    control::kOfferPathLabel,   control::kOfferPathEdit,   control::kChooseOffer,
    control::kPayloadPathLabel, control::kPayloadPathEdit, control::kChoosePayload,
    control::kVidLabel,         control::kVidEdit,         control::kPidLabel,
    control::kPidEdit,          control::kUsagePageLabel,  control::kUsagePageEdit,
    control::kUsageLabel,       control::kUsageEdit,       control::kMiLabel,
    control::kMiEdit,           control::kHideWindow};

// The open-file dialog for one package file. Nothing when the user cancelled;
// otherwise `member` holds the choice, or is empty when its size is unusable,
// and the edit shows a usable choice.
bool ChoosePackageFile(MainDialog& dialog, std::u16string& member, int editId, bool payload) {
    Desktop& desktop = dialog.desktop();
    const OpenFileRequest request{
        u"bin", member, {{u"FIREWARE (*.bin)", u"*.bin"}, {u"所有文件(*.*)", u"*.*"}}};
    const std::optional<std::u16string> chosen = desktop.OpenFile(request);
    if (!chosen) {
        return false;
    }
    member = *chosen;
    const std::uint64_t size = member.empty() ? 0 : PackageFileCheck(member);
    const bool chinese = dialog.Texts().ChineseUi;
    if (size >= 1 && size <= kMaxPayloadFileSize) {
        desktop.SetControlText(editId, member);
        if (const std::u16string refusal = PackagingRefusal(payload, size, chinese);
            !refusal.empty()) {
            desktop.MessageBox(refusal);
        }
    } else {
        member.clear();
        desktop.MessageBox(NotTakenText(size, chinese));
    }
    return true;
}

std::u16string DeviceInfoText(Desktop& desktop) {
    std::u16string text;
    for (const int edit : kIdentifierEdits) {
        text += desktop.ControlText(edit);
        text += u"\r\n";
    }
    text += desktop.IsChecked(control::kHideWindow) ? u"1\r\n" : u"0\r\n";
    return text;
}

// A new directory (never an existing one) readable by its owner only, inside
// `parent`, holding the device information; its path, or empty.
std::u16string WritePrivateDeviceInfo(Desktop& desktop, const std::u16string& text) {
    const std::u16string parent = desktop.TempDirectory();
    if (parent.empty()) {
        return {};
    }
    try {
        const std::string bytes = desktop.ToChineseCodePageBytes(text);
        std::random_device entropy;
        std::mt19937_64 random((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
        const char16_t separator = parent.back() == u'\\' ? u'\\' : u'/';
        for (int attempt = 0; attempt < kPackagingDirectoryTries; ++attempt) {
            const std::string name = std::to_string(random());
            const std::u16string directory =
                parent + kPackagingDirectoryPrefix + std::u16string(name.begin(), name.end());
            std::error_code error;
            if (!fs::create_directory(fs::path(directory), error) || error) {
                continue;  // something is already there
            }
            fs::permissions(fs::path(directory), fs::perms::owner_all, fs::perm_options::replace,
                            error);
            const std::u16string path = directory + separator + kDeviceInfoFileName;
            if (WriteFileReplacing(
                    fs::path(path),
                    std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))) {
                return path;
            }
            fs::remove_all(fs::path(directory), error);
            return {};
        }
    } catch (const std::exception&) {
    }
    return {};
}

bool EndsWithExeIgnoringCase(std::u16string_view path) {
    constexpr std::u16string_view kExe = u".exe";
    if (path.size() < kExe.size()) {
        return false;
    }
    const std::u16string_view end = path.substr(path.size() - kExe.size());
    for (std::size_t i = 0; i < kExe.size(); ++i) {
        char16_t c = end[i];
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
        if (c != kExe[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::uint64_t PackageFileCheck(std::u16string_view path) {
    try {
        const fs::path file{std::u16string(path)};
        // Only regular files: opening a FIFO for reading would wait for a writer.
        std::error_code ec;
        if (!fs::is_regular_file(file, ec) || ec) {
            return 0;
        }
        std::ifstream in(file, std::ios::in | std::ios::binary | std::ios::ate);
        if (!in.is_open()) {
            return 0;
        }
        const std::streamoff end = in.tellg();
        return end > 0 ? static_cast<std::uint64_t>(end) : 0;
    } catch (const std::exception&) {
        return 0;  // a path the file system cannot name
    }
}

std::u16string PackagingRefusal(bool payload, std::uint64_t size, bool chinese) {
    if (!payload && size != kOfferFileSize) {
        return chinese ? u"打包工具将拒绝此 offer 文件：offer 文件必须正好 16 字节，此文件有 " +
                             Number(size) + u" 字节。"
                       : u"The packaging tool will refuse this offer: an offer is exactly 16 "
                         u"bytes, this file has " +
                             Number(size) + u".";
    }
    if (payload && (size == 0 || size % kPayloadRecordSize != 0)) {
        return chinese ? u"打包工具将拒绝此 payload 文件：" + Number(size) +
                             u" 字节不是整数个 57 字节的记录。"
                       : u"The packaging tool will refuse this payload: " + Number(size) +
                             u" bytes is not a whole number of 57-byte records.";
    }
    return {};
}

void ChooseOffer(MainDialog& dialog) {
    ChoosePackageFile(dialog, dialog.AdminOfferPath, control::kOfferPathEdit, false);
}

void ChoosePayload(MainDialog& dialog) {
    if (ChoosePackageFile(dialog, dialog.AdminPayloadPath, control::kPayloadPathEdit, true)) {
        WriteDeviceInfo(dialog);
    }
}

void WriteDeviceInfo(MainDialog& dialog) {
    Desktop& desktop = dialog.desktop();
    const std::u16string text = DeviceInfoText(desktop);
    const std::u16string directory = desktop.TempDirectory();
    if (directory.empty()) {
        // Never a bare file name: that would land in whatever the working directory is.
        desktop.MessageBox(kCreateFileError);
        return;
    }
    const std::u16string path = directory + kDeviceInfoFileName;
    dialog.Paths().DeviceInfoPath = path;
    bool written = false;
    try {
        const std::string bytes = desktop.ToChineseCodePageBytes(text);
        written = WriteFileReplacing(
            fs::path(path),
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    } catch (const std::exception&) {
        written = false;  // an unconvertible path or no memory
    }
    if (!written) {
        desktop.MessageBox(kCreateFileError);
    }
}

void KeepAdministratorValues(MainDialog& dialog) {
    dialog.AdminDeviceInfo = DeviceInfoText(dialog.desktop());
}

void RevealAdminControls(Desktop& desktop) {
    for (const int id : kAdminControls) {
        desktop.ShowControl(id, true);
    }
}

bool RunPackagingCheck(MainDialog& dialog) {
    Desktop& desktop = dialog.desktop();
    const std::u16string& offer = dialog.AdminOfferPath;
    const std::u16string& payload = dialog.AdminPayloadPath;
    const std::u16string& deviceInfo = dialog.Paths().DeviceInfoPath;
    if (offer.empty() || payload.empty() || deviceInfo.empty()) {
        return false;
    }
    if (!desktop.FileExists(offer) || !desktop.FileExists(payload) ||
        !desktop.FileExists(deviceInfo)) {
        return false;
    }
    const std::u16string own = desktop.OwnPath();
    const std::size_t separator = own.find_last_of(u"/\\");
    if (separator == std::u16string::npos) {
        // No directory to look in; a bare name would be looked up wherever
        // the program happens to run.
        return false;
    }
    std::u16string tool = own.substr(0, separator + 1) + kPackagingTool;
    if (EndsWithExeIgnoringCase(own)) {
        tool += u".exe";
    }
    if (!desktop.FileExists(tool)) {
        return false;
    }
    if (!dialog.AdminDeviceInfo) {
        KeepAdministratorValues(dialog);
    }
    const std::u16string ownDeviceInfo = WritePrivateDeviceInfo(desktop, *dialog.AdminDeviceInfo);
    if (ownDeviceInfo.empty()) {
        desktop.MessageBox(kCreateFileError);
        return false;
    }
    return desktop.StartProgram(tool, {own, offer, payload, ownDeviceInfo});
}

}  // namespace zelk::app
