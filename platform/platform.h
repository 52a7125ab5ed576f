// The small interface through which the portable program talks to the platform: message and input
// boxes, windows and controls, the list, menus, clipboard, shell and threads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "base/secure.h"
#include "platform/window_template.h"

namespace ob {

// Every text crossing this interface is GBK bytes; the front end converts to and from UTF-16.
class Platform {
public:
    virtual ~Platform() = default;

    // Sets up the front end's part of the program: templates usable, hidden owner window made.
    virtual void Setup() = 0;

    // A message box with exactly this style (MessageBox flags). owner 0: none. Returns the Windows
    // button identifier (IDOK = 1, IDCANCEL = 2, ...).
    virtual int MessageBox(std::string_view text, std::string_view caption, std::uint32_t style,
                           WindowRef owner) = 0;

    // The one-line input dialog: caption, prompt, an edit box holding initial (all selected),
    // "确认输入(&O)" (default) and "取消(&C)". Confirm: var receives the box's text, result 1.
    // Cancel, Esc, close: var unchanged, result 0. A text GBK cannot hold is refused in the dialog.
    virtual int InputBox(std::string_view prompt, std::string_view caption,
                         std::string_view initial, SecureString& var, int mode) = 0;

    // The database's password question: "密码输入", "请输入数据库访问密码：", masked input,
    // "确认(&O)", "取消(&C)" and the status line. Nothing for Cancel or close.
    virtual std::optional<SecureString> PasswordPrompt(std::string_view status_line) = 0;

    // Windows (rules of showing, modality, focus, keys and destruction are the front end's).
    // Both return 1 when the window was created, else 0. ShowModal returns when it is destroyed.
    virtual int ShowModal(WindowKind kind) = 0;
    virtual int ShowModeless(WindowKind kind) = 0;
    // A request: the window is destroyed once the running handler has returned.
    virtual void RequestDestroy(WindowRef w) = 0;
    virtual bool AnyWindowExists() = 0;
    // The text of a control; nothing when it holds characters that GBK cannot hold.
    virtual std::optional<SecureString> GetControlText(WindowRef w, std::string_view control) = 0;
    virtual void SetControlText(WindowRef w, std::string_view control, std::string_view text) = 0;

    // The main message loop: runs until it takes a quit request.
    virtual void RunMessageLoop() = 0;
    virtual void PostQuit() = 0;
    [[noreturn]] virtual void ExitProcess(int code) = 0;

    // Owner-data list: the row count changed (rows are read through the window's handlers). A
    // count of 0 also clears the selection.
    virtual void ListSetRowCount(WindowRef w, std::string_view control, int rows) = 0;
    // 0-based index of the first selected row, or -1.
    virtual int ListSelectedRow(WindowRef w, std::string_view control) = 0;

    // A pop-up menu at the mouse pointer moved 3 pixels right and down, owned by owner. Returns the
    // 1-based number of the chosen item, 0 when the menu closed without a choice.
    virtual int PopupMenu(WindowRef owner, std::span<const std::string_view> items) = 0;

    // Puts text on the clipboard; failures are silent.
    virtual void SetClipboardText(std::string_view text) = 0;
    // The shell's "open" verb on text, unchanged; the result is not looked at.
    virtual void ShellOpen(std::string_view text) = 0;

    // Starts a detached thread running fn; false when it could not be started.
    virtual bool StartThread(std::function<void()> fn) = 0;
    // Runs fn on the user-interface thread and waits for it. From the user-interface thread it
    // runs fn at once. Returns false, without running fn, once the program is ending.
    virtual bool RunOnUiThread(std::function<void()> fn) = 0;
};

// The platform of this process, set once at start (by the front end or a test).
Platform& ThePlatform();
void SetPlatform(Platform* p) noexcept;

}  // namespace ob
