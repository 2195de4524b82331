#include "desktop/platform.h"

#include <io.h>
#include <stdio.h>

namespace zelk::app::platform {

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace zelk::app::platform
