// The library's error enumeration as the documented result codes of the C
// interface (zelk/cfu_result_codes.h), by the engine's one table.
#pragma once

#include <cstdint>

#include "engine/update_error.h"
#include "zelk/cfu_update.h"

namespace zelk::capi {

// The documented code of `error`; CFU_RESULT_INTERNAL_ERROR for a value
// outside the enumeration.
ResultCode ToResultCode(engine::UpdateError error);

// The first value reported as `code` (its name and meaning are the code's);
// UpdateError::Count for a number that is no documented code.
engine::UpdateError ErrorOfCode(std::int64_t code);

}  // namespace zelk::capi
