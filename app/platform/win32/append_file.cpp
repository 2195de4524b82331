#include "app/platform/append_file.h"
#include "app/platform/win32/wide_text.h"
#include "app/text/text_encoding.h"

#include <windows.h>

namespace zelk::app::platform {
namespace {

class Win32AppendFile final : public AppendFile {
  public:
    explicit Win32AppendFile(HANDLE file) : file_(file) {}
    ~Win32AppendFile() override { CloseHandle(file_); }
    Win32AppendFile(const Win32AppendFile&) = delete;
    Win32AppendFile& operator=(const Win32AppendFile&) = delete;

    bool Append(std::string_view bytes) override {
        DWORD written = 0;
        // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the
        // end of the file at once.
        if (!WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            return false;
        }
        if (written != bytes.size()) {
            if (written > 0 && bytes[written - 1] != '\n') {
                DWORD ignored = 0;
                WriteFile(file_, "\n", 1, &ignored, nullptr);
            }
            return false;
        }
        return FlushFileBuffers(file_) != 0;
    }

  private:
    HANDLE file_;
};

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string message;
    if (length > 0 && text != nullptr) {
        message = FromWide(std::wstring_view(text, length));
    }
    LocalFree(text);
    while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' ||
                                message.back() == u'.' || message.back() == u' ')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : Utf16ToUtf8(message);
}

}  // namespace

std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string& error) {
    const std::wstring wide = ToWide(Utf8ToUtf16(path));
    if (wide.empty() || wide.find(L'\0') != std::wstring::npos) {
        error = "the log file \"" + path + "\" is not a usable file name";
        return nullptr;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "the log file " + path + " is not a regular file (it is a directory)";
        return nullptr;
    }
    // Others may read the log while it is written; no one else writes it.
    const HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "the log file " + path +
                " cannot be opened for appending: " + SystemMessage(GetLastError());
        return nullptr;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        error = "the log file " + path + " is not a regular file (it is a pipe or a device)";
        return nullptr;
    }
    return std::make_unique<Win32AppendFile>(file);
}

}  // namespace zelk::app::platform
