// Scenarios of the main window: the account list read back from the real list-view, the fatal
// errors of tables the list cannot show, and the end of the program when the window closes.
#include <windows.h>

#include <commctrl.h>

#include "tests/e2e/driver/scenario.h"
#include "tests/e2e/driver/steps.h"
#include "tests/e2e/fixture/fixture_data.h"

namespace e2e {
namespace {

using fixture::kPassword;

void ListShowsRows() {
    // A folder name with Chinese characters and a space: the program finds its database beside
    // itself whatever the path.
    Program p(L"main-list-rows", L"main-list-rows 中文 目录");
    p.PutDatabase(fixture::kRows);
    p.Start();
    SignInWindow s = WaitSignIn(p);
    ExpectTemplateRect(s.window, 379, 68, L"the sign-in window");
    ExpectFrame(s.window, false, false, L"the sign-in window");
    HWND main = SignIn(p, kPassword);
    ExpectTemplateRect(main, 576, 413, L"the main window");
    ExpectFrame(main, true, true, L"the main window");
    HWND list = MainList(p, main);
    auto want = fixture::ExpectedRows(fixture::Records());
    WaitRows(p, list, want);
    p.Shot(L"list");

    RemoteList l(p.Process(), list);
    const std::vector<std::wstring> titles = {L"序号", L"网址", L"帐号", L"密码", L"备注"};
    const std::vector<int> widths = {50, 160, 100, 100, 150};
    if (l.ColumnCount() != 5) {
        Fail(L"expected 5 columns, the list has " + std::to_wstring(l.ColumnCount()));
    }
    for (int c = 0; c < 5; ++c) {
        if (l.ColumnTitle(c) != titles[c] || l.ColumnWidth(c) != widths[c]) {
            Fail(L"column " + std::to_wstring(c) + L": expected " + Quote(titles[c]) + L" " +
                 std::to_wstring(widths[c]) + L" px, saw " + Quote(l.ColumnTitle(c)) + L" " +
                 std::to_wstring(l.ColumnWidth(c)) + L" px");
        }
    }
    LONG style = GetWindowLongW(list, GWL_STYLE);
    DWORD_PTR ex = 0;
    SendMessageTimeoutW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0, SMTO_ABORTIFHUNG, 2000, &ex);
    if ((style & LVS_TYPEMASK) != LVS_REPORT || !(style & LVS_SINGLESEL) ||
        (style & LVS_SHOWSELALWAYS) || !(ex & LVS_EX_GRIDLINES) || !(ex & LVS_EX_FULLROWSELECT)) {
        Fail(L"the list is not a report view with grid lines and single whole-row selection");
    }
    if (l.SelectedRow() != -1) {
        Fail(L"a row is selected after the rebuild");
    }
    // The rows are deciphered for the window only: the file holds no readable account.
    std::vector<std::wstring> args = {L"raw-contains", p.DatabasePath().wstring()};
    for (const fixture::PlainRecord& r : fixture::Records()) {
        args.push_back(r.password);
        args.push_back(r.account);
    }
    std::wstring found;
    if (RunFixtureTool(args, &found) == 0) {
        Fail(L"the database file holds readably: " + found);
    }
    ClickCloseButton(main);
    DWORD code = p.WaitExit();
    if (code != 0) {
        Fail(L"expected exit code 0 after closing the main window, got " +
             std::to_wstring(static_cast<int>(code)));
    }
}

void ExpectFatal(const std::wstring& scenario, const std::wstring& fixture,
                 const std::wstring& expected_text) {
    Program p(scenario);
    p.PutDatabase(fixture);
    p.Start();
    SignInWindow s = WaitSignIn(p);
    TypeText(kPassword);
    KeyPress(VK_RETURN);
    HWND box = p.ExpectMessageBox(kErrorCaption, expected_text, 20000);
    p.Shot(L"error-box");
    p.ClickDialogButton(box, IDOK);
    DWORD code = p.WaitExit();
    if (code != 0xFFFFFFFFu) {
        Fail(L"expected exit code -1 after the error box, got " +
             std::to_wstring(static_cast<int>(code)));
    }
    (void)s;
}

void NumberUrlIsFatal() {
    ExpectFatal(L"main-number-url-fatal", fixture::kNumberUrl,
                L"运行时出错!\r\n\r\n错误代码：5\r\n\r\n错误信息：数据或数组类型不匹配\r\n");
}

void MissingUrlIsFatal() {
    ExpectFatal(L"main-missing-url-fatal", fixture::kNoUrl,
                L"运行时出错!\r\n\r\n错误信息：指定字段不存在\r\n");
}

void EmptyTableAltF4() {
    Program p(L"main-empty-alt-f4");
    p.PutDatabase(fixture::kProtectedEmpty);
    p.Start();
    HWND main = SignIn(p, kPassword);
    HWND list = MainList(p, main);
    WaitRows(p, list, {});
    // No message of any kind for an empty table.
    if (p.Appears(kInfoCaption, 500)) {
        Fail(L"a message box appeared for an empty table");
    }
    KeyPress(VK_F4, false, false, true);
    DWORD code = p.WaitExit();
    if (code != 0) {
        Fail(L"expected exit code 0 after Alt+F4 on the main window, got " +
             std::to_wstring(static_cast<int>(code)));
    }
}

RegisterScenario r1({L"main-list-shows-rows", ListShowsRows, 90});
RegisterScenario r2({L"main-number-url-is-fatal", NumberUrlIsFatal, 60});
RegisterScenario r3({L"main-missing-url-is-fatal", MissingUrlIsFatal, 60});
RegisterScenario r4({L"main-empty-table-alt-f4-ends", EmptyTableAltF4, 60});

}  // namespace
}  // namespace e2e
