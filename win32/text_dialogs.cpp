// The input box and the password prompt, made from templates of their own and shown modally with
// the same window rules as the program's windows (Enter confirms, Esc and close cancel).
#include "win32/text_dialogs.h"

#include <string>

#include "platform/dialogs.h"
#include "win32/window_host.h"

namespace ob::win32 {
namespace {

constexpr std::string_view kEdit = "edit";
constexpr std::string_view kOk = "ok";
constexpr std::string_view kCancel = "cancel";

struct DialogLayout {
    std::string_view caption;
    std::string_view prompt;
    std::string_view initial;
    std::string_view status;  // shown below the edit box when has_status
    bool has_status = false;
    bool masked = false;
    std::string_view ok_text;
    std::string_view cancel_text;
};

// Shows the dialog and returns the confirmed text, or nothing when it was cancelled or closed.
// A text that GBK cannot hold is refused with a message and the dialog stays open.
std::optional<SecureString> RunTextDialog(const DialogLayout& layout) {
    const int row = layout.has_status ? 28 : 0;
    const ControlTemplate controls[] = {
        {"prompt", ControlKind::Label, 12, 10, 330, 20, layout.prompt, kNoFlags},
        {kEdit, ControlKind::Edit, 12, 34, 330, 24, layout.initial,
         layout.masked ? static_cast<std::uint32_t>(kPasswordInput) : kNoFlags},
        {"status", ControlKind::Label, 12, 64, 330, 20, layout.status, kNoFlags},
        {kOk, ControlKind::Button, 142, 70 + row, 104, 28, layout.ok_text,
         kDefaultButton | kCenterText},
        {kCancel, ControlKind::Button, 254, 70 + row, 88, 28, layout.cancel_text, kCenterText},
    };
    std::span<const ControlTemplate> used(controls);
    const ControlTemplate no_status[] = {controls[0], controls[1], controls[3], controls[4]};
    if (!layout.has_status) {
        used = no_status;
    }
    // The kind is not looked at for the front end's own dialogs.
    const WindowTemplate tmpl = {
        WindowKind::SignIn,        layout.caption, 362,  138 + row,
        /*minimize_box=*/false,
        /*show_in_taskbar=*/false,
        /*esc_closes=*/true,       kEdit,        used, {},
    };
    std::optional<SecureString> result;
    WindowClass cls{&tmpl, WindowHandlers{}};
    cls.handlers.clicked = [&result, &layout](WindowRef w, std::string_view control) {
        if (control == kCancel) {
            RequestWindowDestroy(w);
            return;
        }
        if (control != kOk) {
            return;
        }
        HWND edit = ControlHandle(w, kEdit);
        const WideSecret typed = WindowTextWide(edit);
        std::optional<SecureString> text = WideToGbkStrict(typed.view());
        if (!text) {
            const WideSecret message = GbkToWide(kUnrepresentableText);
            const WideSecret caption = GbkToWide(layout.caption);
            MessageBoxW(WindowHandle(w), message.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
            if (edit != nullptr) {
                SetFocus(edit);
                SendMessageW(edit, EM_SETSEL, 0, -1);
            }
            return;
        }
        result = std::move(text);
        RequestWindowDestroy(w);
    };
    ShowModalWindow(cls, /*internal=*/true);
    return result;
}

}  // namespace

WideSecret WindowTextWide(HWND hwnd) {
    WideSecret text;
    if (hwnd == nullptr) {
        return text;
    }
    const int n = GetWindowTextLengthW(hwnd);
    if (n <= 0) {
        return text;
    }
    text.resize(static_cast<std::size_t>(n) + 1);
    const int got = GetWindowTextW(hwnd, text.data(), n + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

int RunInputBox(std::string_view prompt, std::string_view caption, std::string_view initial,
                SecureString& var) {
    DialogLayout layout;
    layout.caption = caption;
    layout.prompt = prompt;
    layout.initial = initial;
    layout.ok_text = "确认输入(&O)";
    layout.cancel_text = "取消(&C)";
    std::optional<SecureString> text = RunTextDialog(layout);
    if (!text) {
        return 0;
    }
    var.Wipe();
    var = std::move(*text);
    return 1;
}

std::optional<SecureString> RunPasswordPrompt(std::string_view status_line) {
    DialogLayout layout;
    layout.caption = "密码输入";
    layout.prompt = "请输入数据库访问密码：";
    layout.status = status_line;
    layout.has_status = true;
    layout.masked = true;
    layout.ok_text = "确认(&O)";
    layout.cancel_text = "取消(&C)";
    return RunTextDialog(layout);
}

}  // namespace ob::win32
