// Message box, input box and fatal-error box of the program, on top of the platform interface.
#include "platform/dialogs.h"

#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace ob {
namespace {
constexpr std::uint32_t kTaskModal = 0x2000;
constexpr std::uint32_t kSystemModal = 0x1000;
constexpr std::uint32_t kIconError = 0x10;
}  // namespace

int ShowMessageBox(std::string_view text, std::uint32_t code, std::string_view caption,
                   WindowRef owner) {
    const std::uint32_t style = (code & kSystemModal) ? code : (code | kTaskModal);
    return ThePlatform().MessageBox(text, caption, style, owner) - 1;
}

int InputBox(std::string_view prompt, std::string_view title, std::string_view initial,
             SecureString& var, int mode) {
    return ThePlatform().InputBox(prompt, title.empty() ? std::string_view("请输入：") : title,
                                  initial, var, mode);
}

Text FatalErrorText(int code, std::string_view message) {
    Text t = "运行时出错!\r\n\r\n";
    if (code != 0) {
        t += "错误代码：";
        t += std::to_string(code);
        t += "\r\n\r\n";
    }
    t += "错误信息：";
    t += message;
    t += "\r\n";
    return t;
}

void ShowFatalErrorAndExit(int code, std::string_view message) {
    Platform& p = ThePlatform();
    p.MessageBox(FatalErrorText(code, message), "错误", kIconError | kTaskModal, 0);
    p.ExitProcess(-1);
    std::_Exit(-1);  // not reached: the platform ends the process
}

}  // namespace ob
