// The firmware files a package carries, as the packaging tool checks them and
// the updater reads them: one home for their sizes on both sides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/image_entry.h"

namespace zelk::app {

inline constexpr std::size_t kOfferFileSize = engine::kOfferFileSize;
inline constexpr std::size_t kPayloadRecordSize = engine::kPayloadRecordSize;

// The packaging tool takes payloads below 1 MiB; the updater refuses larger
// ones in the same way.
inline constexpr std::uint64_t kMaxPayloadFileSize = engine::kMaxPayloadFileSize;

}  // namespace zelk::app
