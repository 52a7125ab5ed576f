// The sign-in window's template and handlers: the first-use password set-up before the window is
// visible, and the sign-in test that makes the typed password the sign-in password.
#include "app/sign_in_window.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>

#include "app/program.h"
#include "base/secure.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "store/account_database.h"

namespace ob {
namespace {

constexpr ControlTemplate kControls[] = {
    {"按钮1", ControlKind::Button, 288, 8, 72, 24, "进入", kDefaultButton | kCenterText},
    {"编辑框1", ControlKind::Edit, 72, 8, 200, 24, "", kCenterText},
    {"图片框1", ControlKind::Picture, 16, 8, 40, 24, "keypad", kNoFlags},
};

constexpr WindowTemplate kTemplate = {
    WindowKind::SignIn,
    "请输入管理员密码：",
    379,
    68,
    /*minimize_box=*/false,
    /*show_in_taskbar=*/false,
    /*esc_closes=*/true,
    "编辑框1",
    kControls,
    {},
};

constexpr std::size_t kMinPasswordBytes = 6;

// First use: a file without access password gets one before the window is ever visible.
void OnCreated(WindowRef) {
    if (IsDatabaseEncrypted(DatabaseFilePath()) != 0) {
        CloseDatabase();
        return;
    }
    if (OpenDatabase(DatabaseFilePath()) != 1) {
        ShowMessageBox("数据库不存在", 16);
        EndProgram(0);
    }
    // Cancel leaves the entry as it was, always too short here, so the question comes again:
    // the file must not stay without a password by mistake.
    SecureString entry;
    while (entry.size() < kMinPasswordBytes) {
        InputBox("首次使用请设置密码：", "欢迎使用Obrellin！", "", entry, 1);
        if (entry.size() >= kMinPasswordBytes) {
            const int s = SetDatabasePassword(entry);
            ShowMessageBox(s == 1 ? "密码设置成功" : "密码设置失败", 64);
        } else {
            ShowMessageBox("密码过于简单", 48);
        }
    }
    CloseDatabase();
    entry.Wipe();
}

// The password that the database's own question took while "?" was being tested. The test
// replaces the prompt handler for the duration of one OpenDatabase call on this thread.
PasswordPromptHandler g_outer_prompt = nullptr;
std::optional<SecureString> g_prompt_answer;

std::optional<SecureString> RememberingPrompt(std::string_view status_line) {
    std::optional<SecureString> typed =
        g_outer_prompt != nullptr ? g_outer_prompt(status_line) : std::nullopt;
    g_prompt_answer = typed;
    return typed;
}

// Opens the database with what the user typed. With "?" the database asks for the password
// itself; then password receives the text that opened it, so that the sign-in password is the
// real access password, not "?" (under "?" as key, every record added would be enciphered so that
// no later session could read it, and no record of earlier sessions would show).
int TestPassword(const std::filesystem::path& path, SecureString& password) {
    if (password.view() != "?") {
        return OpenDatabase(path, password);
    }
    g_prompt_answer.reset();
    g_outer_prompt = SetPasswordPromptHandler(&RememberingPrompt);
    const int r = OpenDatabase(path, password);
    SetPasswordPromptHandler(g_outer_prompt);
    g_outer_prompt = nullptr;
    // A file without access password opens at "?" without asking: its password is the empty text.
    password = g_prompt_answer ? std::move(*g_prompt_answer) : SecureString();
    g_prompt_answer.reset();
    return r;
}

void OnClicked(WindowRef w, std::string_view control) {
    if (control != "按钮1") {
        return;
    }
    Platform& p = ThePlatform();
    std::optional<SecureString> typed = p.GetControlText(w, "编辑框1");
    if (!typed) {
        ShowMessageBox(kUnrepresentableText, 48);
        return;
    }
    if (TestPassword(DatabaseFilePath(), *typed) != 1) {
        ShowMessageBox("密码错误", 16);
        return;
    }
    SetSignInPassword(*typed);
    typed->Wipe();
    CloseDatabase();
    p.ShowModeless(WindowKind::Main);
    p.RequestDestroy(w);
}

}  // namespace

const WindowClass& SignInWindowClass() {
    static const WindowClass cls{&kTemplate, WindowHandlers{
                                                 .created = &OnCreated,
                                                 .destroying = nullptr,
                                                 .clicked = &OnClicked,
                                                 .right_clicked = nullptr,
                                                 .list_row_count = nullptr,
                                                 .list_cell = nullptr,
                                             }};
    return cls;
}

}  // namespace ob
