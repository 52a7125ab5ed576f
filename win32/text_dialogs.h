// The front end's own one-line dialogs: the input box and the database password prompt.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

#include "base/secure.h"
#include "win32/gbk.h"

namespace ob::win32 {

// The input box: caption, prompt, an edit box holding initial (all selected), "确认输入(&O)"
// (default) and "取消(&C)". Confirm: var receives the text, result 1; otherwise var unchanged, 0.
int RunInputBox(std::string_view prompt, std::string_view caption, std::string_view initial,
                SecureString& var);

// The password prompt: "密码输入", "请输入数据库访问密码：", masked input, "确认(&O)" (default),
// "取消(&C)" and the status line. Nothing for Cancel, Esc or close.
std::optional<SecureString> RunPasswordPrompt(std::string_view status_line);

// The whole text of an edit box (or any window), in wiping storage.
WideSecret WindowTextWide(HWND hwnd);

}  // namespace ob::win32
