// The program's message box, input box and fatal-error box, built on the platform interface.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/secure.h"
#include "base/text.h"
#include "platform/window_template.h"

namespace ob {

inline constexpr std::string_view kDefaultCaption = "信息：";

// A message box whose style is code plus the task-modal flag (0x2000) unless code holds the
// system-modal flag (0x1000). Returns the Windows button identifier minus 1 (OK 0, Cancel 1, ...).
int ShowMessageBox(std::string_view text, std::uint32_t code,
                   std::string_view caption = kDefaultCaption, WindowRef owner = 0);

// The one-line input dialog; mode 1 is plain text. The title "请输入：" stands in for an empty one.
// Returns 1 and sets var on confirm, 0 and leaves var unchanged otherwise.
int InputBox(std::string_view prompt, std::string_view title, std::string_view initial,
             SecureString& var, int mode);

// The text of the fatal run-time error box for code (0: no code line) and message.
Text FatalErrorText(int code, std::string_view message);

// The fatal-error handler of the running program: the error box without owner, titled "错误", with
// the error icon and OK, then the end of the process with exit code -1.
void ShowFatalErrorAndExit(int code, std::string_view message);

// Shown when a box holds a character that GBK cannot hold and the action is refused.
inline constexpr std::string_view kUnrepresentableText =
    "输入的内容含有本程序无法保存的字符，请删除或更换这些字符后再试。";

}  // namespace ob
