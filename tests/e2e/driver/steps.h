// Steps of the program's own windows that many scenarios share: its window titles and texts, and
// what a person does in them (sign in, open the menu, close a window).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/driver/harness.h"

namespace e2e {

// Titles and texts the program shows.
inline const std::wstring kSignInTitle = L"请输入管理员密码：";
inline const std::wstring kMainTitle = L"Obrellin";
inline const std::wstring kAddTitle = L"添加记录";
inline const std::wstring kInputBoxTitle = L"欢迎使用Obrellin！";
inline const std::wstring kInputBoxPrompt = L"首次使用请设置密码：";
inline const std::wstring kPromptTitle = L"密码输入";
inline const std::wstring kInfoCaption = L"信息：";
inline const std::wstring kTipCaption = L"温馨提示";
inline const std::wstring kErrorCaption = L"错误";
inline const std::vector<std::wstring> kMenuItems = {L"打开网址", L"复制帐号", L"复制密码",
                                                     L"添加记忆", L"删除选中", L"刷新"};
enum MenuItem { kOpenUrl = 0, kCopyAccount, kCopyPassword, kAddRecord, kDeleteSelected, kRefresh };

// The sign-in window, visible, with the focus in its edit box.
struct SignInWindow {
    HWND window = nullptr;
    HWND edit = nullptr;
    HWND enter = nullptr;  // the button "进入"
};
SignInWindow WaitSignIn(Program& p);

// Types password into the sign-in box (emptied first) and presses Enter; waits for the main window.
HWND SignIn(Program& p, const std::wstring& password);

// The main window's list control.
HWND MainList(Program& p, HWND main);
// Waits until the list holds exactly rows (the rebuild runs on its own thread); returns them.
std::vector<std::vector<std::wstring>> WaitRows(Program& p, HWND list,
                                                const std::vector<std::vector<std::wstring>>& rows,
                                                int timeout_ms = 10000);

// The screen point of a window's title-bar close button, found by the system's hit test.
POINT CloseButtonPoint(HWND w);
// Clicks the title-bar close button.
void ClickCloseButton(HWND w);

// Right-clicks at the point and waits for the program's pop-up menu.
HWND OpenMenuAt(Program& p, POINT at);
// Chooses item i of the open menu with the mouse (left or right button) or with the arrow keys.
enum class Choose { LeftClick, RightClick, Keys };
void ChooseMenuItem(Program& p, HWND menu, int item, Choose how);

// The edit control whose top-left corner is at (x, y) of the window's client area (templates
// place controls at fixed client coordinates at 96 DPI).
HWND EditAt(Program& p, HWND top, int x, int y);

// Clicks into the edit box and replaces its text by typing.
void ReplaceText(HWND edit, const std::wstring& text);
// Fails unless the control shows exactly text.
void ExpectText(HWND control, const std::wstring& text, const std::wstring& what);
// Presses OK (Enter) in the message box and waits for it to go.
void Acknowledge(Program& p, HWND box);

// Runs the fixture tool and gives its standard output (UTF-8 as wide text) and exit code.
int RunFixtureTool(const std::vector<std::wstring>& args, std::wstring* output);
// The records of a database file as the fixture tool reads them: one entry per record, the four
// deciphered fields.
std::vector<std::vector<std::wstring>> DumpDatabase(const fs::path& file,
                                                    const std::wstring& password);

std::wstring RowsText(const std::vector<std::vector<std::wstring>>& rows);

}  // namespace e2e
