#include "app/platform/platform.h"

#include <windows.h>

namespace zelk::app::platform {

LocalTime Now() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

}  // namespace zelk::app::platform
