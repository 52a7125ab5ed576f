// The add-record window's template and handlers.
#include "ui/add_record_window.h"

namespace ob {
namespace {

constexpr ControlTemplate kControls[] = {
    {"编辑框5", ControlKind::Edit, 296, 80, 48, 24, "10", kCenterText | kDigitsAndMinus},
    {"透明标签5", ControlKind::Label, 264, 80, 40, 24, "位数：", kNoFlags},
    {"按钮3", ControlKind::Button, 344, 80, 48, 24, "随机", kCenterText},
    {"按钮1", ControlKind::Button, 136, 152, 104, 32, "添加", kDefaultButton | kCenterText},
    {"编辑框3", ControlKind::Edit, 56, 80, 200, 24, "", kNoFlags},
    {"透明标签3", ControlKind::Label, 16, 112, 40, 24, "备注：", kNoFlags},
    {"编辑框4", ControlKind::Edit, 56, 112, 328, 24, "", kNoFlags},
    {"透明标签4", ControlKind::Label, 16, 80, 40, 24, "密码：", kNoFlags},
    {"编辑框2", ControlKind::Edit, 56, 48, 328, 24, "", kNoFlags},
    {"透明标签2", ControlKind::Label, 16, 48, 40, 24, "账号：", kNoFlags},
    {"编辑框1", ControlKind::Edit, 56, 16, 328, 24, "", kNoFlags},
    {"透明标签1", ControlKind::Label, 16, 16, 40, 24, "网址：", kNoFlags},
};

constexpr WindowTemplate kTemplate = {
    WindowKind::AddRecord, "添加记录", 405, 222,
    /*minimize_box=*/false, /*show_in_taskbar=*/false, /*esc_closes=*/false,
    "编辑框1", kControls, {},
};

}  // namespace

const WindowClass& AddRecordWindowClass() {
    static const WindowClass cls{&kTemplate, WindowHandlers{}};
    return cls;
}

}  // namespace ob
