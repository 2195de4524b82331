// The window caption shows how far a run has got: "ZelkUpdateTool — 42%"
// while it goes, empty (as the dialog's own caption) once it is over.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "app/desktop/desktop.h"

namespace zelk::app::qt {

// The caption after a progress broadcast; nothing when the event leaves the
// caption as it is (a failed step: the run goes on to its end).
std::optional<QString> CaptionAfter(ProgressEvent event, std::int64_t lParam);

}  // namespace zelk::app::qt
