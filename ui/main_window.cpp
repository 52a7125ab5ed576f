// The main window's template and handlers.
#include "ui/main_window.h"

namespace ob {
namespace {

constexpr ControlTemplate kControls[] = {
    {"超级列表框1", ControlKind::List, 0, 0, 568, 384, "", kNoFlags},
};

constexpr ListColumn kColumns[] = {
    {"序号", 50}, {"网址", 160}, {"帐号", 100}, {"密码", 100}, {"备注", 150},
};

constexpr WindowTemplate kTemplate = {
    WindowKind::Main, "Obrellin", 576, 413,
    /*minimize_box=*/true, /*show_in_taskbar=*/true, /*esc_closes=*/false,
    "超级列表框1", kControls, kColumns,
};

}  // namespace

const WindowClass& MainWindowClass() {
    static const WindowClass cls{&kTemplate, WindowHandlers{}};
    return cls;
}

}  // namespace ob
