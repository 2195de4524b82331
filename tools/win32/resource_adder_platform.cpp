// Windows: the resources are resources of the .exe, written with the
// resource update calls into a copy of the updater.
#include "tools/resource_adder_platform.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <string>

#include "app/package/package_seal.h"
#include "tools/resource_adder_arguments.h"

namespace zelk::tools {
namespace {

namespace fs = std::filesystem;

std::string Show(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string LastError() {
    const DWORD code = GetLastError();
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring text = length != 0 && message != nullptr ? std::wstring(message, length) : L"";
    if (message != nullptr) {
        LocalFree(message);
    }
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return Show(fs::path(text)) + " (error " + std::to_string(code) + ")";
}

WriteResult Failed(WriteOutcome outcome, std::string error) {
    return {outcome, std::move(error)};
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
    reinterpret_cast<std::vector<WORD>*>(context)->push_back(language);
    return TRUE;
}

// The languages in which `file` already holds a resource of this type and id.
std::vector<WORD> ExistingLanguages(const fs::path& file, const PackageResource& resource) {
    std::vector<WORD> languages;
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return languages;
    }
    const std::wstring type(resource.type.begin(), resource.type.end());
    EnumResourceLanguagesW(module, type.c_str(), MAKEINTRESOURCEW(resource.id), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    FreeLibrary(module);
    return languages;
}

bool WriteFileBytes(HANDLE file, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// A new file beside `output` holding `bytes`; empty when none could be made.
fs::path WriteTempCopy(const fs::path& output, const std::vector<std::uint8_t>& bytes,
                       std::string& error) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        fs::path temp = output;
        temp += L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) +
                L".tmp";
        HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            error = Show(output) + ": cannot create a file beside it: " + LastError();
            return {};
        }
        const bool written = WriteFileBytes(file, bytes) && FlushFileBuffers(file);
        if (!written) {
            error = Show(output) + ": cannot write it: " + LastError();
        }
        CloseHandle(file);
        if (!written) {
            DeleteFileW(temp.c_str());
            return {};
        }
        return temp;
    }
    error = Show(output) + ": cannot create a file beside it: too many leftovers";
    return {};
}

bool FlushToDisk(const fs::path& file) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool flushed = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    return flushed;
}

}  // namespace

std::vector<fs::path> ProgramArguments(int, char**) {
    // The narrow arguments lose what the ANSI code page cannot spell.
    std::vector<fs::path> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.emplace_back(wide[i]);
    }
    LocalFree(wide);
    return arguments;
}

WriteResult WritePackagedCopy(const fs::path& updater,
                              const std::vector<std::uint8_t>& updaterBytes, const fs::path& output,
                              const std::vector<PackageResource>& given) {
    std::string error;
    const fs::path temp = WriteTempCopy(output, updaterBytes, error);
    if (temp.empty()) {
        return Failed(WriteOutcome::WriteFailed, error);
    }
    const auto discard = [&temp](WriteOutcome outcome, std::string why) {
        DeleteFileW(temp.c_str());
        return Failed(outcome, std::move(why));
    };

    // The seal over the three package resources goes in with them.
    std::vector<PackageResource> resources(given);
    std::array<std::vector<std::uint8_t>, 3> parts;
    const std::uint16_t ids[] = {139, 140, 141};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        for (const PackageResource& resource : given) {
            if (resource.id == ids[i]) {
                parts[i] = resource.bytes;
            }
        }
    }
    const std::string sealText = app::seal::SealText(parts);
    resources.push_back({app::seal::kType, static_cast<std::uint16_t>(app::seal::kId),
                         std::vector<std::uint8_t>(sealText.begin(), sealText.end())});

    std::vector<std::vector<WORD>> existing;
    for (const PackageResource& resource : resources) {
        existing.push_back(ExistingLanguages(temp, resource));
    }
    HANDLE update = BeginUpdateResourceW(temp.c_str(), FALSE);
    if (update == nullptr) {
        return discard(WriteOutcome::BadUpdater,
                       Show(updater) +
                           " (UPDATER): not a Windows program whose resources can be "
                           "changed: " +
                           LastError());
    }
    const WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const PackageResource& resource = resources[i];
        const std::wstring type(resource.type.begin(), resource.type.end());
        bool ok = true;
        // Earlier packages go first, in whatever language they were written.
        for (const WORD language : existing[i]) {
            ok = ok && UpdateResourceW(update, type.c_str(), MAKEINTRESOURCEW(resource.id),
                                       language, nullptr, 0);
        }
        ok = ok && UpdateResourceW(update, type.c_str(), MAKEINTRESOURCEW(resource.id), neutral,
                                   const_cast<std::uint8_t*>(resource.bytes.data()),
                                   static_cast<DWORD>(resource.bytes.size()));
        if (!ok) {
            const std::string why = LastError();
            EndUpdateResourceW(update, TRUE);
            return discard(WriteOutcome::WriteFailed, Show(output) + ": cannot add resource " +
                                                          std::to_string(resource.id) + ": " + why);
        }
    }
    if (!EndUpdateResourceW(update, FALSE)) {
        return discard(WriteOutcome::WriteFailed,
                       Show(output) + ": cannot write the resources: " + LastError());
    }
    if (!FlushToDisk(temp)) {
        return discard(WriteOutcome::WriteFailed,
                       Show(output) + ": cannot flush it to disk: " + LastError());
    }
    if (!MoveFileExW(temp.c_str(), output.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return discard(WriteOutcome::WriteFailed,
                       Show(output) + ": cannot put it in place: " + LastError());
    }
    return {WriteOutcome::Written, {}};
}

std::optional<std::string> ProgramFormatProblem(std::span<const std::uint8_t> bytes) {
    return PeProgramProblem(bytes);
}

}  // namespace zelk::tools
