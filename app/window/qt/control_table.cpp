#include "app/window/qt/control_table.h"

#include <array>

namespace zelk::app::qt {
namespace {

using enum ControlKind;

// 1 and 2 are the template's OK and Cancel, never shown; 1021 is never shown
// either (its job is done after every payload choice).
constexpr std::array kControls{
    ControlSpec{1, Button, u"确定", 209, 230, 50, 14, false},
    ControlSpec{2, Button, u"取消", 314, 230, 50, 14, false},
    ControlSpec{1000, Button, u"Start", 46, 17, 50, 14, true},
    ControlSpec{1001, Label, u"", 122, 15, 79, 16, false},
    ControlSpec{1003, Button, u"Admin", 46, 130, 50, 14, true},
    ControlSpec{1004, Label, u"offer.bin 路径：", 45, 191, 54, 13, false},
    ControlSpec{1005, ReadOnlyEdit, u"", 101, 189, 128, 14, false},
    ControlSpec{1006, Button, u"选择", 234, 189, 50, 14, false},
    ControlSpec{1007, Label, u"payload.bin 路径：", 45, 210, 66, 13, false},
    ControlSpec{1008, ReadOnlyEdit, u"", 101, 209, 128, 14, false},
    ControlSpec{1009, Button, u"选择", 234, 209, 50, 14, false},
    ControlSpec{1010, LogPane, u"", 46, 36, 290, 88, true},
    ControlSpec{1011, Label, u"PID:", 148, 153, 19, 12, false},
    ControlSpec{1012, Edit, u"", 167, 149, 40, 14, false},
    ControlSpec{1013, Label, u"VID:", 53, 153, 24, 12, false},
    ControlSpec{1014, Edit, u"", 74, 149, 40, 14, false},
    ControlSpec{1015, Label, u"Usage:", 46, 171, 26, 11, false},
    ControlSpec{1016, Edit, u"", 74, 169, 40, 14, false},
    ControlSpec{1017, Label, u"UsagePage:", 126, 171, 38, 13, false},
    ControlSpec{1018, Edit, u"", 167, 169, 40, 14, false},
    ControlSpec{1019, Label, u"       MI_:", 222, 172, 33, 13, false},
    ControlSpec{1020, Edit, u"", 259, 169, 40, 14, false},
    ControlSpec{1021, Button, u"设定", 46, 227, 50, 14, false},
    ControlSpec{1022, CheckBox, u"隐藏界面", 241, 151, 43, 10, false},
};

}  // namespace

std::span<const ControlSpec> MainDialogControls() {
    return kControls;
}

}  // namespace zelk::app::qt
