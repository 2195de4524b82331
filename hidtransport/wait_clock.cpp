#include "hidtransport/wait_clock.h"

namespace zelk {

WaitClock& SystemClock() {
    static SystemWaitClock clock;
    return clock;
}

}  // namespace zelk
