// The system-services part of the desktop seam for the OS the program is built
// for: every call goes to platform.h, whose definitions live in linux/ or
// win32/. Desktops inherit it next to Desktop (see desktop.h).
#pragma once

#include <memory>
#include <mutex>

#include "app/platform/platform.h"
#include "app/platform/system_services.h"

namespace zelk::app {

class OsServices : public virtual SystemServices {
  public:
    // Null: platform::CreateProgressBroadcaster().
    explicit OsServices(std::unique_ptr<platform::ProgressBroadcaster> broadcaster = nullptr);

    std::optional<std::uint32_t> SystemLanguageId() override;
    ResourceLookup FindResource(std::u16string_view type, int id,
                                std::vector<std::uint8_t>& bytes) override;
    std::u16string TempDirectory() override;
    std::u16string OwnPath() override;
    bool FileExists(std::u16string_view path) override;
    bool StartProgram(std::u16string_view file,
                      const std::vector<std::u16string>& arguments) override;
    void BroadcastProgress(ProgressEvent event, std::int64_t lParam) override;
    void DebugOutput(std::u16string_view text) override;
    // To the process's stdout, flushed at once.
    void WriteStdout(std::string_view bytes) override;
    LocalTime Now() override;
    std::string ToAnsiBytes(std::u16string_view text) override;
    std::string ToChineseCodePageBytes(std::u16string_view text) override;
    std::u16string FromChineseCodePageBytes(std::string_view bytes) override;

  private:
    std::unique_ptr<platform::ProgressBroadcaster> broadcaster_;
    std::mutex stdoutMutex_;
};

}  // namespace zelk::app
