// Scenarios of the right-click menu and the add-record window: copying to the clipboard, opening a
// URL with the shell, deleting a row, adding an entry with a random password.
#include <windows.h>

#include <commctrl.h>

#include <fstream>
#include <iterator>

#include "tests/e2e/driver/scenario.h"
#include "tests/e2e/driver/steps.h"
#include "tests/e2e/fixture/fixture_data.h"

namespace e2e {
namespace {

using fixture::kPassword;

POINT RowPoint(Program& p, HWND list, int row) {
    RemoteList l(p.Process(), list);
    RECT r = l.RowRect(row);
    return POINT{r.left + 12, (r.top + r.bottom) / 2};
}

// Left-clicks the row, then right-clicks it and waits for the menu.
HWND MenuOnRow(Program& p, HWND list, int row) {
    POINT at = RowPoint(p, list, row);
    MouseClick(at);
    RemoteList l(p.Process(), list);
    if (!WaitUntil([&] { return l.SelectedRow() == row; }, 2000)) {
        Fail(L"clicking row " + std::to_wstring(row) + L" does not select it");
    }
    return OpenMenuAt(p, at);
}

// A point of the list's empty area below its last row.
POINT BelowRows(HWND list) {
    RECT r{};
    GetWindowRect(list, &r);
    return POINT{r.left + 120, r.bottom - 30};
}

void ExpectClipboard(const std::wstring& want, const std::wstring& what) {
    ClipboardContent c;
    bool ok = WaitUntil(
        [&] {
            c = ReadClipboard();
            return c.unicode && *c.unicode == want && c.ansi && *c.ansi == ToGbk(want);
        },
        3000, 100);
    if (!ok) {
        Fail(L"after " + what + L" expected the clipboard to hold " + Quote(want) +
             L" as CF_TEXT (GBK) and CF_UNICODETEXT; CF_TEXT holds " +
             (c.ansi ? Quote(FromGbk(*c.ansi)) : std::wstring(L"nothing")) + L", CF_UNICODETEXT " +
             (c.unicode ? Quote(*c.unicode) : std::wstring(L"nothing")));
    }
    for (const wchar_t* f : {L"ExcludeClipboardContentFromMonitorProcessing",
                             L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"}) {
        if (std::find(c.named_formats.begin(), c.named_formats.end(), f) == c.named_formats.end()) {
            Fail(L"the copied text is not marked " + std::wstring(f));
        }
    }
}

void ExpectNoSelectionBox(Program& p, HWND list, int item, Choose how) {
    HWND menu = OpenMenuAt(p, BelowRows(list));
    ChooseMenuItem(p, menu, item, how);
    HWND box = p.ExpectMessageBox(kTipCaption, L"未选中内容");
    Acknowledge(p, box);
}

void CopyAccountAndPassword() {
    Program p(L"menu-copy");
    p.PutDatabase(fixture::kRows);
    p.Start();
    HWND main = SignIn(p, kPassword);
    HWND list = MainList(p, main);
    auto want = fixture::ExpectedRows(fixture::Records());
    WaitRows(p, list, want);

    if (!PutClipboardSentinel(L"sentinel of the driver")) {
        Fail(L"cannot put a text on the clipboard");
    }
    POINT at = RowPoint(p, list, 0);
    HWND menu = MenuOnRow(p, list, 0);
    RECT mr{};
    GetWindowRect(menu, &mr);
    if (mr.left != at.x + 3 || mr.top != at.y + 3) {
        Fail(L"the menu's corner is at " + std::to_wstring(mr.left) + L"," +
             std::to_wstring(mr.top) + L", expected 3 pixels right of and below the pointer at " +
             std::to_wstring(at.x) + L"," + std::to_wstring(at.y));
    }
    p.Shot(L"menu");
    ChooseMenuItem(p, menu, kCopyAccount, Choose::LeftClick);
    ExpectClipboard(want[0][2], L"\"复制帐号\" on row 1");

    menu = MenuOnRow(p, list, 1);
    ChooseMenuItem(p, menu, kCopyPassword, Choose::Keys);
    ExpectClipboard(want[1][3], L"\"复制密码\" on row 2");

    // The row of a record under another key: its cells are empty, and so is the copy.
    menu = MenuOnRow(p, list, 2);
    ChooseMenuItem(p, menu, kCopyAccount, Choose::RightClick);
    ExpectClipboard(L"", L"\"复制帐号\" on an empty cell");

    // "刷新" rebuilds the same rows and clears the selection.
    menu = OpenMenuAt(p, RowPoint(p, list, 4));
    ChooseMenuItem(p, menu, kRefresh, Choose::LeftClick);
    WaitRows(p, list, want);
    RemoteList l(p.Process(), list);
    if (!WaitUntil([&] { return l.SelectedRow() == -1; }, 3000)) {
        Fail(L"a row is still selected after \"刷新\"");
    }
}

void NothingSelected() {
    Program p(L"menu-nothing-selected");
    p.PutDatabase(fixture::kRows);
    p.Start();
    HWND main = SignIn(p, kPassword);
    HWND list = MainList(p, main);
    WaitRows(p, list, fixture::ExpectedRows(fixture::Records()));
    HWND menu = OpenMenuAt(p, BelowRows(list));
    p.Shot(L"menu-below-rows");
    ChooseMenuItem(p, menu, kCopyAccount, Choose::LeftClick);
    HWND box = p.ExpectMessageBox(kTipCaption, L"未选中内容");
    p.Shot(L"nothing-selected");
    Acknowledge(p, box);
    ExpectNoSelectionBox(p, list, kOpenUrl, Choose::Keys);
    ExpectNoSelectionBox(p, list, kCopyPassword, Choose::RightClick);
    ExpectNoSelectionBox(p, list, kDeleteSelected, Choose::Keys);
}

void DeleteSelected() {
    Program p(L"menu-delete");
    p.PutDatabase(fixture::kRows);
    p.Start();
    HWND main = SignIn(p, kPassword);
    HWND list = MainList(p, main);
    auto records = fixture::Records();
    auto want = fixture::ExpectedRows(records);
    WaitRows(p, list, want);

    // Row 2 shows the fourth record: two records without a URL stand before it, so the record
    // number differs from the row number.
    HWND menu = MenuOnRow(p, list, 1);
    ChooseMenuItem(p, menu, kDeleteSelected, Choose::LeftClick);
    HWND box = p.ExpectMessageBox(kTipCaption, L"你确定要删除吗？删除后不可恢复！");
    p.Shot(L"confirm");
    p.ClickDialogButton(box, IDCANCEL);
    p.WaitGone(box, L"the confirmation");
    Pause(500);
    WaitRows(p, list, want);

    menu = MenuOnRow(p, list, 1);
    ChooseMenuItem(p, menu, kDeleteSelected, Choose::Keys);
    box = p.ExpectMessageBox(kTipCaption, L"你确定要删除吗？删除后不可恢复！");
    p.ClickDialogButton(box, IDOK);
    records.erase(records.begin() + 3);
    want = fixture::ExpectedRows(records);
    WaitRows(p, list, want);
    p.Shot(L"deleted");
    RemoteList l(p.Process(), list);
    if (l.SelectedRow() != -1) {
        Fail(L"a row is selected after the delete");
    }
    ClickCloseButton(main);
    p.WaitExit();
    // The file lost exactly that record; the records without a row are still there.
    auto stored = DumpDatabase(p.DatabasePath(), kPassword);
    std::vector<std::vector<std::wstring>> expect;
    for (const fixture::PlainRecord& r : records) {
        if (r.other_key) {
            expect.push_back({L"", L"", L"", L""});
        } else {
            expect.push_back({r.url, r.account, r.password, r.remark});
        }
    }
    if (stored != expect) {
        Fail(L"after the delete the file holds" + RowsText(stored) + L"\n    expected" +
             RowsText(expect));
    }
}

void OpenUrl() {
    Program p(L"menu-open-url");
    p.PutDatabase(fixture::kRows);
    p.Start();
    fs::path log = TheConfig().recorder.parent_path() / L"opened.txt";
    std::error_code ec;
    fs::remove(log, ec);
    HWND main = SignIn(p, kPassword);
    HWND list = MainList(p, main);
    auto want = fixture::ExpectedRows(fixture::Records());
    WaitRows(p, list, want);
    HWND menu = MenuOnRow(p, list, 1);
    ChooseMenuItem(p, menu, kOpenUrl, Choose::LeftClick);
    std::wstring opened;
    bool ok = WaitUntil(
        [&] {
            std::ifstream in(log, std::ios::binary);
            std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            opened = FromUtf8(s);
            return !opened.empty() && opened.back() == L'\n';
        },
        15000, 100);
    if (!ok || opened != want[1][1] + L"\n") {
        Fail(L"expected the shell to be asked to open " + Quote(want[1][1]) +
             L"; the stand-in handler recorded " + Quote(opened));
    }
    // Nothing of the program's own is shown for it.
    if (p.Appears(kInfoCaption, 300) || p.Appears(kTipCaption, 0)) {
        Fail(L"a message box appeared after \"打开网址\"");
    }
}

// The add-record window's boxes, found at their template places.
struct AddWindow {
    HWND window, url, account, password, count, remark, random, add;
};

AddWindow OpenAddWindow(Program& p, HWND main, HWND list, POINT at) {
    HWND menu = OpenMenuAt(p, at);
    ChooseMenuItem(p, menu, kAddRecord, Choose::LeftClick);
    AddWindow a{};
    a.window = p.WaitWindow(kAddTitle);
    ExpectTemplateRect(a.window, 405, 222, L"the add-record window");
    ExpectFrame(a.window, false, false, L"the add-record window");
    a.url = EditAt(p, a.window, 56, 16);
    a.account = EditAt(p, a.window, 56, 48);
    a.password = EditAt(p, a.window, 56, 80);
    a.count = EditAt(p, a.window, 296, 80);
    a.remark = EditAt(p, a.window, 56, 112);
    a.random = p.ExpectControl(a.window, L"Button", L"随机");
    a.add = p.ExpectControl(a.window, L"Button", L"添加");
    for (const wchar_t* label : {L"网址：", L"账号：", L"密码：", L"位数：", L"备注："}) {
        p.ExpectControl(a.window, L"Static", label);
    }
    p.WaitFocus(a.url, L"the add-record window's URL box");
    // Every showing starts from the template.
    ExpectText(a.url, L"", L"the URL box");
    ExpectText(a.account, L"", L"the account box");
    ExpectText(a.password, L"", L"the password box");
    ExpectText(a.count, L"10", L"the 位数 box");
    ExpectText(a.remark, L"", L"the remark box");
    (void)list;
    if (IsWindowEnabled(main)) {
        Fail(L"the main window takes input while the add-record window is open");
    }
    return a;
}

void ExpectRandomPassword(HWND box, size_t length) {
    std::wstring pw = WindowText(box);
    bool ok = pw.size() == length;
    for (wchar_t c : pw) {
        ok = ok &&
             ((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'));
    }
    if (!ok) {
        Fail(L"expected a random password of " + std::to_wstring(length) +
             L" digits and letters, the box holds " + Quote(pw));
    }
}

void AddWithRandomPassword() {
    Program p(L"add-record-random");
    p.PutDatabase(fixture::kProtectedEmpty);
    p.Start();
    HWND main = SignIn(p, kPassword);
    HWND list = MainList(p, main);
    WaitRows(p, list, {});
    AddWindow a = OpenAddWindow(p, main, list, BelowRows(list));
    p.Shot(L"add-window");

    const std::wstring url = L"https://新站点.example/login";
    const std::wstring account = L"王小明";
    const std::wstring remark = L"  备注 含空格";
    TypeText(url);
    ReplaceText(a.account, account);
    ReplaceText(a.remark, remark);
    ReplaceText(a.password, L"typed before");
    Click(a.random);
    ExpectRandomPassword(a.password, 10);
    std::wstring password = WindowText(a.password);
    p.Shot(L"filled");
    Click(a.url);
    KeyPress(VK_RETURN);
    HWND box = p.ExpectMessageBox(kInfoCaption, L"添加成功");
    // The rebuild was started before the message: the row can appear behind it.
    WaitRows(p, list, {{L"1", url, account, password, remark}});
    p.Shot(L"added");
    Acknowledge(p, box);
    ExpectText(a.url, url, L"the URL box after adding");
    ExpectText(a.account, account, L"the account box after adding");
    ExpectText(a.password, password, L"the password box after adding");
    ExpectText(a.remark, remark, L"the remark box after adding");
    ExpectText(a.count, L"10", L"the 位数 box after adding");

    Click(a.random);
    ExpectRandomPassword(a.password, 10);
    if (WindowText(a.password) == password) {
        Fail(L"two clicks on \"随机\" gave the same password " + Quote(password));
    }
    ClickCloseButton(a.window);
    p.WaitGone(a.window, L"the add-record window");
    if (!WaitUntil([&] { return IsWindowEnabled(main) != FALSE; }, 3000)) {
        Fail(L"the main window stays disabled after the add-record window closed");
    }
    ClickCloseButton(main);
    if (p.WaitExit() != 0) {
        Fail(L"expected exit code 0");
    }
    auto stored = DumpDatabase(p.DatabasePath(), kPassword);
    std::vector<std::vector<std::wstring>> expect = {{url, account, password, remark}};
    if (stored != expect) {
        Fail(L"the file holds" + RowsText(stored) + L"\n    expected" + RowsText(expect));
    }
    std::wstring found;
    if (RunFixtureTool(
            {L"raw-contains", p.DatabasePath().wstring(), url, account, password, remark},
            &found) == 0) {
        Fail(L"the database file holds readably: " + found);
    }
}

void AddWindowKeysAndTemplate() {
    Program p(L"add-record-keys");
    p.PutDatabase(fixture::kProtectedEmpty);
    p.Start();
    HWND main = SignIn(p, kPassword);
    HWND list = MainList(p, main);
    WaitRows(p, list, {});
    AddWindow a = OpenAddWindow(p, main, list, BelowRows(list));

    // The 位数 box takes digits and "-" only.
    ReplaceText(a.count, L"a1b-2c");
    ExpectText(a.count, L"1-2", L"the 位数 box after typing \"a1b-2c\"");
    ReplaceText(a.count, L"-3");
    Click(a.random);
    ExpectText(a.password, L"", L"the password box after \"随机\" with -3");
    ReplaceText(a.count, L"16");
    Click(a.random);
    ExpectRandomPassword(a.password, 16);

    // Esc does nothing.
    ReplaceText(a.account, L"someone");
    KeyPress(VK_ESCAPE);
    Pause(400);
    if (!IsWindowVisible(a.window)) {
        Fail(L"Esc closed the add-record window");
    }
    ExpectText(a.account, L"someone", L"the account box after Esc");

    // An empty URL box, and one of blanks only, store nothing.
    Click(a.url);
    KeyPress(VK_RETURN);
    HWND box = p.ExpectMessageBox(kInfoCaption, L"请先添加内容");
    p.Shot(L"empty-url");
    Acknowledge(p, box);
    ReplaceText(a.url, L"   ");
    KeyPress(VK_RETURN);
    box = p.ExpectMessageBox(kInfoCaption, L"请先添加内容");
    Acknowledge(p, box);

    // The second showing starts from the template again.
    ClickCloseButton(a.window);
    p.WaitGone(a.window, L"the add-record window");
    OpenAddWindow(p, main, list, BelowRows(list));
    p.Shot(L"second-showing");
    WaitRows(p, list, {});
}

RegisterScenario r1({L"menu-copy-account-password-refresh", CopyAccountAndPassword, 90});
RegisterScenario r2({L"menu-nothing-selected", NothingSelected, 90});
RegisterScenario r3({L"menu-delete-selected", DeleteSelected, 90});
RegisterScenario r4({L"menu-open-url", OpenUrl, 90});
RegisterScenario r5({L"add-record-random-password-enter", AddWithRandomPassword, 90});
RegisterScenario r6({L"add-record-filter-esc-blank-second-showing", AddWindowKeysAndTemplate, 90});

}  // namespace
}  // namespace e2e
