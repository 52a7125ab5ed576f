// The platform interface on the real Win32 APIs: boxes, windows, the list, the pop-up menu, the
// clipboard, the shell, threads and calls carried over to the user-interface thread.
#include "win32/win32_platform.h"

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "base/fatal.h"
#include "win32/gbk.h"
#include "win32/text_dialogs.h"
#include "win32/window_host.h"

namespace ob::win32 {
namespace {

constexpr UINT kMsgRunCall = WM_APP + 2;

// Once set, calls from other threads are no longer carried over: the program is ending.
std::atomic<bool> g_ending{false};
std::atomic<HWND> g_call_target{nullptr};

// A call from another thread, waiting to run on the user-interface thread.
struct UiCall {
    enum State : int { kPending, kRunning, kDone, kCancelled };
    std::function<void()> fn;
    std::atomic<int> state{kPending};
};

LRESULT CALLBACK HiddenOwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kMsgRunCall) {
        // The sender may have given up (the program is ending) and sent the call again after a
        // timeout; whichever copy comes first runs it, once.
        std::unique_ptr<std::shared_ptr<UiCall>> ticket(
            reinterpret_cast<std::shared_ptr<UiCall>*>(lp));
        UiCall& call = **ticket;
        int expected = UiCall::kPending;
        if (call.state.compare_exchange_strong(expected, UiCall::kRunning)) {
            try {
                call.fn();
            } catch (const std::exception& e) {
                RaiseFatalError(0, e.what());
            } catch (...) {
                RaiseFatalError(0, "未知错误");
            }
            call.state.store(UiCall::kDone);
        }
        return 0;
    }
    if (msg == WM_DESTROY) {
        g_ending.store(true);
        g_call_target.store(nullptr);
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD WINAPI ThreadMain(LPVOID arg) {
    std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(arg));
    try {
        (*fn)();
    } catch (const std::exception& e) {
        RaiseFatalError(0, e.what());
    } catch (...) {
        RaiseFatalError(0, "未知错误");
    }
    return 0;
}

// Hands a block of bytes to the open clipboard; the block is freed when the clipboard refuses it.
void PutClipboardBytes(UINT format, const void* bytes, std::size_t size) {
    if (format == 0) {
        return;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (block == nullptr) {
        return;
    }
    if (void* p = GlobalLock(block)) {
        std::memcpy(p, bytes, size);
        GlobalUnlock(block);
        if (SetClipboardData(format, block) != nullptr) {
            return;
        }
    }
    GlobalFree(block);
}

// Runs fn on the user-interface thread, from there or from another thread.
template <class T, class Fn>
T OnUi(Win32Platform& p, T fallback, Fn&& fn) {
    if (p.OnUiThread()) {
        return fn();
    }
    T result = fallback;
    p.RunOnUiThread([&] { result = fn(); });
    return result;
}

}  // namespace

Win32Platform::Win32Platform(HINSTANCE instance)
    : instance_(instance), ui_thread_(GetCurrentThreadId()) {}

void Win32Platform::Setup() {
    if (!SetupWindowHost(instance_, HiddenOwnerProc)) {
        RaiseFatalError(static_cast<int>(GetLastError()), "无法创建程序窗口");
    }
    g_call_target.store(HiddenOwner());
}

int Win32Platform::MessageBox(std::string_view text, std::string_view caption, std::uint32_t style,
                              WindowRef owner) {
    const WideSecret t = GbkToWide(text);
    const WideSecret c = GbkToWide(caption);
    // Window handles are looked up on the user-interface thread only; from elsewhere the box
    // has no owner.
    if (!OnUiThread()) {
        return MessageBoxW(nullptr, t.c_str(), c.c_str(), style);
    }
    HWND o = owner != 0 ? WindowHandle(owner) : nullptr;
    HWND active_before = GetActiveWindow();
    const int result = MessageBoxW(o, t.c_str(), c.c_str(), style);
    // A box without owner does not always hand the activation back when it closes (Wine leaves
    // no window active); give it back to the window the user was working in.
    if (active_before != nullptr && IsWindow(active_before) && IsWindowVisible(active_before) &&
        IsWindowEnabled(active_before) && GetActiveWindow() != active_before) {
        SetActiveWindow(active_before);
    }
    return result;
}

int Win32Platform::InputBox(std::string_view prompt, std::string_view caption,
                            std::string_view initial, SecureString& var, int /*mode*/) {
    // Mode 1, plain text, is the one mode in use: every character is shown as typed.
    return OnUi(*this, 0, [&] { return RunInputBox(prompt, caption, initial, var); });
}

std::optional<SecureString> Win32Platform::PasswordPrompt(std::string_view status_line) {
    return OnUi(*this, std::optional<SecureString>{},
                [&] { return RunPasswordPrompt(status_line); });
}

int Win32Platform::ShowModal(WindowKind kind) {
    return OnUi(*this, 0, [&] { return ShowModalWindow(GetWindowClass(kind)); });
}

int Win32Platform::ShowModeless(WindowKind kind) {
    return OnUi(*this, 0, [&] { return ShowModelessWindow(GetWindowClass(kind)); });
}

void Win32Platform::RequestDestroy(WindowRef w) {
    OnUi(*this, 0, [&] {
        RequestWindowDestroy(w);
        return 0;
    });
}

bool Win32Platform::AnyWindowExists() {
    return OnUi(*this, false, [] { return AnyProgramWindowExists(); });
}

std::optional<SecureString> Win32Platform::GetControlText(WindowRef w, std::string_view control) {
    return OnUi(*this, std::optional<SecureString>{}, [&]() -> std::optional<SecureString> {
        HWND c = ControlHandle(w, control);
        if (c == nullptr) {
            return std::nullopt;
        }
        const WideSecret text = WindowTextWide(c);
        return WideToGbkStrict(text.view());
    });
}

void Win32Platform::SetControlText(WindowRef w, std::string_view control, std::string_view text) {
    OnUi(*this, 0, [&] {
        if (HWND c = ControlHandle(w, control)) {
            const WideSecret t = GbkToWide(text);
            SetWindowTextW(c, t.c_str());
        }
        return 0;
    });
}

void Win32Platform::RunMessageLoop() {
    RunMainMessageLoop();
    g_ending.store(true);
}

void Win32Platform::PostQuit() {
    PostQuitMessage(0);
}

void Win32Platform::ExitProcess(int code) {
    g_ending.store(true);
    ::ExitProcess(static_cast<UINT>(code));
}

void Win32Platform::ListSetRowCount(WindowRef w, std::string_view control, int rows) {
    OnUi(*this, 0, [&] {
        HWND list = ControlHandle(w, control);
        if (list == nullptr) {
            return 0;
        }
        const int count = rows < 0 ? 0 : rows;
        const int before = ListView_GetItemCount(list);
        const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
        ListView_SetItemCountEx(list, count, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
        if (count == 0 || selected >= count) {
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        }
        // The rows are read afresh through the handlers. Rows added below the visible ones change
        // only the scroll bar, so the list is repainted only when what it shows may have changed:
        // repainting on every step of a long rebuild would keep this thread busy.
        const int last_shown = ListView_GetTopIndex(list) + ListView_GetCountPerPage(list);
        if (count <= before || before <= last_shown) {
            InvalidateRect(list, nullptr, FALSE);
        }
        return 0;
    });
}

int Win32Platform::ListSelectedRow(WindowRef w, std::string_view control) {
    return OnUi(*this, -1, [&] {
        HWND list = ControlHandle(w, control);
        return list == nullptr ? -1 : ListView_GetNextItem(list, -1, LVNI_SELECTED);
    });
}

int Win32Platform::PopupMenu(WindowRef owner, std::span<const std::string_view> items) {
    return OnUi(*this, 0, [&] {
        HMENU menu = CreatePopupMenu();
        if (menu == nullptr) {
            return 0;
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            const WideSecret text = GbkToWide(items[i]);
            AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(i + 1), text.c_str());
        }
        POINT pt = {};
        GetCursorPos(&pt);
        HWND o = WindowHandle(owner);
        const int chosen = static_cast<int>(
            TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN,
                           pt.x + 3, pt.y + 3, 0, o != nullptr ? o : HiddenOwner(), nullptr));
        DestroyMenu(menu);
        return chosen;
    });
}

void Win32Platform::SetClipboardText(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    if (!OpenClipboard(nullptr)) {
        return;  // held by another program: nothing copied, nothing shown
    }
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
    if (block != nullptr) {
        if (auto* p = static_cast<char*>(GlobalLock(block))) {
            std::memcpy(p, text.data(), text.size());
            p[text.size()] = '\0';
            GlobalUnlock(block);
            if (SetClipboardData(CF_TEXT, block) == nullptr) {
                GlobalFree(block);
            }
        } else {
            GlobalFree(block);
        }
        // The same text as UTF-16, so that it pastes correctly where the ANSI code page is not
        // GBK, and the locale that tells readers of CF_TEXT its code page.
        const WideSecret wide = GbkToWide(text);
        PutClipboardBytes(CF_UNICODETEXT, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
        const LCID chinese =
            MAKELCID(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), SORT_DEFAULT);
        PutClipboardBytes(CF_LOCALE, &chinese, sizeof chinese);
        // Keep a copied password out of clipboard history, the cloud clipboard and monitors.
        const DWORD zero = 0;
        for (const wchar_t* name :
             {L"ExcludeClipboardContentFromMonitorProcessing", L"CanIncludeInClipboardHistory",
              L"CanUploadToCloudClipboard", L"Clipboard Viewer Ignore"}) {
            PutClipboardBytes(RegisterClipboardFormatW(name), &zero, sizeof zero);
        }
    }
    CloseClipboard();
}

void Win32Platform::ShellOpen(std::string_view text) {
    const WideSecret target = GbkToWide(text);
    ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool Win32Platform::StartThread(std::function<void()> fn) {
    auto* heap = new std::function<void()>(std::move(fn));
    HANDLE thread = CreateThread(nullptr, 0, ThreadMain, heap, 0, nullptr);
    if (thread == nullptr) {
        delete heap;
        return false;
    }
    CloseHandle(thread);
    return true;
}

bool Win32Platform::RunOnUiThread(std::function<void()> fn) {
    if (OnUiThread()) {
        fn();
        return true;
    }
    if (g_ending.load()) {
        return false;
    }
    auto call = std::make_shared<UiCall>();
    call->fn = std::move(fn);
    // SendMessage is taken up by every message loop of the user-interface thread, modal loops
    // and message boxes included. It is sent with a timeout and again, so that a sender never
    // hangs on a program that is ending: a call not yet started is then dropped.
    for (;;) {
        const int state = call->state.load();
        if (state == UiCall::kDone) {
            return true;
        }
        HWND target = g_call_target.load();
        if (g_ending.load() || target == nullptr) {
            int expected = UiCall::kPending;
            if (call->state.compare_exchange_strong(expected, UiCall::kCancelled)) {
                return false;
            }
            if (expected == UiCall::kDone) {
                return true;
            }
            Sleep(10);  // running on the user-interface thread right now: wait for its end
            continue;
        }
        if (state == UiCall::kRunning) {
            Sleep(1);
            continue;
        }
        auto* ticket = new std::shared_ptr<UiCall>(call);  // freed by the receiver
        DWORD_PTR reply = 0;
        SendMessageTimeoutW(target, kMsgRunCall, 0, reinterpret_cast<LPARAM>(ticket), SMTO_NORMAL,
                            100, &reply);
    }
}

}  // namespace ob::win32
