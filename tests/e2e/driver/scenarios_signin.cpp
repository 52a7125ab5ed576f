// Scenarios of the start, the first-use password and the sign-in window.
#include <windows.h>

#include "tests/e2e/driver/scenario.h"
#include "tests/e2e/driver/steps.h"
#include "tests/e2e/fixture/fixture_data.h"

namespace e2e {
namespace {

using fixture::kPassword;

// Fails when any window other than the allowed ones has ever been visible.
void ExpectOnlyEverVisible(Program& p, const std::vector<std::wstring>& allowed_titles) {
    for (const std::wstring& seen : p.EverVisible()) {
        bool ok = false;
        for (const std::wstring& t : allowed_titles) {
            ok = ok || seen.rfind(Quote(t) + L" [", 0) == 0;
        }
        if (!ok) {
            Fail(L"the window " + seen + L" became visible, which it must not at this point");
        }
    }
}

void EndByClosingMain(Program& p, HWND main) {
    ClickCloseButton(main);
    DWORD code = p.WaitExit();
    if (code != 0) {
        Fail(L"expected exit code 0 after closing the main window, got " +
             std::to_wstring(static_cast<int>(code)));
    }
}

// The first-use input box, with its texts; returns its edit box.
HWND WaitInputBox(Program& p, HWND* box_out, bool expect_empty = true) {
    HWND box = p.WaitWindow(kInputBoxTitle);
    p.ExpectControl(box, L"Static", kInputBoxPrompt);
    p.ExpectControl(box, L"Button", L"确认输入(&O)");
    p.ExpectControl(box, L"Button", L"取消(&C)");
    HWND edit = p.ExpectControl(box, L"Edit");
    p.WaitFocus(edit, L"the input box's edit");
    if (expect_empty) {
        ExpectText(edit, L"", L"the input box (shown again, empty)");
    }
    if (GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) {
        Fail(L"the input box masks what is typed; it must show it as typed");
    }
    // The sign-in window must not be visible while the first-use set-up runs.
    if (p.Appears(kSignInTitle, 0)) {
        Fail(L"the sign-in window is visible during the first-use set-up");
    }
    *box_out = box;
    return edit;
}

void DatabaseMissing() {
    Program p(L"database-missing");
    p.Start();
    HWND box = p.ExpectMessageBox(kInfoCaption, L"数据库不存在");
    p.Shot(L"box");
    p.ClickDialogButton(box, IDOK);
    DWORD code = p.WaitExit();
    if (code != 0) {
        Fail(L"expected exit code 0, got " + std::to_wstring(static_cast<int>(code)));
    }
    ExpectOnlyEverVisible(p, {kInfoCaption});
}

void FirstUseFiveThenSixDigits() {
    Program p(L"first-use-digits");
    p.PutDatabase(fixture::kFirstUse);
    p.Start();
    HWND box = nullptr;
    WaitInputBox(p, &box);
    p.Shot(L"input-box");
    TypeText(L"12345");
    KeyPress(VK_RETURN);
    HWND msg = p.ExpectMessageBox(kInfoCaption, L"密码过于简单");
    p.Shot(L"too-simple");
    Acknowledge(p, msg);
    HWND edit = WaitInputBox(p, &box);
    TypeText(L"123456");
    ExpectText(edit, L"123456", L"the input box");
    Click(p.ExpectControl(box, L"Button", L"确认输入(&O)"));
    msg = p.ExpectMessageBox(kInfoCaption, L"密码设置成功");
    p.Shot(L"password-set");
    // Nothing but the input box and its messages has been visible so far.
    ExpectOnlyEverVisible(p, {kInputBoxTitle, kInfoCaption});
    Acknowledge(p, msg);
    WaitSignIn(p);
    p.Shot(L"sign-in");
    HWND main = SignIn(p, L"123456");
    p.Shot(L"main");
    EndByClosingMain(p, main);
    // The sign-in showed that the file opens with the new password; it no longer opens without.
    std::wstring out;
    if (RunFixtureTool({L"dump", p.DatabasePath().wstring(), L""}, &out) == 0) {
        Fail(L"the database still opens without a password after the first use");
    }
}

void FirstUseCancelEscAndTrailingSpace() {
    Program p(L"first-use-cancel-esc-space");
    p.PutDatabase(fixture::kFirstUse);
    p.Start();
    HWND box = nullptr;
    WaitInputBox(p, &box);
    TypeText(L"abc");
    Click(p.ExpectControl(box, L"Button", L"取消(&C)"));
    HWND msg = p.ExpectMessageBox(kInfoCaption, L"密码过于简单");
    Acknowledge(p, msg);
    WaitInputBox(p, &box);
    TypeText(L"abcdefgh");
    KeyPress(VK_ESCAPE);
    msg = p.ExpectMessageBox(kInfoCaption, L"密码过于简单");
    Acknowledge(p, msg);
    WaitInputBox(p, &box);
    ClickCloseButton(box);
    msg = p.ExpectMessageBox(kInfoCaption, L"密码过于简单");
    Acknowledge(p, msg);
    // Five letters and a space are six bytes: accepted, and the space belongs to the password.
    HWND edit = WaitInputBox(p, &box);
    TypeText(L"abcde ");
    ExpectText(edit, L"abcde ", L"the input box");
    KeyPress(VK_RETURN);
    msg = p.ExpectMessageBox(kInfoCaption, L"密码设置成功");
    Acknowledge(p, msg);
    SignInWindow s = WaitSignIn(p);
    TypeText(L"abcde");
    KeyPress(VK_RETURN);
    msg = p.ExpectMessageBox(kInfoCaption, L"密码错误");
    Acknowledge(p, msg);
    HWND main = SignIn(p, L"abcde ");
    (void)s;
    EndByClosingMain(p, main);
}

void FirstUseChinesePassword() {
    Program p(L"first-use-chinese");
    p.PutDatabase(fixture::kFirstUse);
    p.Start();
    HWND box = nullptr;
    HWND edit = WaitInputBox(p, &box);
    // Three Chinese characters are six bytes in GBK: long enough.
    TypeText(L"汉字密");
    ExpectText(edit, L"汉字密", L"the input box");
    p.Shot(L"typed");
    KeyPress(VK_RETURN);
    HWND msg = p.ExpectMessageBox(kInfoCaption, L"密码设置成功");
    Acknowledge(p, msg);
    HWND main = SignIn(p, L"汉字密");
    EndByClosingMain(p, main);
}

void WrongThenRight() {
    Program p(L"signin-wrong-then-right");
    p.PutDatabase(fixture::kProtectedEmpty);
    p.Start();
    SignInWindow s = WaitSignIn(p);
    ExpectOnlyEverVisible(p, {kSignInTitle});  // no first-use input box for a protected file
    p.Shot(L"sign-in");
    // An empty box is a wrong password too.
    KeyPress(VK_RETURN);
    HWND msg = p.ExpectMessageBox(kInfoCaption, L"密码错误");
    Acknowledge(p, msg);
    TypeText(L"wrong-pass");
    Click(s.enter);
    msg = p.ExpectMessageBox(kInfoCaption, L"密码错误");
    p.Shot(L"wrong");
    Acknowledge(p, msg);
    ExpectText(s.edit, L"wrong-pass", L"the sign-in box after a wrong password");
    // Letter case counts.
    ReplaceText(s.edit, L"ob-E2E-42");
    Click(s.enter);
    msg = p.ExpectMessageBox(kInfoCaption, L"密码错误");
    Acknowledge(p, msg);
    ReplaceText(s.edit, kPassword);
    Click(s.enter);
    HWND main = p.WaitWindow(kMainTitle, L"", 20000,
                             [&](HWND w) { return p.FindControl(w, L"SysListView32") != nullptr; });
    p.WaitGone(s.window, L"the sign-in window");
    p.Shot(L"main");
    EndByClosingMain(p, main);
}

void EscEnds() {
    Program p(L"signin-esc-ends");
    p.PutDatabase(fixture::kProtectedEmpty);
    p.Start();
    WaitSignIn(p);
    TypeText(L"abc");
    KeyPress(VK_ESCAPE);
    p.WaitExit();
    ExpectOnlyEverVisible(p, {kSignInTitle});
}

void CloseButtonEnds() {
    Program p(L"signin-close-ends");
    p.PutDatabase(fixture::kProtectedEmpty);
    p.Start();
    SignInWindow s = WaitSignIn(p);
    ClickCloseButton(s.window);
    p.WaitExit();
    ExpectOnlyEverVisible(p, {kSignInTitle});
}

// The password dialog of the store: its texts, its masked box and its status line (empty at the
// first attempt). Returns the dialog once it shows that status.
HWND WaitPrompt(Program& p, const std::wstring& status) {
    auto status_of = [&](HWND d) {
        for (const ControlInfo& c : Controls(d)) {
            if (_wcsicmp(c.cls.c_str(), L"Static") == 0 && c.text.rfind(L"密码错误", 0) == 0) {
                return c.text;
            }
        }
        return std::wstring();
    };
    HWND d = nullptr;
    if (!WaitUntil(
            [&] {
                for (const WindowInfo& w : p.Windows()) {
                    if (w.visible && w.title == kPromptTitle && status_of(w.hwnd) == status) {
                        d = w.hwnd;
                        return true;
                    }
                }
                return false;
            },
            15000)) {
        Fail(L"expected the password dialog " + Quote(kPromptTitle) + L" with the status line " +
             Quote(status));
    }
    p.ExpectControl(d, L"Static", L"请输入数据库访问密码：");
    p.ExpectControl(d, L"Button", L"确认(&O)");
    p.ExpectControl(d, L"Button", L"取消(&C)");
    HWND edit = p.ExpectControl(d, L"Edit");
    if (!(GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD)) {
        Fail(L"the password dialog's box does not mask what is typed");
    }
    p.WaitFocus(edit, L"the password dialog's box");
    return d;
}

void QuestionMarkPrompt() {
    Program p(L"signin-question-mark");
    p.PutDatabase(fixture::kProtectedEmpty);
    p.Start();
    SignInWindow s = WaitSignIn(p);
    TypeText(L"?");
    KeyPress(VK_RETURN);
    HWND d = WaitPrompt(p, L"");
    p.Shot(L"prompt");
    Click(p.ExpectControl(d, L"Button", L"取消(&C)"));
    HWND msg = p.ExpectMessageBox(kInfoCaption, L"密码错误");
    Acknowledge(p, msg);
    ExpectText(s.edit, L"?", L"the sign-in box");
    Click(s.enter);
    d = WaitPrompt(p, L"");
    TypeText(L"not-it");
    KeyPress(VK_RETURN);
    d = WaitPrompt(p, L"密码错误，您还有 2 次重新输入的机会。");
    p.Shot(L"second-attempt");
    ClearFocusedEdit();
    TypeText(kPassword);
    Click(p.ExpectControl(d, L"Button", L"确认(&O)"));
    HWND main = p.WaitWindow(kMainTitle, L"", 20000,
                             [&](HWND w) { return p.FindControl(w, L"SysListView32") != nullptr; });
    EndByClosingMain(p, main);
}

RegisterScenario r1({L"database-missing", DatabaseMissing, 30});
RegisterScenario r2({L"first-use-five-then-six-digits", FirstUseFiveThenSixDigits, 90});
RegisterScenario r3({L"first-use-cancel-esc-close-and-trailing-space",
                     FirstUseCancelEscAndTrailingSpace, 90});
RegisterScenario r4({L"first-use-chinese-password", FirstUseChinesePassword, 90});
RegisterScenario r5({L"signin-wrong-then-right", WrongThenRight, 90});
RegisterScenario r6({L"signin-esc-ends-program", EscEnds, 60});
RegisterScenario r7({L"signin-close-button-ends-program", CloseButtonEnds, 60});
RegisterScenario r8({L"signin-question-mark-prompt", QuestionMarkPrompt, 90});

}  // namespace
}  // namespace e2e
