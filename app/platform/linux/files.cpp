#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/platform/linux/native_path.h"
#include "app/platform/platform.h"

namespace zelk::app::platform {

std::u16string OwnPath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        // A result that fills the buffer may have been cut short.
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return Utf8ToUtf16(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool FileExists(std::u16string_view path) {
    const auto native = NativePath(path);
    struct stat info {};
    return native && stat(native->c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace zelk::app::platform
