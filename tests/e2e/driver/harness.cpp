// The end-to-end driver's tools: process start, window search, keyboard and mouse input,
// screenshots, the cross-process list-view reader and the clipboard reader.
#include "tests/e2e/driver/harness.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace e2e {

namespace {

Config g_config;
std::mutex g_out_mutex;
std::FILE* g_report = nullptr;
std::chrono::steady_clock::time_point g_deadline = std::chrono::steady_clock::time_point::max();
Program* g_current = nullptr;  // the program the running scenario works on

constexpr int kMessageTimeoutMs = 3000;

std::wstring RectText(const RECT& r) {
    std::wostringstream s;
    s << L"(" << r.left << L"," << r.top << L" " << (r.right - r.left) << L"x" << (r.bottom - r.top)
      << L")";
    return s.str();
}

void SendInputs(std::vector<INPUT>& in) {
    UINT sent = SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
    if (sent != in.size()) {
        Fail(L"SendInput refused the input (" + std::to_wstring(GetLastError()) + L")");
    }
}

INPUT KeyInput(WORD vk, bool up) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = vk;
    i.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return i;
}

INPUT UnicodeInput(wchar_t c, bool up) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wScan = c;
    i.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
    return i;
}

// Keys that a US keyboard types for an ASCII character, or nothing.
std::optional<std::pair<WORD, bool>> KeyFor(wchar_t c) {
    if (c >= 0x80) {
        return std::nullopt;
    }
    SHORT k = VkKeyScanW(c);
    if (k == -1 || (HIBYTE(k) & ~1) != 0) {
        return std::nullopt;
    }
    return std::make_pair(static_cast<WORD>(LOBYTE(k)), (HIBYTE(k) & 1) != 0);
}

}  // namespace

[[noreturn]] void Fail(const std::wstring& message) {
    std::wstring m = message;
    if (g_current != nullptr) {
        m += L"\n" + g_current->Describe();
        g_current->Shot(L"FAILED");
    }
    throw Failure{m};
}

std::string ToUtf8(std::wstring_view w) {
    if (w.empty()) {
        return {};
    }
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

std::wstring FromUtf8(std::string_view s) {
    if (s.empty()) {
        return {};
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string ToGbk(std::wstring_view w) {
    if (w.empty()) {
        return {};
    }
    int n = WideCharToMultiByte(936, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(936, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

std::wstring FromGbk(std::string_view s) {
    if (s.empty()) {
        return {};
    }
    int n = MultiByteToWideChar(936, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(936, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::wstring Quote(std::wstring_view w) {
    std::wstring q = L"\"";
    for (wchar_t c : w) {
        if (c == L'\r') {
            q += L"\\r";
        } else if (c == L'\n') {
            q += L"\\n";
        } else if (c == L'\t') {
            q += L"\\t";
        } else if (c < 0x20) {
            wchar_t buf[8];
            swprintf(buf, 8, L"\\x%02x", static_cast<unsigned>(c));
            q += buf;
        } else {
            q += c;
        }
    }
    return q + L"\"";
}

void Out(const std::wstring& line) {
    std::lock_guard<std::mutex> lock(g_out_mutex);
    std::string s = ToUtf8(line) + "\n";
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
    if (g_report != nullptr) {
        std::fwrite(s.data(), 1, s.size(), g_report);
        std::fflush(g_report);
    }
}

void OpenReport(const fs::path& path) {
    g_report = _wfopen(path.c_str(), L"wb");
}

const Config& TheConfig() {
    return g_config;
}
void SetConfig(Config c) {
    g_config = std::move(c);
}

void SetScenarioDeadline(std::chrono::steady_clock::time_point t) {
    g_deadline = t;
}

int Ms(int ms) {
    return static_cast<int>(ms * g_config.time_scale);
}

bool WaitUntil(const std::function<bool()>& test, int timeout_ms, int poll_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms(timeout_ms));
    for (;;) {
        if (test()) {
            return true;
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= g_deadline) {
            Fail(L"the scenario's time limit has passed");
        }
        if (now >= end) {
            return false;
        }
        Sleep(static_cast<DWORD>(poll_ms));
    }
}

void Pause(int ms) {
    Sleep(static_cast<DWORD>(Ms(ms)));
}

std::wstring WindowText(HWND w) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &len)) {
        return L"<no answer>";
    }
    std::wstring buf(len + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &got)) {
        return L"<no answer>";
    }
    buf.resize(std::min<size_t>(got, len));
    return buf;
}

std::wstring ClassName(HWND w) {
    wchar_t buf[256] = {};
    GetClassNameW(w, buf, 256);
    return buf;
}

std::vector<ControlInfo> Controls(HWND top) {
    std::vector<HWND> found;
    EnumChildWindows(
        top,
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    std::vector<ControlInfo> out;
    for (HWND h : found) {
        ControlInfo c;
        c.hwnd = h;
        c.cls = ClassName(h);
        c.text = WindowText(h);
        c.id = GetDlgCtrlID(h);
        c.visible = IsWindowVisible(h) != FALSE;
        c.enabled = IsWindowEnabled(h) != FALSE;
        GetWindowRect(h, &c.rect);
        out.push_back(std::move(c));
    }
    return out;
}

bool SaveScreenBmp(const fs::path& file) {
    int w = GetSystemMetrics(SM_CXSCREEN);
    int h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return false;
    }
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bmp != nullptr) {
        HGDIOBJ old = SelectObject(mem, bmp);
        ok = BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY | CAPTUREBLT) != FALSE;
        GdiFlush();
        SelectObject(mem, old);
        if (ok) {
            DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
            DWORD image = stride * static_cast<DWORD>(h);
            BITMAPFILEHEADER fh{};
            fh.bfType = 0x4D42;
            fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
            fh.bfSize = fh.bfOffBits + image;
            bi.bmiHeader.biSizeImage = image;
            std::ofstream f(file, std::ios::binary);
            f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
            f.write(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof(BITMAPINFOHEADER));
            f.write(static_cast<const char*>(bits), image);
            ok = f.good();
        }
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

namespace {

// The pointer's place as the window system holds it. GetCursorPos is not used: under Wine it
// reports the X display's pointer once the place has not changed for a while, and Wine cannot
// move that pointer while another program holds the X pointer grab (an open menu does).
POINT CursorPos() {
    CURSORINFO ci{};
    ci.cbSize = sizeof ci;
    if (!GetCursorInfo(&ci)) {
        GetCursorPos(&ci.ptScreenPos);
    }
    return ci.ptScreenPos;
}

bool CursorAt(POINT p) {
    POINT at = CursorPos();
    return std::abs(at.x - p.x) <= 1 && std::abs(at.y - p.y) <= 1;
}

void MouseButton(bool right, bool up) {
    std::vector<INPUT> in(1);
    in[0].type = INPUT_MOUSE;
    in[0].mi.dwFlags = right ? (up ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP)
                             : (up ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN);
    if (right && !up) {
        in[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    }
    SendInputs(in);
}

}  // namespace

void MouseMove(POINT p) {
    int w = GetSystemMetrics(SM_CXSCREEN);
    int h = GetSystemMetrics(SM_CYSCREEN);
    std::vector<INPUT> in(1);
    in[0].type = INPUT_MOUSE;
    in[0].mi.dx = static_cast<LONG>((p.x * 65535LL + (w - 1) / 2) / (w - 1));
    in[0].mi.dy = static_cast<LONG>((p.y * 65535LL + (h - 1) / 2) / (h - 1));
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    // Wine takes the pointer's place from the X display too: a window that appears under the X
    // pointer reports it there, and that report can arrive after a move of ours and undo it. So
    // the X pointer is moved along (SetCursorPos warps it, when no other program holds the
    // pointer grab), and the pointer must stay put for a moment before a button goes down.
    // While a menu is open its program holds the X pointer grab: Wine then cannot move the X
    // pointer and reports that one's place, but the pointer that the menu follows has moved, and
    // no window can appear under the pointer to undo the move.
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu != nullptr && IsWindowVisible(menu)) {
        SendInputs(in);
        Sleep(60);
        return;
    }
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        SetCursorPos(p.x, p.y);
        SendInputs(in);
        bool stable = true;
        for (int i = 0; i < 15 && stable; ++i) {
            Sleep(10);
            stable = CursorAt(p);
        }
        if (stable) {
            return;
        }
    }
    POINT at = CursorPos();
    Fail(L"the mouse pointer does not stay at " + std::to_wstring(p.x) + L"," +
         std::to_wstring(p.y) + L"; it is at " + std::to_wstring(at.x) + L"," +
         std::to_wstring(at.y));
}

void MouseClick(POINT p, bool right) {
    MouseMove(p);
    MouseButton(right, false);
    Sleep(50);
    MouseButton(right, true);
    Sleep(80);
}

void Click(HWND control, bool right) {
    RECT r{};
    if (!GetWindowRect(control, &r)) {
        Fail(L"cannot click a window that is gone");
    }
    MouseClick(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, right);
}

void KeyPress(WORD vk, bool shift, bool ctrl, bool alt) {
    std::vector<INPUT> in;
    if (ctrl) {
        in.push_back(KeyInput(VK_CONTROL, false));
    }
    if (alt) {
        in.push_back(KeyInput(VK_MENU, false));
    }
    if (shift) {
        in.push_back(KeyInput(VK_SHIFT, false));
    }
    in.push_back(KeyInput(vk, false));
    in.push_back(KeyInput(vk, true));
    if (shift) {
        in.push_back(KeyInput(VK_SHIFT, true));
    }
    if (alt) {
        in.push_back(KeyInput(VK_MENU, true));
    }
    if (ctrl) {
        in.push_back(KeyInput(VK_CONTROL, true));
    }
    // One key at a time, as fingers do: a whole burst can outrun the target's message loop.
    for (INPUT& i : in) {
        std::vector<INPUT> one{i};
        SendInputs(one);
        Sleep(15);
    }
    Sleep(40);
}

void TypeText(std::wstring_view text) {
    for (wchar_t c : text) {
        std::vector<INPUT> in;
        if (auto k = KeyFor(c)) {
            if (k->second) {
                in.push_back(KeyInput(VK_SHIFT, false));
            }
            in.push_back(KeyInput(k->first, false));
            in.push_back(KeyInput(k->first, true));
            if (k->second) {
                in.push_back(KeyInput(VK_SHIFT, true));
            }
        } else {
            in.push_back(UnicodeInput(c, false));
            in.push_back(UnicodeInput(c, true));
        }
        // One character's keys at a time, then a moment for the program to take them.
        SendInputs(in);
        Sleep(15);
    }
    Sleep(60);
}

void ClearFocusedEdit() {
    KeyPress(VK_END);
    KeyPress(VK_HOME, true);
    KeyPress(VK_DELETE);
}

ClipboardContent ReadClipboard() {
    ClipboardContent c;
    if (!WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 3000, 50)) {
        return c;
    }
    c.opened = true;
    if (HANDLE h = GetClipboardData(CF_TEXT)) {
        if (auto* p = static_cast<const char*>(GlobalLock(h))) {
            size_t max = GlobalSize(h);
            c.ansi = std::string(p, strnlen(p, max));
            GlobalUnlock(h);
        }
    }
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
            size_t max = GlobalSize(h) / sizeof(wchar_t);
            c.unicode = std::wstring(p, wcsnlen(p, max));
            GlobalUnlock(h);
        }
    }
    for (UINT f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) {
        wchar_t name[256];
        if (GetClipboardFormatNameW(f, name, 256) > 0) {
            c.named_formats.push_back(name);
        }
    }
    CloseClipboard();
    return c;
}

bool PutClipboardSentinel(const std::wstring& text) {
    if (!WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 3000, 50)) {
        return false;
    }
    EmptyClipboard();
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    bool ok = false;
    if (g != nullptr) {
        std::memcpy(GlobalLock(g), text.c_str(), bytes);
        GlobalUnlock(g);
        ok = SetClipboardData(CF_UNICODETEXT, g) != nullptr;
    }
    CloseClipboard();
    return ok;
}

void ExpectTemplateRect(HWND w, int width, int height, const std::wstring& what) {
    RECT r{};
    GetWindowRect(w, &r);
    int sw = GetSystemMetrics(SM_CXSCREEN);
    int sh = GetSystemMetrics(SM_CYSCREEN);
    RECT want{(sw - width) / 2, (sh - height) / 2, 0, 0};
    want.right = want.left + width;
    want.bottom = want.top + height;
    if (!EqualRect(&r, &want)) {
        Fail(what + L": expected the window at " + RectText(want) + L", it is at " + RectText(r));
    }
}

void ExpectFrame(HWND w, bool minimize_box, bool taskbar, const std::wstring& what) {
    LONG style = GetWindowLongW(w, GWL_STYLE);
    LONG ex = GetWindowLongW(w, GWL_EXSTYLE);
    bool has_taskbar = GetWindow(w, GW_OWNER) == nullptr && !(ex & WS_EX_TOOLWINDOW);
    std::wstring wrong;
    if ((style & WS_CAPTION) != WS_CAPTION || !(style & WS_SYSMENU)) {
        wrong += L" no title bar with system menu;";
    }
    if (style & WS_THICKFRAME) {
        wrong += L" resizable;";
    }
    if (style & WS_MAXIMIZEBOX) {
        wrong += L" a maximise button;";
    }
    if (((style & WS_MINIMIZEBOX) != 0) != minimize_box) {
        wrong += minimize_box ? L" no minimise button;" : L" a minimise button;";
    }
    if (has_taskbar != taskbar) {
        wrong += taskbar ? L" no taskbar button;" : L" a taskbar button;";
    }
    if (!wrong.empty()) {
        Fail(what + L" has" + wrong);
    }
}

// ---- Program ----

Program::Program(std::wstring scenario, const std::wstring& folder)
    : scenario_(std::move(scenario)) {
    folder_ = g_config.work / (folder.empty() ? scenario_ : folder);
    std::error_code ec;
    fs::remove_all(folder_, ec);
    fs::create_directories(folder_);
    fs::copy_file(g_config.program, folder_ / g_config.program.filename(),
                  fs::copy_options::overwrite_existing);
    g_current = this;
}

Program::~Program() {
    if (g_current == this) {
        g_current = nullptr;
    }
    Kill();
    watching_ = false;
    if (watcher_.joinable()) {
        watcher_.join();
    }
    if (process_ != nullptr) {
        CloseHandle(process_);
    }
}

void Program::PutDatabase(const std::wstring& fixture_name) {
    fs::path from = g_config.fixtures / fixture_name;
    if (!fs::exists(from)) {
        throw NotRun{L"the prepared database " + fixture_name + L" could not be made"};
    }
    fs::copy_file(from, DatabasePath(), fs::copy_options::overwrite_existing);
}

void Program::Start() {
    fs::path exe = folder_ / g_config.program.filename();
    std::wstring cmd = L"\"" + exe.wstring() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // The working folder is not the program's: the program must find its database beside itself.
    std::wstring cwd = g_config.work.wstring();
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(),
                        &si, &pi)) {
        Fail(L"cannot start " + exe.wstring() + L" (" + std::to_wstring(GetLastError()) + L")");
    }
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    tid_ = pi.dwThreadId;
    CloseHandle(pi.hThread);
    watching_ = true;
    watcher_ = std::thread([this] { Watch(); });
}

bool Program::Running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void Program::Watch() {
    while (watching_) {
        for (const WindowInfo& w : Windows()) {
            if (!w.visible) {
                continue;
            }
            std::wstring key = Quote(w.title) + L" [" + w.cls + L"]";
            std::lock_guard<std::mutex> lock(seen_mutex_);
            if (std::find(seen_.begin(), seen_.end(), key) == seen_.end()) {
                seen_.push_back(key);
            }
        }
        if (!Running()) {
            break;
        }
        Sleep(10);
    }
}

std::vector<std::wstring> Program::EverVisible() const {
    std::lock_guard<std::mutex> lock(seen_mutex_);
    return seen_;
}

std::vector<WindowInfo> Program::Windows() const {
    struct Ctx {
        DWORD pid;
        std::vector<HWND> found;
    } ctx{pid_, {}};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* c = reinterpret_cast<Ctx*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == c->pid) {
                c->found.push_back(h);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    std::vector<WindowInfo> out;
    for (HWND h : ctx.found) {
        WindowInfo w;
        w.hwnd = h;
        w.cls = ClassName(h);
        wchar_t title[512] = {};
        GetWindowTextW(h, title, 512);  // a top-level window's caption, no message sent
        w.title = title;
        w.visible = IsWindowVisible(h) != FALSE;
        w.enabled = IsWindowEnabled(h) != FALSE;
        GetWindowRect(h, &w.rect);
        out.push_back(std::move(w));
    }
    return out;
}

HWND Program::WaitWindow(const std::wstring& title, const std::wstring& cls, int timeout_ms,
                         const std::function<bool(HWND)>& test) {
    HWND found = nullptr;
    bool ok = WaitUntil(
        [&] {
            for (const WindowInfo& w : Windows()) {
                if (w.visible && w.title == title && (cls.empty() || w.cls == cls) &&
                    (!test || test(w.hwnd))) {
                    found = w.hwnd;
                    return true;
                }
            }
            return false;
        },
        timeout_ms);
    if (!ok) {
        std::wstring what = cls.empty() ? L"" : L" of class " + cls;
        Fail(L"expected a visible window titled " + Quote(title) + what + L" within " +
             std::to_wstring(Ms(timeout_ms)) + L" ms");
    }
    return found;
}

namespace {

std::wstring MessageBoxText(HWND box) {
    std::wstring fallback;
    for (const ControlInfo& c : Controls(box)) {
        if (_wcsicmp(c.cls.c_str(), L"Static") != 0) {
            continue;
        }
        if (c.id == 0xFFFF) {
            return c.text;
        }
        if (fallback.empty()) {
            fallback = c.text;
        }
    }
    return fallback;
}

}  // namespace

HWND Program::WaitMessageBox(const std::wstring& caption, std::wstring* text, int timeout_ms) {
    HWND box = WaitWindow(caption, L"#32770", timeout_ms);
    if (text != nullptr) {
        *text = MessageBoxText(box);
    }
    return box;
}

HWND Program::ExpectMessageBox(const std::wstring& caption, const std::wstring& expected,
                               int timeout_ms) {
    std::wstring text;
    HWND box = WaitMessageBox(caption, &text, timeout_ms);
    if (text != expected) {
        Fail(L"message box " + Quote(caption) + L": expected the text " + Quote(expected) +
             L", saw " + Quote(text));
    }
    return box;
}

void Program::WaitGone(HWND w, const std::wstring& what, int timeout_ms) {
    if (!WaitUntil([&] { return !IsWindow(w) || !IsWindowVisible(w); }, timeout_ms)) {
        Fail(L"expected " + what + L" to go away within " + std::to_wstring(Ms(timeout_ms)) +
             L" ms");
    }
}

bool Program::Appears(const std::wstring& title, int within_ms) {
    return WaitUntil(
        [&] {
            for (const WindowInfo& w : Windows()) {
                if (w.visible && w.title == title) {
                    return true;
                }
            }
            return false;
        },
        within_ms);
}

void Program::ClickDialogButton(HWND dialog, int id) {
    HWND b = GetDlgItem(dialog, id);
    if (b == nullptr) {
        Fail(L"the dialog " + Quote(WindowText(dialog)) + L" has no button " + std::to_wstring(id));
    }
    Click(b);
}

HWND Program::FindControl(HWND top, const std::wstring& cls, const std::wstring& text,
                          int index) const {
    int n = 0;
    for (const ControlInfo& c : Controls(top)) {
        if (_wcsicmp(c.cls.c_str(), cls.c_str()) == 0 && (text.empty() || c.text == text)) {
            if (n++ == index) {
                return c.hwnd;
            }
        }
    }
    return nullptr;
}

HWND Program::ExpectControl(HWND top, const std::wstring& cls, const std::wstring& text,
                            int index) const {
    HWND c = FindControl(top, cls, text, index);
    if (c == nullptr) {
        Fail(L"expected a control of class " + cls +
             (text.empty() ? L"" : L" with " + Quote(text)) + L" in " + Quote(WindowText(top)));
    }
    return c;
}

HWND Program::FocusedControl() const {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof gti;
    if (!GetGUIThreadInfo(tid_, &gti)) {
        return nullptr;
    }
    return gti.hwndFocus;
}

HWND Program::ForegroundWindow() const {
    return GetForegroundWindow();
}

void Program::WaitFocus(HWND control, const std::wstring& what, int timeout_ms) {
    if (!WaitUntil([&] { return FocusedControl() == control; }, timeout_ms)) {
        HWND f = FocusedControl();
        Fail(L"expected the keyboard focus in " + what + L"; it is in " +
             (f ? ClassName(f) + L" " + Quote(WindowText(f)) : std::wstring(L"no window")));
    }
}

DWORD Program::WaitExit(int timeout_ms) {
    if (process_ == nullptr) {
        Fail(L"the program was never started");
    }
    if (!WaitUntil([&] { return !Running(); }, timeout_ms, 20)) {
        Fail(L"expected the program to end within " + std::to_wstring(Ms(timeout_ms)) + L" ms");
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

void Program::Shot(const std::wstring& step) {
    if (g_config.shots.empty()) {
        return;
    }
    // Let the program paint what it has just been asked to show.
    if (Running()) {
        WaitForInputIdle(process_, 1000);
    }
    Sleep(100);
    wchar_t num[8];
    swprintf(num, 8, L"%02d", ++shot_counter_);
    std::wstring name = g_config.label + L"-" + scenario_ + L"-" + num + L"-" + step + L".bmp";
    SaveScreenBmp(g_config.shots / name);
}

std::wstring Program::Describe() const {
    std::wostringstream s;
    s << L"  what the driver saw of the program (pid " << pid_ << L", "
      << (Running() ? L"running" : L"ended") << L"):\n";
    HWND fg = GetForegroundWindow();
    HWND focus = FocusedControl();
    for (const WindowInfo& w : Windows()) {
        s << L"   window " << Quote(w.title) << L" [" << w.cls << L"] "
          << (w.visible ? L"visible" : L"hidden") << (w.enabled ? L"" : L" disabled")
          << (w.hwnd == fg ? L" foreground" : L"") << L" " << RectText(w.rect) << L"\n";
        if (!w.visible) {
            continue;
        }
        for (const ControlInfo& c : Controls(w.hwnd)) {
            s << L"     " << c.cls << L" id " << c.id << L" " << Quote(c.text)
              << (c.visible ? L"" : L" hidden") << (c.enabled ? L"" : L" disabled")
              << (c.hwnd == focus ? L" focused" : L"") << L" " << RectText(c.rect) << L"\n";
        }
    }
    s << L"   ever visible:";
    for (const std::wstring& v : EverVisible()) {
        s << L" " << v;
    }
    return s.str();
}

void Program::Kill() {
    if (Running()) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
}

// ---- RemoteList ----

namespace {

constexpr size_t kRemoteSize = 64 * 1024;
constexpr size_t kTextOffset = 1024;  // the text buffer, after the structure
constexpr int kTextChars = static_cast<int>((kRemoteSize - kTextOffset) / sizeof(wchar_t));

LRESULT Ask(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &r)) {
        Fail(L"the list did not answer message " + std::to_wstring(msg) + L" within " +
             std::to_wstring(kMessageTimeoutMs) + L" ms");
    }
    return static_cast<LRESULT>(r);
}

}  // namespace

RemoteList::RemoteList(HANDLE process, HWND list) : process_(process), list_(list) {
    remote_ =
        VirtualAllocEx(process_, nullptr, kRemoteSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote_ == nullptr) {
        Fail(L"cannot allocate memory in the program for reading its list");
    }
}

RemoteList::~RemoteList() {
    if (remote_ != nullptr) {
        VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
    }
}

int RemoteList::RowCount() const {
    return static_cast<int>(Ask(list_, LVM_GETITEMCOUNT, 0, 0));
}

int RemoteList::ColumnCount() const {
    auto header = reinterpret_cast<HWND>(Ask(list_, LVM_GETHEADER, 0, 0));
    if (header == nullptr) {
        return 0;
    }
    return static_cast<int>(Ask(header, HDM_GETITEMCOUNT, 0, 0));
}

std::wstring RemoteList::ColumnTitle(int column) const {
    auto* base = static_cast<char*>(remote_);
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.pszText = reinterpret_cast<wchar_t*>(base + kTextOffset);
    col.cchTextMax = kTextChars;
    std::vector<wchar_t> zero(8, L'\0');
    WriteProcessMemory(process_, base + kTextOffset, zero.data(), zero.size() * 2, nullptr);
    WriteProcessMemory(process_, base, &col, sizeof col, nullptr);
    if (!Ask(list_, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(base))) {
        return L"<no column>";
    }
    std::vector<wchar_t> text(kTextChars, L'\0');
    ReadProcessMemory(process_, base + kTextOffset, text.data(), text.size() * 2, nullptr);
    text.back() = L'\0';
    return text.data();
}

int RemoteList::ColumnWidth(int column) const {
    return static_cast<int>(Ask(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

std::wstring RemoteList::Cell(int row, int column) const {
    auto* base = static_cast<char*>(remote_);
    auto* remote_text = reinterpret_cast<wchar_t*>(base + kTextOffset);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = remote_text;
    item.cchTextMax = kTextChars;
    wchar_t zero = L'\0';
    WriteProcessMemory(process_, remote_text, &zero, sizeof zero, nullptr);
    WriteProcessMemory(process_, base, &item, sizeof item, nullptr);
    auto len = static_cast<size_t>(
        Ask(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(base)));
    // A list that hands back a pointer of its own instead of filling the buffer is read there.
    LVITEMW back{};
    ReadProcessMemory(process_, base, &back, sizeof back, nullptr);
    const wchar_t* from = back.pszText != nullptr ? back.pszText : remote_text;
    std::vector<wchar_t> text(std::min<size_t>(len, kTextChars - 1) + 1, L'\0');
    if (!ReadProcessMemory(process_, from, text.data(), (text.size() - 1) * 2, nullptr)) {
        return L"<unreadable>";
    }
    return std::wstring(text.data(), wcsnlen(text.data(), text.size()));
}

std::vector<std::vector<std::wstring>> RemoteList::Rows() const {
    std::vector<std::vector<std::wstring>> rows;
    int n = RowCount();
    int m = ColumnCount();
    for (int r = 0; r < n; ++r) {
        std::vector<std::wstring> row;
        for (int c = 0; c < m; ++c) {
            row.push_back(Cell(r, c));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

int RemoteList::SelectedRow() const {
    return static_cast<int>(Ask(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

RECT RemoteList::RowRect(int row) const {
    auto* base = static_cast<char*>(remote_);
    RECT r{};
    r.left = LVIR_LABEL;
    WriteProcessMemory(process_, base, &r, sizeof r, nullptr);
    if (!Ask(list_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(base))) {
        Fail(L"the list has no row " + std::to_wstring(row));
    }
    ReadProcessMemory(process_, base, &r, sizeof r, nullptr);
    MapWindowPoints(list_, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

}  // namespace e2e
