// Steps of the program's own windows that many scenarios share.
#include "tests/e2e/driver/steps.h"

#include <commctrl.h>

#include <sstream>

namespace e2e {

SignInWindow WaitSignIn(Program& p) {
    SignInWindow s;
    s.window = p.WaitWindow(kSignInTitle, L"", 15000);
    s.edit = p.ExpectControl(s.window, L"Edit");
    s.enter = p.ExpectControl(s.window, L"Button", L"进入");
    p.WaitFocus(s.edit, L"the sign-in window's password box");
    return s;
}

HWND SignIn(Program& p, const std::wstring& password) {
    SignInWindow s = WaitSignIn(p);
    ClearFocusedEdit();
    TypeText(password);
    ExpectText(s.edit, password, L"the sign-in box");
    KeyPress(VK_RETURN);
    HWND main = p.WaitWindow(kMainTitle, L"", 20000,
                             [&](HWND w) { return p.FindControl(w, L"SysListView32") != nullptr; });
    p.WaitGone(s.window, L"the sign-in window");
    return main;
}

HWND MainList(Program& p, HWND main) {
    return p.ExpectControl(main, L"SysListView32");
}

std::wstring RowsText(const std::vector<std::vector<std::wstring>>& rows) {
    std::wstring s;
    for (const auto& r : rows) {
        s += L"\n      ";
        for (size_t i = 0; i < r.size(); ++i) {
            s += (i ? L" | " : L"") + Quote(r[i]);
        }
    }
    return rows.empty() ? L" (no rows)" : s;
}

std::vector<std::vector<std::wstring>> WaitRows(Program& p, HWND list,
                                                const std::vector<std::vector<std::wstring>>& rows,
                                                int timeout_ms) {
    RemoteList l(p.Process(), list);
    std::vector<std::vector<std::wstring>> seen;
    if (!WaitUntil(
            [&] {
                seen = l.Rows();
                return seen == rows;
            },
            timeout_ms, 100)) {
        Fail(L"expected the list to show" + RowsText(rows) + L"\n    it shows" + RowsText(seen));
    }
    return seen;
}

namespace {

DWORD_PTR HitTest(HWND w, int x, int y) {
    DWORD_PTR hit = HTNOWHERE;
    SendMessageTimeoutW(w, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 2000, &hit);
    return hit;
}

}  // namespace

POINT CloseButtonPoint(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    // The button sits in the caption row at the right end; the middle of that row is probed first,
    // then every third row of the title bar.
    int frame = GetSystemMetrics(SM_CYFIXEDFRAME);
    int middle = r.top + frame + GetSystemMetrics(SM_CYCAPTION) / 2;
    std::vector<int> rows = {middle};
    for (int y = r.top + 1; y < r.top + 40 && y < r.bottom; y += 3) {
        rows.push_back(y);
    }
    for (int y : rows) {
        int first = -1, last = -1;
        for (int x = r.right - 1; x > r.right - 80 && x > r.left; --x) {
            if (HitTest(w, x, y) == HTCLOSE) {
                if (last < 0) {
                    last = x;
                }
                first = x;
            } else if (last >= 0) {
                break;
            }
        }
        if (last >= 0) {
            return POINT{(first + last) / 2, y};
        }
    }
    Fail(L"the window " + Quote(WindowText(w)) + L" has no close button in its title bar");
}

void ClickCloseButton(HWND w) {
    MouseClick(CloseButtonPoint(w));
}

HWND OpenMenuAt(Program& p, POINT at) {
    MouseClick(at, true);
    return p.WaitWindow(L"", L"#32768", 5000);
}

void ChooseMenuItem(Program& p, HWND menu, int item, Choose how) {
    (void)p;
    if (how == Choose::Keys) {
        for (int i = 0; i <= item; ++i) {
            KeyPress(VK_DOWN);
        }
        KeyPress(VK_RETURN);
        return;
    }
    RECT c{};
    GetClientRect(menu, &c);
    MapWindowPoints(menu, nullptr, reinterpret_cast<POINT*>(&c), 2);
    int count = static_cast<int>(kMenuItems.size());
    int h = (c.bottom - c.top) / count;
    POINT at{(c.left + c.right) / 2, c.top + h * item + h / 2};
    MouseMove(at);
    Pause(100);
    MouseClick(at, how == Choose::RightClick);
}

HWND EditAt(Program& p, HWND top, int x, int y) {
    (void)p;
    for (const ControlInfo& c : Controls(top)) {
        if (_wcsicmp(c.cls.c_str(), L"Edit") != 0) {
            continue;
        }
        POINT tl{c.rect.left, c.rect.top};
        ScreenToClient(top, &tl);
        if (std::abs(tl.x - x) <= 3 && std::abs(tl.y - y) <= 3) {
            return c.hwnd;
        }
    }
    Fail(L"expected an edit box at " + std::to_wstring(x) + L"," + std::to_wstring(y) +
         L" of the window " + Quote(WindowText(top)));
}

void ReplaceText(HWND edit, const std::wstring& text) {
    Click(edit);
    ClearFocusedEdit();
    TypeText(text);
}

void ExpectText(HWND control, const std::wstring& text, const std::wstring& what) {
    std::wstring seen;
    if (!WaitUntil(
            [&] {
                seen = WindowText(control);
                return seen == text;
            },
            2000)) {
        Fail(L"expected " + what + L" to hold " + Quote(text) + L", it holds " + Quote(seen));
    }
}

void Acknowledge(Program& p, HWND box) {
    KeyPress(VK_RETURN);
    p.WaitGone(box, L"the message box " + Quote(WindowText(box)));
}

int RunFixtureTool(const std::vector<std::wstring>& args, std::wstring* output) {
    const fs::path& tool = TheConfig().fixture_tool;
    std::wstring cmd = L"\"" + tool.wstring() + L"\"";
    for (const std::wstring& a : args) {
        cmd += L" \"" + a + L"\"";
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &sa, 0)) {
        Fail(L"cannot make a pipe for the fixture tool");
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = write;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(tool.c_str(), cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi)) {
        CloseHandle(read);
        CloseHandle(write);
        Fail(L"cannot start the fixture tool " + tool.wstring());
    }
    CloseHandle(write);
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(read, buf, sizeof buf, &got, nullptr) && got > 0) {
        out.append(buf, got);
    }
    CloseHandle(read);
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    if (output != nullptr) {
        *output = FromUtf8(out);
    }
    return static_cast<int>(code);
}

std::vector<std::vector<std::wstring>> DumpDatabase(const fs::path& file,
                                                    const std::wstring& password) {
    std::wstring out;
    if (RunFixtureTool({L"dump", file.wstring(), password}, &out) != 0) {
        Fail(L"the database " + file.wstring() + L" does not open with " + Quote(password) + L": " +
             out);
    }
    std::vector<std::vector<std::wstring>> records;
    std::wistringstream lines(out);
    std::wstring line;
    std::getline(lines, line);  // "count N"
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        std::vector<std::wstring> fields;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find(L'\t', start);
            fields.push_back(line.substr(start, tab == std::wstring::npos ? tab : tab - start));
            if (tab == std::wstring::npos) {
                break;
            }
            start = tab + 1;
        }
        records.push_back(std::move(fields));
    }
    return records;
}

}  // namespace e2e
