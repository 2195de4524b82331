#include "app/window/qt/progress_caption.h"

#include <algorithm>

namespace zelk::app::qt {
namespace {

QString Percent(std::int64_t percentage) {
    const std::int64_t shown = std::clamp<std::int64_t>(percentage, 0, 100);
    return QStringLiteral("ZelkUpdateTool — %1%").arg(shown);
}

}  // namespace

std::optional<QString> CaptionAfter(ProgressEvent event, std::int64_t lParam) {
    switch (event) {
        case ProgressEvent::Progress:
            return Percent(lParam);
        case ProgressEvent::Succeeded:
            return Percent(100);
        case ProgressEvent::NoDevice:
        case ProgressEvent::RunEnded:
            return QString();
        case ProgressEvent::StepFailed:
            break;
    }
    return std::nullopt;
}

}  // namespace zelk::app::qt
