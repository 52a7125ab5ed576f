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

struct DialogSpec {
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
std::optional<SecureString> RunTextDialog(const DialogSpec& spec) {
    const int row = spec.has_status ? 28 : 0;
    const ControlTemplate controls[] = {
        {"prompt", ControlKind::Label, 12, 10, 330, 20, spec.prompt, kNoFlags},
        {kEdit, ControlKind::Edit, 12, 34, 330, 24, spec.initial,
         spec.masked ? static_cast<std::uint32_t>(kPasswordInput) : kNoFlags},
        {"status", ControlKind::Label, 12, 64, 330, 20, spec.status, kNoFlags},
        {kOk, ControlKind::Button, 142, 70 + row, 104, 28, spec.ok_text,
         kDefaultButton | kCenterText},
        {kCancel, ControlKind::Button, 254, 70 + row, 88, 28, spec.cancel_text, kCenterText},
    };
    std::span<const ControlTemplate> used(controls);
    const ControlTemplate no_status[] = {controls[0], controls[1], controls[3], controls[4]};
    if (!spec.has_status) {
        used = no_status;
    }
    // The kind is not looked at for the front end's own dialogs.
    const WindowTemplate tmpl = {
        WindowKind::SignIn,        spec.caption, 362,  138 + row,
        /*minimize_box=*/false,
        /*show_in_taskbar=*/false,
        /*esc_closes=*/true,       kEdit,        used, {},
    };
    std::optional<SecureString> result;
    WindowClass cls{&tmpl, WindowHandlers{}};
    cls.handlers.clicked = [&result, &spec](WindowRef w, std::string_view control) {
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
            const WideSecret caption = GbkToWide(spec.caption);
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
    DialogSpec spec;
    spec.caption = caption;
    spec.prompt = prompt;
    spec.initial = initial;
    spec.ok_text = "确认输入(&O)";
    spec.cancel_text = "取消(&C)";
    std::optional<SecureString> text = RunTextDialog(spec);
    if (!text) {
        return 0;
    }
    var.Wipe();
    var = std::move(*text);
    return 1;
}

std::optional<SecureString> RunPasswordPrompt(std::string_view status_line) {
    DialogSpec spec;
    spec.caption = "密码输入";
    spec.prompt = "请输入数据库访问密码：";
    spec.status = status_line;
    spec.has_status = true;
    spec.masked = true;
    spec.ok_text = "确认(&O)";
    spec.cancel_text = "取消(&C)";
    return RunTextDialog(spec);
}

}  // namespace ob::win32
