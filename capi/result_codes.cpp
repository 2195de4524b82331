#include "capi/result_codes.h"

#include <cstddef>

namespace zelk::capi {

using engine::UpdateError;

// The numbers come from the engine's one table (engine::ErrorNumber), which
// the programs print as well; tests/capi checks them against this header's names.
ResultCode ToResultCode(UpdateError error) {
    return static_cast<ResultCode>(engine::ErrorNumber(error));
}

UpdateError ErrorOfCode(std::int64_t code) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(UpdateError::Count); ++i) {
        const auto error = static_cast<UpdateError>(i);
        if (engine::ErrorNumber(error) == code) {
            return error;
        }
    }
    return UpdateError::Count;
}

}  // namespace zelk::capi
