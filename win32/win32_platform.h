// The platform interface carried out with the real wide-character Win32 APIs.
#pragma once

#include <windows.h>
// The interface names a method MessageBox, which windows.h would turn into MessageBoxW.
#undef MessageBox

#include "platform/platform.h"

namespace ob::win32 {

class Win32Platform final : public Platform {
  public:
    explicit Win32Platform(HINSTANCE instance);

    void Setup() override;
    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t style,
                   WindowRef owner) override;
    int InputBox(std::string_view prompt, std::string_view caption, std::string_view initial,
                 SecureString& var, int mode) override;
    std::optional<SecureString> PasswordPrompt(std::string_view status_line) override;
    int ShowModal(WindowKind kind) override;
    int ShowModeless(WindowKind kind) override;
    void RequestDestroy(WindowRef w) override;
    bool AnyWindowExists() override;
    std::optional<SecureString> GetControlText(WindowRef w, std::string_view control) override;
    void SetControlText(WindowRef w, std::string_view control, std::string_view text) override;
    void RunMessageLoop() override;
    void PostQuit() override;
    [[noreturn]] void ExitProcess(int code) override;
    void ListSetRowCount(WindowRef w, std::string_view control, int rows) override;
    int ListSelectedRow(WindowRef w, std::string_view control) override;
    int PopupMenu(WindowRef owner, std::span<const std::string_view> items) override;
    void SetClipboardText(std::string_view text) override;
    void ShellOpen(std::string_view text) override;
    bool StartThread(std::function<void()> fn) override;
    bool RunOnUiThread(std::function<void()> fn) override;

    bool OnUiThread() const noexcept { return GetCurrentThreadId() == ui_thread_; }

  private:
    HINSTANCE instance_;
    DWORD ui_thread_;
};

}  // namespace ob::win32
