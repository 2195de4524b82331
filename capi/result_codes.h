// The one translation of the library's error enumeration into the documented
// result codes of the C interface (zelk/cfu_result_codes.h).
#pragma once

#include "engine/update_error.h"
#include "zelk/cfu_update.h"

namespace zelk::capi {

// The documented code of `error`; CFU_RESULT_INTERNAL_ERROR for a value
// outside the enumeration.
ResultCode ToResultCode(engine::UpdateError error);

}  // namespace zelk::capi
