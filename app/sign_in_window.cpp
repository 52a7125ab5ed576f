// The sign-in window's template and handlers.
#include "app/sign_in_window.h"

namespace ob {
namespace {

constexpr ControlTemplate kControls[] = {
    {"按钮1", ControlKind::Button, 288, 8, 72, 24, "进入", kDefaultButton | kCenterText},
    {"编辑框1", ControlKind::Edit, 72, 8, 200, 24, "", kCenterText},
    {"图片框1", ControlKind::Picture, 16, 8, 40, 24, "keypad", kNoFlags},
};

constexpr WindowTemplate kTemplate = {
    WindowKind::SignIn, "请输入管理员密码：", 379, 68,
    /*minimize_box=*/false, /*show_in_taskbar=*/false, /*esc_closes=*/true,
    "编辑框1", kControls, {},
};

}  // namespace

const WindowClass& SignInWindowClass() {
    static const WindowClass cls{&kTemplate, WindowHandlers{}};
    return cls;
}

}  // namespace ob
