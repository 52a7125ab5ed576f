// Throwaway scenarios against the stand-in window, for developing the driver's mechanics.
#include <windows.h>

#include <shellapi.h>

#include <fstream>

#include "tests/e2e/driver/harness.h"
#include "tests/e2e/driver/scenario.h"
#include "tests/e2e/driver/steps.h"

namespace e2e {
namespace {

void Missing() {
    Program p(L"scratch-missing");
    p.Start();
    HWND box = p.ExpectMessageBox(L"信息：", L"数据库不存在");
    p.Shot(L"box");
    p.ClickDialogButton(box, IDOK);
    DWORD code = p.WaitExit();
    if (code != 0)
        Fail(L"exit code " + std::to_wstring(code));
    for (auto& v : p.EverVisible())
        Out(L"  seen " + v);
}

void SignIn() {
    Program p(L"scratch-signin");
    std::ofstream(p.DatabasePath()) << "x";
    p.Start();
    HWND w = p.WaitWindow(L"请输入管理员密码：");
    HWND edit = p.ExpectControl(w, L"Edit");
    p.WaitFocus(edit, L"the edit");
    TypeText(L"12345中");
    p.Shot(L"typed");
    if (WindowText(edit) != L"12345中")
        Fail(L"typed " + Quote(WindowText(edit)));
    KeyPress(VK_RETURN);
    HWND box = p.ExpectMessageBox(L"信息：", L"密码错误");
    p.Shot(L"wrong");
    KeyPress(VK_RETURN);
    p.WaitGone(box, L"the box");
    Click(edit);
    ClearFocusedEdit();
    TypeText(L"123456");
    HWND btn = p.ExpectControl(w, L"Button", L"进入");
    RECT br;
    GetWindowRect(btn, &br);
    Out(L"  button at " + std::to_wstring(br.left) + L"," + std::to_wstring(br.top));
    Click(btn);
    if (!p.Appears(L"Obrellin", 2000)) {
        Out(L"  click did not work; retry");
        Click(btn);
    }
    if (!p.Appears(L"Obrellin", 2000)) {
        Out(L"  click did not work; Enter");
        KeyPress(VK_RETURN);
    }
    HWND main = p.WaitWindow(L"Obrellin");
    HWND list = p.ExpectControl(main, L"SysListView32");
    RemoteList rl(p.Process(), list);
    for (int c = 0; c < rl.ColumnCount(); ++c)
        Out(L"  column " + rl.ColumnTitle(c) + L" " + std::to_wstring(rl.ColumnWidth(c)));
    for (auto& r : rl.Rows()) {
        std::wstring s = L"  row";
        for (auto& c : r)
            s += L" | " + c;
        Out(s);
    }
    PutClipboardSentinel(L"sentinel");
    RECT r = rl.RowRect(0);
    MouseClick({r.left + 10, (r.top + r.bottom) / 2});
    MouseClick({r.left + 10, (r.top + r.bottom) / 2}, true);
    HWND menu = nullptr;
    WaitUntil(
        [&] {
            menu = FindWindowW(L"#32768", nullptr);
            return menu && IsWindowVisible(menu);
        },
        3000);
    p.Shot(L"menu");
    KeyPress(VK_DOWN);
    KeyPress(VK_DOWN);
    KeyPress(VK_RETURN);
    Pause(300);
    ClipboardContent cc = ReadClipboard();
    Out(L"  clipboard ansi " + (cc.ansi ? FromGbk(*cc.ansi) : L"-") + L" unicode " +
        (cc.unicode ? *cc.unicode : L"-"));
    Out(L"  selected " + std::to_wstring(rl.SelectedRow()));
    HINSTANCE hi = ShellExecuteW(nullptr, L"open", L"https://例子.com/登录?a=1", nullptr, nullptr,
                                 SW_SHOWNORMAL);
    Out(L"  shellexecute " + std::to_wstring((INT_PTR)hi));
    PostMessageW(main, WM_CLOSE, 0, 0);
    DWORD code = p.WaitExit();
    Out(L"  exit " + std::to_wstring(code));
}

RegisterScenario r1(Scenario{L"scratch-missing", Missing, 30, L""});
RegisterScenario r2(Scenario{L"scratch-signin", SignIn, 60, L""});

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {
void RealTemplate() {
    Program p(L"scratch-real-template");
    p.Start();
    SignInWindow s = WaitSignIn(p);
    ExpectTemplateRect(s.window, 379, 68, L"sign-in");
    TypeText(L"中文abc");
    ExpectText(s.edit, L"中文abc", L"edit");
    p.Shot(L"signin");
    Out(p.Describe());
    KeyPress(VK_ESCAPE);
    Out(L"  exit " + std::to_wstring(p.WaitExit()));
}
RegisterScenario r3(Scenario{L"scratch-real-template", RealTemplate, 60, L""});
}  // namespace
}  // namespace e2e
