// A file that records are appended to, one whole line at a time, each on the
// disk before the call returns (app/run/unit_log.h keeps its lines here).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zelk::app::platform {

class AppendFile {
  public:
    virtual ~AppendFile() = default;
    // Writes `bytes` at the file's end in one call, so that lines written at
    // the same time by other threads or processes never cut into it, then
    // waits until the data is on the disk. False when it was not written
    // whole or not flushed; a line cut short is ended with a line break
    // where that can still be written, so the next line starts on its own.
    virtual bool Append(std::string_view bytes) = 0;
};

// Opens `path` (UTF-8) for appending, creating it when missing (on Linux with
// mode 0644 less the umask). Only a regular file is taken: a directory, a
// FIFO or a device node is refused (a FIFO without waiting for a reader).
// Null with a message naming the file in `error` when it cannot be used.
std::unique_ptr<AppendFile> OpenAppendFile(const std::string& path, std::string& error);

}  // namespace zelk::app::platform
