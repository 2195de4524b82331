// The one place where exceptions stop at the C edge: an exported call runs
// its body through Guarded, which turns anything thrown into the call's
// documented failure value.
#pragma once

#include <utility>

namespace zelk::capi {

template <class Result, class Body>
Result Guarded(Result onFailure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return onFailure;
    }
}

// For the calls that have no result to report through.
template <class Body>
void Guarded(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

}  // namespace zelk::capi
