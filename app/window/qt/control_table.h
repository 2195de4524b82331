// The main dialog's controls (template 102) as the original program lays
// them out: id, kind, text, place in dialog units and whether it is shown at
// start.
#pragma once

#include <span>

namespace zelk::app::qt {

enum class ControlKind {
    Button,
    Label,
    Edit,
    ReadOnlyEdit,
    LogPane,  // read-only rich text, several lines, vertical scroll bar
    CheckBox,
};

struct ControlSpec {
    int id;
    ControlKind kind;
    const char16_t* text;
    int x;
    int y;
    int width;
    int height;
    bool visible;
};

inline constexpr int kMainDialogWidth = 371;   // dialog units
inline constexpr int kMainDialogHeight = 251;  // dialog units
inline constexpr double kMainDialogPointSize = 9;
inline constexpr double kLogPointSize = 11.1;

std::span<const ControlSpec> MainDialogControls();

}  // namespace zelk::app::qt
