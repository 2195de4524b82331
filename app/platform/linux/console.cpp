#include <unistd.h>

#include "app/platform/platform.h"

namespace zelk::app::platform {

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void WriteConsoleText(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace zelk::app::platform
