#include <unistd.h>

#include "desktop/platform.h"

namespace zelk::app::platform {

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

}  // namespace zelk::app::platform
