#include "app/platform/os_services.h"

#include <cstdio>

namespace zelk::app {

OsServices::OsServices(std::unique_ptr<platform::ProgressBroadcaster> broadcaster)
    : broadcaster_(broadcaster ? std::move(broadcaster) : platform::CreateProgressBroadcaster()) {}

std::optional<std::uint32_t> OsServices::SystemLanguageId() {
    return platform::LanguageId();
}

ResourceLookup OsServices::FindResource(std::u16string_view type, int id,
                                        std::vector<std::uint8_t>& bytes) {
    return platform::FindOwnResource(type, id, bytes);
}

std::u16string OsServices::TempDirectory() {
    return platform::TempDirectory();
}

std::u16string OsServices::OwnPath() {
    return platform::OwnPath();
}

bool OsServices::FileExists(std::u16string_view path) {
    return platform::FileExists(path);
}

bool OsServices::StartProgram(std::u16string_view file,
                              const std::vector<std::u16string>& arguments) {
    return platform::StartProgram(file, arguments);
}

void OsServices::BroadcastProgress(ProgressEvent event, std::int64_t lParam) {
    broadcaster_->Broadcast(event, lParam);
}

void OsServices::DebugOutput(std::u16string_view text) {
    platform::DebugOutput(text);
}

void OsServices::WriteStdout(std::string_view bytes) {
    std::lock_guard lock(stdoutMutex_);
    platform::WriteConsoleText(stdout, bytes);
}

LocalTime OsServices::Now() {
    return platform::Now();
}

std::string OsServices::ToAnsiBytes(std::u16string_view text) {
    return platform::ToAnsiBytes(text);
}

std::string OsServices::ToChineseCodePageBytes(std::u16string_view text) {
    return platform::ToChineseCodePageBytes(text);
}

std::u16string OsServices::FromChineseCodePageBytes(std::string_view bytes) {
    return platform::FromChineseCodePageBytes(bytes);
}

}  // namespace zelk::app
