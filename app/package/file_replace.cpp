#include "app/package/file_replace.h"

#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace zelk::app {

namespace fs = std::filesystem;

namespace {

// A name beside `target` that nothing uses yet; empty when none was found.
fs::path FreeTemporaryName(const fs::path& target) {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path candidate = target;
        candidate += ".";
        candidate += std::to_string(random());
        candidate += ".tmp";
        if (!fs::exists(fs::symlink_status(candidate, ec))) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

bool WriteFileReplacing(const fs::path& target, std::span<const std::uint8_t> bytes) {
    const fs::path temp = FreeTemporaryName(target);
    if (temp.empty()) {
        return false;
    }
    std::error_code ec;
    {
        std::ofstream out(temp, std::ios::out | std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, target, ec);
    std::error_code statusError;
    if (ec && !fs::is_directory(fs::symlink_status(target, statusError))) {
        // Where a rename does not replace an existing file, remove it first.
        std::error_code ignored;
        fs::remove(target, ignored);
        fs::rename(temp, target, ec);
    }
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

}  // namespace zelk::app
