#include <time.h>

#include "app/platform/platform.h"

namespace zelk::app::platform {

LocalTime Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1'000'000)};
}

}  // namespace zelk::app::platform
